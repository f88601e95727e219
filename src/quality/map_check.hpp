// The quality check of one map file: every fault of its geometry, references, lots, sheets and
// coordinate system, as findings.
#pragma once

#include <vector>

#include "model/map_dataset.hpp"
#include "quality/findings.hpp"

namespace chizuvec {

// Checks a map file read with the GIS detail (ReadOptions::gis_detail) and appends what it finds.
// Work and memory are linear in the file, but for the pairs of parcels whose boxes meet. A file cut
// off (`cut_off`) has lost the sheets at its end: parcels that no sheet lists are not told then.
void check_map(const MapDataset& dataset, const MapHeader& header, bool cut_off, std::vector<Finding>& findings);

}  // namespace chizuvec
