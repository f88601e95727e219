// Area and centroid of each selected parcel from its outline, and the highlight flags set by the
// command line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "mapxml/map_dataset.hpp"

namespace chizuvec {

// Writes area, centroid_x, centroid_y and has_centroid of every parcel selected by `map_no`.
void measure_parcels(MapDataset& dataset, std::string_view map_no);

// Clears every hilite flag, then sets it on each parcel whose chiban, or address followed by chiban,
// equals one of `keys` (UTF-8).
void select_highlights(MapDataset& dataset, const std::vector<std::string>& keys);

}  // namespace chizuvec
