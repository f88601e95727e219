#include "geometry/polylabel.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__SSE2__) && defined(__GNUC__)
#include <immintrin.h>
#define CHIZUVEC_AVX_EDGES 1
#endif

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>
#include <vector>

namespace chizuvec {
namespace {

using Cell = PoleCell;

// The edges of the outline as the distance and the crossing test use them, worked out once per
// outline rather than once per cell: edge i runs from a to b, d = b - a, len2 = |d|². Each term is
// a column, padded to a multiple of four with edges at infinity, which neither cross nor come near.
class EdgeTable {
  public:
    enum Column : std::size_t { kAx, kAy, kBx, kBy, kDx, kDy, kLen2, kColumns };

    EdgeTable(std::span<const PlanePoint> points, std::span<const std::uint32_t> ends, std::vector<double>& values)
        : edges_(ends.back()), count_((edges_ + std::size_t{3}) & ~std::size_t{3}), values_(values) {
        values_.assign(count_ * kColumns, 0.0);
        std::size_t k = 0;
        std::size_t begin = 0;
        for (const std::uint32_t end : ends) {
            for (std::size_t i = begin, j = end - 1; i < end; j = i++, ++k) {
                const PlanePoint& a = points[i];
                const PlanePoint& b = points[j];
                const double dx = b.x - a.x;
                const double dy = b.y - a.y;
                for (const auto& [column, value] : {std::pair{kAx, a.x},
                                                    {kAy, a.y},
                                                    {kBx, b.x},
                                                    {kBy, b.y},
                                                    {kDx, dx},
                                                    {kDy, dy},
                                                    {kLen2, dx * dx + dy * dy}}) {
                    values_[column * count_ + k] = value;
                }
            }
            begin = end;
        }
        for (; k < count_; ++k) {
            for (const Column column : {kAx, kAy, kBx, kBy}) values_[column * count_ + k] = INFINITY;
        }
    }

    struct Columns {
        const double *ax, *ay, *bx, *by, *dx, *dy, *len2;
    };

    std::size_t count() const { return count_; }
    std::size_t edges() const { return edges_; }  // without the padding
    Columns columns() const {
        const auto at = [&](Column c) { return values_.data() + c * count_; };
        return {at(kAx), at(kAy), at(kBx), at(kBy), at(kDx), at(kDy), at(kLen2)};
    }

  private:
    std::size_t edges_;
    std::size_t count_;
    std::vector<double>& values_;
};

#if defined(CHIZUVEC_AVX_EDGES)
// Point against edge, lane by lane: the crossing of the ray to the right (all bits of the lane set)
// and the least square so far updated, with the same operations as the two-at-a-time loop below.
struct EdgeLanes {
    __m256d a_x, a_y, b_x, b_y, d_x, d_y, len2;
};
__attribute__((target("avx"), always_inline)) inline __m256d meet_edges_avx(__m256d px, __m256d py, const EdgeLanes& e,
                                                                            __m256d& least) {
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d zero = _mm256_setzero_pd();
    const __m256d from_a_y = _mm256_sub_pd(py, e.a_y);
    const __m256d straddles = _mm256_xor_pd(_mm256_cmp_pd(e.a_y, py, _CMP_GT_OS), _mm256_cmp_pd(e.b_y, py, _CMP_GT_OS));
    const __m256d meets = _mm256_add_pd(_mm256_div_pd(_mm256_mul_pd(e.d_x, from_a_y), e.d_y), e.a_x);
    const __m256d t = _mm256_div_pd(
        _mm256_add_pd(_mm256_mul_pd(_mm256_sub_pd(px, e.a_x), e.d_x), _mm256_mul_pd(from_a_y, e.d_y)), e.len2);
    const __m256d beyond = _mm256_cmp_pd(t, one, _CMP_GT_OS);
    const __m256d within = _mm256_cmp_pd(t, zero, _CMP_GT_OS);
    const __m256d on_x = _mm256_or_pd(_mm256_and_pd(within, _mm256_add_pd(e.a_x, _mm256_mul_pd(e.d_x, t))),
                                      _mm256_andnot_pd(within, e.a_x));
    const __m256d on_y = _mm256_or_pd(_mm256_and_pd(within, _mm256_add_pd(e.a_y, _mm256_mul_pd(e.d_y, t))),
                                      _mm256_andnot_pd(within, e.a_y));
    const __m256d ex = _mm256_sub_pd(px, _mm256_or_pd(_mm256_and_pd(beyond, e.b_x), _mm256_andnot_pd(beyond, on_x)));
    const __m256d ey = _mm256_sub_pd(py, _mm256_or_pd(_mm256_and_pd(beyond, e.b_y), _mm256_andnot_pd(beyond, on_y)));
    least = _mm256_min_pd(_mm256_add_pd(_mm256_mul_pd(ex, ex), _mm256_mul_pd(ey, ey)), least);
    return _mm256_and_pd(straddles, _mm256_cmp_pd(px, meets, _CMP_LT_OS));
}

// Four edges at a time, where the processor has the wider registers. Sets `crossings` to the
// parity of the crossings; gives the least square.
__attribute__((target("avx"))) double least_square_avx(const EdgeTable& edges, double x, double y,
                                                       unsigned& crossings) {
    const std::size_t n = edges.count();
    const auto [ax, ay, bx, by, dx, dy, len2] = edges.columns();
    const __m256d px = _mm256_set1_pd(x);
    const __m256d py = _mm256_set1_pd(y);
    __m256d least = _mm256_set1_pd(INFINITY);
    unsigned bits = 0;
    for (std::size_t i = 0; i < n; i += 4) {
        const EdgeLanes e{_mm256_loadu_pd(ax + i),  _mm256_loadu_pd(ay + i), _mm256_loadu_pd(bx + i),
                          _mm256_loadu_pd(by + i),  _mm256_loadu_pd(dx + i), _mm256_loadu_pd(dy + i),
                          _mm256_loadu_pd(len2 + i)};
        bits ^= static_cast<unsigned>(_mm256_movemask_pd(meet_edges_avx(px, py, e, least)));
    }
    double lanes[4];
    _mm256_storeu_pd(lanes, least);
    crossings = static_cast<unsigned>(__builtin_popcount(bits)) & 1;
    return std::min(std::min(lanes[0], lanes[1]), std::min(lanes[2], lanes[3]));
}

// The signed distances of four points at once, a point a lane, edge after edge: each point meets
// each edge in the same operations as above, so each distance is the same to the last bit. A call
// and a gathering of lanes serve four cells instead of one; most parcels have under eight edges,
// where those cost as much as the edges.
__attribute__((target("avx"))) void four_signed_distances_avx(const EdgeTable& edges, const double* xs,
                                                              const double* ys, double* out) {
    const std::size_t n = edges.edges();
    const auto [ax, ay, bx, by, dx, dy, len2] = edges.columns();
    const __m256d px = _mm256_loadu_pd(xs);
    const __m256d py = _mm256_loadu_pd(ys);
    __m256d least = _mm256_set1_pd(INFINITY);
    __m256d inside = _mm256_setzero_pd();
    for (std::size_t i = 0; i < n; ++i) {
        const EdgeLanes e{_mm256_broadcast_sd(ax + i),  _mm256_broadcast_sd(ay + i), _mm256_broadcast_sd(bx + i),
                          _mm256_broadcast_sd(by + i),  _mm256_broadcast_sd(dx + i), _mm256_broadcast_sd(dy + i),
                          _mm256_broadcast_sd(len2 + i)};
        inside = _mm256_xor_pd(inside, meet_edges_avx(px, py, e, least));
    }
    // Outside, the distance's sign bit set: -d, as -1.0 * d.
    const __m256d sign = _mm256_andnot_pd(inside, _mm256_set1_pd(-0.0));
    _mm256_storeu_pd(out, _mm256_xor_pd(_mm256_sqrt_pd(least), sign));
}

// Asked while statics are made, which may come before the library's own look at the processor.
bool processor_has_avx() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx") != 0;
}
const bool kHaveAvx = processor_has_avx();
#endif

// Signed distance from (x, y) to the outline: positive inside (even-odd over all rings). Per edge,
// the crossing of a ray to the right and the square of the distance to the nearest point of the
// edge, with the terms of the plain formulas, so that every cell gets the same distance to the last
// bit however it is computed. An edge of no length gives t = NaN, so its end a, as it should; the
// smallest square is the same in any order.
double signed_distance(const EdgeTable& edges, double x, double y) {
    const std::size_t n = edges.count();
    const auto [ax, ay, bx, by, dx, dy, len2] = edges.columns();
    unsigned crossings = 0;
    double best = INFINITY;
#if defined(CHIZUVEC_AVX_EDGES)
    if (kHaveAvx) {
        best = least_square_avx(edges, x, y, crossings);
        return (crossings != 0 ? 1.0 : -1.0) * std::sqrt(best);
    }
#endif
#if defined(__SSE2__)
    // Two edges at a time and without branches: which end is nearest varies from edge to edge,
    // and a mispredicted branch costs more than the few operations taken on every edge.
    const __m128d px = _mm_set1_pd(x);
    const __m128d py = _mm_set1_pd(y);
    const __m128d one = _mm_set1_pd(1.0);
    const __m128d zero = _mm_setzero_pd();
    __m128d least = _mm_set1_pd(INFINITY);
    for (std::size_t i = 0; i < n; i += 2) {
        const __m128d a_x = _mm_loadu_pd(ax + i);
        const __m128d a_y = _mm_loadu_pd(ay + i);
        const __m128d d_x = _mm_loadu_pd(dx + i);
        const __m128d d_y = _mm_loadu_pd(dy + i);
        const __m128d from_a_y = _mm_sub_pd(py, a_y);
        const __m128d straddles = _mm_xor_pd(_mm_cmpgt_pd(a_y, py), _mm_cmpgt_pd(_mm_loadu_pd(by + i), py));
        const __m128d meets = _mm_add_pd(_mm_div_pd(_mm_mul_pd(d_x, from_a_y), d_y), a_x);
        crossings ^= static_cast<unsigned>(_mm_movemask_pd(_mm_and_pd(straddles, _mm_cmplt_pd(px, meets))));
        const __m128d t = _mm_div_pd(_mm_add_pd(_mm_mul_pd(_mm_sub_pd(px, a_x), d_x), _mm_mul_pd(from_a_y, d_y)),
                                     _mm_loadu_pd(len2 + i));
        const __m128d beyond = _mm_cmpgt_pd(t, one);
        const __m128d within = _mm_cmpgt_pd(t, zero);
        const auto nearest = [&](__m128d a, __m128d b, __m128d d) {
            const __m128d on = _mm_or_pd(_mm_and_pd(within, _mm_add_pd(a, _mm_mul_pd(d, t))), _mm_andnot_pd(within, a));
            return _mm_or_pd(_mm_and_pd(beyond, b), _mm_andnot_pd(beyond, on));
        };
        const __m128d ex = _mm_sub_pd(px, nearest(a_x, _mm_loadu_pd(bx + i), d_x));
        const __m128d ey = _mm_sub_pd(py, nearest(a_y, _mm_loadu_pd(by + i), d_y));
        least = _mm_min_pd(_mm_add_pd(_mm_mul_pd(ex, ex), _mm_mul_pd(ey, ey)), least);
    }
    double lanes[2];
    _mm_storeu_pd(lanes, least);
    best = std::min(lanes[0], lanes[1]);
    crossings = (crossings ^ (crossings >> 1)) & 1;
#else
    for (std::size_t i = 0; i < n; ++i) {
        if ((ay[i] > y) != (by[i] > y) && x < dx[i] * (y - ay[i]) / dy[i] + ax[i]) crossings ^= 1;
        const double t = ((x - ax[i]) * dx[i] + (y - ay[i]) * dy[i]) / len2[i];
        const double nx = t > 1.0 ? bx[i] : t > 0.0 ? ax[i] + dx[i] * t : ax[i];
        const double ny = t > 1.0 ? by[i] : t > 0.0 ? ay[i] + dy[i] * t : ay[i];
        const double d2 = (x - nx) * (x - nx) + (y - ny) * (y - ny);
        best = d2 < best ? d2 : best;
    }
#endif
    return (crossings != 0 ? 1.0 : -1.0) * std::sqrt(best);
}

struct Rings {
    std::span<const PlanePoint> points;
    std::span<const std::uint32_t> ends;
    const EdgeTable& edges;
};

double signed_distance(const Rings& rings, double x, double y) { return signed_distance(rings.edges, x, y); }

Cell make_cell(const Rings& rings, double x, double y, double h) {
    const double d = signed_distance(rings, x, y);
    return Cell{x, y, h, d, d + h * std::sqrt(2.0)};
}

// Up to four cells of half side `h` at once, each as make_cell makes it.
void make_cells(const Rings& rings, const double* xs, const double* ys, std::size_t count, double h, Cell* out) {
    double d[4];
#if defined(CHIZUVEC_AVX_EDGES)
    if (kHaveAvx) {
        double x4[4] = {xs[0], xs[0], xs[0], xs[0]};
        double y4[4] = {ys[0], ys[0], ys[0], ys[0]};
        for (std::size_t k = 1; k < count; ++k) {
            x4[k] = xs[k];
            y4[k] = ys[k];
        }
        four_signed_distances_avx(rings.edges, x4, y4, d);
    } else
#endif
    {
        for (std::size_t k = 0; k < count; ++k) d[k] = signed_distance(rings, xs[k], ys[k]);
    }
    for (std::size_t k = 0; k < count; ++k) out[k] = Cell{xs[k], ys[k], h, d[k], d[k] + h * std::sqrt(2.0)};
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
    PoleScratch scratch;
    return pole_of_inaccessibility(points, ring_ends, precision, scratch);
}

LabelPoint pole_of_inaccessibility(std::span<const PlanePoint> points, std::span<const std::uint32_t> ring_ends,
                                   double precision, PoleScratch& scratch) {
    // Only rings that lie within `points` and have a point count.
    std::size_t rings_kept = 0;
    std::uint32_t begin = 0;
    for (const std::uint32_t end : ring_ends) {
        if (end > points.size() || end <= begin) break;
        ++rings_kept;
        begin = end;
    }
    if (rings_kept == 0) return {};
    const std::span<const std::uint32_t> ends = ring_ends.first(rings_kept);
    const EdgeTable edges(points, ends, scratch.edges);
    const Rings rings{points.first(ends.back()), ends, edges};

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

    Cell best = centroid_cell(rings);
    const Cell box = make_cell(rings, min_x + width / 2, min_y + height / 2, 0.0);
    if (box.d > best.d) best = box;

    // Cells pop by bound, the first made first among equal bounds, so that the search does not hang
    // on how a heap lays out its entries. Only a cell that may beat the best by more than the
    // precision is queued; the others can never be split (the best only grows) and wait for the end
    // in `spare`, as they would at the bottom of the queue.
    using Entry = PoleScratch::Entry;
    const auto before = [](const Entry& a, const Entry& b) {
        return a.max > b.max || (a.max == b.max && a.cell < b.cell);
    };
    const auto heap_less = [&](const Entry& a, const Entry& b) { return before(b, a); };
    std::vector<Cell>& cells = scratch.cells;
    std::vector<Entry>& queue = scratch.queue;
    std::vector<Entry>& spare = scratch.spare;
    cells.clear();
    queue.clear();
    spare.clear();
    const auto add = [&](const Cell& cell) {
        const Entry entry{cell.max, static_cast<std::uint32_t>(cells.size())};
        cells.push_back(cell);
        if (cell.max - best.d > precision) {
            queue.push_back(entry);
            std::push_heap(queue.begin(), queue.end(), heap_less);
        } else {
            spare.push_back(entry);
            if (before(entry, spare.front())) std::swap(spare.front(), spare.back());  // the first to pop in front
        }
    };
    // The grid's cells made four at a time, in order.
    const double h = cell_size / 2;
    double xs[4], ys[4];
    Cell made[4];
    std::size_t pending = 0;
    const auto add_pending = [&] {
        make_cells(rings, xs, ys, pending, h, made);
        for (std::size_t k = 0; k < pending; ++k) add(made[k]);
        pending = 0;
    };
    for (double x = min_x; x < max_x; x += cell_size) {
        for (double y = min_y; y < max_y; y += cell_size) {
            xs[pending] = x + h;
            ys[pending] = y + h;
            if (++pending == 4) add_pending();
        }
    }
    if (pending > 0) add_pending();

    std::size_t examined = 0;
    while (examined < budget && !queue.empty()) {
        const Entry top = queue.front();
        // Once the next cell cannot be split, none after it can.
        if (!spare.empty() && before(spare.front(), top)) break;
        const Cell cell = cells[top.cell];
        if (cell.max - std::max(best.d, cell.d) <= precision) break;
        std::pop_heap(queue.begin(), queue.end(), heap_less);
        queue.pop_back();
        ++examined;
        if (cell.d > best.d) best = cell;
        const double half = cell.h / 2;
        const double quarter_x[4] = {cell.x - half, cell.x + half, cell.x - half, cell.x + half};
        const double quarter_y[4] = {cell.y - half, cell.y - half, cell.y + half, cell.y + half};
        make_cells(rings, quarter_x, quarter_y, 4, half, made);
        for (const Cell& quarter : made) add(quarter);
    }
    // What popping the rest within the budget would do: make the farthest of them the best, the
    // first to pop among equals.
    std::vector<Entry>& rest = spare;
    rest.insert(rest.end(), queue.begin(), queue.end());
    const std::size_t looked_at = std::min(rest.size(), budget - examined);
    if (looked_at < rest.size()) {
        std::nth_element(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(looked_at), rest.end(), before);
    }
    const Entry* farthest = nullptr;
    for (std::size_t k = 0; k < looked_at; ++k) {
        const Entry& e = rest[k];
        const double d = cells[e.cell].d;
        if (farthest == nullptr
                ? d > best.d
                : d > cells[farthest->cell].d || (d == cells[farthest->cell].d && before(e, *farthest))) {
            farthest = &e;
        }
    }
    if (farthest != nullptr) best = cells[farthest->cell];
    return LabelPoint{best.x, best.y, std::max(best.d, 0.0)};
}

}  // namespace chizuvec
