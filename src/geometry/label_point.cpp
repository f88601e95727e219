#include "geometry/label_point.hpp"

#include <cmath>

namespace chizuvec {
namespace {

// Is (x, y) inside the closed outline? Crossings of a ray, so both turning directions count.
bool inside_outline(const std::vector<PlanePoint>& outline, double x, double y) {
    bool inside = false;
    for (std::size_t i = 0, j = outline.size() - 1; i < outline.size(); j = i++) {
        const PlanePoint& a = outline[i];
        const PlanePoint& b = outline[j];
        if ((a.y > y) != (b.y > y) && x < (b.x - a.x) * (y - a.y) / (b.y - a.y) + a.x) inside = !inside;
    }
    return inside;
}

}  // namespace

PlanePoint parcel_label_point(const MapDataset& dataset, const Parcel& parcel, double precision,
                              std::vector<PlanePoint>& scratch) {
    PlanePoint label{parcel.centroid_x, parcel.centroid_y};
    scratch.clear();
    bool finite = true;
    for (const std::uint32_t index : parcel_outline(dataset, parcel)) {
        if (index >= dataset.points.size()) continue;
        const MapPoint& point = dataset.points[index];
        finite = finite && std::isfinite(point.x) && std::isfinite(point.y);
        scratch.push_back({point.x, point.y});
    }
    // An outline with a point at infinity has no inside to speak of.
    if (finite && scratch.size() >= 3 && !inside_outline(scratch, label.x, label.y)) {
        const std::uint32_t ends[] = {static_cast<std::uint32_t>(scratch.size())};
        const LabelPoint pole = pole_of_inaccessibility(scratch, ends, precision);
        label = {pole.x, pole.y};
    }
    return label;
}

}  // namespace chizuvec
