// The drawing document: its kind, the drawing coordinates of the points, the skeleton and the parcel
// polygons. The page geometry comes from svg_layout.cpp, the text-bearing elements from svg_text.cpp.
#include "render/svg_writer.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <new>

#include "common/ascii.hpp"
#include "common/fixed_text.hpp"
#include "platform/platform.hpp"
#include "render/parcel_style.hpp"
#include "render/svg_layout.hpp"
#include "render/svg_output.hpp"
#include "render/svg_text.hpp"
#include "render/xml_text.hpp"

namespace chizuvec {
namespace {

constexpr std::string_view kXmlDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n";
constexpr std::string_view kHtmlHead =
    "<html xmlns=\"http://www.w3.org/1999/xhtml\">\r\n<head>\r\n"
    "<!-- <meta content=\"text/html; charset=utf-8\" http-equiv=\"Content-Type\" /> -->\r\n<title>";
constexpr std::string_view kHtmlHeadEnd = "</title>\r\n</head>\r\n<body>\r\n";
constexpr std::string_view kSvgOpen = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"";
constexpr std::string_view kSvgClose = "</svg>\r\n";
constexpr std::string_view kHtmlTail = "</body>\r\n</html>\r\n";
constexpr std::string_view kPolygonClasses[] = {"p0", "p1", "p2", "p3", "ph"};

enum class DocumentKind { kUnsupported, kSvg, kHtm };

DocumentKind document_kind(std::string_view path) {
    const std::string_view extension = platform::path_extension(path);
    if (extension.empty()) return DocumentKind::kUnsupported;
    if (equals_ignoring_ascii_case(extension, ".svg")) return DocumentKind::kSvg;
    if (extension.size() >= 4 && equals_ignoring_ascii_case(extension.substr(0, 4), ".htm")) return DocumentKind::kHtm;
    return DocumentKind::kUnsupported;
}

void write_head(SvgOutput& out, DocumentKind kind, const MapHeader& header, const SvgLayout& layout,
                const RenderSettings& settings) {
    put(out, kXmlDeclaration);
    if (kind == DocumentKind::kHtm) {
        put(out, kHtmlHead);
        put_map_field(out, header.map_name);
        put(out, kHtmlHeadEnd);
    }
    put(out, kSvgOpen);
    put_int(out, layout.page_width);
    put(out, "pt\" height=\"");
    put_int(out, layout.page_height);
    put(out, "pt\" viewBox=\"0,0,");
    put_int(out, layout.viewbox_width);
    put(out, ",");
    put_int(out, layout.viewbox_height);
    put(out, "\">");
    put(out, kLineEnd);

    const std::string_view background = field_view(settings.svg_fill_color_viewbox);
    if (!background.empty() && !equals_ignoring_ascii_case(background, "none")) {
        put(out, "<rect width=\"");
        put_int(out, layout.viewbox_width);
        put(out, "\" height=\"");
        put_int(out, layout.viewbox_height);
        put(out, "\" fill=\"");
        put(out, background);
        put(out, "\" stroke=\"none\"/>");
        put(out, kLineEnd);
    }
}

// Every point once, so neighbouring parcels share their boundary vertices exactly.
void set_drawing_coordinates(MapDataset& dataset, const BoundingBox& bounds, const SvgLayout& layout,
                             const RenderSettings& settings, const std::vector<std::uint32_t>* selection) {
    const auto convert = [&](MapPoint& point) {
        point.svg_x = drawing_coordinate(point.y - bounds.min_y, layout.scale, settings.svg_viewbox_marginx);
        point.svg_y = drawing_coordinate(bounds.max_x - point.x, layout.scale, settings.svg_viewbox_marginy);
    };
    if (selection == nullptr) {
        for (MapPoint& point : dataset.points) convert(point);
        return;
    }
    // Only the points the selection draws (a shared point is converted again, to the same pair).
    for_each_drawn_parcel(dataset, selection, [&](const Parcel& parcel) {
        for (const std::uint32_t index : parcel_outline(dataset, parcel)) {
            if (index < dataset.points.size()) convert(dataset.points[index]);
        }
    });
}

void write_polygon_styles(SvgOutput& out, const RenderSettings& settings) {
    const std::string_view fills[] = {
        field_view(settings.svg_fill_color_common), field_view(settings.svg_fill_color_sp1),
        field_view(settings.svg_fill_color_sp2),    field_view(settings.svg_fill_color_sp3),
        field_view(settings.svg_fill_color_hilite),
    };
    for (std::size_t i = 0; i < std::size(kPolygonClasses); ++i) {
        put(out, "<style><![CDATA[polygon.");
        put(out, kPolygonClasses[i]);
        put(out, " {fill:");
        put(out, fills[i]);
        put(out, ";stroke:");
        put(out, field_view(settings.svg_boundary_line_color));
        put(out, ";stroke-width:");
        put_int(out, settings.svg_boundary_line_width);
        put(out, ";}]]></style>");
        put(out, kLineEnd);
    }
}

// Each drawn parcel's outline, in parcel order.
void write_polygons(SvgOutput& out, const MapDataset& dataset, const RenderSettings& settings,
                    const std::vector<std::uint32_t>* selection) {
    const auto& points = dataset.points;
    for_each_drawn_parcel(dataset, selection, [&](const Parcel& parcel) {
        bool opened = false;
        for (const std::uint32_t index : parcel_outline(dataset, parcel)) {
            if (index >= points.size()) continue;
            if (!opened) {
                put(out, "<polygon class=\"");
                put(out, polygon_class(parcel, settings));
                put(out, "\" points=\"");
                opened = true;
            } else {
                put(out, " ");
            }
            put_int(out, points[index].svg_x);
            put(out, ",");
            put_int(out, points[index].svg_y);
        }
        if (opened) {
            put(out, "\"/>");
            put(out, kLineEnd);
        }
    });
}

}  // namespace

std::string_view find_invalid_layout_setting(const RenderSettings& settings) {
    if (settings.svg_dpi == 0) return "svg_dpi";
    const std::uint64_t length = settings.svg_viewbox_length;
    if (length == 0) return "svg_viewbox_length";
    const bool x_too_wide = length <= 2 * std::uint64_t{settings.svg_viewbox_marginx};
    const bool y_too_wide = length <= 2 * std::uint64_t{settings.svg_viewbox_marginy};
    switch (settings.svg_viewbox_side_option) {
        case 1:
            if (x_too_wide) return "svg_viewbox_marginx";
            break;
        case 3:
        case 4:
            if (x_too_wide) return "svg_viewbox_marginx";
            if (y_too_wide) return "svg_viewbox_marginy";
            break;
        default:
            if (y_too_wide) return "svg_viewbox_marginy";
            break;
    }
    return {};
}

WriteResult write_svg(const std::string& output_path, const std::string& input_path, std::string_view map_no,
                      const MapHeader& header, const BoundingBox& bounds, const RenderSettings& settings,
                      MapDataset& dataset, std::optional<std::int32_t> source_width, const platform::OutputRules* rules,
                      const std::vector<std::uint32_t>* selection) {
    const DocumentKind kind = document_kind(output_path);
    if (kind == DocumentKind::kUnsupported) return {WriteStatus::unsupported_type, 0};
    // Replacing the map with its own drawing would lose the map.
    platform::OutputRules own_rules;
    if (rules == nullptr) {
        platform::FileId input;
        if (platform::file_id(input_path, input)) own_rules.inputs.push_back(input);
        rules = &own_rules;
    }

    const SvgLayout layout = compute_layout(bounds, settings);
    const ScaleBar bar =
        compute_scale_bar(layout, settings, source_width ? *source_width : measure_source_text(settings));

    platform::OutputFile output;
    switch (platform::open_output_file(output_path, *rules, output)) {
        case platform::OutputOpen::ok:
            break;
        case platform::OutputOpen::is_input:
            return {WriteStatus::output_is_input, 0};
        case platform::OutputOpen::failed:
            return {WriteStatus::failed, 0};
    }
    std::FILE* const file = output.stream;
    // Our own buffer is large; a second one in the stream would only copy.
    std::setvbuf(file, nullptr, _IONBF, 0);

    bool ok = true;
    try {
        std::string escaped_source;
        append_xml_escaped(escaped_source, field_view(settings.svg_text_source));
        SvgOutput out = make_output(file, nullptr);

        write_head(out, kind, header, layout, settings);
        set_drawing_coordinates(dataset, bounds, layout, settings, selection);
        write_polygon_styles(out, settings);
        write_polygons(out, dataset, settings, selection);
        write_label_styles(out, settings);
        write_labels(out, dataset, bounds, layout, settings, selection);
        write_title(out, input_path, map_no, header, settings);
        write_source_line(out, escaped_source, layout, settings);
        write_scale_bar(out, bar, layout, field_view(header.coord_system), settings);
        put(out, kSvgClose);
        if (kind == DocumentKind::kHtm) put(out, kHtmlTail);
        ok = flush_output(out);
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    WriteResult result;
    if (!ok) {
        platform::abandon_output_file(output);
        result.status = WriteStatus::failed;
    } else if (!platform::commit_output_file(output, result.size)) {
        result.status = WriteStatus::failed;
    }
    return result;
}

}  // namespace chizuvec
