// Loads one map file (plain .xml, or .zip holding it) into the MapDataset and the MapHeader. The
// reader is line-oriented: it recognises a fixed set of tags by substring search within each line
// and skips everything else.
#pragma once

#include <string>

#include "model/map_dataset.hpp"

namespace chizuvec {

inline constexpr int kReadOk = 0;
inline constexpr int kReadNotFound = 1;     // the input does not exist or cannot be opened
inline constexpr int kReadNoMemory = 2;     // an array of the dataset could not grow
inline constexpr int kReadZipFailed = 3;    // extraction failed; "** Error: ZIP error code %d\n" is printed

// Reads `input_path` into `dataset` (which must be empty) and `header` (passed empty; a field is
// changed only when its element is met).
int read_map_xml(const std::string& input_path, MapDataset& dataset, MapHeader& header);

}  // namespace chizuvec
