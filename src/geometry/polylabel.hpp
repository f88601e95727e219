// The pole of inaccessibility of a polygon: the interior point farthest from its outline, where a
// label stands clear of the edges even in an L, a ring or a thin strip, unlike the centroid, which
// can fall outside.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace chizuvec {

struct PlanePoint {
    double x = 0.0;
    double y = 0.0;
};

struct LabelPoint {
    double x = 0.0;
    double y = 0.0;
    double distance = 0.0;  // to the nearest edge; 0 for a polygon without area
};

// A square cell of the search, centred on (x, y) with half side `h`; `d` is the signed distance of
// its centre to the outline (negative outside), `max` the best any point of the cell could reach.
struct PoleCell {
    double x = 0.0;
    double y = 0.0;
    double h = 0.0;
    double d = 0.0;
    double max = 0.0;
};

// The room a search works in, kept by a caller that looks for many poles so that each search
// reuses it rather than allocating its own.
struct PoleScratch {
    struct Entry {
        double max;
        std::uint32_t cell;
    };
    std::vector<double> edges;
    std::vector<PoleCell> cells;
    std::vector<Entry> queue;
    std::vector<Entry> spare;
};

// `points` holds the rings end to end: ring r is points [ring_ends[r-1], ring_ends[r]) (the first
// from 0), closed or not; the first ring is the exterior, any others holes. The result is within
// `precision` of the best distance. Work is bounded whatever the shape: a degenerate polygon gives
// the centre of its bounding box.
LabelPoint pole_of_inaccessibility(std::span<const PlanePoint> points, std::span<const std::uint32_t> ring_ends,
                                   double precision, PoleScratch& scratch);
LabelPoint pole_of_inaccessibility(std::span<const PlanePoint> points, std::span<const std::uint32_t> ring_ends,
                                   double precision);

}  // namespace chizuvec
