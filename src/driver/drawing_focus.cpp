#include "driver/drawing_focus.hpp"

#include <algorithm>
#include <cmath>

namespace chizuvec {
namespace {

constexpr double kLargest = 1.7976931348623157e308;

// Grows `box` by the outline points of `parcel`; false when it has none.
bool add_outline(const MapDataset& dataset, const Parcel& parcel, BoundingBox& box) {
    bool any = false;
    for (const std::uint32_t index : parcel_outline(dataset, parcel)) {
        if (index >= dataset.points.size()) continue;
        const MapPoint& point = dataset.points[index];
        box.min_x = std::min(box.min_x, point.x);
        box.max_x = std::max(box.max_x, point.x);
        box.min_y = std::min(box.min_y, point.y);
        box.max_y = std::max(box.max_y, point.y);
        any = true;
    }
    return any;
}

// The middle value (the upper one of an even count), reordering `values`.
double median_of(std::vector<double>& values) {
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

}  // namespace

bool outline_box(const MapDataset& dataset, std::span<const std::uint32_t> positions, BoundingBox& box) {
    BoundingBox grown{kLargest, -kLargest, kLargest, -kLargest};
    bool any = false;
    for (const std::uint32_t at : positions) {
        if (at < dataset.parcels.size() && add_outline(dataset, dataset.parcels[at], grown)) any = true;
    }
    if (any) box = grown;
    return any;
}

CropSelection parcels_meeting(const MapDataset& dataset, const BoundingBox& crop) {
    CropSelection result;
    for (std::size_t j = 0; j < dataset.parcels.size(); ++j) {
        const Parcel& parcel = dataset.parcels[j];
        BoundingBox box{kLargest, -kLargest, kLargest, -kLargest};
        if (!parcel.has_outline || !add_outline(dataset, parcel, box)) continue;
        if (box.max_x < crop.min_x || box.min_x > crop.max_x || box.max_y < crop.min_y || box.min_y > crop.max_y) {
            continue;
        }
        result.selection.push_back(static_cast<std::uint32_t>(j));
        result.drawn_points += parcel_outline(dataset, parcel).size();
    }
    return result;
}

std::vector<std::uint32_t> outlying_parcels(const MapDataset& dataset) {
    std::vector<std::uint32_t> at;
    std::vector<double> xs;
    std::vector<double> ys;
    for (std::size_t j = 0; j < dataset.parcels.size(); ++j) {
        const Parcel& parcel = dataset.parcels[j];
        if (!parcel.selected || !parcel.has_centroid) continue;
        if (!std::isfinite(parcel.centroid_x) || !std::isfinite(parcel.centroid_y)) continue;
        at.push_back(static_cast<std::uint32_t>(j));
        xs.push_back(parcel.centroid_x);
        ys.push_back(parcel.centroid_y);
    }
    if (at.size() < 3) return {};
    const double centre_x = median_of(xs);
    const double centre_y = median_of(ys);
    std::vector<double> distances(at.size());
    for (std::size_t k = 0; k < at.size(); ++k) {
        const Parcel& parcel = dataset.parcels[at[k]];
        distances[k] = std::hypot(parcel.centroid_x - centre_x, parcel.centroid_y - centre_y);
    }
    std::vector<double> ordered = distances;
    const double median = median_of(ordered);
    // Half the parcels on one centre (shared surfaces) give no distance to measure the rest by.
    if (!(median > 0.0)) return {};
    std::vector<std::uint32_t> outliers;
    for (std::size_t k = 0; k < at.size(); ++k) {
        if (distances[k] > kOutlierFactor * median) outliers.push_back(at[k]);
    }
    return outliers;
}

std::vector<std::uint32_t> parcels_besides(const MapDataset& dataset, const std::vector<std::uint32_t>& outliers) {
    std::vector<std::uint32_t> rest;
    std::size_t next = 0;
    for (std::size_t j = 0; j < dataset.parcels.size(); ++j) {
        if (next < outliers.size() && outliers[next] == j) {
            ++next;
            continue;
        }
        if (dataset.parcels[j].selected && dataset.parcels[j].has_outline)
            rest.push_back(static_cast<std::uint32_t>(j));
    }
    return rest;
}

}  // namespace chizuvec
