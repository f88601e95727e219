// The packed Hilbert R-tree of a FlatGeobuf file: the order of the features (by the Hilbert value
// of their box centres) and the tree over their boxes, as the format lays it out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "gis/gis_encoding.hpp"

namespace chizuvec {

// The position of cell (x, y) along the Hilbert curve that fills a 65536 x 65536 grid.
std::uint32_t hilbert_value(std::uint32_t x, std::uint32_t y);

// The sort key of a box: the Hilbert value of its centre on a grid laid over `extent`, 2^32 (after
// every value) for an empty box.
std::uint64_t hilbert_key(const GisEnvelope& box, const GisEnvelope& extent);

// Reorders `order` (indices into `boxes`) by the Hilbert value of each box's centre on a grid laid
// over `extent`; boxes with the same value keep their order, empty boxes go last.
void hilbert_order(std::span<const GisEnvelope> boxes, const GisEnvelope& extent, std::vector<std::size_t>& order);

// The tree over the leaf boxes in file order, each with its feature's byte offset in the feature
// section: nodes of 40 bytes (min x, min y, max x, max y, offset), the root first and the leaves
// last; an inner node's offset is the number of its first child. Empty for no leaves.
GisBytes packed_rtree(std::span<const GisEnvelope> leaves, std::span<const std::uint64_t> offsets,
                      std::uint16_t node_size);

}  // namespace chizuvec
