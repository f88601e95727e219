#include "render/svg_layout.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace chizuvec {
namespace {

bool usable_extent(double extent) { return std::isfinite(extent) && extent > 0.0; }

// The fixed side less both its margins; 0 when the margins leave no room.
double drawable_length(std::uint32_t length, std::uint32_t margin) {
    const std::uint64_t margins = 2 * std::uint64_t{margin};
    return length > margins ? static_cast<double>(std::uint64_t{length} - margins) : 0.0;
}

std::int32_t side_with_margins(double extent, double scale, std::uint32_t margin) {
    const std::int64_t side = std::int64_t{drawing_coordinate(extent, scale, 0)} + 2 * std::int64_t{margin};
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(side, 0, std::numeric_limits<std::int32_t>::max()));
}

std::uint32_t points_of(std::int32_t units, std::uint32_t dpi) {
    const std::uint64_t page = static_cast<std::uint64_t>(std::max(units, 0)) * 72 / (dpi == 0 ? 72 : dpi);
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(page, std::numeric_limits<std::uint32_t>::max()));
}

}  // namespace

SvgLayout compute_layout(const BoundingBox& bounds, const RenderSettings& settings) {
    const double extent_x = bounds.max_x - bounds.min_x;  // north-south, drawn vertically
    const double extent_y = bounds.max_y - bounds.min_y;  // east-west, drawn horizontally
    const std::uint32_t option = settings.svg_viewbox_side_option;
    bool width_fixed = option == 1 || (option == 3 && extent_y >= extent_x) || (option == 4 && extent_x >= extent_y);
    // A map without extent along the fixed side (all on one line) is scaled by its other side.
    const double fixed_extent = width_fixed ? extent_y : extent_x;
    const double other_extent = width_fixed ? extent_x : extent_y;
    if (!usable_extent(fixed_extent) && usable_extent(other_extent)) width_fixed = !width_fixed;

    const std::uint32_t length = settings.svg_viewbox_length;
    const std::int32_t fixed_side =
        static_cast<std::int32_t>(std::min<std::uint32_t>(length, std::numeric_limits<std::int32_t>::max()));
    SvgLayout layout;
    if (width_fixed && usable_extent(extent_y)) {
        layout.scale = drawable_length(length, settings.svg_viewbox_marginx) / extent_y;
    } else if (!width_fixed && usable_extent(extent_x)) {
        layout.scale = drawable_length(length, settings.svg_viewbox_marginy) / extent_x;
    }
    if (!std::isfinite(layout.scale)) layout.scale = 1.0;  // a vanishing extent can overflow the division
    if (width_fixed) {
        layout.viewbox_width = fixed_side;
        layout.viewbox_height = side_with_margins(extent_x, layout.scale, settings.svg_viewbox_marginy);
    } else {
        layout.viewbox_height = fixed_side;
        layout.viewbox_width = side_with_margins(extent_y, layout.scale, settings.svg_viewbox_marginx);
    }
    layout.page_width = points_of(layout.viewbox_width, settings.svg_dpi);
    layout.page_height = points_of(layout.viewbox_height, settings.svg_dpi);
    return layout;
}

std::int32_t drawing_coordinate(double metres, double scale, std::uint32_t margin) {
    const double units = metres * scale;
    std::int64_t whole = 0;
    if (units >= 2147483647.0) {
        whole = std::numeric_limits<std::int32_t>::max();
    } else if (units <= -2147483648.0) {
        whole = std::numeric_limits<std::int32_t>::min();
    } else if (!std::isnan(units)) {
        whole = static_cast<std::int64_t>(units);  // truncation toward zero
    }
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(whole + margin, std::numeric_limits<std::int32_t>::min(),
                                                              std::numeric_limits<std::int32_t>::max()));
}

}  // namespace chizuvec
