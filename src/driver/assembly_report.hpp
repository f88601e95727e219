// The texts of polygon assembly's messages and of the drawing-size limit, for standard error.
#pragma once

#include <cstdint>
#include <string>

#include "geometry/polygon_assembly.hpp"

namespace chizuvec {

// A drawing of more outline points than this is refused before its file is opened: at about a dozen
// bytes a point it would fill more than a gigabyte, which no viewer opens.
inline constexpr std::uint64_t kMaxDrawnPoints = kMaxOutlinePoints;

// Every message of the assembly, one line each, in the order met.
std::string assembly_messages_text(const AssemblyResult& result);

// The error for a drawing of `points` outline points, more than kMaxDrawnPoints.
std::string drawing_too_large_text(std::uint64_t points);

}  // namespace chizuvec
