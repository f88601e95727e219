// The drawing document: its kind, the page layout, the drawing coordinates of the points, the
// skeleton and the parcel polygons. The text-bearing elements come from svg_text.cpp.
#include "common/ascii.hpp"
#include "render/svg_writer.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <new>

#include "common/fixed_text.hpp"
#include "platform/platform.hpp"
#include "render/svg_text.hpp"

namespace chizuvec {
namespace {

constexpr std::string_view kLineEnd = "\r\n";
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

bool usable_extent(double extent) { return std::isfinite(extent) && extent > 0.0; }

// The fixed side less both its margins; 0 when the margins leave no room.
double drawable_length(std::uint32_t length, std::uint32_t margin) {
    const std::uint64_t margins = 2 * std::uint64_t{margin};
    return length > margins ? static_cast<double>(std::uint64_t{length} - margins) : 0.0;
}

std::int32_t side_with_margins(double extent, double scale, std::uint32_t margin) {
    const std::int64_t side = std::int64_t{drawing_coordinate(extent, scale, 0)} + 2 * std::int64_t{margin};
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(side, 0, std::numeric_limits<std::int32_t>::max()));
}

std::uint32_t points_of(std::int32_t units, std::uint32_t dpi) {
    const std::uint64_t page = static_cast<std::uint64_t>(std::max(units, 0)) * 72 / (dpi == 0 ? 72 : dpi);
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(page, std::numeric_limits<std::uint32_t>::max()));
}

void write_head(SvgOutput& out, DocumentKind kind, const MapHeader& header, const SvgLayout& layout,
                const RenderSettings& settings) {
    put(out, kXmlDeclaration);
    if (kind == DocumentKind::kHtm) {
        put(out, kHtmlHead);
        put(out, map_text(field_view(header.map_name)));
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
                             const RenderSettings& settings) {
    for (MapPoint& point : dataset.points) {
        point.svg_x = drawing_coordinate(point.y - bounds.min_y, layout.scale, settings.svg_viewbox_marginx);
        point.svg_y = drawing_coordinate(bounds.max_x - point.x, layout.scale, settings.svg_viewbox_marginy);
    }
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
void write_polygons(SvgOutput& out, const MapDataset& dataset, const RenderSettings& settings) {
    const auto& points = dataset.points;
    for (const Parcel& parcel : dataset.parcels) {
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
    }
}

// A file this call created or emptied goes when the document is incomplete; a device or other
// special file that was there before stays.
bool removable_after_failure(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(std::filesystem::symlink_status(path, ec));
}

}  // namespace

SvgLayout compute_layout(const BoundingBox& bounds, const RenderSettings& settings) {
    const double extent_x = bounds.max_x - bounds.min_x;  // north-south, drawn vertically
    const double extent_y = bounds.max_y - bounds.min_y;  // east-west, drawn horizontally
    const std::uint32_t option = settings.svg_viewbox_side_option;
    bool width_fixed = option == 1 || (option == 3 && extent_y >= extent_x) || (option == 4 && extent_x >= extent_y);
    // A map without extent along the fixed side (all on one line) is scaled by its other side.
    const double fixed_extent = width_fixed ? extent_y : extent_x;
    const double other_extent = width_fixed ? extent_x : extent_y;
    if (!usable_extent(fixed_extent) && usable_extent(other_extent)) width_fixed = !width_fixed;

    const std::uint32_t length = settings.svg_viewbox_length;
    const std::int32_t fixed_side =
        static_cast<std::int32_t>(std::min<std::uint32_t>(length, std::numeric_limits<std::int32_t>::max()));
    SvgLayout layout;
    if (width_fixed && usable_extent(extent_y)) {
        layout.scale = drawable_length(length, settings.svg_viewbox_marginx) / extent_y;
    } else if (!width_fixed && usable_extent(extent_x)) {
        layout.scale = drawable_length(length, settings.svg_viewbox_marginy) / extent_x;
    }
    if (!std::isfinite(layout.scale)) layout.scale = 1.0;  // a vanishing extent can overflow the division
    if (width_fixed) {
        layout.viewbox_width = fixed_side;
        layout.viewbox_height = side_with_margins(extent_x, layout.scale, settings.svg_viewbox_marginy);
    } else {
        layout.viewbox_height = fixed_side;
        layout.viewbox_width = side_with_margins(extent_y, layout.scale, settings.svg_viewbox_marginx);
    }
    layout.page_width = points_of(layout.viewbox_width, settings.svg_dpi);
    layout.page_height = points_of(layout.viewbox_height, settings.svg_dpi);
    return layout;
}

std::int32_t drawing_coordinate(double metres, double scale, std::uint32_t margin) {
    const double units = metres * scale;
    std::int64_t whole = 0;
    if (units >= 2147483647.0) {
        whole = std::numeric_limits<std::int32_t>::max();
    } else if (units <= -2147483648.0) {
        whole = std::numeric_limits<std::int32_t>::min();
    } else if (!std::isnan(units)) {
        whole = static_cast<std::int64_t>(units);  // truncation toward zero
    }
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(whole + margin, std::numeric_limits<std::int32_t>::min(),
                                                              std::numeric_limits<std::int32_t>::max()));
}

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

int write_svg(const std::string& output_path, const std::string& input_path, std::string_view map_no,
              const MapHeader& header, const BoundingBox& bounds, const RenderSettings& settings, MapDataset& dataset) {
    const DocumentKind kind = document_kind(output_path);
    if (kind == DocumentKind::kUnsupported) return kWriteUnsupportedType;

    const SvgLayout layout = compute_layout(bounds, settings);
    const ScaleBar bar = compute_scale_bar(layout, settings, measure_source_text(settings));

    std::error_code ec;
    const auto before = std::filesystem::symlink_status(output_path, ec);
    const bool special_file = std::filesystem::exists(before) && !std::filesystem::is_regular_file(before);

    std::FILE* file = std::fopen(output_path.c_str(), "wb");
    if (file == nullptr) return kWriteFailed;
    // Our own buffer is large; a second one in the stream would only copy.
    std::setvbuf(file, nullptr, _IONBF, 0);

    bool ok = true;
    try {
        std::string escaped_source;
        append_xml_escaped(escaped_source, field_view(settings.svg_text_source));
        SvgOutput out = make_output(file, nullptr);

        write_head(out, kind, header, layout, settings);
        set_drawing_coordinates(dataset, bounds, layout, settings);
        write_polygon_styles(out, settings);
        write_polygons(out, dataset, settings);
        write_label_styles(out, settings);
        write_labels(out, dataset, bounds, layout, settings);
        write_title(out, input_path, map_no, header, settings);
        write_source_line(out, escaped_source, layout, settings);
        write_scale_bar(out, bar, layout, field_view(header.coord_system), settings);
        put(out, kSvgClose);
        if (kind == DocumentKind::kHtm) put(out, kHtmlTail);
        ok = flush_output(out);
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        if (!special_file && removable_after_failure(output_path)) platform::remove_file(output_path);
        return kWriteFailed;
    }
    return kWriteOk;
}

}  // namespace chizuvec
