// The parcels of map files as rows for --csv (CSV or workbook): one row per parcel, in the columns
// below.
#pragma once

#include <string_view>

#include "driver/row_writer.hpp"
#include "model/map_dataset.hpp"

namespace chizuvec {

// The columns of a parcel row, in this order. New columns go last: readers of the earlier ones keep
// their positions.
inline constexpr RowColumn kListingColumns[] = {
    {"map_file"},
    {"parcel_id", RowCellType::integer},
    {"address"},
    {"lot_number"},
    {"sheets"},  // every sheet that lists the parcel, joined by ';'
    {"coordinate_system"},
    {"area_m2", RowCellType::real, 1},
    {"centroid_x", RowCellType::real, 3},  // null when the outline gave no point
    {"centroid_y", RowCellType::real, 3},
    {"parcel_id_text"},   // 筆ID as the map gives it
    {"coordinate_unit"},  // "m", or "map" for a 任意座標系 map's own unit
};

// One row per parcel of `dataset`, measured with every parcel selected, appended to `out` (of
// kListingColumns' width). `map_file` and `coord_system` are UTF-8.
void append_listing_rows(RowBatch& out, const MapDataset& dataset, std::string_view map_file,
                         std::string_view coord_system);

}  // namespace chizuvec
