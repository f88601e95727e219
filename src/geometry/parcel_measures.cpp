#include "geometry/parcel_measures.hpp"

#include <cmath>
#include <cstdint>

#include "geometry/polygon_assembly.hpp"

namespace chizuvec {
namespace {

bool finite(double a, double b) { return std::isfinite(a) && std::isfinite(b); }

// Area and centroid of the outline vertex_index_list[first, end): the shoelace sums, taken in outline
// order with the ring closed from the last point back to the first.
void measure_outline(const MapDataset& dataset, std::size_t first, std::size_t end, Parcel& parcel) {
    parcel.area = 0.0;
    parcel.centroid_x = 0.0;
    parcel.centroid_y = 0.0;
    parcel.has_centroid = false;
    if (first >= end) return;

    const auto& points = dataset.points;
    const auto& list = dataset.vertex_index_list;
    double s = 0.0, sx = 0.0, sy = 0.0;
    double sum_x = 0.0, sum_y = 0.0;
    for (std::size_t k = first; k < end; ++k) {
        const MapPoint& p = points[list[k]];
        const MapPoint& q = points[list[k + 1 < end ? k + 1 : first]];
        const double c = p.x * q.y - p.y * q.x;
        s += c;
        sx += (p.x + q.x) * c;
        sy += (p.y + q.y) * c;
        sum_x += p.x;
        sum_y += p.y;
    }
    parcel.area = std::fabs(s) * 0.5;

    const double three_s = 3.0 * s;
    double cx = s != 0.0 ? sx / three_s : 0.0;
    double cy = s != 0.0 ? sy / three_s : 0.0;
    // No area (fewer than three points, or all on one line): the label goes to the points' mean.
    if (s == 0.0 || !finite(cx, cy)) {
        const auto n = static_cast<double>(end - first);
        cx = sum_x / n;
        cy = sum_y / n;
    }
    if (!finite(cx, cy)) return;
    parcel.centroid_x = cx;
    parcel.centroid_y = cy;
    parcel.has_centroid = true;
}

}  // namespace

void measure_parcels(MapDataset& dataset, std::string_view map_no) {
    const std::size_t written = dataset.vertex_index_list.size();
    // The first entry of the parcel being measured: assembly wrote the selected outlines end to end.
    std::uint64_t cursor = 0;
    for (Parcel& parcel : dataset.parcels) {
        if (!parcel_selected(parcel, map_no)) continue;
        if (!parcel.has_outline) {
            // Assembly stopped before this parcel: it has no outline to measure.
            parcel.area = 0.0;
            parcel.centroid_x = 0.0;
            parcel.centroid_y = 0.0;
            parcel.has_centroid = false;
            continue;
        }
        // One past the last entry; last_vertex wraps to UINT32_MAX for an empty outline at the start.
        std::uint64_t end = static_cast<std::uint32_t>(parcel.last_vertex + 1u);
        if (end < cursor) end = cursor;
        if (end > written) end = written;
        const std::uint64_t first = cursor < end ? cursor : end;
        measure_outline(dataset, static_cast<std::size_t>(first), static_cast<std::size_t>(end), parcel);
        cursor = end > cursor ? end : cursor;
    }
}

}  // namespace chizuvec
