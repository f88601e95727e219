#include "quality/diff_drawing.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "render/xml_text.hpp"

namespace chizuvec {
namespace {

constexpr int kDecimals = 2;  // centimetres
constexpr double kUnitsPerMetre = 100.0;
constexpr std::int64_t kPageWidthPt = 842;  // A4's long side

// Polygon styles (p0 .. p3) of unchanged, added, reshaped and otherwise changed parcels.
constexpr const char* kFills[kPolygonStyleCount] = {"#eeeeee", "#4caf50", "#ff9800", "#42a5f5", "#eeeeee"};
constexpr const char* kRemovedStroke = "#d32f2f";

std::uint8_t polygon_style(std::uint8_t style) {
    // style: 0 unchanged, 1 added, 2 removed, 3 reshaped, 4 attributes
    constexpr std::uint8_t kStyles[] = {0, 1, 0, 2, 3};
    return kStyles[style];
}

}  // namespace

void DiffDrawing::add(const ReleaseParcel& parcel, const ChangeKind* change) {
    if (!parcel.shaped || parcel.ring_ends.empty()) return;
    Shape shape;
    shape.style = change == nullptr ? 0 : static_cast<std::uint8_t>(1 + static_cast<int>(*change));
    // The first exterior: the drawing model's polygons have one ring.
    points_.insert(points_.end(), parcel.points.begin(), parcel.points.begin() + parcel.ring_ends.front());
    shape.end = static_cast<std::uint32_t>(points_.size());
    shapes_.push_back(shape);
}

Drawing DiffDrawing::drawing(std::string_view title) const {
    double min_x = HUGE_VAL, min_y = HUGE_VAL, max_x = -HUGE_VAL, max_y = -HUGE_VAL;
    for (const PlanePoint& p : points_) {
        min_x = std::min(min_x, p.x);
        min_y = std::min(min_y, p.y);
        max_x = std::max(max_x, p.x);
        max_y = std::max(max_y, p.y);
    }
    if (points_.empty()) min_x = min_y = 0.0, max_x = max_y = 1.0;
    // A drawing of more than some thousand kilometres is no municipality; its units would not fit.
    const double limit = static_cast<double>(std::numeric_limits<std::int32_t>::max()) / kUnitsPerMetre / 2.0;
    const double width = std::clamp(max_x - min_x, 1.0, limit);
    const double height = std::clamp(max_y - min_y, 1.0, limit);
    const double margin = width / 40.0;
    const double band = width / 8.0;  // above the map: the title and the legend
    const double font = width / 60.0;
    const auto units = [](double metres) { return static_cast<std::int32_t>(std::lround(metres * kUnitsPerMetre)); };
    const auto at = [&](const PlanePoint& p) {
        return DrawPoint{units(std::clamp(p.x - min_x, 0.0, width) + margin),
                         units(std::clamp(max_y - p.y, 0.0, height) + margin + band)};
    };

    Drawing d;
    d.decimals = kDecimals;
    d.width = units(width + 2 * margin);
    d.height = units(height + band + 2 * margin);
    d.page_width = kPageWidthPt;
    d.page_height = std::max<std::int64_t>(1, std::llround(static_cast<double>(kPageWidthPt) * d.height / d.width));
    append_xml_escaped(d.title, title);
    d.background = "#ffffff";
    for (int i = 0; i < kPolygonStyleCount; ++i) d.polygon_fills[i] = kFills[i];
    d.polygon_stroke = "#666666";
    d.polygon_stroke_width = std::max(1, units(width / 1500.0));
    d.label_font = "sans-serif";
    // Unchanged parcels first, so that the changed ones lie on top; the removed ones as red outlines
    // over everything.
    for (const int pass : {0, 1}) {
        std::uint32_t begin = 0;
        for (const Shape& shape : shapes_) {
            const bool removed = shape.style == 2;
            if (!removed && (shape.style != 0) == (pass == 1)) {
                for (std::uint32_t i = begin; i < shape.end; ++i) d.vertices.push_back(at(points_[i]));
                // One ring, which every writer walks through ring_ends.
                d.ring_ends.push_back(static_cast<std::uint32_t>(d.vertices.size()));
                d.polygons.push_back({polygon_style(shape.style), static_cast<std::uint32_t>(d.vertices.size()),
                                      static_cast<std::uint32_t>(d.ring_ends.size())});
            } else if (removed && pass == 1) {
                DrawLine line;
                for (std::uint32_t i = begin; i < shape.end; ++i) line.points.push_back(at(points_[i]));
                line.closed = true;
                line.stroke = kRemovedStroke;
                line.width = d.polygon_stroke_width * 3;
                line.dash = line.width * 3;
                d.marks.emplace_back(std::move(line));
            }
            begin = shape.end;
        }
    }
    DrawText heading;
    heading.x = units(margin);
    heading.y = units(margin + font);
    heading.font = "sans-serif";
    heading.size = units(font);
    heading.text = d.title;
    d.marks.emplace_back(std::move(heading));
    const struct {
        const char* fill;
        const char* stroke;
        const char* name;
    } legend[] = {{kFills[1], "#666666", "added"},
                  {kFills[2], "#666666", "reshaped"},
                  {kFills[3], "#666666", "attributes"},
                  {"", kRemovedStroke, "removed (old outline)"}};
    for (std::size_t k = 0; k < std::size(legend); ++k) {
        const double x = margin + static_cast<double>(k) * width / 4.0;
        const double y = margin + font * 2.0;
        DrawLine swatch;
        swatch.points = {{units(x), units(y)},
                         {units(x + font), units(y)},
                         {units(x + font), units(y + font)},
                         {units(x), units(y + font)}};
        swatch.closed = true;
        swatch.stroke = legend[k].stroke;
        swatch.width = d.polygon_stroke_width * (k == 3 ? 3 : 1);
        if (k == 3) swatch.dash = std::max(1, units(font) / 4);
        swatch.fill = legend[k].fill;
        d.marks.emplace_back(std::move(swatch));
        DrawText name;
        name.x = units(x + font * 1.5);
        name.y = units(y + font * 0.9);
        name.font = "sans-serif";
        name.size = units(font);
        name.text = legend[k].name;
        d.marks.emplace_back(std::move(name));
    }
    return d;
}

}  // namespace chizuvec
