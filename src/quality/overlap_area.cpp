#include "quality/overlap_area.hpp"

#include <algorithm>
#include <cmath>
#include <span>

namespace chizuvec {
namespace {

// Points closer than this to an edge lie on it: far above the rounding of plane coordinates of some
// hundred kilometres, far below the millimetres the files give.
constexpr double kOnEdge = 1e-6;

struct Sums {
    double area2 = 0.0;  // twice the area
    double cx6 = 0.0;    // six times area times centroid
    double cy6 = 0.0;
};

template <typename Visit>
void each_edge(const PlanePolygon& p, Visit&& visit) {
    std::uint32_t begin = 0;
    for (const std::uint32_t end : p.ring_ends) {
        for (std::uint32_t i = begin; i + 1 < end; ++i) visit(p.points[i], p.points[i + 1]);
        begin = end;
    }
}

// Where `m` is relative to `poly`: on an edge running the same way as `direction` (1) or the other
// way (-1), inside (2) or outside (0).
int classify(const PlanePoint& m, const PlanePoint& direction, const PlanePolygon& poly) {
    bool inside = false;
    int on_edge = 0;
    each_edge(poly, [&](const PlanePoint& a, const PlanePoint& b) {
        if (on_edge != 0) return;
        const double dx = b.x - a.x;
        const double dy = b.y - a.y;
        const double length2 = dx * dx + dy * dy;
        const bool near = m.x >= std::min(a.x, b.x) - kOnEdge && m.x <= std::max(a.x, b.x) + kOnEdge &&
                          m.y >= std::min(a.y, b.y) - kOnEdge && m.y <= std::max(a.y, b.y) + kOnEdge;
        if (near && length2 > 0.0) {
            const double t = std::clamp(((m.x - a.x) * dx + (m.y - a.y) * dy) / length2, 0.0, 1.0);
            const double ex = a.x + dx * t - m.x;
            const double ey = a.y + dy * t - m.y;
            if (ex * ex + ey * ey < kOnEdge * kOnEdge) {
                on_edge = dx * direction.x + dy * direction.y > 0.0 ? 1 : -1;
                return;
            }
        }
        if ((a.y > m.y) != (b.y > m.y) && m.x < a.x + (m.y - a.y) * dx / dy) inside = !inside;
    });
    if (on_edge != 0) return on_edge;
    return inside ? 2 : 0;
}

// The parts of `a`'s edges that bound the intersection with `b`: inside `b`, and, when
// `keep_shared`, those running along an edge of `b` the same way.
void add_boundary(const PlanePolygon& a, const PlanePolygon& b, bool keep_shared, const PlanePoint& origin,
                  Sums& sums) {
    std::vector<double> cuts;
    each_edge(a, [&](const PlanePoint& p, const PlanePoint& q) {
        const Box edge{std::min(p.x, q.x) - kOnEdge, std::min(p.y, q.y) - kOnEdge, std::max(p.x, q.x) + kOnEdge,
                       std::max(p.y, q.y) + kOnEdge};
        if (!edge.meets(b.box)) return;
        const double dx = q.x - p.x;
        const double dy = q.y - p.y;
        const double length2 = dx * dx + dy * dy;
        if (length2 == 0.0) return;
        cuts.assign({0.0, 1.0});
        each_edge(b, [&](const PlanePoint& r, const PlanePoint& s) {
            const Box other{std::min(r.x, s.x), std::min(r.y, s.y), std::max(r.x, s.x), std::max(r.y, s.y)};
            if (!edge.meets(other)) return;
            const double ex = s.x - r.x;
            const double ey = s.y - r.y;
            const double denominator = dx * ey - dy * ex;
            const double wx = r.x - p.x;
            const double wy = r.y - p.y;
            const double scale = std::sqrt(length2 * (ex * ex + ey * ey));
            if (std::abs(denominator) > 1e-12 * scale) {
                const double t = (wx * ey - wy * ex) / denominator;
                const double u = (wx * dy - wy * dx) / denominator;
                if (t > 0.0 && t < 1.0 && u >= -1e-12 && u <= 1.0 + 1e-12) cuts.push_back(t);
                return;
            }
            // Parallel: where the other edge's ends fall along this one.
            for (const PlanePoint& e : {r, s}) {
                const double t = ((e.x - p.x) * dx + (e.y - p.y) * dy) / length2;
                if (t > 0.0 && t < 1.0) cuts.push_back(t);
            }
        });
        std::sort(cuts.begin(), cuts.end());
        for (std::size_t k = 0; k + 1 < cuts.size(); ++k) {
            const double t0 = cuts[k];
            const double t1 = cuts[k + 1];
            if (t1 - t0 < 1e-12) continue;
            const double tm = (t0 + t1) / 2.0;
            const int where = classify({p.x + dx * tm, p.y + dy * tm}, {dx, dy}, b);
            if (!(where == 2 || (where == 1 && keep_shared))) continue;
            const double ux = p.x + dx * t0 - origin.x;
            const double uy = p.y + dy * t0 - origin.y;
            const double vx = p.x + dx * t1 - origin.x;
            const double vy = p.y + dy * t1 - origin.y;
            const double c = ux * vy - vx * uy;
            sums.area2 += c;
            sums.cx6 += (ux + vx) * c;
            sums.cy6 += (uy + vy) * c;
        }
    });
}

}  // namespace

OverlapArea overlap_area(const PlanePolygon& a, const PlanePolygon& b) {
    OverlapArea result;
    if (!a.box.meets(b.box) || a.points.empty()) return result;
    const PlanePoint origin = a.points.front();
    Sums sums;
    add_boundary(a, b, true, origin, sums);
    add_boundary(b, a, false, origin, sums);
    result.area = sums.area2 / 2.0;
    if (result.area > 0.0) {
        result.centroid = {origin.x + sums.cx6 / (3.0 * sums.area2), origin.y + sums.cy6 / (3.0 * sums.area2)};
    }
    return result;
}

}  // namespace chizuvec
