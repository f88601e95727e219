// The part of a map a drawing shows when it is not the whole file: the neighbourhood of named lots
// (--around) and the main cluster of a map with a few parcels far from the rest (--fit-core). Reads
// the outlined and measured dataset; writes nothing.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "geometry/polygon_assembly.hpp"
#include "model/map_dataset.hpp"

namespace chizuvec {

// The box of the outline points of the parcels at `positions`; false when they have none.
bool outline_box(const MapDataset& dataset, std::span<const std::uint32_t> positions, BoundingBox& box);

// The outlined parcels whose outline box meets `crop` (edges touching count), ascending, and the
// points of their outlines.
struct CropSelection {
    std::vector<std::uint32_t> selection;
    std::uint64_t drawn_points = 0;
};
CropSelection parcels_meeting(const MapDataset& dataset, const BoundingBox& crop);

// Parcels whose centre lies more than this many times the median distance from the median centre.
inline constexpr double kOutlierFactor = 10.0;

// The selected, measured parcels lying that far from the rest, ascending: the median centre is
// taken coordinate by coordinate, and each distance is from it. Linear in the parcels (medians by
// selection, not sorting); none when fewer than three parcels have a centre, or when at least
// half of them share the median centre.
std::vector<std::uint32_t> outlying_parcels(const MapDataset& dataset);

// The outlined parcels not at `outliers` (ascending), for the extent of the rest.
std::vector<std::uint32_t> parcels_besides(const MapDataset& dataset, const std::vector<std::uint32_t>& outliers);

}  // namespace chizuvec
