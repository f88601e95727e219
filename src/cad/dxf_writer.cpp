// DXF R12 (AC1009) in ASCII, the version Jw_cad and every CAD program read: the parcels in metres of
// the map's plane, DXF x the easting and y the northing, so north is up. Every group code and value
// on its own line, CR LF; texts in Shift_JIS as $DWGCODEPAGE ANSI_932 says.
#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "cad/cad_source.hpp"
#include "common/fixed_text.hpp"
#include "geometry/label_point.hpp"
#include "render/svg_text.hpp"

namespace chizuvec {
namespace {

struct Layer {
    std::string_view name;  // UTF-8
    int colour;             // AutoCAD colour index
};
enum LayerIndex {
    kBoundary,
    kOutside,
    kLotNumber,
    kHighlight,
    kFrame,
    kBoundaryPoint,
    kControlPoint,
    kTitle,
    kLayerCount
};
constexpr Layer kLayers[kLayerCount] = {
    {"筆界", 7}, {"筆界_地区外", 8}, {"地番", 3}, {"強調", 1}, {"図郭", 5}, {"筆界点", 6}, {"基準点", 4}, {"表題", 7},
};

constexpr std::size_t kFlushAt = std::size_t{256} << 10;
constexpr double kLabelHeightMm = 2.5;
constexpr std::uint32_t kDefaultScale = 500;

// Map positions on the drawing: metres of the plane as they are, or millimetres on paper at 1:scale
// from an origin.
struct Placement {
    double origin_e = 0.0;
    double origin_n = 0.0;
    double factor = 1.0;
};

class DxfOut {
  public:
    DxfOut(std::FILE* file, const Placement& placement) : file_(file), placement_(placement) {
        text_.reserve(kFlushAt + 4096);
    }

    // A map position: easting, northing.
    void place(int code, double easting, double northing) {
        point(code, (easting - placement_.origin_e) * placement_.factor,
              (northing - placement_.origin_n) * placement_.factor);
    }
    void length(int code, double metres) { number(code, metres * placement_.factor); }

    void group(int code, std::string_view value) {
        line_number(code);
        text_ += value;
        text_ += "\r\n";
        if (text_.size() >= kFlushAt) flush();
    }
    void number(int code, double value) {
        line_number(code);
        // A coordinate that is not finite is no position: 0 keeps the file readable.
        append_coordinate(text_, std::isfinite(value) ? value : 0.0);
        text_ += "\r\n";
    }
    void integer(int code, long long value) { group(code, std::to_string(value)); }
    void point(int code, double x, double y) {
        number(code, x);
        number(code + 10, y);
        number(code + 20, 0.0);
    }
    bool flush() {
        if (!failed_ && !text_.empty()) failed_ = std::fwrite(text_.data(), 1, text_.size(), file_) != text_.size();
        text_.clear();
        return !failed_;
    }

  private:
    void line_number(int code) {
        // Group codes are right-aligned in three columns, as AutoCAD writes them.
        if (code < 10)
            text_ += "  ";
        else if (code < 100)
            text_ += " ";
        text_ += std::to_string(code);
        text_ += "\r\n";
    }
    std::FILE* file_;
    Placement placement_;
    std::string text_;
    bool failed_ = false;
};

struct Extent {
    double min_x = std::numeric_limits<double>::infinity();
    double min_y = std::numeric_limits<double>::infinity();
    double max_x = -std::numeric_limits<double>::infinity();
    double max_y = -std::numeric_limits<double>::infinity();
    void add(double x, double y) {
        if (!std::isfinite(x) || !std::isfinite(y)) return;
        min_x = std::min(min_x, x);
        max_x = std::max(max_x, x);
        min_y = std::min(min_y, y);
        max_y = std::max(max_y, y);
    }
    bool empty() const { return min_x > max_x; }
};

// The sheets drawn: the one of the map number, or every sheet with a frame.
template <typename Visit>
void for_each_sheet(const CadSource& source, Visit visit) {
    for (const MapSheet& sheet : source.dataset->sheets) {
        if (!sheet.has_frame) continue;
        if (!source.map_no.empty() && field_view(sheet.map_no) != source.map_no) continue;
        visit(sheet);
    }
}

std::uint32_t label_scale(const CadSource& source) {
    if (source.sheet != nullptr && source.sheet->scale_denominator != 0) return source.sheet->scale_denominator;
    for (const MapSheet& sheet : source.dataset->sheets) {
        if (sheet.scale_denominator != 0 && (source.map_no.empty() || field_view(sheet.map_no) == source.map_no)) {
            return sheet.scale_denominator;
        }
    }
    return kDefaultScale;
}

void write_header(DxfOut& out, const Extent& extent) {
    out.group(0, "SECTION");
    out.group(2, "HEADER");
    out.group(9, "$ACADVER");
    out.group(1, "AC1009");
    out.group(9, "$DWGCODEPAGE");
    out.group(3, "ANSI_932");
    out.group(9, "$EXTMIN");
    out.place(10, extent.empty() ? 0.0 : extent.min_x, extent.empty() ? 0.0 : extent.min_y);
    out.group(9, "$EXTMAX");
    out.place(10, extent.empty() ? 0.0 : extent.max_x, extent.empty() ? 0.0 : extent.max_y);
    out.group(0, "ENDSEC");
}

void write_tables(DxfOut& out) {
    out.group(0, "SECTION");
    out.group(2, "TABLES");
    out.group(0, "TABLE");
    out.group(2, "LTYPE");
    out.integer(70, 1);
    out.group(0, "LTYPE");
    out.group(2, "CONTINUOUS");
    out.integer(70, 0);
    out.group(3, "Solid line");
    out.integer(72, 65);
    out.integer(73, 0);
    out.number(40, 0.0);
    out.group(0, "ENDTAB");
    out.group(0, "TABLE");
    out.group(2, "LAYER");
    out.integer(70, kLayerCount);
    for (const Layer& layer : kLayers) {
        out.group(0, "LAYER");
        out.group(2, cad_text(layer.name));
        out.integer(70, 0);
        out.integer(62, layer.colour);
        out.group(6, "CONTINUOUS");
    }
    out.group(0, "ENDTAB");
    out.group(0, "TABLE");
    out.group(2, "STYLE");
    out.integer(70, 1);
    out.group(0, "STYLE");
    out.group(2, "STANDARD");
    out.integer(70, 0);
    out.number(40, 0.0);
    out.number(41, 1.0);
    out.number(50, 0.0);
    out.integer(71, 0);
    out.number(42, 2.5);
    out.group(3, "txt");
    out.group(4, "");
    out.group(0, "ENDTAB");
    out.group(0, "ENDSEC");
}

void write_polyline(DxfOut& out, const std::string& layer, const MapDataset& dataset,
                    std::span<const std::uint32_t> ring) {
    out.group(0, "POLYLINE");
    out.group(8, layer);
    out.integer(66, 1);
    out.point(10, 0.0, 0.0);
    out.integer(70, 1);  // closed
    for (const std::uint32_t index : ring) {
        if (index >= dataset.points.size()) continue;
        const MapPoint& p = dataset.points[index];
        out.group(0, "VERTEX");
        out.group(8, layer);
        out.place(10, p.y, p.x);
    }
    out.group(0, "SEQEND");
    out.group(8, layer);
}

void write_corners(DxfOut& out, const std::string& layer, const MapSheet& sheet) {
    out.group(0, "POLYLINE");
    out.group(8, layer);
    out.integer(66, 1);
    out.point(10, 0.0, 0.0);
    out.integer(70, 1);
    // Lower left, upper left, upper right, lower right.
    for (const int corner : {0, 1, 3, 2}) {
        out.group(0, "VERTEX");
        out.group(8, layer);
        out.place(10, sheet.corner_y[corner], sheet.corner_x[corner]);
    }
    out.group(0, "SEQEND");
    out.group(8, layer);
}

// A TEXT; centred on (x, y), or from its left end when `left`.
void write_text(DxfOut& out, const std::string& layer, double x, double y, double height, std::string_view utf8,
                bool centred) {
    out.group(0, "TEXT");
    out.group(8, layer);
    out.place(10, x, y);
    out.length(40, height);
    out.group(1, cad_text(utf8));
    out.group(7, "STANDARD");
    if (centred) {
        out.integer(72, 1);
        out.place(11, x, y);
        out.integer(73, 2);
    }
}

void write_point(DxfOut& out, const std::string& layer, double x, double y) {
    out.group(0, "POINT");
    out.group(8, layer);
    out.place(10, x, y);
}

// A POINT on its layer with its name beside it, to the upper right.
void write_named_point(DxfOut& out, const std::string& layer, const MapPoint& p, std::string_view name, double height) {
    write_point(out, layer, p.y, p.x);
    if (!name.empty()) write_text(out, layer, p.y + height / 2, p.x + height / 2, height, name, false);
}

// The 筆界点 the written parcels use, each once where the map names it, and the 基準点 in the extent.
void write_survey_points(DxfOut& out, const CadSource& source, const Extent& extent, const std::string& boundary,
                         const std::string& control, double height) {
    const MapDataset& dataset = *source.dataset;
    const SurveyPoints survey = survey_points_of(dataset);
    if (!survey.name_of.empty()) {
        std::vector<bool> written(dataset.points.size(), false);
        for_each_cad_parcel(source, [&](const Parcel& parcel) {
            for_each_parcel_ring(source, parcel, [&](std::span<const std::uint32_t> ring, bool) {
                for (const std::uint32_t index : ring) {
                    if (index >= dataset.points.size() || written[index]) continue;
                    written[index] = true;
                    const std::string_view name = survey.name(dataset, index);
                    if (!name.empty()) write_named_point(out, boundary, dataset.points[index], name, height);
                }
            });
        });
    }
    if (extent.empty()) return;
    for (std::size_t i = 0; i < survey.control_at.size(); ++i) {
        const std::uint32_t at = survey.control_at[i];
        if (at >= dataset.points.size()) continue;
        const MapPoint& p = dataset.points[at];
        if (p.y < extent.min_x || p.y > extent.max_x || p.x < extent.min_y || p.x > extent.max_y) continue;
        write_named_point(out, control, p, field_view(dataset.control_points[i].name), height);
    }
}

void write_entities(DxfOut& out, const CadSource& source, const Extent& extent) {
    const MapDataset& dataset = *source.dataset;
    std::string layers[kLayerCount];
    for (int i = 0; i < kLayerCount; ++i) layers[i] = cad_text(kLayers[i].name);
    const double label_height =
        kLabelHeightMm * (source.paper_scale != 0 ? source.paper_scale : label_scale(source)) / 1000.0;
    out.group(0, "SECTION");
    out.group(2, "ENTITIES");
    LabelScratch scratch;
    for_each_cad_parcel(source, [&](const Parcel& parcel) {
        const bool outside = is_outside_lot(field_view(parcel.chiban));
        for_each_parcel_ring(source, parcel, [&](std::span<const std::uint32_t> ring, bool) {
            write_polyline(out, layers[outside ? kOutside : kBoundary], dataset, ring);
            if (parcel.hilite != 0) write_polyline(out, layers[kHighlight], dataset, ring);
        });
        if (!parcel.has_centroid) return;
        const PlanePoint at = parcel_label_point(dataset, parcel, label_height / 4, scratch);
        write_text(out, layers[kLotNumber], at.y, at.x, label_height, field_view(parcel.chiban), true);
    });
    write_survey_points(out, source, extent, layers[kBoundaryPoint], layers[kControlPoint], label_height / 2);
    for_each_sheet(source, [&](const MapSheet& sheet) {
        write_corners(out, layers[kFrame], sheet);
        write_text(out, layers[kFrame], sheet.corner_y[0] + label_height, sheet.corner_x[0] + label_height,
                   label_height * 2, field_view(sheet.map_no), false);
    });
    if (!extent.empty()) {
        // The title above the top left corner, the source line below the bottom right, as drawn.
        write_text(out, layers[kTitle], extent.min_x, extent.max_y + label_height * 2, label_height * 2,
                   title_text(source.input_path, source.map_no, *source.header), false);
        const std::string_view credit = field_view(source.settings->svg_text_source);
        if (!credit.empty()) {
            const double height = label_height;
            out.group(0, "TEXT");
            out.group(8, layers[kTitle]);
            out.place(10, extent.max_x, extent.min_y - height * 2);
            out.length(40, height);
            out.group(1, cad_text(credit));
            out.group(7, "STANDARD");
            out.integer(72, 2);  // right
            out.place(11, extent.max_x, extent.min_y - height * 2);
        }
    }
    out.group(0, "ENDSEC");
}

Extent extent_of(const CadSource& source) {
    Extent extent;
    const MapDataset& dataset = *source.dataset;
    for_each_cad_parcel(source, [&](const Parcel& parcel) {
        for_each_parcel_ring(source, parcel, [&](std::span<const std::uint32_t> ring, bool) {
            for (const std::uint32_t index : ring) {
                if (index < dataset.points.size()) extent.add(dataset.points[index].y, dataset.points[index].x);
            }
        });
    });
    for_each_sheet(source, [&](const MapSheet& sheet) {
        for (int i = 0; i < 4; ++i) extent.add(sheet.corner_y[i], sheet.corner_x[i]);
    });
    return extent;
}

}  // namespace

PageStatus write_dxf(std::FILE* file, const CadSource& source) {
    try {
        const Extent extent = extent_of(source);
        Placement placement;
        if (source.paper_scale != 0) {
            // Millimetres on paper, from the drawn sheet's lower left corner (or the parcels').
            placement.factor = 1000.0 / source.paper_scale;
            if (source.sheet != nullptr && source.sheet->has_frame) {
                placement.origin_e = source.sheet->corner_y[0];
                placement.origin_n = source.sheet->corner_x[0];
            } else if (!extent.empty()) {
                placement.origin_e = extent.min_x;
                placement.origin_n = extent.min_y;
            }
        }
        DxfOut out(file, placement);
        write_header(out, extent);
        write_tables(out);
        write_entities(out, source, extent);
        out.group(0, "EOF");
        return out.flush() ? PageStatus::ok : PageStatus::failed;
    } catch (const std::bad_alloc&) {
        return PageStatus::no_memory;
    }
}

}  // namespace chizuvec
