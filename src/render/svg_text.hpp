// The pieces of the drawing shared by the document writer and its text elements: the buffered
// output, the page layout and coordinate mapping, the parcel kinds, and the elements that carry text
// (label styles, lot-number labels, title, source line, scale bar). Reads parcels and settings;
// writes nothing to the dataset.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "model/large_array.hpp"
#include "config/render_settings.hpp"
#include "geometry/polygon_assembly.hpp"
#include "model/map_dataset.hpp"
#include "platform/platform.hpp"

namespace chizuvec {

// ---- Output ---------------------------------------------------------------------------------------

inline constexpr std::size_t kOutputBufferSize = std::size_t{256} << 10;  // few writes, few pages

// One pass of the document through a large buffer. The bytes go to `file` when it is set, else they
// are appended to `sink`. After the first failed write nothing more is written and `failed` stays.
struct SvgOutput {
    std::FILE* file = nullptr;
    std::string* sink = nullptr;
    LargeBuffer buffer;
    std::size_t capacity = 0;
    std::size_t used = 0;
    bool failed = false;
};

SvgOutput make_output(std::FILE* file, std::string* sink, std::size_t capacity = kOutputBufferSize);
// Hands the buffered bytes on; false once any write has failed.
bool flush_output(SvgOutput& out);
// The buffer-filling halves of put and put_int, for when the bytes may not fit.
void put_spilling(SvgOutput& out, std::string_view bytes);
void put_int_after_flush(SvgOutput& out, std::int64_t value);

// A drawing writes a few pieces per point; the common case (room in the buffer) is inline. Bytes
// put after a failed write are dropped with the buffer at the next flush.
inline void put(SvgOutput& out, std::string_view bytes) {
    if (bytes.size() < out.capacity - out.used) {
        if (!bytes.empty()) std::memcpy(out.buffer.get() + out.used, bytes.data(), bytes.size());
        out.used += bytes.size();
    } else {
        put_spilling(out, bytes);
    }
}

inline constexpr std::size_t kMaxIntChars = 24;

inline void put_int(SvgOutput& out, std::int64_t value) {
    if (out.capacity - out.used < kMaxIntChars) {
        put_int_after_flush(out, value);
        return;
    }
    char* const begin = out.buffer.get() + out.used;
    out.used += static_cast<std::size_t>(std::to_chars(begin, begin + kMaxIntChars, value).ptr - begin);
}

// ---- Layout -----------------------------------------------------------------------------------------

struct SvgLayout {
    double scale = 1.0;  // drawing units per metre
    std::int32_t viewbox_width = 0;
    std::int32_t viewbox_height = 0;
    std::uint32_t page_width = 0;  // points
    std::uint32_t page_height = 0;
};

// Fixes one side at svg_viewbox_length and scales the map into it. A zero (or unusable) extent along
// the fixed side fixes the other side instead; with neither usable the scale is 1.0.
SvgLayout compute_layout(const BoundingBox& bounds, const RenderSettings& settings);

// Drawing coordinate of a distance in metres from the drawing's left or top edge: truncated toward
// zero, then the margin added. Saturates at the 32-bit range; a NaN distance counts as 0.
std::int32_t drawing_coordinate(double metres, double scale, std::uint32_t margin);

// ---- Parcel kinds -----------------------------------------------------------------------------------

// 1, 2 or 3 for the first of svg_chiban_sp1..3 that begins `chiban` (an empty prefix matches every
// lot number), else 0.
int special_kind(std::string_view chiban, const RenderSettings& settings);
// "ph", "p1", "p2", "p3" or "p0".
std::string_view polygon_class(const Parcel& parcel, const RenderSettings& settings);
// 1 or 2 for the label classes "c1" and "c2", 0 for no label.
int label_class(const Parcel& parcel, double scale, const RenderSettings& settings);

// ---- Texts ------------------------------------------------------------------------------------------

// Replaces every `byte` of the zero-terminated text in `buffer` by `replacement`, in place. Never
// writes beyond `size` bytes; an occurrence whose replacement would not fit whole is dropped with the
// rest of the text, so the result never ends in a partial entity. The result is zero-terminated.
void replace_char(char* buffer, std::size_t size, char byte, std::string_view replacement);

// A text of the map file as it goes into the document: without a reference cut off at the end of
// its field ("&am"), which would leave the document malformed.
std::string_view map_text(std::string_view field);

// Appends `text` with & < > " ' written as entities; nothing is ever cut.
void append_xml_escaped(std::string& out, std::string_view text);

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
void write_labels(SvgOutput& out, const MapDataset& dataset, std::string_view map_no, const BoundingBox& bounds,
                  const SvgLayout& layout, const RenderSettings& settings);
void write_title(SvgOutput& out, std::string_view input_path, std::string_view map_no, const MapHeader& header,
                 const RenderSettings& settings);
// `escaped_source` is svg_text_source after append_xml_escaped.
void write_source_line(SvgOutput& out, std::string_view escaped_source, const SvgLayout& layout,
                       const RenderSettings& settings);
void write_scale_bar(SvgOutput& out, const ScaleBar& bar, const SvgLayout& layout, std::string_view coord_system,
                     const RenderSettings& settings);

}  // namespace chizuvec
