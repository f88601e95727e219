#include "geometry/polylabel.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <queue>
#include <vector>

namespace chizuvec {
namespace {

// A square cell of half side `h` centred on (x, y); `d` is the signed distance of its centre to the
// outline (negative outside), `max` the best any point of the cell could reach.
struct Cell {
    double x = 0.0;
    double y = 0.0;
    double h = 0.0;
    double d = 0.0;
    double max = 0.0;
};

struct Rings {
    std::span<const PlanePoint> points;
    std::span<const std::uint32_t> ends;
};

double segment_distance_squared(double px, double py, const PlanePoint& a, const PlanePoint& b) {
    double x = a.x, y = a.y;
    double dx = b.x - x, dy = b.y - y;
    if (dx != 0.0 || dy != 0.0) {
        const double t = ((px - x) * dx + (py - y) * dy) / (dx * dx + dy * dy);
        if (t > 1.0) {
            x = b.x;
            y = b.y;
        } else if (t > 0.0) {
            x += dx * t;
            y += dy * t;
        }
    }
    dx = px - x;
    dy = py - y;
    return dx * dx + dy * dy;
}

// Signed distance from (x, y) to the outline: positive inside (even-odd over all rings).
double signed_distance(const Rings& rings, double x, double y) {
    bool inside = false;
    double best = INFINITY;
    std::size_t begin = 0;
    for (const std::uint32_t end : rings.ends) {
        for (std::size_t i = begin, j = end - 1; i < end; j = i++) {
            const PlanePoint& a = rings.points[i];
            const PlanePoint& b = rings.points[j];
            if ((a.y > y) != (b.y > y) && x < (b.x - a.x) * (y - a.y) / (b.y - a.y) + a.x) inside = !inside;
            best = std::min(best, segment_distance_squared(x, y, a, b));
        }
        begin = end;
    }
    return (inside ? 1.0 : -1.0) * std::sqrt(best);
}

Cell make_cell(const Rings& rings, double x, double y, double h) {
    const double d = signed_distance(rings, x, y);
    return Cell{x, y, h, d, d + h * std::sqrt(2.0)};
}

// The area-weighted centre of the exterior, a good first guess for convex parcels.
Cell centroid_cell(const Rings& rings) {
    const std::size_t end = rings.ends.front();
    double area = 0.0, cx = 0.0, cy = 0.0;
    for (std::size_t i = 0, j = end - 1; i < end; j = i++) {
        const PlanePoint& a = rings.points[i];
        const PlanePoint& b = rings.points[j];
        const double f = a.x * b.y - b.x * a.y;
        cx += (a.x + b.x) * f;
        cy += (a.y + b.y) * f;
        area += f * 3.0;
    }
    if (area == 0.0 || !std::isfinite(cx / area) || !std::isfinite(cy / area)) {
        return make_cell(rings, rings.points[0].x, rings.points[0].y, 0.0);
    }
    return make_cell(rings, cx / area, cy / area, 0.0);
}

// Cells examined at most, each costing a pass over every edge: the whole search stays within about
// a million edge visits, or 64 cells for outlines larger than that, so no outline makes it run
// long. Real parcels settle within a few hundred cells.
constexpr std::size_t kMaxCells = 20000;
constexpr std::size_t kMinCells = 64;
constexpr std::size_t kEdgeVisits = 1000000;
constexpr double kMaxCellsPerSide = 64.0;

}  // namespace

LabelPoint pole_of_inaccessibility(std::span<const PlanePoint> points, std::span<const std::uint32_t> ring_ends,
                                   double precision) {
    // Only rings that lie within `points` and have a point count.
    std::vector<std::uint32_t> ends;
    ends.reserve(ring_ends.size());
    std::uint32_t begin = 0;
    for (const std::uint32_t end : ring_ends) {
        if (end > points.size() || end <= begin) break;
        ends.push_back(end);
        begin = end;
    }
    if (ends.empty()) return {};
    const Rings rings{points.first(ends.back()), ends};

    double min_x = INFINITY, min_y = INFINITY, max_x = -INFINITY, max_y = -INFINITY;
    for (std::size_t i = 0; i < ends.front(); ++i) {
        min_x = std::min(min_x, points[i].x);
        min_y = std::min(min_y, points[i].y);
        max_x = std::max(max_x, points[i].x);
        max_y = std::max(max_y, points[i].y);
    }
    const double width = max_x - min_x, height = max_y - min_y;
    if (!std::isfinite(width) || !std::isfinite(height)) return {};
    if (width <= 0.0 || height <= 0.0) return LabelPoint{min_x + width / 2, min_y + height / 2, 0.0};
    // Square cells over the exterior; a long thin strip gets larger cells than its width, so that
    // their number stays small (the bound of a cell holds at any size).
    const std::size_t budget = std::clamp(kEdgeVisits / rings.points.size(), kMinCells, kMaxCells);
    const double per_side = std::min(kMaxCellsPerSide, std::floor(std::sqrt(static_cast<double>(budget))));
    const double cell_size = std::max(std::min(width, height), std::max(width, height) / per_side);
    if (!(precision > 0.0)) precision = cell_size / 1000.0;

    auto less = [](const Cell& a, const Cell& b) { return a.max < b.max; };
    std::priority_queue<Cell, std::vector<Cell>, decltype(less)> queue(less);
    const double h = cell_size / 2;
    for (double x = min_x; x < max_x; x += cell_size) {
        for (double y = min_y; y < max_y; y += cell_size) queue.push(make_cell(rings, x + h, y + h, h));
    }

    Cell best = centroid_cell(rings);
    const Cell box = make_cell(rings, min_x + width / 2, min_y + height / 2, 0.0);
    if (box.d > best.d) best = box;

    std::size_t examined = 0;
    while (!queue.empty() && examined < budget) {
        const Cell cell = queue.top();
        queue.pop();
        ++examined;
        if (cell.d > best.d) best = cell;
        if (cell.max - best.d <= precision) continue;
        const double half = cell.h / 2;
        queue.push(make_cell(rings, cell.x - half, cell.y - half, half));
        queue.push(make_cell(rings, cell.x + half, cell.y - half, half));
        queue.push(make_cell(rings, cell.x - half, cell.y + half, half));
        queue.push(make_cell(rings, cell.x + half, cell.y + half, half));
    }
    return LabelPoint{best.x, best.y, std::max(best.d, 0.0)};
}

}  // namespace chizuvec
