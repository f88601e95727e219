// The buffered document output, the parcel kinds and the text-bearing elements of the drawing.
#include "render/svg_text.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "common/fixed_text.hpp"
#include "platform/platform.hpp"

namespace chizuvec {
namespace {

constexpr std::string_view kLineEnd = "\r\n";
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

// ---- Output ---------------------------------------------------------------------------------------

SvgOutput make_output(std::FILE* file, std::string* sink, std::size_t capacity) {
    SvgOutput out;
    out.file = file;
    out.sink = sink;
    out.capacity = std::max<std::size_t>(capacity, 64);
    out.buffer = make_large_buffer(out.capacity);
    return out;
}

bool flush_output(SvgOutput& out) {
    if (out.used > 0 && !out.failed) {
        if (out.file != nullptr) {
            out.failed = std::fwrite(out.buffer.get(), 1, out.used, out.file) != out.used;
        } else if (out.sink != nullptr) {
            out.sink->append(out.buffer.get(), out.used);
        }
    }
    out.used = 0;
    return !out.failed;
}

void put_spilling(SvgOutput& out, std::string_view bytes) {
    while (!bytes.empty() && !out.failed) {
        const std::size_t n = std::min(bytes.size(), out.capacity - out.used);
        std::memcpy(out.buffer.get() + out.used, bytes.data(), n);
        out.used += n;
        bytes.remove_prefix(n);
        if (out.used == out.capacity) flush_output(out);
    }
}

void put_int_after_flush(SvgOutput& out, std::int64_t value) {
    flush_output(out);
    if (out.failed) return;
    put_int(out, value);
}

// ---- Parcel kinds -----------------------------------------------------------------------------------

int special_kind(std::string_view chiban, const RenderSettings& settings) {
    if (chiban.starts_with(field_view(settings.svg_chiban_sp1))) return 1;
    if (chiban.starts_with(field_view(settings.svg_chiban_sp2))) return 2;
    if (chiban.starts_with(field_view(settings.svg_chiban_sp3))) return 3;
    return 0;
}

std::string_view polygon_class(const Parcel& parcel, const RenderSettings& settings) {
    if (parcel.hilite != 0) return "ph";
    switch (special_kind(field_view(parcel.chiban), settings)) {
        case 1:
            return "p1";
        case 2:
            return "p2";
        case 3:
            return "p3";
        default:
            return "p0";
    }
}

int label_class(const Parcel& parcel, double scale, const RenderSettings& settings) {
    // Special parcels (roads, waterways, separate sheets) stay unlabelled unless asked for.
    if (parcel.hilite == 0 && special_kind(field_view(parcel.chiban), settings) != 0) return 0;
    const double drawn_area = parcel.area * (scale * scale);
    if (drawn_area > settings.svg_area_gt_c1) return 1;
    if (drawn_area > settings.svg_area_gt_c2 || parcel.hilite != 0) return 2;
    return 0;
}

// ---- Texts ------------------------------------------------------------------------------------------

void replace_char(char* buffer, std::size_t size, char byte, std::string_view replacement) {
    if (buffer == nullptr || size == 0) return;
    std::size_t len = ::strnlen(buffer, size);
    if (len == size) buffer[--len] = '\0';
    if (replacement.empty()) return;
    const std::size_t last = size - 1;  // where the terminator must stay at the latest
    std::size_t pos = 0;
    while (pos < len) {
        const void* hit = std::memchr(buffer + pos, byte, len - pos);
        if (hit == nullptr) break;
        const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(hit) - buffer);
        const std::size_t end = at + replacement.size();
        if (end > last) {
            // The entity would not fit whole: it goes, and the text after it with it.
            buffer[at] = '\0';
            len = at;
            break;
        }
        std::string_view tail(buffer + at + 1, len - at - 1);
        std::size_t kept = utf8_fit(tail, last - end);
        if (kept < tail.size()) {
            // Cutting: never leave half an entity inserted earlier.
            const std::size_t amp = tail.substr(0, kept).rfind('&');
            if (amp != std::string_view::npos && tail.substr(amp, kept - amp).find(';') == std::string_view::npos) {
                kept = amp;
            }
        }
        std::memmove(buffer + end, buffer + at + 1, kept);
        std::memcpy(buffer + at, replacement.data(), replacement.size());
        len = end + kept;
        buffer[len] = '\0';
        pos = end;
    }
}

// Map texts are XML text already, but a field cut at its size can end inside a reference ("&am").
std::string_view map_text(std::string_view field) {
    const std::size_t amp = field.rfind('&');
    if (amp != std::string_view::npos && field.find(';', amp) == std::string_view::npos) return field.substr(0, amp);
    return field;
}

void append_xml_escaped(std::string& out, std::string_view text) {
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                out += c;
                break;
        }
    }
}

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

void write_labels(SvgOutput& out, const MapDataset& dataset, std::string_view map_no, const BoundingBox& bounds,
                  const SvgLayout& layout, const RenderSettings& settings) {
    for (const Parcel& parcel : dataset.parcels) {
        if (!parcel_selected(parcel, map_no) || !parcel.has_outline || !parcel.has_centroid) continue;
        const int cls = label_class(parcel, layout.scale, settings);
        if (cls == 0) continue;
        put(out, cls == 1 ? "<text class=\"c1\" x=\"" : "<text class=\"c2\" x=\"");
        put_int(out, drawing_coordinate(parcel.centroid_y - bounds.min_y, layout.scale, settings.svg_viewbox_marginx));
        put(out, "\" y=\"");
        put_int(out, drawing_coordinate(bounds.max_x - parcel.centroid_x, layout.scale, settings.svg_viewbox_marginy));
        put(out, "\">");
        put(out, map_text(field_view(parcel.chiban)));
        put(out, "</text>");
        put(out, kLineEnd);
    }
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
    put(out, map_text(field_view(header.municipality_name)));
    put(out, "】　〔");
    put(out, map_text(field_view(header.map_name)));
    put(out, "〕　&quot;");
    put(out, file_name);
    put(out, "&quot;");
    if (!map_no.empty()) {
        put(out, "　（");
        put(out, map_no);
        put(out, "）");
    }
    put(out, "　＜");
    put(out, map_text(field_view(header.coord_system)));
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
