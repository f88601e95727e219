// Writes the page (page_builder.hpp) to a stream: a bare SVG document, an XHTML page carrying the
// same SVG inline, or a PDF of the same page (pdf_writer.hpp). The caller owns the output file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "config/render_settings.hpp"
#include "model/map_dataset.hpp"
#include "render/drawing.hpp"
#include "render/page_builder.hpp"
#include "render/svg_output.hpp"

namespace chizuvec {

// How writing a page to its stream went.
enum class PageStatus {
    ok,
    failed,       // a write failed
    unavailable,  // this build has no writer of the format (PDF without cairo)
    no_memory,
};

// The marks of a drawing (texts and lines) as SVG elements, in order.
void write_marks(SvgOutput& out, const Drawing& drawing);

// The key of the first layout setting that makes a drawing impossible (svg_dpi 0, length 0, a fixed
// side not longer than twice its margin), or the empty view when the settings can draw.
std::string_view find_invalid_layout_setting(const RenderSettings& settings);

// The page as a bare SVG document, as an XHTML page carrying the same SVG inline, or as a PDF.
PageStatus write_svg_page(std::FILE* file, const Drawing& drawing);
PageStatus write_htm_page(std::FILE* file, const Drawing& drawing);
PageStatus write_pdf_page(std::FILE* file, const Drawing& drawing);

}  // namespace chizuvec
