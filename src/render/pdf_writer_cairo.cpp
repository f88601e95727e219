// The page through cairo's PDF surface: every mark one short run of path, fill, stroke or text
// calls, the drawing units mapped to points by one transform.
#include <cairo-pdf.h>
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/ascii.hpp"
#include "common/utc_time.hpp"
#include "platform/platform.hpp"
#include "render/pdf_writer.hpp"
#include "render/xml_text.hpp"

// Every cairo function the writer calls; the table and its loader are both made from this list.
#define CHIZUVEC_CAIRO_FUNCTIONS(X)        \
    X(cairo_close_path)                    \
    X(cairo_create)                        \
    X(cairo_destroy)                       \
    X(cairo_fill)                          \
    X(cairo_fill_preserve)                 \
    X(cairo_line_to)                       \
    X(cairo_move_to)                       \
    X(cairo_new_path)                      \
    X(cairo_pdf_surface_create_for_stream) \
    X(cairo_pdf_surface_set_metadata)      \
    X(cairo_rectangle)                     \
    X(cairo_scale)                         \
    X(cairo_select_font_face)              \
    X(cairo_set_fill_rule)                 \
    X(cairo_set_font_size)                 \
    X(cairo_set_line_join)                 \
    X(cairo_save)                          \
    X(cairo_restore)                       \
    X(cairo_rotate)                        \
    X(cairo_translate)                     \
    X(cairo_clip)                          \
    X(cairo_set_line_width)                \
    X(cairo_set_dash)                      \
    X(cairo_set_source_rgb)                \
    X(cairo_show_page)                     \
    X(cairo_show_text)                     \
    X(cairo_status)                        \
    X(cairo_stroke_preserve)               \
    X(cairo_surface_destroy)               \
    X(cairo_surface_finish)                \
    X(cairo_surface_status)                \
    X(cairo_text_extents)

namespace chizuvec {
namespace {

// Typed from <cairo.h>. cairo is loaded on the first PDF, so other runs never map it (nor the
// libraries it pulls in) at start-up.
struct CairoLibrary {
#define CHIZUVEC_CAIRO_MEMBER(name) decltype(&::name) name = nullptr;
    CHIZUVEC_CAIRO_FUNCTIONS(CHIZUVEC_CAIRO_MEMBER)
#undef CHIZUVEC_CAIRO_MEMBER
    bool usable = false;
    std::string error;  // why it is not usable: the library's file name and the reason
};

CairoLibrary load_cairo() {
    CairoLibrary lib;
    void* library = platform::load_library(CHIZUVEC_CAIRO_SONAME);
    if (library == nullptr) {
        lib.error = std::string(CHIZUVEC_CAIRO_SONAME) + ": " + platform::library_error();
        return lib;
    }
    bool complete = true;
#define CHIZUVEC_CAIRO_LOOKUP(name)                                                                               \
    lib.name = reinterpret_cast<decltype(lib.name)>(platform::library_symbol(library, #name));                    \
    if (complete && lib.name == nullptr) lib.error = std::string(CHIZUVEC_CAIRO_SONAME) + ": no function " #name; \
    complete = complete && lib.name != nullptr;
    CHIZUVEC_CAIRO_FUNCTIONS(CHIZUVEC_CAIRO_LOOKUP)
#undef CHIZUVEC_CAIRO_LOOKUP
    lib.usable = complete;
    return lib;
}

// Loaded once, on the first PDF.
const CairoLibrary& cairo_library() {
    static const CairoLibrary lib = load_cairo();
    return lib;
}

struct Rgb {
    double r = 0.0;
    double g = 0.0;
    double b = 0.0;
};

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A colour as the settings give it: #RGB, #RRGGBB or one of the basic names; false for "none" and
// for what cannot be read, which is then not painted.
bool parse_colour(std::string_view text, Rgb& rgb) {
    struct Named {
        std::string_view name;
        Rgb rgb;
    };
    static constexpr Named kNames[] = {
        {"black", {0, 0, 0}},   {"white", {1, 1, 1}},           {"red", {1, 0, 0}},        {"lime", {0, 1, 0}},
        {"blue", {0, 0, 1}},    {"yellow", {1, 1, 0}},          {"gray", {0.5, 0.5, 0.5}}, {"grey", {0.5, 0.5, 0.5}},
        {"green", {0, 0.5, 0}}, {"silver", {0.75, 0.75, 0.75}},
    };
    for (const Named& named : kNames) {
        if (equals_ignoring_ascii_case(text, named.name)) {
            rgb = named.rgb;
            return true;
        }
    }
    if (text.empty() || text[0] != '#' || (text.size() != 4 && text.size() != 7)) return false;
    const bool short_form = text.size() == 4;
    double channels[3] = {};
    for (std::size_t i = 0; i < 3; ++i) {
        const int high = hex_digit(text[short_form ? 1 + i : 1 + 2 * i]);
        const int low = hex_digit(text[short_form ? 1 + i : 2 + 2 * i]);
        if (high < 0 || low < 0) return false;
        channels[i] = (high * 16 + low) / 255.0;
    }
    rgb = {channels[0], channels[1], channels[2]};
    return true;
}

cairo_status_t write_to_file(void* closure, const unsigned char* data, unsigned int length) {
    return std::fwrite(data, 1, length, static_cast<std::FILE*>(closure)) == length ? CAIRO_STATUS_SUCCESS
                                                                                    : CAIRO_STATUS_WRITE_ERROR;
}

struct Painter {
    const CairoLibrary& lib;
    cairo_t* cr = nullptr;
    double unit = 1.0;  // one fixed-point step in drawing units
};

double length(const Painter& p, std::int64_t value) { return static_cast<double>(value) * p.unit; }

bool set_colour(const Painter& p, std::string_view text) {
    Rgb rgb;
    if (!parse_colour(text, rgb)) return false;
    p.lib.cairo_set_source_rgb(p.cr, rgb.r, rgb.g, rgb.b);
    return true;
}

void draw_polygons(const Painter& p, const Drawing& drawing) {
    p.lib.cairo_save(p.cr);
    const DrawRect& clip = drawing.polygon_clip;
    if (clip.width != 0) {
        p.lib.cairo_rectangle(p.cr, length(p, clip.x), length(p, clip.y), length(p, clip.width),
                              length(p, clip.height));
        p.lib.cairo_clip(p.cr);
    }
    p.lib.cairo_set_line_join(p.cr, CAIRO_LINE_JOIN_MITER);
    p.lib.cairo_set_line_width(p.cr, length(p, drawing.polygon_stroke_width));
    for (std::size_t k = 0; k < drawing.polygons.size(); ++k) {
        const DrawPolygon& polygon = drawing.polygons[k];
        // A parcel's holes are rings of its path, left unfilled as the SVG's even-odd rule leaves
        // them; a single ring is filled as an SVG polygon is.
        p.lib.cairo_set_fill_rule(p.cr, has_holes(drawing, k) ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
        for_each_ring(drawing, k, [&](std::uint32_t begin, std::uint32_t end) {
            for (std::uint32_t i = begin; i < end; ++i) {
                const double x = length(p, drawing.vertices[i].x);
                const double y = length(p, drawing.vertices[i].y);
                if (i == begin) {
                    p.lib.cairo_move_to(p.cr, x, y);
                } else {
                    p.lib.cairo_line_to(p.cr, x, y);
                }
            }
            p.lib.cairo_close_path(p.cr);
        });
        if (set_colour(p, drawing.polygon_fills[polygon.style])) p.lib.cairo_fill_preserve(p.cr);
        if (drawing.polygon_stroke_width > 0 && set_colour(p, drawing.polygon_stroke))
            p.lib.cairo_stroke_preserve(p.cr);
        p.lib.cairo_new_path(p.cr);
    }
    p.lib.cairo_restore(p.cr);
}

void draw_text(const Painter& p, const Drawing& drawing, const DrawText& text) {
    const bool label = text.label_class != 0;
    const std::string font = label ? drawing.label_font : text.font;
    const std::int32_t size = label ? drawing.label_sizes[std::clamp(text.label_class, 1, 3) - 1] : text.size;
    const std::string plain = plain_text_of(text.text);
    p.lib.cairo_select_font_face(p.cr, font.c_str(), CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    p.lib.cairo_set_font_size(p.cr, length(p, size));
    cairo_text_extents_t extents{};
    p.lib.cairo_text_extents(p.cr, plain.c_str(), &extents);
    double x = 0;
    if (text.anchor == TextAnchor::middle) x -= extents.x_advance / 2;
    if (text.anchor == TextAnchor::end) x -= extents.x_advance;
    p.lib.cairo_set_source_rgb(p.cr, 0, 0, 0);
    if (text.rotation == 0) {
        p.lib.cairo_move_to(p.cr, length(p, text.x) + x, length(p, text.y));
        p.lib.cairo_show_text(p.cr, plain.c_str());
        p.lib.cairo_new_path(p.cr);
        return;
    }
    // Turned about its anchor, clockwise on the page as in the SVG.
    p.lib.cairo_save(p.cr);
    p.lib.cairo_translate(p.cr, length(p, text.x), length(p, text.y));
    p.lib.cairo_rotate(p.cr, text.rotation * 3.14159265358979323846 / 180);
    p.lib.cairo_move_to(p.cr, x, 0);
    p.lib.cairo_show_text(p.cr, plain.c_str());
    p.lib.cairo_new_path(p.cr);
    p.lib.cairo_restore(p.cr);
}

void draw_line(const Painter& p, const DrawLine& line) {
    if (line.points.empty()) return;
    for (std::size_t i = 0; i < line.points.size(); ++i) {
        const double x = length(p, line.points[i].x);
        const double y = length(p, line.points[i].y);
        if (i == 0) {
            p.lib.cairo_move_to(p.cr, x, y);
        } else {
            p.lib.cairo_line_to(p.cr, x, y);
        }
    }
    if (line.closed) p.lib.cairo_close_path(p.cr);
    if (!line.fill.empty() && set_colour(p, line.fill)) p.lib.cairo_fill_preserve(p.cr);
    p.lib.cairo_set_line_width(p.cr, length(p, line.width));
    const double dash = length(p, line.dash);
    if (line.dash > 0) p.lib.cairo_set_dash(p.cr, &dash, 1, 0.0);
    if (set_colour(p, line.stroke)) p.lib.cairo_stroke_preserve(p.cr);
    if (line.dash > 0) p.lib.cairo_set_dash(p.cr, nullptr, 0, 0.0);
    p.lib.cairo_new_path(p.cr);
}

}  // namespace

bool pdf_output_built() { return true; }

PdfStatus write_pdf(std::FILE* file, const Drawing& drawing) {
    // The page in points; one drawing unit is a fixed part of it.
    const double points_per_page_unit = drawing.page_unit == "mm" ? 72.0 / 25.4 : 1.0;
    const double page_width = static_cast<double>(drawing.page_width) * points_per_page_unit;
    const double page_height = static_cast<double>(drawing.page_height) * points_per_page_unit;
    if (drawing.width <= 0 || drawing.height <= 0 || page_width <= 0 || page_height <= 0) return PdfStatus::failed;
    const CairoLibrary& lib = cairo_library();
    if (!lib.usable) return PdfStatus::unavailable;

    cairo_surface_t* surface = lib.cairo_pdf_surface_create_for_stream(write_to_file, file, page_width, page_height);
    const std::string title = plain_text_of(drawing.title);
    lib.cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_TITLE, title.c_str());
    lib.cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_CREATOR, "Chizuvec");
    // Otherwise the present moment: the one field that differs between two runs.
    if (std::int64_t epoch = 0; platform::source_date_epoch(epoch)) {
        const std::string created = utc_time_text(epoch) + "Z";
        lib.cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_CREATE_DATE, created.c_str());
    }
    cairo_t* cr = lib.cairo_create(surface);
    double unit = 1.0;
    for (int i = 0; i < drawing.decimals; ++i) unit /= 10.0;
    const Painter painter{lib, cr, unit};
    lib.cairo_scale(cr, page_width / (drawing.width * unit), page_height / (drawing.height * unit));

    if (set_colour(painter, drawing.background)) {
        lib.cairo_rectangle(cr, 0, 0, length(painter, drawing.width), length(painter, drawing.height));
        lib.cairo_fill(cr);
    }
    draw_polygons(painter, drawing);
    for (const DrawMark& mark : drawing.marks) {
        if (const auto* text = std::get_if<DrawText>(&mark)) {
            draw_text(painter, drawing, *text);
        } else {
            draw_line(painter, std::get<DrawLine>(mark));
        }
    }
    lib.cairo_show_page(cr);
    const bool drawn = lib.cairo_status(cr) == CAIRO_STATUS_SUCCESS;
    lib.cairo_destroy(cr);
    lib.cairo_surface_finish(surface);
    const bool written = lib.cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS;
    lib.cairo_surface_destroy(surface);
    return drawn && written ? PdfStatus::ok : PdfStatus::failed;
}

std::string pdf_unavailable_reason() { return cairo_library().error; }

}  // namespace chizuvec
