// The listing printed when the program is given only an input file: a two-line header and one line
// per parcel with its area.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "model/map_dataset.hpp"

namespace chizuvec {

// `input_path` is in the ANSI code page; `map_name` and `coord_system` are UTF-8 as read. Control
// bytes other than tab in any of the values are printed as "?".
void print_parcel_listing(const MapDataset& dataset, std::uint32_t console_code_page, std::uint32_t ansi_code_page,
                          std::string_view input_path, std::string_view map_name, std::string_view coord_system,
                          std::FILE* out = stdout);

// The bytes print_parcel_listing writes, appended to `out`.
void append_parcel_listing(std::string& out, const MapDataset& dataset, std::uint32_t console_code_page,
                           std::uint32_t ansi_code_page, std::string_view input_path, std::string_view map_name,
                           std::string_view coord_system);

// Every map sheet (図郭) of a map read with the GIS detail, in file order, empty ones too: its map
// number, scale ("-" when none), how many parcels it lists and its 地図分類, under a head line as
// the parcel listing's; in the code pages as the parcel listing.
void append_sheet_listing(std::string& out, const MapDataset& dataset, std::uint32_t console_code_page,
                          std::uint32_t ansi_code_page, std::string_view input_path, std::string_view map_name,
                          std::string_view coord_system);

}  // namespace chizuvec
