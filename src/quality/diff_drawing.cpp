#include "quality/diff_drawing.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "render/xml_text.hpp"

namespace chizuvec {
namespace {

constexpr double kWidthPx = 1200.0;

void append_number(std::string& out, double value) {
    char text[32];
    const auto result =
        std::to_chars(text, text + sizeof text, std::round(value * 100.0) / 100.0, std::chars_format::fixed, 2);
    out.append(text, result.ptr);
}

// Style classes, by Shape::style: unchanged, then added, removed, reshaped, attributes.
constexpr const char* kClasses[] = {"u", "a", "r", "s", "t"};
constexpr const char* kLegend[][2] = {
    {"a", "added"}, {"s", "reshaped"}, {"t", "attributes"}, {"r", "removed (old outline)"}};

}  // namespace

void DiffDrawing::add(const ReleaseParcel& parcel, const ChangeKind* change) {
    if (!parcel.shaped) return;
    Shape shape;
    shape.style = change == nullptr ? 0 : static_cast<std::uint8_t>(1 + static_cast<int>(*change));
    shape.first_point = static_cast<std::uint32_t>(points_.size());
    shape.first_ring = static_cast<std::uint32_t>(ring_ends_.size());
    points_.insert(points_.end(), parcel.points.begin(), parcel.points.end());
    for (const std::uint32_t end : parcel.ring_ends) ring_ends_.push_back(shape.first_point + end);
    shapes_.push_back(shape);
}

std::string DiffDrawing::svg(std::string_view title) const {
    double min_x = HUGE_VAL, min_y = HUGE_VAL, max_x = -HUGE_VAL, max_y = -HUGE_VAL;
    for (const PlanePoint& p : points_) {
        min_x = std::min(min_x, p.x);
        min_y = std::min(min_y, p.y);
        max_x = std::max(max_x, p.x);
        max_y = std::max(max_y, p.y);
    }
    if (points_.empty()) min_x = min_y = 0.0, max_x = max_y = 1.0;
    const double width = std::max(max_x - min_x, 1.0);
    const double height = std::max(max_y - min_y, 1.0);
    const double margin = width / 40.0;
    const double legend = width / 8.0;  // the band above the map for the title and legend
    const double font = width / 60.0;
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"";
    append_number(out, kWidthPx);
    out += "\" height=\"";
    append_number(out, kWidthPx * (height + legend + 2 * margin) / (width + 2 * margin));
    out += "\" viewBox=\"0 0 ";
    append_number(out, width + 2 * margin);
    out += ' ';
    append_number(out, height + legend + 2 * margin);
    out +=
        "\">\n<style>path{stroke:#666;vector-effect:non-scaling-stroke;stroke-width:0.5}"
        ".u{fill:#eeeeee}.a{fill:#4caf50}.s{fill:#ff9800}.t{fill:#42a5f5}"
        ".r{fill:none;stroke:#d32f2f;stroke-width:1.5;stroke-dasharray:4 3}text{font-family:sans-serif}</style>\n";
    out += "<text x=\"";
    append_number(out, margin);
    out += "\" y=\"";
    append_number(out, margin + font);
    out += "\" font-size=\"";
    append_number(out, font);
    out += "\">";
    append_xml_escaped(out, title);
    out += "</text>\n";
    for (std::size_t k = 0; k < std::size(kLegend); ++k) {
        const double x = margin + static_cast<double>(k) * width / 4.0;
        const double y = margin + font * 2.5;
        out += "<path class=\"";
        out += kLegend[k][0];
        out += "\" d=\"M";
        append_number(out, x);
        out += ' ';
        append_number(out, y);
        out += "h";
        append_number(out, font);
        out += "v";
        append_number(out, font);
        out += "h-";
        append_number(out, font);
        out += "z\"/><text x=\"";
        append_number(out, x + font * 1.5);
        out += "\" y=\"";
        append_number(out, y + font * 0.9);
        out += "\" font-size=\"";
        append_number(out, font);
        out += "\">";
        out += kLegend[k][1];
        out += "</text>\n";
    }
    // Unchanged parcels first, so that the changed ones and the dashed old outlines lie on top.
    for (const int pass : {0, 1, 2}) {
        for (std::size_t s = 0; s < shapes_.size(); ++s) {
            const Shape& shape = shapes_[s];
            const int wanted = shape.style == 0 ? 0 : (shape.style == 2 ? 2 : 1);
            if (wanted != pass) continue;
            const std::uint32_t ring_end =
                s + 1 < shapes_.size() ? shapes_[s + 1].first_ring : static_cast<std::uint32_t>(ring_ends_.size());
            out += "<path class=\"";
            out += kClasses[shape.style];
            out += "\" fill-rule=\"evenodd\" d=\"";
            std::uint32_t begin = shape.first_point;
            for (std::uint32_t r = shape.first_ring; r < ring_end; ++r) {
                for (std::uint32_t i = begin; i < ring_ends_[r]; ++i) {
                    out += i == begin ? 'M' : 'L';
                    append_number(out, points_[i].x - min_x + margin);
                    out += ' ';
                    append_number(out, max_y - points_[i].y + margin + legend);
                }
                out += 'Z';
                begin = ring_ends_[r];
            }
            out += "\"/>\n";
        }
    }
    out += "</svg>\n";
    return out;
}

}  // namespace chizuvec
