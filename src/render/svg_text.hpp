// The marks of the page that carry text: the label styles, the lot-number labels, the title line, the
// source line with the measuring that decides where the scale bar goes, and the scale bar. Every
// text from outside goes in through xml_text.hpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/render_settings.hpp"
#include "geometry/polygon_assembly.hpp"
#include "model/map_dataset.hpp"
#include "platform/platform.hpp"
#include "render/drawing.hpp"
#include "render/svg_layout.hpp"
#include "render/svg_output.hpp"
#include "render/xml_text.hpp"

namespace chizuvec {

// Width of the source line in drawing units from a measured extent at `font_size` pixels.
std::int32_t source_width_from_extent(const platform::TextExtent& extent, std::uint32_t font_size);
// Measures svg_text_source (unescaped) in svg_font_source at svg_font_size_source.
std::int32_t measure_source_text(const RenderSettings& settings);

struct ScaleBar {
    double metres = 100.0;        // the length the bar shows
    std::int32_t bar_length = 0;  // `metres` in drawing units
    std::int32_t bar_lift = 4;    // base line above the bottom edge
    std::int32_t bar_height = 0;  // tick height and label size
    std::int32_t label_x = 0;     // centre of the label
};
// The 100 m bar where it and its label fit (the bar at most half the drawing wide and never shorter
// than its label with a gap at each end, the label inside the page); otherwise the longest length of
// the 1-2-5 series that fits half the width, its label kept inside the page.
ScaleBar compute_scale_bar(const SvgLayout& layout, const RenderSettings& settings, std::int32_t source_width);
// The longest length of the series ..., 0.5, 1, 2, 5, 10, 20, ... metres that is at most `limit`
// (100 when `limit` is no positive length).
double round_length_within(double limit);
// The bar's label: the length as short as it can be written, then the unit.
std::string scale_bar_label(const ScaleBar& bar);
// Width of a text of digits, ".", " " and "m" in Arial at `size`, from that font's advance widths.
std::int32_t scale_bar_label_width(std::string_view text, std::int32_t size);

// The title's text as drawn (unescaped), and its font size: svg_font_size_title, or smaller so that
// the measured title fits between the side margins; when that would be below `legible` (drawing
// units), svg_font_size_title, and the title runs over.
inline constexpr std::uint32_t kLegibleTitleSize = 6;
std::string title_text(std::string_view input_path, std::string_view map_no, const MapHeader& header);
std::uint32_t fitted_title_size(std::string_view title, std::int32_t viewbox_width, const RenderSettings& settings,
                                std::uint32_t legible = kLegibleTitleSize);

// The marks that carry text, added in document order.
void add_label_styles(Drawing& drawing, const RenderSettings& settings);
// With `label_all`, the parcels the two classes leave out get class 3, the smallest size. `shapes`
// (if given) holds, for each parcel in drawing order, DrawText::shape for its label.
void add_labels(Drawing& drawing, const MapDataset& dataset, const BoundingBox& bounds, const SvgLayout& layout,
                const RenderSettings& settings, const std::vector<std::uint32_t>* selection = nullptr,
                bool label_all = false, const std::vector<std::uint32_t>* shapes = nullptr);
// The title as XML character data: map texts kept as they are written, the file name escaped.
std::string title_markup(std::string_view input_path, std::string_view map_no, const MapHeader& header);
void add_text(Drawing& drawing, std::int32_t x, std::int32_t y, TextAnchor anchor, std::string_view font,
              std::int32_t size, std::string text);
void add_title(Drawing& drawing, std::string_view input_path, std::string_view map_no, const MapHeader& header,
               const RenderSettings& settings, std::uint32_t font_size);
// `escaped_source` is svg_text_source after append_xml_escaped.
void add_source_line(Drawing& drawing, std::string_view escaped_source, const SvgLayout& layout,
                     const RenderSettings& settings);
void add_scale_bar(Drawing& drawing, const ScaleBar& bar, const SvgLayout& layout, const RenderSettings& settings);

}  // namespace chizuvec
