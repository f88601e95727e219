#include "gis/parcel_features.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <span>
#include <string_view>
#include <unordered_map>

#include "common/fixed_text.hpp"
#include "common/utf8.hpp"
#include "geometry/plane_projection.hpp"
#include "geometry/polylabel.hpp"
#include "geometry/ring_extent.hpp"
#include "model/id_index.hpp"

namespace chizuvec {
namespace {

// The plane position of a curve's point reference and its place (see plane_ring_points); false when
// it names no point.
bool position_of(const MapDataset& dataset, const IdIndex& points, std::uint32_t reference, PlanePosition& position,
                 std::uint32_t& source) {
    if ((reference & kDirectPosition) != 0) {
        const std::uint32_t i = reference & ~kDirectPosition;
        if (i >= dataset.gis.direct_positions.size()) return false;
        position = dataset.gis.direct_positions[i];
        source = dataset.point_count() + i;
    } else {
        const std::uint32_t at = points.find(reference);
        if (at == kNoRecord) return false;
        position = {dataset.points[at].x, dataset.points[at].y};
        source = at;
    }
    // A coordinate no number can hold gives no point.
    return std::isfinite(position.x) && std::isfinite(position.y);
}

}  // namespace

bool plane_ring_points(const MapDataset& dataset, const IdIndex& curves, const IdIndex& points, const RingRun& ring,
                       std::vector<PlanePoint>& out, std::vector<std::uint32_t>* sources) {
    out.clear();
    if (sources != nullptr) sources->clear();
    for (std::uint32_t r = ring.first_ref; r < ring.first_ref + ring.count; ++r) {
        const std::uint32_t curve_at = curves.find(dataset.ring_curves[r]);
        if (curve_at == kNoRecord) return false;
        const CurveRun& run = dataset.gis.curves[curve_at];
        for (std::uint32_t k = 0; k < run.count; ++k) {
            const std::uint32_t i = run.reversed ? run.first + run.count - 1 - k : run.first + k;
            PlanePosition p;
            std::uint32_t source = 0;
            if (!position_of(dataset, points, dataset.gis.curve_points[i], p, source)) return false;
            const PlanePoint point{p.y, p.x};
            if (out.empty() || out.back().x != point.x || out.back().y != point.y) {
                out.push_back(point);
                if (sources != nullptr) sources->push_back(source);
            }
        }
    }
    if (!out.empty() && (out.front().x != out.back().x || out.front().y != out.back().y)) {
        out.push_back(out.front());
        if (sources != nullptr) sources->push_back(sources->front());
    }
    return true;
}

std::vector<std::uint64_t> surface_point_counts(const MapDataset& dataset, const IdIndex& curves) {
    std::vector<std::uint64_t> of_surface(dataset.surfaces.size(), 0);
    for (std::size_t s = 0; s < of_surface.size(); ++s) {
        const MapSurface& surface = dataset.surfaces[s];
        for (std::uint32_t r = surface.first_ring; r < surface.first_ring + surface.ring_count; ++r) {
            const RingRun& ring = dataset.rings[r];
            of_surface[s] += 1;
            for (std::uint32_t c = ring.first_ref; c < ring.first_ref + ring.count; ++c) {
                const std::uint32_t curve_at = curves.find(dataset.ring_curves[c]);
                if (curve_at < dataset.gis.curves.size()) of_surface[s] += dataset.gis.curves[curve_at].count;
            }
        }
    }
    return of_surface;
}

std::uint64_t parcel_shape_points(const MapDataset& dataset, bool surfaces_once, std::uint64_t limit) {
    const IdIndex surfaces = build_id_index(dataset.surfaces);
    const std::vector<std::uint64_t> of_surface = surface_point_counts(dataset, build_id_index(dataset.curves));
    std::vector<bool> counted(surfaces_once ? dataset.surfaces.size() : 0, false);
    std::uint64_t points = 0;
    for (std::uint32_t p = 0; p < dataset.parcel_count() && points <= limit; ++p) {
        const std::uint32_t shape_no = dataset.parcels[p].shape_no;
        const std::uint32_t s = shape_no == 0 ? kNoRecord : surfaces.find(shape_no);
        if (s == kNoRecord) continue;
        if (surfaces_once) {
            if (counted[s]) continue;
            counted[s] = true;
        }
        points += of_surface[s];
    }
    return points;
}

namespace {

// Lots outside the district or drawn on a separate sheet: left out unless asked for.
constexpr std::string_view kOutsideDistrict = "地区外";
constexpr std::string_view kSeparateSheet = "別図";

// Label points are found to within a tenth of the parcel's size (2 m in a 20 m lot, as the usual
// 1-unit precision gives in metres): enough for a label, where a fixed centimetre costs a hundred
// times the work on a plain rectangle.
constexpr double kLabelPrecisionShare = 1.0 / 10.0;
constexpr double kFinestLabelPrecision = 0.001;  // metres

// The field positions of kParcelFields.
enum Field : std::size_t {
    kParcelId,
    kMapName,
    kMunicipalityCode,
    kMunicipalityName,
    kCoordSystem,
    kGeodeticKind,
    kFirstParcelText,  // 大字コード .. 座標値種別 follow in ParcelText order, 筆ID left out
    kMapNumbers = 18,
    kScale,
    kArea,
    kLabelLatitude,
    kLabelLongitude,
    kFirstSheetText,  // 地図種類 .. 地図作成年月日 follow in SheetText order
    kMapFile = kFirstSheetText + kSheetTextCount,
    kLabelPlaneX,
    kLabelPlaneY,
};
static_assert(kLabelPlaneY + 1 == kParcelFieldCount);
static_assert(kFirstParcelText + kParcelTextCount - 1 == kMapNumbers);

struct Indexes {
    IdIndex surfaces;
    IdIndex curves;
    IdIndex points;
};

// The map numbers of the sheets that list each parcel: listed[first[p], first[p + 1]).
struct SheetsOfParcels {
    std::vector<std::uint32_t> first;
    std::vector<std::uint32_t> listed;  // indexes into sheet_map_nos
};

SheetsOfParcels sheets_of_parcels(const MapDataset& dataset) {
    SheetsOfParcels s;
    s.first.assign(dataset.parcels.size() + 1, 0);
    for (const SheetListing& l : dataset.sheet_listings) ++s.first[l.parcel + 1];
    for (std::size_t i = 1; i < s.first.size(); ++i) s.first[i] += s.first[i - 1];
    s.listed.resize(dataset.sheet_listings.size());
    std::vector<std::uint32_t> fill(s.first.begin(), s.first.end() - 1);
    for (const SheetListing& l : dataset.sheet_listings) s.listed[fill[l.parcel]++] = l.map_no;
    return s;
}

// The scale denominator of the sheet of each map number the listings name (the first sheet of that
// number); 0 when it gives none.
std::vector<std::uint32_t> scales_of_numbers(const MapDataset& dataset) {
    std::unordered_map<std::string_view, std::uint32_t> by_number;
    for (const MapSheet& sheet : dataset.sheets) by_number.emplace(field_view(sheet.map_no), sheet.scale_denominator);
    std::vector<std::uint32_t> scales;
    scales.reserve(dataset.sheet_map_nos.size());
    for (const MapNumber& number : dataset.sheet_map_nos) {
        const auto found = by_number.find(field_view(number.text));
        scales.push_back(found == by_number.end() ? 0 : found->second);
    }
    return scales;
}

class FeatureBuilder {
  public:
    FeatureBuilder(const MapDataset& dataset, const MapHeader& header, const FeatureBuildOptions& options,
                   FeatureBatch& batch)
        : dataset_(dataset), header_(header), options_(options), batch_(batch) {
        indexes_.surfaces = build_id_index(dataset.surfaces);
        indexes_.curves = build_id_index(dataset.curves);
        indexes_.points = build_id_index(dataset.file_points());
        if (options.coordinates == GisCoordinates::geographic) {
            projection_.emplace(options.zone);
            const double nan = std::numeric_limits<double>::quiet_NaN();
            projected_.assign(dataset.point_count() + dataset.gis.direct_positions.size(), PlanePoint{nan, nan});
        }
        sheets_ = sheets_of_parcels(dataset);
        scales_ = scales_of_numbers(dataset);
    }

    // The points the features would hold at most: for each kept parcel its surface's curve points and
    // a closing point per ring. Each surface is counted once, however many parcels share it.
    // Counting stops past `limit`, so the sum cannot wrap.
    std::uint64_t point_count(std::uint64_t limit) const {
        const std::vector<std::uint64_t> of_surface = surface_point_counts(dataset_, indexes_.curves);
        std::uint64_t points = 0;
        for (std::uint32_t p = 0; p < dataset_.parcel_count(); ++p) {
            const std::uint32_t shape_no = dataset_.parcels[p].shape_no;
            const std::uint32_t surface_at = shape_no == 0 ? kNoRecord : indexes_.surfaces.find(shape_no);
            if (surface_at != kNoRecord && !left_out(p)) points += of_surface[surface_at];
            if (points > limit) break;
        }
        return points;
    }

    void add(std::uint32_t parcel_at) {
        if (left_out(parcel_at)) {
            if (batch_.left_out_lots.size() < FeatureBatch::kNamedShapeless) {
                batch_.left_out_lots.emplace_back(dataset_.gis.parcels[parcel_at].text(ParcelText::chiban));
            }
            ++batch_.left_out;
            return;
        }
        const Parcel& parcel = dataset_.parcels[parcel_at];
        const ParcelDetail& detail = dataset_.gis.parcels[parcel_at];
        const bool shaped = add_geometry(parcel);
        add_values(parcel_at, detail, shaped);
        batch_.point_begin.push_back(static_cast<std::uint32_t>(batch_.xy.size() / 2));
        batch_.ring_begin.push_back(static_cast<std::uint32_t>(batch_.ring_ends.size()));
        batch_.polygon_begin.push_back(static_cast<std::uint32_t>(batch_.polygon_ends.size()));
        if (!shaped) {
            if (batch_.shapeless_lots.size() < FeatureBatch::kNamedShapeless)
                batch_.shapeless_lots.emplace_back(detail.text(ParcelText::chiban));
            ++batch_.without_shape;
        }
    }

  private:
    bool left_out(std::uint32_t parcel_at) const {
        const std::string_view chiban = dataset_.gis.parcels[parcel_at].text(ParcelText::chiban);
        return !options_.include_outside && (chiban.find(kOutsideDistrict) != std::string_view::npos ||
                                             chiban.find(kSeparateSheet) != std::string_view::npos);
    }

    bool ring_points(const RingRun& ring, std::vector<PlanePoint>& out) {
        return plane_ring_points(dataset_, indexes_.curves, indexes_.points, ring, out, &sources_);
    }

    static double signed_area(std::span<const PlanePoint> ring) {
        double sum = 0.0;
        for (std::size_t i = 0; i + 1 < ring.size(); ++i) {
            sum += ring[i].x * ring[i + 1].y - ring[i + 1].x * ring[i].y;
        }
        return sum / 2.0;
    }

    void output_point(const PlanePoint& p, double& x, double& y) const {
        if (!projection_) {
            x = p.x;
            y = p.y;
            return;
        }
        const GeoPoint g = projection_->convert(p.y, p.x);
        x = std::round(g.longitude * 1e9) / 1e9;
        y = std::round(g.latitude * 1e9) / 1e9;
    }

    // A ring's point in output coordinates, each of the file's points projected once however many
    // rings pass through it (the projection is most of a feature's cost).
    void output_point(const PlanePoint& p, std::uint32_t source, double& x, double& y) {
        if (!projection_ || source >= projected_.size()) return output_point(p, x, y);
        PlanePoint& done = projected_[source];
        if (std::isnan(done.x)) output_point(p, done.x, done.y);
        x = done.x;
        y = done.y;
    }

    // Appends one ring in output coordinates, wound as asked; false when fewer than three distinct
    // points are left. A ring without signed area (a bow-tie) has no winding and goes as it stands.
    bool append_ring(std::vector<PlanePoint>& ring, bool counter_clockwise) {
        const double area = signed_area(ring);
        if (area != 0.0 && (area > 0.0) != counter_clockwise) {
            std::reverse(ring.begin(), ring.end());
            std::reverse(sources_.begin(), sources_.end());
        }
        const std::size_t start = batch_.xy.size();
        for (std::size_t k = 0; k < ring.size(); ++k) {
            const PlanePoint& p = ring[k];
            double x = 0.0;
            double y = 0.0;
            output_point(p, sources_[k], x, y);
            if (!std::isfinite(x) || !std::isfinite(y)) {  // far outside any zone's reach
                batch_.xy.resize(start);
                return false;
            }
            // Points a rounding apart are one point in the output.
            const std::size_t n = batch_.xy.size();
            if (n > start && batch_.xy[n - 2] == x && batch_.xy[n - 1] == y) continue;
            batch_.xy.push_back(x);
            batch_.xy.push_back(y);
        }
        if (batch_.xy.size() - start < 8) {  // fewer than three distinct points and the closing one
            batch_.xy.resize(start);
            return false;
        }
        batch_.ring_ends.push_back(static_cast<std::uint32_t>(batch_.xy.size() / 2 - batch_.point_begin.back()));
        return true;
    }

    // The MultiPolygon of the parcel and its label point; false for a null geometry.
    bool add_geometry(const Parcel& parcel) {
        label_ = {};
        shape_area_ = 0.0;
        const std::uint32_t surface_at = parcel.shape_no == 0 ? kNoRecord : indexes_.surfaces.find(parcel.shape_no);
        if (surface_at == kNoRecord) return false;
        const MapSurface& rings = dataset_.surfaces[surface_at];
        const std::size_t first_ring = batch_.ring_ends.size();
        bool exterior_kept = false;
        RingExtent exterior_extent;
        double largest_area = 0.0;
        // Buffers kept from parcel to parcel, emptied here.
        std::vector<PlanePoint>& label_points = label_points_;
        std::vector<std::uint32_t>& label_ends = label_ends_;
        label_points.clear();
        label_ends.clear();
        for (std::uint32_t r = rings.first_ring; r < rings.first_ring + rings.ring_count; ++r) {
            const RingRun& ring = dataset_.rings[r];
            if (!ring_points(ring, points_)) {
                // A shape that names what the file does not have is no shape at all.
                batch_.xy.resize(static_cast<std::size_t>(batch_.point_begin.back()) * 2);
                batch_.ring_ends.resize(first_ring);
                batch_.polygon_ends.resize(batch_.polygon_begin.back());
                return false;
            }
            const RingExtent extent = ring_extent(points_.size(), [&](std::size_t k) { return points_[k]; });
            if (!ring.interior) {
                const double area = std::abs(signed_area(points_));
                exterior_kept = append_ring(points_, true);
                if (!exterior_kept) continue;
                exterior_extent = extent;
                shape_area_ += area;
                batch_.polygon_ends.push_back(static_cast<std::uint32_t>(batch_.ring_ends.size() - first_ring));
                // The label goes into the largest polygon (the first one, when none has area).
                if (area > largest_area || label_points.empty()) {
                    largest_area = area;
                    label_points = points_;
                    label_ends.assign(1, static_cast<std::uint32_t>(points_.size()));
                    label_polygon_ = batch_.polygon_ends.size();
                }
            } else if (const double hole = std::abs(signed_area(points_));
                       exterior_kept && append_ring(points_, false)) {
                ++batch_.polygon_ends.back();
                // Written as it stands; only a hole that counts takes its area away.
                if (hole_counts(exterior_extent, extent)) shape_area_ -= hole;
                if (label_polygon_ == batch_.polygon_ends.size()) {
                    label_points.insert(label_points.end(), points_.begin(), points_.end());
                    label_ends.push_back(static_cast<std::uint32_t>(label_points.size()));
                }
            }
        }
        if (batch_.ring_ends.size() == first_ring) return false;
        const double precision = std::max(std::sqrt(largest_area) * kLabelPrecisionShare, kFinestLabelPrecision);
        PlanePoint at;
        if (largest_area > 0.0) {
            const LabelPoint label = pole_of_inaccessibility(label_points, label_ends, precision, pole_scratch_);
            at = {label.x, label.y};
        } else {
            // No area to be inside of: the mean of the outline's points, never away from them.
            for (std::size_t k = 0; k + 1 < label_ends[0]; ++k) {
                at.x += label_points[k].x / static_cast<double>(label_ends[0] - 1);
                at.y += label_points[k].y / static_cast<double>(label_ends[0] - 1);
            }
        }
        output_point(at, label_.x, label_.y);
        return true;
    }

    void put_text(std::size_t field, std::string_view text, bool present = true) {
        FeatureBatch::StoredValue& v = batch_.values[values_at_ + field];
        if (!present) return;
        v.null = false;
        v.offset = static_cast<std::uint32_t>(batch_.texts.size());
        // Every format gets valid UTF-8, whatever bytes the map file held.
        append_well_formed_utf8(batch_.texts, text);
        v.size = static_cast<std::uint32_t>(batch_.texts.size() - v.offset);
    }

    // A text that many parcels carry alike (the map's head, the file's name, a sheet's): stored once
    // under `key`, and every parcel's value points at it.
    void put_shared_text(std::size_t field, std::size_t key, std::string_view text, bool present) {
        if (!present) return;
        FeatureBatch::StoredValue& v = batch_.values[values_at_ + field];
        if (key >= shared_.size()) shared_.resize(key + 1);
        FeatureBatch::StoredValue& stored = shared_[key];
        if (stored.null) {
            stored.null = false;
            stored.offset = static_cast<std::uint32_t>(batch_.texts.size());
            append_well_formed_utf8(batch_.texts, text);
            stored.size = static_cast<std::uint32_t>(batch_.texts.size() - stored.offset);
        }
        v.null = false;
        v.offset = stored.offset;
        v.size = stored.size;
    }

    // A text of the map's head: null when the file leaves it out or empty.
    void put_head_text(std::size_t field, std::string_view text) { put_shared_text(field, field, text, !text.empty()); }

    void put_number(std::size_t field, double number) {
        FeatureBatch::StoredValue& v = batch_.values[values_at_ + field];
        v.null = false;
        v.number = number;
    }

    void put_integer(std::size_t field, std::int32_t integer) {
        FeatureBatch::StoredValue& v = batch_.values[values_at_ + field];
        v.null = false;
        v.integer = integer;
    }

    void add_values(std::uint32_t parcel_at, const ParcelDetail& detail, bool shaped) {
        values_at_ = batch_.values.size();
        batch_.values.resize(values_at_ + kParcelFieldCount);
        put_text(kParcelId, detail.text(ParcelText::parcel_id));
        put_head_text(kMapName, field_view(header_.map_name));
        put_head_text(kMunicipalityCode, field_view(header_.municipality_code));
        put_head_text(kMunicipalityName, field_view(header_.municipality_name));
        put_head_text(kCoordSystem, field_view(header_.coord_system));
        put_head_text(kGeodeticKind, field_view(header_.geodetic_kind));
        for (std::size_t t = 1; t < kParcelTextCount; ++t) {
            const auto text = static_cast<ParcelText>(t);
            put_text(kFirstParcelText + t - 1, detail.text(text), detail.has(text));
        }
        std::string numbers;
        for (std::uint32_t i = sheets_.first[parcel_at]; i < sheets_.first[parcel_at + 1]; ++i) {
            const std::string_view number = field_view(dataset_.sheet_map_nos[sheets_.listed[i]].text);
            if (!numbers.empty()) numbers += ';';
            numbers += number;
        }
        put_text(kMapNumbers, numbers, !numbers.empty());
        // A number, as GIS users filter by it: the scale of the first listing sheet that has one. A
        // denominator beyond a 32-bit column is no scale any map has: none rather than a wrapped one.
        for (std::uint32_t i = sheets_.first[parcel_at]; i < sheets_.first[parcel_at + 1]; ++i) {
            const std::uint32_t scale = scales_[sheets_.listed[i]];
            if (scale == 0 || scale > static_cast<std::uint32_t>(INT32_MAX)) continue;
            put_integer(kScale, static_cast<std::int32_t>(scale));
            break;
        }
        // The area of the shape the feature carries, its holes taken away.
        if (shaped) put_number(kArea, std::max(shape_area_, 0.0));
        if (shaped && options_.coordinates == GisCoordinates::geographic) {
            put_number(kLabelLatitude, label_.y);
            put_number(kLabelLongitude, label_.x);
        } else if (shaped) {
            put_number(kLabelPlaneX, label_.y);  // output points are easting first
            put_number(kLabelPlaneY, label_.x);
        }
        put_shared_text(kMapFile, kMapFile, options_.map_file, !options_.map_file.empty());
        if (detail.first_sheet != kNoSheet) {
            const SheetDetail& sheet = dataset_.gis.sheets[detail.first_sheet];
            for (std::size_t t = 0; t < kSheetTextCount; ++t) {
                const auto text = static_cast<SheetText>(t);
                put_shared_text(kFirstSheetText + t, kParcelFieldCount + detail.first_sheet * kSheetTextCount + t,
                                sheet.text(text), sheet.has(text));
            }
        }
    }

    const MapDataset& dataset_;
    double shape_area_ = 0.0;  // the shape's exterior rings less its holes, m²
    const MapHeader& header_;
    const FeatureBuildOptions& options_;
    FeatureBatch& batch_;
    Indexes indexes_;
    SheetsOfParcels sheets_;
    std::vector<std::uint32_t> scales_;  // by index into sheet_map_nos
    std::optional<PlaneToGeographic> projection_;
    std::vector<PlanePoint> points_;
    std::vector<std::uint32_t> sources_;    // where each of points_ is among the file's points
    std::vector<PlanePoint> label_points_;  // the rings of the polygon the label goes in
    std::vector<std::uint32_t> label_ends_;
    PoleScratch pole_scratch_;           // reused from parcel to parcel
    std::vector<PlanePoint> projected_;  // each of the file's points in output coordinates; NaN until needed
    // The texts stored once: by field for the head's and the file's name, then kSheetTextCount a sheet.
    std::vector<FeatureBatch::StoredValue> shared_;
    std::size_t values_at_ = 0;
    std::size_t label_polygon_ = 0;
    PlanePoint label_;
};

}  // namespace

std::uint64_t build_parcel_features(const MapDataset& dataset, const MapHeader& header,
                                    const FeatureBuildOptions& options, FeatureBatch& batch) {
    FeatureBuilder builder(dataset, header, options, batch);
    const std::uint64_t points = builder.point_count(options.max_points);
    if (points > options.max_points) return points;
    // Room for every parcel and every curve point up front: growing by doubling copies the arrays
    // and touches fresh pages each time.
    batch.values.reserve(static_cast<std::size_t>(dataset.parcel_count()) * kParcelFieldCount);
    batch.point_begin.reserve(dataset.parcels.size() + 1);
    batch.ring_begin.reserve(dataset.parcels.size() + 1);
    batch.polygon_begin.reserve(dataset.parcels.size() + 1);
    batch.xy.reserve((dataset.gis.curve_points.size() + dataset.rings.size()) * 2);
    batch.texts.reserve(static_cast<std::size_t>(dataset.parcel_count()) * 128);
    for (std::uint32_t i = 0; i < dataset.parcel_count(); ++i) builder.add(i);
    return 0;
}

namespace {

template <typename T>
void append_array(std::string& out, const T* data, std::size_t count) {
    const std::uint64_t n = count;
    out.append(reinterpret_cast<const char*>(&n), sizeof n);
    out.append(reinterpret_cast<const char*>(data), count * sizeof(T));
}

template <typename T>
bool read_array(std::string_view& bytes, std::vector<T>& out) {
    std::uint64_t n = 0;
    if (bytes.size() < sizeof n) return false;
    std::memcpy(&n, bytes.data(), sizeof n);
    bytes.remove_prefix(sizeof n);
    if (n > bytes.size() / sizeof(T)) return false;
    out.resize(static_cast<std::size_t>(n));
    if (n != 0) std::memcpy(out.data(), bytes.data(), static_cast<std::size_t>(n) * sizeof(T));
    bytes.remove_prefix(static_cast<std::size_t>(n) * sizeof(T));
    return true;
}

}  // namespace

void append_feature_batch_bytes(std::string& out, const FeatureBatch& batch) {
    append_array(out, batch.texts.data(), batch.texts.size());
    append_array(out, batch.values.data(), batch.values.size());
    append_array(out, batch.xy.data(), batch.xy.size());
    append_array(out, batch.ring_ends.data(), batch.ring_ends.size());
    append_array(out, batch.polygon_ends.data(), batch.polygon_ends.size());
    append_array(out, batch.point_begin.data(), batch.point_begin.size());
    append_array(out, batch.ring_begin.data(), batch.ring_begin.size());
    append_array(out, batch.polygon_begin.data(), batch.polygon_begin.size());
}

bool read_feature_batch_bytes(std::string_view bytes, FeatureBatch& batch) {
    std::vector<char> texts;
    if (!read_array(bytes, texts)) return false;
    batch.texts.assign(texts.begin(), texts.end());
    const bool read = read_array(bytes, batch.values) && read_array(bytes, batch.xy) &&
                      read_array(bytes, batch.ring_ends) && read_array(bytes, batch.polygon_ends) &&
                      read_array(bytes, batch.point_begin) && read_array(bytes, batch.ring_begin) &&
                      read_array(bytes, batch.polygon_begin);
    // Every index within the arrays it points into, so that handing the batch over reads nothing
    // beyond them.
    if (!read || !bytes.empty() || batch.point_begin.empty()) return false;
    const std::size_t n = batch.point_begin.size() - 1;
    if (batch.ring_begin.size() != n + 1 || batch.polygon_begin.size() != n + 1 ||
        batch.values.size() != n * kParcelFieldCount || batch.point_begin.back() * std::size_t{2} != batch.xy.size() ||
        batch.ring_begin.back() != batch.ring_ends.size() || batch.polygon_begin.back() != batch.polygon_ends.size()) {
        return false;
    }
    for (std::size_t f = 0; f < n; ++f) {
        if (batch.point_begin[f] > batch.point_begin[f + 1] || batch.ring_begin[f] > batch.ring_begin[f + 1] ||
            batch.polygon_begin[f] > batch.polygon_begin[f + 1]) {
            return false;
        }
    }
    for (const FeatureBatch::StoredValue& v : batch.values) {
        if (!v.null && (v.offset > batch.texts.size() || v.size > batch.texts.size() - v.offset)) return false;
    }
    return true;
}

bool write_feature_batch(FeatureWriter& writer, const FeatureBatch& batch) {
    std::vector<GisValue> values(kParcelFieldCount);
    for (std::size_t f = 0; f < batch.size(); ++f) {
        for (std::size_t i = 0; i < kParcelFieldCount; ++i) {
            const FeatureBatch::StoredValue& v = batch.values[f * kParcelFieldCount + i];
            values[i].null = v.null;
            values[i].text = v.null ? std::string_view() : std::string_view(batch.texts).substr(v.offset, v.size);
            values[i].number = v.number;
            values[i].integer = v.integer;
        }
        GisFeature feature;
        feature.values = values;
        const std::size_t p0 = batch.point_begin[f];
        const std::size_t p1 = batch.point_begin[f + 1];
        feature.xy = std::span<const double>(batch.xy).subspan(p0 * 2, (p1 - p0) * 2);
        feature.ring_ends = std::span<const std::uint32_t>(batch.ring_ends)
                                .subspan(batch.ring_begin[f], batch.ring_begin[f + 1] - batch.ring_begin[f]);
        feature.polygon_ends =
            std::span<const std::uint32_t>(batch.polygon_ends)
                .subspan(batch.polygon_begin[f], batch.polygon_begin[f + 1] - batch.polygon_begin[f]);
        if (!writer.write(feature)) return false;
    }
    return true;
}

}  // namespace chizuvec
