// The parcels of map files as CSV for spreadsheets: UTF-8, RFC 4180 quoting, CR LF line ends.
#pragma once

#include <string>
#include <string_view>

#include "model/map_dataset.hpp"

namespace chizuvec {

// The UTF-8 byte order mark that a file written for spreadsheets begins with.
inline constexpr std::string_view kCsvByteOrderMark = "\xEF\xBB\xBF";

// The header row.
std::string_view csv_header();

// One row per parcel of `dataset`, measured with every parcel selected. `map_file` and
// `coord_system` are UTF-8.
void append_csv_rows(std::string& out, const MapDataset& dataset, std::string_view map_file,
                     std::string_view coord_system);

}  // namespace chizuvec
