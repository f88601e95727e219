// The highlight flags set by the lot numbers named on the command line.
#pragma once

#include <string>
#include <vector>

#include "model/map_dataset.hpp"

namespace chizuvec {

// Clears every hilite flag, then sets it on each parcel whose chiban, or address followed by chiban,
// equals one of `keys` (UTF-8).
void select_highlights(MapDataset& dataset, const std::vector<std::string>& keys);

}  // namespace chizuvec
