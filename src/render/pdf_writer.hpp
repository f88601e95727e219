// The page of a drawing (drawing.hpp) as a one-page PDF through cairo, its fonts found by fontconfig
// and embedded as subsets. A build without cairo writes no PDF.
#pragma once

#include <cstdio>
#include <string>

#include "render/drawing.hpp"

namespace chizuvec {

enum class PdfStatus {
    ok,
    unavailable,  // this build has no PDF output
    failed,       // cairo or the stream failed
};

// Whether this build has a PDF writer (cairo is still loaded only when the first PDF is written).
bool pdf_output_built();

// Writes the PDF of `drawing` to `file`.
PdfStatus write_pdf(std::FILE* file, const Drawing& drawing);

// After write_pdf was unavailable: the library that could not be loaded and why
// ("libcairo.so.2: cannot open shared object file: ..."); empty in a build without PDF output.
std::string pdf_unavailable_reason();

}  // namespace chizuvec
