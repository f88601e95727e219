// Where a parcel's lot number stands, in map coordinates: one rule for every view of the page (the
// drawing, the DXF), so that they put each label at the same point.
#pragma once

#include <cstdint>
#include <vector>

#include "geometry/polygon_assembly.hpp"
#include "geometry/polylabel.hpp"
#include "model/map_dataset.hpp"

namespace chizuvec {

// Buffers reused between calls: the shape's points and where each of its rings ends.
struct LabelScratch {
    std::vector<PlanePoint> points;
    std::vector<std::uint32_t> ends;
    PoleScratch pole;
};

// The centroid of an outlined parcel with a centroid, or, when that lies outside its shape (road
// strips, L shapes, a hole), the pole of inaccessibility found to `precision` metres. A shape of no
// area keeps the centroid of its points.
PlanePoint parcel_label_point(const MapDataset& dataset, const Parcel& parcel, double precision, LabelScratch& scratch);

}  // namespace chizuvec
