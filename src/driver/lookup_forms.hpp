// Map numbers as people type them, and the list of sheets when one is not found.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "model/map_dataset.hpp"

namespace chizuvec {

// The map number to draw for `wanted`: itself when a sheet lists parcels under it, else the one
// sheet number equal to it in the normal form of typed lots with ASCII letter case and spaces
// ignored; itself again when no sheet or several match that way.
std::string matching_map_number(const MapDataset& dataset, const std::string& wanted);

// "Map sheets in NAME: M105-1, M300 ...\n" (at most 20, then how many more and the --sheets command
// that lists them) when `map_no` is not empty and no sheet
// lists parcels under it; else "".
std::string map_sheets_text(const MapDataset& dataset, std::string_view file_name, const std::string& map_no);

// At most `shown` of `candidates`, nearest to `wanted` first (edit distance in the loose form of
// typed map numbers), ties in their own order.
std::vector<std::string> nearest_texts(const std::vector<std::string>& candidates, std::string_view wanted,
                                       std::size_t shown);

// The error for a map number (as typed) that no sheet lists and no parcel carries: that nothing was
// written, the nearest sheet numbers and every sheet; "" when some sheet or parcel has it.
std::string missing_sheet_text(const MapDataset& dataset, std::string_view file_name, const std::string& map_no);

}  // namespace chizuvec
