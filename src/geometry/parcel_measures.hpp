// Area and centroid of each selected parcel from its outline.
#pragma once

#include "model/map_dataset.hpp"

namespace chizuvec {

// Writes area, centroid_x, centroid_y and has_centroid of every parcel that polygon assembly
// selected; parcels that share an outline share its figures, computed once.
void measure_parcels(MapDataset& dataset);

}  // namespace chizuvec
