// The page (page_builder.cpp) translated into the SVG skeleton, polygons and marks, or handed to the
// PDF writer.
#include "render/svg_writer.hpp"

#include <algorithm>
#include <cstdio>
#include <new>

#include "common/fixed_text.hpp"
#include "render/page_builder.hpp"
#include "render/pdf_writer.hpp"
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
constexpr std::string_view kHtmlHeadEnd = "</head>\r\n<body>\r\n";
// On screen the drawing fills the window, whole and without scroll bars (its viewBox keeps the
// shape); on paper it keeps the printed size its width and height give.
constexpr std::string_view kHtmlScreenStyle =
    "</title>\r\n<style>html,body{margin:0;padding:0;width:100%;height:100%;overflow:hidden}"
    "svg{display:block;width:100%;height:100%}"
    "@media print{html,body{width:auto;height:auto;overflow:visible}svg{width:";
constexpr std::string_view kSvgOpen = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"";
constexpr std::string_view kSvgClose = "</svg>\r\n";
constexpr std::string_view kHtmlTail = "</body>\r\n</html>\r\n";

enum class DocumentKind { kSvg, kHtm };

// A length of the drawing: fixed-point with `decimals` places, trailing zeros left out.
void put_length(SvgOutput& out, std::int64_t value, int decimals) {
    if (decimals <= 0) {
        put_int(out, value);
        return;
    }
    std::int64_t unit = 1;
    for (int i = 0; i < decimals; ++i) unit *= 10;
    if (value < 0) put(out, "-");
    const std::uint64_t magnitude =
        value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    put_int(out, static_cast<std::int64_t>(magnitude / static_cast<std::uint64_t>(unit)));
    auto fraction = static_cast<std::int64_t>(magnitude % static_cast<std::uint64_t>(unit));
    if (fraction == 0) return;
    int places = decimals;
    while (fraction % 10 == 0) {
        fraction /= 10;
        --places;
    }
    char digits[24];
    for (int i = places - 1; i >= 0; --i) {
        digits[i] = static_cast<char>('0' + fraction % 10);
        fraction /= 10;
    }
    put(out, ".");
    put(out, std::string_view(digits, static_cast<std::size_t>(places)));
}

void write_head(SvgOutput& out, DocumentKind kind, const Drawing& drawing) {
    put(out, kXmlDeclaration);
    if (kind == DocumentKind::kHtm) {
        put(out, kHtmlHead);
        put(out, drawing.title);
        // The sheet of paper is the drawing's own size, so that no browser shrinks it to fit.
        const auto put_size = [&](std::string_view between) {
            put_int(out, drawing.page_width);
            put(out, drawing.page_unit);
            put(out, between);
            put_int(out, drawing.page_height);
            put(out, drawing.page_unit);
        };
        put(out, kHtmlScreenStyle);
        put_size(";height:");
        put(out, "}@page{margin:0;size:");
        put_size(" ");
        put(out, "}}</style>\r\n");
        put(out, kHtmlHeadEnd);
    }
    put(out, kSvgOpen);
    put_int(out, drawing.page_width);
    put(out, drawing.page_unit);
    put(out, "\" height=\"");
    put_int(out, drawing.page_height);
    put(out, drawing.page_unit);
    put(out, "\" viewBox=\"0,0,");
    put_length(out, drawing.width, drawing.decimals);
    put(out, ",");
    put_length(out, drawing.height, drawing.decimals);
    put(out, "\">");
    put(out, kLineEnd);

    if (!drawing.background.empty()) {
        put(out, "<rect width=\"");
        put_length(out, drawing.width, drawing.decimals);
        put(out, "\" height=\"");
        put_length(out, drawing.height, drawing.decimals);
        put(out, "\" fill=\"");
        put(out, drawing.background);
        put(out, "\" stroke=\"none\"/>");
        put(out, kLineEnd);
    }
}

void write_polygon_styles(SvgOutput& out, const Drawing& drawing) {
    // A parcel with holes is a path: its class then styles paths too.
    bool paths = false;
    for (std::size_t p = 0; p < drawing.polygons.size() && !paths; ++p) paths = has_holes(drawing, p);
    for (int i = 0; i < kPolygonStyleCount; ++i) {
        put(out, "<style><![CDATA[polygon.");
        put(out, kPolygonStyleNames[i]);
        if (paths) {
            put(out, ",path.");
            put(out, kPolygonStyleNames[i]);
        }
        put(out, " {fill:");
        put(out, drawing.polygon_fills[i]);
        put(out, ";stroke:");
        put(out, drawing.polygon_stroke);
        put(out, ";stroke-width:");
        put_length(out, drawing.polygon_stroke_width, drawing.decimals);
        put(out, ";}]]></style>");
        put(out, kLineEnd);
    }
}

void put_vertex(SvgOutput& out, const Drawing& drawing, std::uint32_t i) {
    put_length(out, drawing.vertices[i].x, drawing.decimals);
    put(out, ",");
    put_length(out, drawing.vertices[i].y, drawing.decimals);
}

// The outline and its holes as one shape, each ring a closed run, filled by the even-odd rule.
void write_holed_polygon(SvgOutput& out, const Drawing& drawing, std::size_t p) {
    put(out, "<path class=\"");
    put(out, kPolygonStyleNames[drawing.polygons[p].style]);
    put(out, "\" fill-rule=\"evenodd\" d=\"");
    bool first_ring = true;
    for_each_ring(drawing, p, [&](std::uint32_t begin, std::uint32_t end) {
        for (std::uint32_t i = begin; i < end; ++i) {
            put(out, i == begin ? (first_ring ? "M" : " M") : (i == begin + 1 ? " L" : " "));
            put_vertex(out, drawing, i);
        }
        put(out, " Z");
        first_ring = false;
    });
    put(out, "\"/>");
    put(out, kLineEnd);
}

void write_polygons(SvgOutput& out, const Drawing& drawing) {
    const DrawRect& clip = drawing.polygon_clip;
    if (clip.width != 0) {
        put(out, "<clipPath id=\"map\"><rect x=\"");
        put_length(out, clip.x, drawing.decimals);
        put(out, "\" y=\"");
        put_length(out, clip.y, drawing.decimals);
        put(out, "\" width=\"");
        put_length(out, clip.width, drawing.decimals);
        put(out, "\" height=\"");
        put_length(out, clip.height, drawing.decimals);
        put(out, "\"/></clipPath>");
        put(out, kLineEnd);
        put(out, "<g clip-path=\"url(#map)\">");
        put(out, kLineEnd);
    }
    std::uint32_t begin = 0;
    for (std::size_t p = 0; p < drawing.polygons.size(); ++p) {
        const DrawPolygon& polygon = drawing.polygons[p];
        if (has_holes(drawing, p)) {
            write_holed_polygon(out, drawing, p);
            begin = polygon.end;
            continue;
        }
        put(out, "<polygon class=\"");
        put(out, kPolygonStyleNames[polygon.style]);
        put(out, "\" points=\"");
        for (std::uint32_t i = begin; i < polygon.end; ++i) {
            if (i != begin) put(out, " ");
            put_vertex(out, drawing, i);
        }
        put(out, "\"/>");
        put(out, kLineEnd);
        begin = polygon.end;
    }
    if (clip.width != 0) {
        put(out, "</g>");
        put(out, kLineEnd);
    }
}

void write_label_styles(SvgOutput& out, const Drawing& drawing) {
    // The smallest class only where a label uses it, so that other drawings keep their bytes.
    bool smallest = false;
    for (const DrawMark& mark : drawing.marks) {
        const auto* text = std::get_if<DrawText>(&mark);
        smallest = smallest || (text != nullptr && text->label_class == 3);
    }
    for (int i = 0; i < (smallest ? 3 : 2); ++i) {
        constexpr std::string_view kRules[] = {"<style><![CDATA[text.c1", "<style><![CDATA[text.c2",
                                               "<style><![CDATA[text.c3"};
        put(out, kRules[i]);
        put(out, " {text-anchor:middle;font-family:\"");
        put(out, drawing.label_font);
        put(out, "\",sans-serif;font-style:normal;font-size:");
        put_length(out, drawing.label_sizes[i], drawing.decimals);
        put(out, "px;}]]></style>");
        put(out, kLineEnd);
    }
}

constexpr std::string_view kAnchorNames[] = {"start", "middle", "end"};

void write_text(SvgOutput& out, const DrawText& text, int decimals) {
    if (text.label_class != 0) {
        constexpr std::string_view kOpen[] = {"<text class=\"c1\" x=\"", "<text class=\"c2\" x=\"",
                                              "<text class=\"c3\" x=\""};
        put(out, kOpen[std::clamp(text.label_class, 1, 3) - 1]);
    } else {
        put(out, "<text x=\"");
    }
    put_length(out, text.x, decimals);
    put(out, "\" y=\"");
    put_length(out, text.y, decimals);
    if (text.label_class == 0) {
        put(out, "\" text-anchor=\"");
        put(out, kAnchorNames[static_cast<int>(text.anchor)]);
        put(out, "\" font-family=\"");
        put(out, text.font);
        put(out, ",sans-serif\" font-size=\"");
        put_length(out, text.size, decimals);
    }
    if (text.rotation != 0) {
        put(out, "\" transform=\"rotate(");
        put_int(out, text.rotation);
        put(out, " ");
        put_length(out, text.x, decimals);
        put(out, " ");
        put_length(out, text.y, decimals);
        put(out, ")");
    }
    put(out, "\">");
    put(out, text.text);
    put(out, "</text>");
    put(out, kLineEnd);
}

// A path of relative steps: "v+N" and "v-N" up and down, "hN" across, "lX,Y" otherwise.
void write_line(SvgOutput& out, const DrawLine& line, int decimals) {
    if (line.points.empty()) return;
    put(out, "<path d=\"M");
    put_length(out, line.points[0].x, decimals);
    put(out, ",");
    put_length(out, line.points[0].y, decimals);
    for (std::size_t i = 1; i < line.points.size(); ++i) {
        const std::int64_t dx = std::int64_t{line.points[i].x} - line.points[i - 1].x;
        const std::int64_t dy = std::int64_t{line.points[i].y} - line.points[i - 1].y;
        if (dx == 0) {
            put(out, dy >= 0 ? "v+" : "v-");
            put_length(out, dy >= 0 ? dy : -dy, decimals);
        } else if (dy == 0) {
            put(out, "h");
            put_length(out, dx, decimals);
        } else {
            put(out, "l");
            put_length(out, dx, decimals);
            put(out, ",");
            put_length(out, dy, decimals);
        }
    }
    if (line.closed) put(out, "z");
    put(out, "\" stroke=\"");
    put(out, line.stroke);
    put(out, "\" stroke-width=\"");
    put_length(out, line.width, decimals);
    put(out, "\" fill=\"");
    put(out, line.fill.empty() ? std::string_view("none") : std::string_view(line.fill));
    if (line.dash > 0) {
        put(out, "\" stroke-dasharray=\"");
        put_length(out, line.dash, decimals);
    }
    put(out, "\"/>");
    put(out, kLineEnd);
}

void write_document(SvgOutput& out, DocumentKind kind, const Drawing& drawing) {
    write_head(out, kind, drawing);
    write_polygon_styles(out, drawing);
    write_polygons(out, drawing);
    write_label_styles(out, drawing);
    write_marks(out, drawing);
    put(out, kSvgClose);
    if (kind == DocumentKind::kHtm) put(out, kHtmlTail);
}

}  // namespace

void write_marks(SvgOutput& out, const Drawing& drawing) {
    for (const DrawMark& mark : drawing.marks) {
        if (const auto* text = std::get_if<DrawText>(&mark)) {
            write_text(out, *text, drawing.decimals);
        } else {
            write_line(out, std::get<DrawLine>(mark), drawing.decimals);
        }
    }
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

namespace {

PageStatus write_svg_document(std::FILE* file, DocumentKind kind, const Drawing& drawing) {
    // Our own buffer is large; a second one in the stream would only copy.
    std::setvbuf(file, nullptr, _IONBF, 0);
    try {
        SvgOutput out = make_output(file, nullptr);
        write_document(out, kind, drawing);
        return flush_output(out) ? PageStatus::ok : PageStatus::failed;
    } catch (const std::bad_alloc&) {
        return PageStatus::no_memory;
    }
}

}  // namespace

PageStatus write_svg_page(std::FILE* file, const Drawing& drawing) {
    return write_svg_document(file, DocumentKind::kSvg, drawing);
}

PageStatus write_htm_page(std::FILE* file, const Drawing& drawing) {
    return write_svg_document(file, DocumentKind::kHtm, drawing);
}

PageStatus write_pdf_page(std::FILE* file, const Drawing& drawing) {
    try {
        // cairo writes in small pieces and keeps the stream's buffer.
        switch (write_pdf(file, drawing)) {
            case PdfStatus::ok:
                return PageStatus::ok;
            case PdfStatus::unavailable:
                return PageStatus::unavailable;
            case PdfStatus::failed:
                break;
        }
        return PageStatus::failed;
    } catch (const std::bad_alloc&) {
        return PageStatus::no_memory;
    }
}

}  // namespace chizuvec
