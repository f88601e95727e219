// The size and box of a ring, and the rule by which a hole takes its area from its outline: a hole
// counts only when it lies within its outline's box and is no larger than the outline, so that a
// parcel's area is never negative and a stray ring never eats a neighbour's area.
#pragma once

#include <cmath>

namespace chizuvec {

struct RingExtent {
    double area = 0.0;  // without sign
    double min_x = 0.0;
    double max_x = 0.0;
    double min_y = 0.0;
    double max_y = 0.0;
};

// The extent of the closed ring of `count` points that `point(i)` gives as anything with x and y.
template <typename PointAt>
RingExtent ring_extent(std::size_t count, PointAt point) {
    RingExtent e;
    if (count == 0) return e;
    e.min_x = e.max_x = point(0).x;
    e.min_y = e.max_y = point(0).y;
    double twice = 0.0;
    for (std::size_t k = 0; k < count; ++k) {
        const auto& p = point(k);
        const auto& q = point(k + 1 < count ? k + 1 : 0);
        twice += p.x * q.y - p.y * q.x;
        e.min_x = std::fmin(e.min_x, p.x);
        e.max_x = std::fmax(e.max_x, p.x);
        e.min_y = std::fmin(e.min_y, p.y);
        e.max_y = std::fmax(e.max_y, p.y);
    }
    e.area = std::fabs(twice) * 0.5;
    return e;
}

// Comparisons with a coordinate that is not a number are false: such a hole does not count.
inline bool hole_counts(const RingExtent& outline, const RingExtent& hole) {
    return hole.area <= outline.area && hole.min_x >= outline.min_x && hole.max_x <= outline.max_x &&
           hole.min_y >= outline.min_y && hole.max_y <= outline.max_y;
}

}  // namespace chizuvec
