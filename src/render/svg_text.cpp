#include "render/svg_text.hpp"

#include <algorithm>
#include <limits>
#include <string>

#include "common/fixed_text.hpp"
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

// One label style rule; the two classes differ only in name and size.
void write_label_style(SvgOutput& out, std::string_view name, std::string_view font, std::uint32_t size) {
    put(out, "<style><![CDATA[text.");
    put(out, name);
    put(out, " {text-anchor:middle;font-family:\"");
    put(out, font);
    put(out, "\",sans-serif;font-style:normal;font-size:");
    put_int(out, size);
    put(out, "px;}]]></style>");
    put(out, kLineEnd);
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

ScaleBar compute_scale_bar(const SvgLayout& layout, const RenderSettings& settings, std::int32_t source_width) {
    ScaleBar bar;
    const std::uint32_t mx = settings.svg_viewbox_marginx;
    const std::uint32_t my = settings.svg_viewbox_marginy;
    bar.bar_length = drawing_coordinate(kScaleBarMetres, layout.scale, 0);
    // The bar starts at the left margin and the source line ends at the right one: they meet on the
    // bottom line exactly when together they are wider than the drawing.
    const std::int64_t needed = std::int64_t{source_width} + 2 * std::int64_t{mx} + bar.bar_length;
    if (needed > layout.viewbox_width) bar.bar_lift = clamp_to_int32(my);
    bar.bar_height = static_cast<std::int32_t>(std::min(my, kMaxBarHeight));
    return bar;
}

// ---- Elements ---------------------------------------------------------------------------------------

void write_label_styles(SvgOutput& out, const RenderSettings& settings) {
    const std::string_view font = field_view(settings.svg_font_c);
    write_label_style(out, "c1", font, settings.svg_font_size_c1);
    write_label_style(out, "c2", font, settings.svg_font_size_c2);
}

void write_labels(SvgOutput& out, const MapDataset& dataset, const BoundingBox& bounds, const SvgLayout& layout,
                  const RenderSettings& settings, const std::vector<std::uint32_t>* selection) {
    for_each_drawn_parcel(dataset, selection, [&](const Parcel& parcel) {
        // Assembly outlines the selected parcels only.
        if (!parcel.has_outline || !parcel.has_centroid) return;
        const int cls = label_class(parcel, layout.scale, settings);
        if (cls == 0) return;
        put(out, cls == 1 ? "<text class=\"c1\" x=\"" : "<text class=\"c2\" x=\"");
        put_int(out, drawing_coordinate(parcel.centroid_y - bounds.min_y, layout.scale, settings.svg_viewbox_marginx));
        put(out, "\" y=\"");
        put_int(out, drawing_coordinate(bounds.max_x - parcel.centroid_x, layout.scale, settings.svg_viewbox_marginy));
        put(out, "\">");
        put_map_field(out, parcel.chiban);
        put(out, "</text>");
        put(out, kLineEnd);
    });
}

void write_title(SvgOutput& out, std::string_view input_path, std::string_view map_no, const MapHeader& header,
                 const RenderSettings& settings) {
    std::string file_name;
    append_xml_escaped(file_name, platform::path_file_name(input_path));
    put(out, "<text x=\"");
    put_int(out, settings.svg_viewbox_marginx);
    put(out, "\" y=\"");
    put_int(out, settings.svg_font_size_title);
    put(out, "\" text-anchor=\"start\" font-family=\"");
    put(out, field_view(settings.svg_font_title));
    put(out, ",sans-serif\" font-size=\"");
    put_int(out, settings.svg_font_size_title);
    put(out, "\">【");
    put_map_field(out, header.municipality_name);
    put(out, "】　〔");
    put_map_field(out, header.map_name);
    put(out, "〕　&quot;");
    put(out, file_name);
    put(out, "&quot;");
    if (!map_no.empty()) {
        // The number selects sheets by their stored text, so it is written as a map text.
        std::string number;
        append_map_text(number, map_no, false);
        put(out, "　（");
        put(out, number);
        put(out, "）");
    }
    put(out, "　＜");
    put_map_field(out, header.coord_system);
    put(out, "＞</text>");
    put(out, kLineEnd);
}

void write_source_line(SvgOutput& out, std::string_view escaped_source, const SvgLayout& layout,
                       const RenderSettings& settings) {
    const std::uint32_t size = settings.svg_font_size_source;
    // The baseline sits 0.234 of the font size above the bottom edge, room for the descenders.
    const auto descent = static_cast<std::int64_t>(static_cast<double>(size) * 0.234);
    put(out, "<text x=\"");
    put_int(out, clamp_to_int32(std::int64_t{layout.viewbox_width} - settings.svg_viewbox_marginx));
    put(out, "\" y=\"");
    put_int(out, clamp_to_int32(std::int64_t{layout.viewbox_height} - descent));
    put(out, "\" text-anchor=\"end\" font-family=\"");
    put(out, field_view(settings.svg_font_source));
    put(out, ",sans-serif\" font-size=\"");
    put_int(out, size);
    put(out, "\">");
    put(out, escaped_source);
    put(out, "</text>");
    put(out, kLineEnd);
}

void write_scale_bar(SvgOutput& out, const ScaleBar& bar, const SvgLayout& layout, std::string_view coord_system,
                     const RenderSettings& settings) {
    const std::int64_t mx = settings.svg_viewbox_marginx;
    put(out, "<path d=\"M");
    put_int(out, mx);
    put(out, ",");
    put_int(out, clamp_to_int32(std::int64_t{layout.viewbox_height} - bar.bar_height - bar.bar_lift));
    put(out, "v+");
    put_int(out, bar.bar_height);
    put(out, "h");
    put_int(out, bar.bar_length);
    put(out, "v-");
    put_int(out, bar.bar_height);
    put(out, "\" stroke=\"#000000\" stroke-width=\"4\" fill=\"none\"/>");
    put(out, kLineEnd);

    put(out, "<text x=\"");
    put_int(out, clamp_to_int32(mx + bar.bar_length / 2));
    put(out, "\" y=\"");
    put_int(out, clamp_to_int32(std::int64_t{layout.viewbox_height} - bar.bar_lift - 10));
    put(out, "\" text-anchor=\"middle\" font-family=\"Arial,sans-serif\" font-size=\"");
    put_int(out, bar.bar_height);
    put(out, "\">100");
    // A local coordinate system has no known unit.
    if (coord_system != kArbitraryCoordSystem) put(out, " m");
    put(out, "</text>");
    put(out, kLineEnd);
}

}  // namespace chizuvec
