#include "quality/diff_report.hpp"

#include <charconv>
#include <cmath>
#include <vector>

#include "geometry/plane_projection.hpp"
#include "quality/findings_report.hpp"

namespace chizuvec {
namespace {

constexpr GisField kDiffFields[] = {
    {"change"},
    {"市区町村コード"},
    {"大字コード"},
    {"丁目コード"},
    {"小字コード"},
    {"予備コード"},
    {"大字名"},
    {"地番"},
    {"old_筆ID"},
    {"new_筆ID"},
    {"old_area", GisFieldType::real},
    {"new_area", GisFieldType::real},
    {"max_shift_m", GisFieldType::real},
    {"detail"},
};
constexpr std::size_t kDiffFieldCount = std::size(kDiffFields);

const ReleaseParcel& either(const DiffRow& row) { return row.now != nullptr ? *row.now : *row.old; }

// The values of the row, texts and numbers, in the order of kDiffFields.
std::vector<GisValue> row_values(const DiffRow& row) {
    const ReleaseParcel& p = either(row);
    std::vector<GisValue> v(kDiffFieldCount);
    const auto text = [&](std::size_t i, std::string_view t) {
        v[i].null = false;
        v[i].text = t;
    };
    const auto number = [&](std::size_t i, double n) {
        v[i].null = false;
        v[i].number = n;
    };
    text(0, change_kind_name(row.kind));
    text(1, p.municipality_code());
    text(2, p.detail.text(ParcelText::oaza_code));
    text(3, p.detail.text(ParcelText::chome_code));
    text(4, p.detail.text(ParcelText::koaza_code));
    text(5, p.detail.text(ParcelText::yobi_code));
    text(6, p.detail.text(ParcelText::oaza));
    text(7, p.detail.text(ParcelText::chiban));
    if (row.old != nullptr) text(8, row.old->detail.text(ParcelText::parcel_id));
    if (row.now != nullptr) text(9, row.now->detail.text(ParcelText::parcel_id));
    if (row.old != nullptr && row.old->shaped) number(10, row.old->area);
    if (row.now != nullptr && row.now->shaped) number(11, row.now->area);
    if (row.kind == ChangeKind::reshaped) number(12, row.max_shift_m);
    if (!row.detail.empty()) text(13, row.detail);
    return v;
}

void append_number(std::string& out, double value, int decimals) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    out.append(text, result.ptr);
}

}  // namespace

std::string_view diff_csv_header() {
    return "change,市区町村コード,大字コード,丁目コード,小字コード,予備コード,大字名,地番,old_筆ID,new_筆ID,old_area,"
           "new_area,max_shift_m,detail\r\n";
}

void append_diff_csv(std::string& out, const DiffRow& row) {
    const std::vector<GisValue> values = row_values(row);
    for (std::size_t i = 0; i < kDiffFieldCount; ++i) {
        if (i != 0) out += ',';
        if (values[i].null) continue;
        switch (kDiffFields[i].type) {
            case GisFieldType::text:
                append_report_field(out, values[i].text);
                break;
            case GisFieldType::real:
                append_number(out, values[i].number, 3);
                break;
            case GisFieldType::integer:
                out += std::to_string(values[i].integer);
                break;
        }
    }
    out += "\r\n";
}

std::span<const GisField> diff_fields() { return kDiffFields; }

bool write_diff_feature(FeatureWriter& writer, const DiffRow& row, GisCoordinates coordinates) {
    const std::vector<GisValue> values = row_values(row);
    const ReleaseParcel& p = either(row);
    std::vector<double> xy;
    std::vector<std::uint32_t> ring_ends;
    std::vector<std::uint32_t> polygon_ends;
    const bool geographic = coordinates == GisCoordinates::geographic;
    if (p.shaped && (geographic ? p.zone != 0 : p.zone == 0)) {
        const PlaneToGeographic projection(geographic ? p.zone : 1);
        std::uint32_t begin = 0;
        bool ok = true;
        for (std::size_t r = 0; r < p.ring_ends.size() && ok; ++r) {
            if (!p.holes[r]) polygon_ends.push_back(static_cast<std::uint32_t>(ring_ends.size()));
            if (polygon_ends.empty()) {  // a hole before any outline
                begin = p.ring_ends[r];
                continue;
            }
            for (std::uint32_t i = begin; i < p.ring_ends[r]; ++i) {
                double x = p.points[i].x;
                double y = p.points[i].y;
                if (geographic) {
                    const GeoPoint g = projection.convert(y, x);
                    x = std::round(g.longitude * 1e9) / 1e9;
                    y = std::round(g.latitude * 1e9) / 1e9;
                    ok = ok && std::isfinite(x) && std::isfinite(y);
                }
                xy.push_back(x);
                xy.push_back(y);
            }
            ring_ends.push_back(static_cast<std::uint32_t>(xy.size() / 2));
            begin = p.ring_ends[r];
            // polygon_ends holds each polygon's first ring until the end, where it becomes its end.
        }
        if (!ok) {
            xy.clear();
            ring_ends.clear();
            polygon_ends.clear();
        }
        // From first rings to ends: polygon k ends where polygon k + 1 begins.
        for (std::size_t k = 0; k < polygon_ends.size(); ++k) {
            polygon_ends[k] =
                k + 1 < polygon_ends.size() ? polygon_ends[k + 1] : static_cast<std::uint32_t>(ring_ends.size());
        }
    }
    GisFeature feature;
    feature.values = values;
    feature.xy = xy;
    feature.ring_ends = ring_ends;
    feature.polygon_ends = polygon_ends;
    return writer.write(feature);
}

}  // namespace chizuvec
