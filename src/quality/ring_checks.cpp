#include "quality/ring_checks.hpp"

#include <algorithm>
#include <cmath>

namespace chizuvec {
namespace {

double cross(const PlanePoint& o, const PlanePoint& a, const PlanePoint& b) {
    return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

int sign(double v) { return v > 0.0 ? 1 : (v < 0.0 ? -1 : 0); }

bool within(const PlanePoint& p, const PlanePoint& a, const PlanePoint& b) {
    return std::min(a.x, b.x) <= p.x && p.x <= std::max(a.x, b.x) && std::min(a.y, b.y) <= p.y &&
           p.y <= std::max(a.y, b.y);
}

enum class Meeting { none, point, overlap };

struct SegmentMeeting {
    Meeting kind = Meeting::none;
    PlanePoint at;
};

// How segments ab and cd meet: not at all, at one point, or along a stretch (collinear).
SegmentMeeting meet(const PlanePoint& a, const PlanePoint& b, const PlanePoint& c, const PlanePoint& d) {
    const int o1 = sign(cross(a, b, c));
    const int o2 = sign(cross(a, b, d));
    const int o3 = sign(cross(c, d, a));
    const int o4 = sign(cross(c, d, b));
    if (o1 == 0 && o2 == 0) {
        // Collinear: the stretch both cover, if any.
        const bool along_x = std::abs(b.x - a.x) >= std::abs(b.y - a.y);
        const auto key = [&](const PlanePoint& p) { return along_x ? p.x : p.y; };
        const double lo = std::max(std::min(key(a), key(b)), std::min(key(c), key(d)));
        const double hi = std::min(std::max(key(a), key(b)), std::max(key(c), key(d)));
        if (lo > hi) return {};
        const PlanePoint* pick = &a;
        for (const PlanePoint* p : {&a, &b, &c, &d}) {
            if (key(*p) == lo) pick = p;
        }
        return {lo < hi ? Meeting::overlap : Meeting::point, *pick};
    }
    if (o1 * o2 < 0 && o3 * o4 < 0) {
        const double t = cross(c, d, a) / (cross(c, d, a) - cross(c, d, b));
        return {Meeting::point, {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t}};
    }
    if (o1 == 0 && within(c, a, b)) return {Meeting::point, c};
    if (o2 == 0 && within(d, a, b)) return {Meeting::point, d};
    if (o3 == 0 && within(a, c, d)) return {Meeting::point, a};
    if (o4 == 0 && within(b, c, d)) return {Meeting::point, b};
    return {};
}

Box segment_box(const PlanePoint& a, const PlanePoint& b) {
    return {std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y)};
}

}  // namespace

Box box_of(std::span<const PlanePoint> points) {
    Box box{HUGE_VAL, HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
    for (const PlanePoint& p : points) {
        box.min_x = std::min(box.min_x, p.x);
        box.min_y = std::min(box.min_y, p.y);
        box.max_x = std::max(box.max_x, p.x);
        box.max_y = std::max(box.max_y, p.y);
    }
    return box;
}

double ring_signed_area(std::span<const PlanePoint> ring) {
    if (ring.empty()) return 0.0;
    // Relative to the first point, so that plane coordinates of hundreds of kilometres keep their
    // centimetres.
    const PlanePoint o = ring.front();
    double sum = 0.0;
    for (std::size_t i = 0; i + 1 < ring.size(); ++i) sum += cross(o, ring[i], ring[i + 1]);
    return sum / 2.0;
}

std::optional<PlanePoint> ring_self_crossing(std::span<const PlanePoint> ring) {
    if (ring.size() < 4) return std::nullopt;
    const std::size_t n = ring.size() - 1;  // edges
    std::vector<Box> boxes(n);
    for (std::size_t i = 0; i < n; ++i) boxes[i] = segment_box(ring[i], ring[i + 1]);
    std::optional<PlanePoint> found;
    meeting_pairs(boxes, [&](std::uint32_t i, std::uint32_t j) {
        const SegmentMeeting m = meet(ring[i], ring[i + 1], ring[j], ring[j + 1]);
        if (m.kind == Meeting::none) return true;
        const bool adjacent = j == i + 1 || (i == 0 && j == n - 1);
        if (adjacent) {
            // Neighbours share their vertex; they fault only by running back over each other.
            if (m.kind != Meeting::overlap) return true;
            found = j == i + 1 ? ring[j] : ring[i];
            return false;
        }
        found = m.at;
        return false;
    });
    return found;
}

std::optional<PlanePoint> rings_cross(std::span<const PlanePoint> a, std::span<const PlanePoint> b) {
    if (a.size() < 2 || b.size() < 2) return std::nullopt;
    const std::size_t na = a.size() - 1;
    const std::size_t nb = b.size() - 1;
    std::vector<Box> boxes(na + nb);
    for (std::size_t i = 0; i < na; ++i) boxes[i] = segment_box(a[i], a[i + 1]);
    for (std::size_t i = 0; i < nb; ++i) boxes[na + i] = segment_box(b[i], b[i + 1]);
    std::optional<PlanePoint> found;
    meeting_pairs(boxes, [&](std::uint32_t i, std::uint32_t j) {
        if ((i < na) == (j < na)) return true;
        const std::size_t k = j - na;
        const SegmentMeeting m = meet(a[i], a[i + 1], b[k], b[k + 1]);
        if (m.kind == Meeting::overlap) {
            found = m.at;
            return false;
        }
        if (m.kind != Meeting::point) return true;
        // A proper crossing, not a touch at an end of either segment.
        const auto is_end = [&](const PlanePoint& p) {
            return (p.x == a[i].x && p.y == a[i].y) || (p.x == a[i + 1].x && p.y == a[i + 1].y) ||
                   (p.x == b[k].x && p.y == b[k].y) || (p.x == b[k + 1].x && p.y == b[k + 1].y);
        };
        if (is_end(m.at)) {
            // A vertex on the other ring's edge or vertex: a crossing only when the rings pass
            // through each other there, which the edges on either side show.
            return true;
        }
        found = m.at;
        return false;
    });
    if (found) return found;
    // Rings that only touch at vertices may still pass through each other there: a vertex of `a`
    // strictly inside `b` next to one strictly outside says so.
    bool in = false;
    bool out = false;
    for (std::size_t i = 0; i < na; ++i) {
        if (distance_to_ring(a[i], b) < 1e-9) continue;
        (inside_ring(a[i], b) ? in : out) = true;
        if (in && out) return a[i];
    }
    return std::nullopt;
}

bool inside_ring(const PlanePoint& p, std::span<const PlanePoint> ring) {
    bool inside = false;
    for (std::size_t i = 0; i + 1 < ring.size(); ++i) {
        const PlanePoint& a = ring[i];
        const PlanePoint& b = ring[i + 1];
        if ((a.y > p.y) != (b.y > p.y)) {
            const double x = a.x + (p.y - a.y) * (b.x - a.x) / (b.y - a.y);
            if (p.x < x) inside = !inside;
        }
    }
    return inside;
}

double distance_to_ring(const PlanePoint& p, std::span<const PlanePoint> ring) {
    double best = HUGE_VAL;
    for (std::size_t i = 0; i + 1 < ring.size(); ++i) {
        const PlanePoint& a = ring[i];
        const PlanePoint& b = ring[i + 1];
        const double dx = b.x - a.x;
        const double dy = b.y - a.y;
        const double length2 = dx * dx + dy * dy;
        double t = length2 > 0.0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / length2 : 0.0;
        t = std::clamp(t, 0.0, 1.0);
        best = std::min(best, std::hypot(a.x + dx * t - p.x, a.y + dy * t - p.y));
    }
    return best;
}

void meeting_pairs(std::span<const Box> boxes, const std::function<bool(std::uint32_t, std::uint32_t)>& visit) {
    const std::size_t n = boxes.size();
    if (n < 2) return;
    if (n <= 32) {
        for (std::uint32_t i = 0; i < n; ++i) {
            for (std::uint32_t j = i + 1; j < n; ++j) {
                if (boxes[i].meets(boxes[j]) && !visit(i, j)) return;
            }
        }
        return;
    }
    Box extent{HUGE_VAL, HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
    for (const Box& b : boxes) {
        extent.min_x = std::min(extent.min_x, b.min_x);
        extent.min_y = std::min(extent.min_y, b.min_y);
        extent.max_x = std::max(extent.max_x, b.max_x);
        extent.max_y = std::max(extent.max_y, b.max_y);
    }
    const std::size_t side = static_cast<std::size_t>(std::ceil(std::sqrt(static_cast<double>(n))));
    const double width = std::max(extent.max_x - extent.min_x, 1e-9) / static_cast<double>(side);
    const double height = std::max(extent.max_y - extent.min_y, 1e-9) / static_cast<double>(side);
    const auto column = [&](double x) {
        return std::min(side - 1, static_cast<std::size_t>(std::max(0.0, (x - extent.min_x) / width)));
    };
    const auto row = [&](double y) {
        return std::min(side - 1, static_cast<std::size_t>(std::max(0.0, (y - extent.min_y) / height)));
    };
    // The boxes of each cell, by counting first: cell c holds members[first[c], first[c + 1]).
    std::vector<std::uint32_t> first(side * side + 1, 0);
    for (const Box& b : boxes) {
        for (std::size_t r = row(b.min_y); r <= row(b.max_y); ++r) {
            for (std::size_t c = column(b.min_x); c <= column(b.max_x); ++c) ++first[r * side + c + 1];
        }
    }
    for (std::size_t i = 1; i < first.size(); ++i) first[i] += first[i - 1];
    std::vector<std::uint32_t> members(first.back());
    std::vector<std::uint32_t> fill(first.begin(), first.end() - 1);
    for (std::uint32_t i = 0; i < n; ++i) {
        const Box& b = boxes[i];
        for (std::size_t r = row(b.min_y); r <= row(b.max_y); ++r) {
            for (std::size_t c = column(b.min_x); c <= column(b.max_x); ++c) members[fill[r * side + c]++] = i;
        }
    }
    for (std::size_t cell = 0; cell < side * side; ++cell) {
        for (std::uint32_t a = first[cell]; a < first[cell + 1]; ++a) {
            for (std::uint32_t b = a + 1; b < first[cell + 1]; ++b) {
                const std::uint32_t i = std::min(members[a], members[b]);
                const std::uint32_t j = std::max(members[a], members[b]);
                const Box& p = boxes[i];
                const Box& q = boxes[j];
                if (!p.meets(q)) continue;
                // Each pair once: in the cell of the lower corner of where the boxes meet.
                const std::size_t home = row(std::max(p.min_y, q.min_y)) * side + column(std::max(p.min_x, q.min_x));
                if (home != cell) continue;
                if (!visit(i, j)) return;
            }
        }
    }
}

}  // namespace chizuvec
