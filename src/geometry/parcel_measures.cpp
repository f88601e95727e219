#include "geometry/parcel_measures.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

#include "geometry/polygon_assembly.hpp"
#include "model/id_index.hpp"

namespace chizuvec {
namespace {

bool finite(double a, double b) { return std::isfinite(a) && std::isfinite(b); }

// The centroid from the shoelace sums; a shape of no area (fewer than three points, or all on one
// line) has the mean of its points, so that its label stays by it.
void set_centroid(double s, double sx, double sy, double mean_x, double mean_y, Parcel& parcel) {
    const double three_s = 3.0 * s;
    double cx = s != 0.0 ? sx / three_s : 0.0;
    double cy = s != 0.0 ? sy / three_s : 0.0;
    if (s == 0.0 || !finite(cx, cy)) {
        cx = mean_x;
        cy = mean_y;
    }
    if (!finite(cx, cy)) return;
    parcel.centroid_x = cx;
    parcel.centroid_y = cy;
    parcel.has_centroid = true;
}

// Area and centroid of a non-empty outline of one ring: the shoelace sums, taken in outline order
// with the ring closed from the last point back to the first.
void measure_outline(const MapDataset& dataset, std::span<const std::uint32_t> outline, Parcel& parcel) {
    parcel.area = 0.0;
    parcel.centroid_x = 0.0;
    parcel.centroid_y = 0.0;
    parcel.has_centroid = false;

    const auto& points = dataset.points;
    const std::size_t end = outline.size();
    double s = 0.0, sx = 0.0, sy = 0.0;
    double sum_x = 0.0, sum_y = 0.0;
    for (std::size_t k = 0; k < end; ++k) {
        const MapPoint& p = points[outline[k]];
        const MapPoint& q = points[outline[k + 1 < end ? k + 1 : 0]];
        const double c = p.x * q.y - p.y * q.x;
        s += c;
        sx += (p.x + q.x) * c;
        sy += (p.y + q.y) * c;
        sum_x += p.x;
        sum_y += p.y;
    }
    parcel.area = std::fabs(s) * 0.5;

    const auto n = static_cast<double>(end);
    set_centroid(s, sx, sy, sum_x / n, sum_y / n, parcel);
}

// The same for an outline with holes or several rings: each outline ring adds its area and each hole
// takes its own away, whichever way the rings run; the centroid is that of the shape with its holes.
void measure_rings(const MapDataset& dataset, std::span<const std::uint32_t> outline,
                   std::span<const OutlineRing> rings, Parcel& parcel) {
    parcel.area = 0.0;
    parcel.centroid_x = 0.0;
    parcel.centroid_y = 0.0;
    parcel.has_centroid = false;

    const auto& points = dataset.points;
    double s = 0.0, sx = 0.0, sy = 0.0;
    double sum_x = 0.0, sum_y = 0.0, outline_points = 0.0;  // of the outline rings, for a shape of no area
    std::size_t first = 0;
    for (const OutlineRing& ring : rings) {
        const std::size_t end = std::min(first + ring.count, outline.size());
        double rs = 0.0, rsx = 0.0, rsy = 0.0;
        for (std::size_t k = first; k < end; ++k) {
            const MapPoint& p = points[outline[k]];
            const MapPoint& q = points[outline[k + 1 < end ? k + 1 : first]];
            const double c = p.x * q.y - p.y * q.x;
            rs += c;
            rsx += (p.x + q.x) * c;
            rsy += (p.y + q.y) * c;
            if (!ring.hole) {
                sum_x += p.x;
                sum_y += p.y;
                outline_points += 1.0;
            }
        }
        // Outline rings count positive, holes negative.
        const double sign = (rs < 0.0) != ring.hole ? -1.0 : 1.0;
        s += sign * rs;
        sx += sign * rsx;
        sy += sign * rsy;
        first = end;
    }
    parcel.area = s > 0.0 ? s * 0.5 : 0.0;

    // Holes as large as their outline leave no area.
    set_centroid(s > 0.0 ? s : 0.0, sx, sy, sum_x / outline_points, sum_y / outline_points, parcel);
}

}  // namespace

void measure_parcels(MapDataset& dataset) {
    // For each outline, by its first entry, the parcel that measured it: a shared outline is
    // measured once and its figures copied.
    std::vector<std::uint32_t> measured_by(dataset.vertex_index_list.size(), kNoRecord);
    for (std::size_t j = 0; j < dataset.parcels.size(); ++j) {
        Parcel& parcel = dataset.parcels[j];
        if (!parcel.selected) continue;
        const std::span<const std::uint32_t> outline = parcel_outline(dataset, parcel);
        if (outline.empty()) {
            // Assembly stopped before this parcel, or its outline is empty: nothing to measure.
            parcel.area = 0.0;
            parcel.centroid_x = 0.0;
            parcel.centroid_y = 0.0;
            parcel.has_centroid = false;
            continue;
        }
        std::uint32_t& first_measure = measured_by[parcel.first_vertex];
        if (first_measure != kNoRecord) {
            const Parcel& measured = dataset.parcels[first_measure];
            parcel.area = measured.area;
            parcel.centroid_x = measured.centroid_x;
            parcel.centroid_y = measured.centroid_y;
            parcel.has_centroid = measured.has_centroid;
            continue;
        }
        const std::span<const OutlineRing> rings = parcel_rings(dataset, parcel);
        if (rings.size() > 1) {
            measure_rings(dataset, outline, rings, parcel);
        } else {
            measure_outline(dataset, outline, parcel);
        }
        first_measure = static_cast<std::uint32_t>(j);
    }
}

}  // namespace chizuvec
