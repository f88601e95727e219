#include "render/svg_text.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "common/fixed_text.hpp"
#include "common/text_format.hpp"
#include "geometry/label_point.hpp"
#include "render/parcel_style.hpp"
#include "render/xml_text.hpp"

namespace chizuvec {
namespace {

constexpr std::uint32_t kMaxBarHeight = 60;
constexpr double kScaleBarMetres = 100.0;

std::int32_t clamp_to_int32(std::int64_t value) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                                              std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

std::int32_t source_width_from_extent(const platform::TextExtent& extent, std::uint32_t font_size) {
    const std::int64_t advance = extent.advance;
    if (extent.ascent_plus_descent <= 0) return clamp_to_int32(advance);
    return clamp_to_int32(advance * static_cast<std::int64_t>(font_size) / extent.ascent_plus_descent);
}

std::int32_t measure_source_text(const RenderSettings& settings) {
    const std::string_view text = field_view(settings.svg_text_source);
    if (text.empty()) return 0;
    platform::TextExtent extent;
    if (!platform::measure_text(text, field_view(settings.svg_font_source), settings.svg_font_size_source, extent)) {
        return 0;
    }
    return source_width_from_extent(extent, settings.svg_font_size_source);
}

double round_length_within(double limit) {
    if (!std::isfinite(limit) || limit <= 0.0) return kScaleBarMetres;
    const double decade = std::pow(10.0, std::clamp(std::floor(std::log10(limit)), -3.0, 9.0));
    for (const double step : {5.0, 2.0, 1.0}) {
        // A hair of slack, so that a limit of exactly 200 is not taken for 199.99...
        if (step * decade <= limit * (1.0 + 1e-12)) return step * decade;
    }
    return decade;
}

std::int32_t scale_bar_label_width(std::string_view text, std::int32_t size) {
    // Advance widths in thousandths of an em, of the widest sans-serif font a viewer may put in
    // Arial's place, so that a label judged inside the page is inside in every viewer.
    std::int64_t thousandths = 0;
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            thousandths += 636;
        } else if (c == 'm') {
            thousandths += 974;
        } else {
            thousandths += 318;  // ".", " "
        }
    }
    return clamp_to_int32((thousandths * size + 999) / 1000);
}

std::string scale_bar_label(const ScaleBar& bar) {
    // Every map's coordinates are metres, a local system's too; a kilometre and more reads in km.
    if (bar.metres >= 1000.0) return format_text("%g km", bar.metres / 1000.0);
    return format_text(bar.metres >= 1.0 ? "%.0f m" : "%g m", bar.metres);
}

ScaleBar compute_scale_bar(const SvgLayout& layout, const RenderSettings& settings, std::int32_t source_width) {
    ScaleBar bar;
    const std::uint32_t mx = settings.svg_viewbox_marginx;
    const std::uint32_t my = settings.svg_viewbox_marginy;
    bar.bar_height = static_cast<std::int32_t>(std::min(my, kMaxBarHeight));
    bar.bar_length = drawing_coordinate(kScaleBarMetres, layout.scale, 0);
    const std::int64_t width = layout.viewbox_width;
    const auto centre_of = [&](const ScaleBar& b) { return std::int64_t{mx} + b.bar_length / 2; };
    const auto label_fits = [&](const ScaleBar& b) {
        const std::int64_t half_label = scale_bar_label_width(scale_bar_label(b), b.bar_height) / 2;
        return centre_of(b) - half_label >= 0 && centre_of(b) + half_label <= width;
    };
    // The label stands over the bar between its ticks, a quarter of its height clear of each.
    const auto bar_holds_label = [&](const ScaleBar& b) {
        return b.bar_length >= scale_bar_label_width(scale_bar_label(b), b.bar_height) + 2 * (b.bar_height / 4);
    };
    if (bar.bar_length > width / 2 || !label_fits(bar) || !bar_holds_label(bar)) {
        bar.metres = round_length_within(static_cast<double>(width / 2) / layout.scale);
        bar.bar_length = drawing_coordinate(bar.metres, layout.scale, 0);
    }
    std::int64_t centre = centre_of(bar);
    if (!label_fits(bar)) {
        const std::int64_t half_label = scale_bar_label_width(scale_bar_label(bar), bar.bar_height) / 2;
        centre = half_label * 2 > width ? width / 2 : std::clamp(centre, half_label, width - half_label);
    }
    bar.label_x = clamp_to_int32(centre);
    // The bar starts at the left margin and the source line ends at the right one: they meet on the
    // bottom line exactly when together they are wider than the drawing.
    const std::int64_t needed = std::int64_t{source_width} + 2 * std::int64_t{mx} + bar.bar_length;
    if (needed > layout.viewbox_width) bar.bar_lift = clamp_to_int32(my);
    return bar;
}

std::string title_text(std::string_view input_path, std::string_view map_no, const MapHeader& header) {
    std::string text = "【";
    text += field_view(header.municipality_name);
    text += "】　〔";
    text += field_view(header.map_name);
    text += "〕　\"";
    text += platform::path_file_name(input_path);
    text += "\"";
    if (!map_no.empty()) {
        text += "　（";
        text += map_no;
        text += "）";
    }
    text += "　＜";
    text += field_view(header.coord_system);
    text += "＞";
    return text;
}

std::uint32_t fitted_title_size(std::string_view title, std::int32_t viewbox_width, const RenderSettings& settings,
                                std::uint32_t legible) {
    const std::uint32_t size = settings.svg_font_size_title;
    const std::int64_t room = std::int64_t{viewbox_width} - 2 * std::int64_t{settings.svg_viewbox_marginx};
    if (size <= 1 || room <= 0) return size;
    // No character is wider than two ems: a title that fits even so needs no font work.
    std::int64_t characters = 0;
    for (const char c : title) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    if (characters * 2 * size <= room) return size;
    const auto width_at = [&](std::uint32_t pixels) -> std::int64_t {
        platform::TextExtent extent;
        if (!platform::measure_text(title, field_view(settings.svg_font_title), pixels, extent)) return 0;
        return source_width_from_extent(extent, pixels);
    };
    const std::int64_t width = width_at(size);
    if (width <= room) return size;
    auto fitted = static_cast<std::uint32_t>(std::max<std::int64_t>(1, room * size / width));
    // Hinting keeps widths from scaling exactly with the size.
    for (int tries = 0; tries < 4 && fitted > 1 && width_at(fitted) > room; ++tries) --fitted;
    // Too small to read: the configured size, overflowing the page, says more.
    return fitted < legible ? size : fitted;
}

// ---- Elements ---------------------------------------------------------------------------------------

void add_label_styles(Drawing& drawing, const RenderSettings& settings) {
    drawing.label_font = field_view(settings.svg_font_c);
    drawing.label_sizes[0] = clamp_to_int32(settings.svg_font_size_c1);
    drawing.label_sizes[1] = clamp_to_int32(settings.svg_font_size_c2);
    // Two thirds of the small size: still legible where the small one is.
    drawing.label_sizes[2] = std::max<std::int32_t>(1, drawing.label_sizes[1] * 2 / 3);
}

void add_labels(Drawing& drawing, const MapDataset& dataset, const BoundingBox& bounds, const SvgLayout& layout,
                const RenderSettings& settings, const std::vector<std::uint32_t>* selection, bool label_all,
                const std::vector<std::uint32_t>* shapes) {
    LabelScratch scratch;
    // The label point of the outline measured last, by its first entry and label class: parcels
    // that share a surface come one after another and share its point, found once.
    bool cached = false;
    std::uint32_t cached_vertex = 0;
    int cached_class = 0;
    PlanePoint cached_point;
    std::size_t visited = 0;
    for_each_drawn_parcel(dataset, selection, [&](const Parcel& parcel) {
        const std::uint32_t shape = shapes != nullptr && visited < shapes->size() ? (*shapes)[visited] : 0;
        ++visited;
        // Assembly outlines the selected parcels only.
        if (!parcel.has_outline || !parcel.has_centroid) return;
        int cls = label_class(parcel, layout.scale, settings);
        if (cls == 0 && label_all) cls = 3;
        if (cls == 0) return;
        // The centroid of a thin or bent parcel can lie outside it, on a neighbour, or in a hole: such
        // a label goes to the point farthest inside, found to a quarter of the label's height.
        const double height = drawing.label_sizes[cls - 1];
        if (!cached || cached_vertex != parcel.first_vertex || cached_class != cls) {
            cached_point = parcel_label_point(dataset, parcel, std::max(height, 1.0) / layout.scale / 4, scratch);
            cached = true;
            cached_vertex = parcel.first_vertex;
            cached_class = cls;
        }
        const double label_x = cached_point.x;
        const double label_y = cached_point.y;
        DrawText label;
        label.label_class = cls;
        label.anchor = TextAnchor::middle;
        label.x = drawing_coordinate(label_y - bounds.min_y, layout.scale, settings.svg_viewbox_marginx);
        label.y = drawing_coordinate(bounds.max_x - label_x, layout.scale, settings.svg_viewbox_marginy);
        append_map_field(label.text, parcel.chiban);
        label.shape = shape;
        drawing.marks.emplace_back(std::move(label));
    });
}

std::string title_markup(std::string_view input_path, std::string_view map_no, const MapHeader& header) {
    std::string text = "【";
    append_map_field(text, header.municipality_name);
    text += "】　〔";
    append_map_field(text, header.map_name);
    text += "〕　&quot;";
    append_xml_escaped(text, platform::path_file_name(input_path));
    text += "&quot;";
    if (!map_no.empty()) {
        // The number selects sheets by their stored text, so it is written as a map text.
        text += "　（";
        append_map_text(text, map_no, false);
        text += "）";
    }
    text += "　＜";
    append_map_field(text, header.coord_system);
    text += "＞";
    return text;
}

void add_text(Drawing& drawing, std::int32_t x, std::int32_t y, TextAnchor anchor, std::string_view font,
              std::int32_t size, std::string text) {
    DrawText mark;
    mark.x = x;
    mark.y = y;
    mark.anchor = anchor;
    mark.font = font;
    mark.size = size;
    mark.text = std::move(text);
    drawing.marks.emplace_back(std::move(mark));
}

void add_title(Drawing& drawing, std::string_view input_path, std::string_view map_no, const MapHeader& header,
               const RenderSettings& settings, std::uint32_t font_size) {
    add_text(drawing, clamp_to_int32(settings.svg_viewbox_marginx), clamp_to_int32(settings.svg_font_size_title),
             TextAnchor::start, field_view(settings.svg_font_title), clamp_to_int32(font_size),
             title_markup(input_path, map_no, header));
}

void add_source_line(Drawing& drawing, std::string_view escaped_source, const SvgLayout& layout,
                     const RenderSettings& settings) {
    const std::uint32_t size = settings.svg_font_size_source;
    // The baseline sits 0.234 of the font size above the bottom edge, room for the descenders.
    const auto descent = static_cast<std::int64_t>(static_cast<double>(size) * 0.234);
    add_text(drawing, clamp_to_int32(std::int64_t{layout.viewbox_width} - settings.svg_viewbox_marginx),
             clamp_to_int32(std::int64_t{layout.viewbox_height} - descent), TextAnchor::end,
             field_view(settings.svg_font_source), clamp_to_int32(size), std::string(escaped_source));
}

void add_scale_bar(Drawing& drawing, const ScaleBar& bar, const SvgLayout& layout, const RenderSettings& settings) {
    const std::int32_t mx = clamp_to_int32(settings.svg_viewbox_marginx);
    const std::int32_t top = clamp_to_int32(std::int64_t{layout.viewbox_height} - bar.bar_height - bar.bar_lift);
    const std::int32_t base = clamp_to_int32(std::int64_t{top} + bar.bar_height);
    const std::int32_t right = clamp_to_int32(std::int64_t{mx} + bar.bar_length);
    DrawLine bracket;
    bracket.points = {{mx, top}, {mx, base}, {right, base}, {right, top}};
    bracket.stroke = "#000000";
    bracket.width = 4;
    drawing.marks.emplace_back(std::move(bracket));
    add_text(drawing, bar.label_x, clamp_to_int32(std::int64_t{layout.viewbox_height} - bar.bar_lift - 10),
             TextAnchor::middle, "Arial", bar.bar_height, scale_bar_label(bar));
}

}  // namespace chizuvec
