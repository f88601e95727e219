// The elements of the drawing that carry text: the label style rules, the lot-number labels, the
// title line, the source line with the measuring that decides where the scale bar goes, and the
// scale bar. Every text from outside goes in through xml_text.hpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "config/render_settings.hpp"
#include "geometry/polygon_assembly.hpp"
#include "model/map_dataset.hpp"
#include "platform/platform.hpp"
#include "render/svg_layout.hpp"
#include "render/svg_output.hpp"
#include "render/xml_text.hpp"

namespace chizuvec {

// A map text of a fixed field on its way into the document, made safe there (it may grow longer than
// the field; the field itself is never changed).
template <std::size_t N>
void put_map_field(SvgOutput& out, const char (&field)[N]) {
    std::string text;
    append_map_field(text, field);
    put(out, text);
}

// Width of the source line in drawing units from a measured extent at `font_size` pixels.
std::int32_t source_width_from_extent(const platform::TextExtent& extent, std::uint32_t font_size);
// Measures svg_text_source (unescaped) in svg_font_source at svg_font_size_source.
std::int32_t measure_source_text(const RenderSettings& settings);

struct ScaleBar {
    std::int32_t bar_length = 0;  // 100 metres in drawing units
    std::int32_t bar_lift = 4;    // base line above the bottom edge
    std::int32_t bar_height = 0;  // tick height and label size
};
ScaleBar compute_scale_bar(const SvgLayout& layout, const RenderSettings& settings, std::int32_t source_width);

// The text-bearing elements, in document order.
void write_label_styles(SvgOutput& out, const RenderSettings& settings);
void write_labels(SvgOutput& out, const MapDataset& dataset, const BoundingBox& bounds, const SvgLayout& layout,
                  const RenderSettings& settings, const std::vector<std::uint32_t>* selection = nullptr);
void write_title(SvgOutput& out, std::string_view input_path, std::string_view map_no, const MapHeader& header,
                 const RenderSettings& settings);
// `escaped_source` is svg_text_source after append_xml_escaped.
void write_source_line(SvgOutput& out, std::string_view escaped_source, const SvgLayout& layout,
                       const RenderSettings& settings);
void write_scale_bar(SvgOutput& out, const ScaleBar& bar, const SvgLayout& layout, std::string_view coord_system,
                     const RenderSettings& settings);

}  // namespace chizuvec
