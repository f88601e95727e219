// The page geometry of a drawing: which side is fixed, the scale from metres to drawing units, the
// viewBox and the page size in points, and the one mapping of a distance in metres to a drawing
// coordinate that points, labels and the scale bar all use.
#pragma once

#include <cstdint>

#include "config/render_settings.hpp"
#include "geometry/polygon_assembly.hpp"

namespace chizuvec {

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

}  // namespace chizuvec
