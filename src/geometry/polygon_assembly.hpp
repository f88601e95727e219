// Turns the shape of every selected parcel into its outline: a run of point positions in the
// dataset's vertex_index_list. Selection is by map number; an empty map number selects every
// parcel. The outlines lie end to end in parcel order, and each parcel records the end of its run
// (last_vertex); readers walk the parcels with the same selection test and one running position.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string_view>

#include "model/map_dataset.hpp"

namespace chizuvec {

struct BoundingBox {
    double min_x = 0.0;
    double max_x = 0.0;
    double min_y = 0.0;
    double max_y = 0.0;
};

// The selection test shared by assembly, measures and the writer.
inline bool parcel_selected(const Parcel& parcel, std::string_view map_no) {
    return map_no.empty() || map_no == std::string_view(parcel.map_no);
}

// Builds the outlines of the parcels selected by `map_no` and fills `bounds`. Returns the number of
// vertex_index_list entries written; 0 when nothing was selected or assembly stopped on an error.
// Messages go to `messages` (standard error in the program).
std::uint32_t assemble_outlines(MapDataset& dataset, std::string_view map_no, BoundingBox& bounds,
                                std::FILE* messages = stderr);

}  // namespace chizuvec
