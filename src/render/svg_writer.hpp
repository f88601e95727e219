// Writes the drawing: a bare SVG document, an XHTML page carrying the same SVG inline, or a PDF of the
// same page. Owns the output file and the SVG skeleton; the page itself is built by page_builder.hpp
// and the PDF drawn by pdf_writer.hpp.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "config/render_settings.hpp"
#include "geometry/polygon_assembly.hpp"
#include "model/map_dataset.hpp"
#include "platform/platform.hpp"
#include "render/drawing.hpp"
#include "render/page_builder.hpp"
#include "render/svg_output.hpp"

namespace chizuvec {

enum class WriteStatus {
    ok,
    unsupported_type,  // extension neither .svg nor .htm*; nothing touched
    output_is_input,   // the output names the input file itself; nothing touched
    failed,            // cannot open, write or close; the previous output stays as it was
    pdf_unavailable,   // a .pdf in a build without PDF output; nothing touched
    no_memory,         // the page could not be built or written for want of memory; nothing touched
};

struct WriteResult {
    WriteStatus status = WriteStatus::ok;
    std::int64_t size = 0;  // ok: bytes in the file written (0 for a device or pipe)
    PageNotes notes;        // how a printed page came out
};

// The marks of a drawing (texts and lines) as SVG elements, in order.
void write_marks(SvgOutput& out, const Drawing& drawing);

// The key of the first layout setting that makes a drawing impossible (svg_dpi 0, length 0, a fixed
// side not longer than twice its margin), or the empty view when the settings can draw.
std::string_view find_invalid_layout_setting(const RenderSettings& settings);

// Writes the drawing of the parcels selected by `map_no`: SVG (.svg), an XHTML page (.htm*) or PDF
// (.pdf), by the output's extension. Writes svg_x and svg_y of every point. The output replaces an
// existing file only when it is complete (platform::open_output_file). `source_width` is
// measure_source_text(settings), measured now when not given; `print`, `sheet` and `selection` as
// build_drawing. The output is refused (output_is_input) when it is one of the files `rules`
// names, or, without rules, the input.
WriteResult write_svg(const std::string& output_path, const std::string& input_path, std::string_view map_no,
                      const MapHeader& header, const BoundingBox& bounds, const RenderSettings& settings,
                      MapDataset& dataset, std::optional<std::int32_t> source_width = std::nullopt,
                      const PrintOptions& print = {}, const MapSheet* sheet = nullptr,
                      const platform::OutputRules* rules = nullptr,
                      const std::vector<std::uint32_t>* selection = nullptr);

// Writes a drawing built elsewhere as the document its output's extension names, under `rules`, as
// write_svg writes its own.
WriteResult write_drawing(const std::string& output_path, const Drawing& drawing, const platform::OutputRules& rules);

}  // namespace chizuvec
