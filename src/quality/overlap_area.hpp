// The area where two parcels overlap, from the parts of each outline that lie inside the other
// (the boundary of the intersection), so that parcels sharing edges, as neighbours do, give none.
#pragma once

#include <cstdint>
#include <vector>

#include "quality/ring_checks.hpp"

namespace chizuvec {

// Rings end to end, each closed: ring r is points[ring_ends[r-1], ring_ends[r]) (the first from 0).
// Exteriors counter-clockwise, holes clockwise.
struct PlanePolygon {
    std::vector<PlanePoint> points;
    std::vector<std::uint32_t> ring_ends;
    Box box;
};

struct OverlapArea {
    double area = 0.0;  // m²
    PlanePoint centroid;
};

OverlapArea overlap_area(const PlanePolygon& a, const PlanePolygon& b);

}  // namespace chizuvec
