// The build without cairo.
#include "render/pdf_writer.hpp"

namespace chizuvec {

bool pdf_output_built() { return false; }

PdfStatus write_pdf(std::FILE*, const Drawing&) { return PdfStatus::unavailable; }
std::string pdf_unavailable_reason() { return {}; }

}  // namespace chizuvec
