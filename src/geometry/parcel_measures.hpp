// Area and centroid of each selected parcel from its outline.
#pragma once

#include <string_view>

#include "model/map_dataset.hpp"

namespace chizuvec {

// Writes area, centroid_x, centroid_y and has_centroid of every parcel selected by `map_no`.
void measure_parcels(MapDataset& dataset, std::string_view map_no);

}  // namespace chizuvec
