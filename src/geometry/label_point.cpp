#include "geometry/label_point.hpp"

#include <cmath>
#include <span>

namespace chizuvec {
namespace {

// Is (x, y) inside the shape? Crossings of a ray over every ring (even-odd), so both turning
// directions count and a point in a hole is outside.
bool inside_shape(const LabelScratch& shape, double x, double y) {
    bool inside = false;
    std::size_t begin = 0;
    for (const std::uint32_t end : shape.ends) {
        for (std::size_t i = begin, j = end - 1; i < end; j = i++) {
            const PlanePoint& a = shape.points[i];
            const PlanePoint& b = shape.points[j];
            if ((a.y > y) != (b.y > y) && x < (b.x - a.x) * (y - a.y) / (b.y - a.y) + a.x) inside = !inside;
        }
        begin = end;
    }
    return inside;
}

}  // namespace

PlanePoint parcel_label_point(const MapDataset& dataset, const Parcel& parcel, double precision,
                              LabelScratch& scratch) {
    PlanePoint label{parcel.centroid_x, parcel.centroid_y};
    scratch.points.clear();
    scratch.ends.clear();
    bool finite = true;
    const std::span<const std::uint32_t> indexes = parcel_outline(dataset, parcel);
    std::size_t at = 0;
    for (const OutlineRing& ring : parcel_rings(dataset, parcel)) {
        for (std::size_t k = 0; k < ring.count && at < indexes.size(); ++k, ++at) {
            if (indexes[at] >= dataset.points.size()) continue;
            const MapPoint& point = dataset.points[indexes[at]];
            finite = finite && std::isfinite(point.x) && std::isfinite(point.y);
            scratch.points.push_back({point.x, point.y});
        }
        if (scratch.ends.empty() ? !scratch.points.empty() : scratch.points.size() > scratch.ends.back()) {
            scratch.ends.push_back(static_cast<std::uint32_t>(scratch.points.size()));
        }
    }
    // An outline with a point at infinity has no inside to speak of.
    if (finite && scratch.points.size() >= 3 && parcel.area != 0.0 && !inside_shape(scratch, label.x, label.y)) {
        const LabelPoint pole = pole_of_inaccessibility(scratch.points, scratch.ends, precision, scratch.pole);
        label = {pole.x, pole.y};
    }
    return label;
}

}  // namespace chizuvec
