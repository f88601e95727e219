// Plane geometry of the quality checks: where rings cross or touch themselves or each other, and
// which pairs of boxes meet, found through a grid rather than by comparing every pair.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "geometry/polylabel.hpp"

namespace chizuvec {

struct Box {
    double min_x = 0.0;
    double min_y = 0.0;
    double max_x = 0.0;
    double max_y = 0.0;
    bool meets(const Box& o) const {
        return min_x <= o.max_x && o.min_x <= max_x && min_y <= o.max_y && o.min_y <= max_y;
    }
};

Box box_of(std::span<const PlanePoint> points);

// The signed area of a closed ring (last point equal to the first), positive when it
// runs counter-clockwise.
double ring_signed_area(std::span<const PlanePoint> ring);

// Where a closed ring without repeated consecutive points crosses or touches itself, or runs back
// over its own edge; nothing when it is simple.
std::optional<PlanePoint> ring_self_crossing(std::span<const PlanePoint> ring);

// Where the closed rings `a` and `b` cross or share a stretch of edge; touching at single points is
// not a crossing.
std::optional<PlanePoint> rings_cross(std::span<const PlanePoint> a, std::span<const PlanePoint> b);

// Is `p` inside the closed ring (even-odd)? Points on the edge may go either way.
bool inside_ring(const PlanePoint& p, std::span<const PlanePoint> ring);

// The distance from `p` to the closed ring's nearest edge.
double distance_to_ring(const PlanePoint& p, std::span<const PlanePoint> ring);

// Calls `visit(i, j)` (i < j) once for each pair of `boxes` that meet, through a grid of about as
// many cells as boxes; stops when `visit` returns false.
void meeting_pairs(std::span<const Box> boxes, const std::function<bool(std::uint32_t, std::uint32_t)>& visit);

}  // namespace chizuvec
