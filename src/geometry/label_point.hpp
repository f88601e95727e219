// Where a parcel's lot number stands, in map coordinates: one rule for every view of the page (the
// drawing, the DXF), so that they put each label at the same point.
#pragma once

#include <vector>

#include "geometry/polygon_assembly.hpp"
#include "geometry/polylabel.hpp"
#include "model/map_dataset.hpp"

namespace chizuvec {

// The centroid of an outlined parcel with a centroid, or, when that lies outside its outline (road
// strips, L shapes), the pole of inaccessibility found to `precision` metres. `scratch` is reused
// between calls.
PlanePoint parcel_label_point(const MapDataset& dataset, const Parcel& parcel, double precision,
                              std::vector<PlanePoint>& scratch);

}  // namespace chizuvec
