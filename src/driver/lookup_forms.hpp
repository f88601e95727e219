// Map numbers as people type them, and the list of sheets when one is not found.
#pragma once

#include <string>
#include <string_view>

#include "model/map_dataset.hpp"

namespace chizuvec {

// The map number to draw for `wanted`: itself when a sheet lists parcels under it, else the one
// sheet number equal to it in the normal form of typed lots with ASCII letter case and spaces
// ignored; itself again when no sheet or several match that way.
std::string matching_map_number(const MapDataset& dataset, const std::string& wanted);

// "Map sheets in NAME: M105-1, M300 ...\n" (at most 20) when `map_no` is not empty and no sheet
// lists parcels under it; else "".
std::string map_sheets_text(const MapDataset& dataset, std::string_view file_name, const std::string& map_no);

}  // namespace chizuvec
