#include "gis/hilbert_rtree.hpp"

#include <algorithm>
#include <cmath>

namespace chizuvec {

namespace {

constexpr std::uint32_t kHilbertSide = 65536;

// Where the box's centre falls on the grid over the extent, clamped to it.
std::uint32_t grid_cell(double value, double min, double span) {
    if (!(span > 0.0)) return 0;
    const double cell = std::floor((value - min) / span * (kHilbertSide - 1));
    return static_cast<std::uint32_t>(std::clamp(cell, 0.0, double{kHilbertSide - 1}));
}

}  // namespace

std::uint32_t hilbert_value(std::uint32_t x, std::uint32_t y) {
    std::uint64_t d = 0;
    for (std::uint32_t s = kHilbertSide / 2; s > 0; s /= 2) {
        const std::uint32_t rx = (x & s) != 0 ? 1 : 0;
        const std::uint32_t ry = (y & s) != 0 ? 1 : 0;
        d += std::uint64_t{s} * s * ((3 * rx) ^ ry);
        // Turn the quadrant so the curve inside it starts and ends where the next level expects.
        if (ry == 0) {
            if (rx == 1) {
                x = kHilbertSide - 1 - x;
                y = kHilbertSide - 1 - y;
            }
            std::swap(x, y);
        }
    }
    return static_cast<std::uint32_t>(d);
}

std::uint64_t hilbert_key(const GisEnvelope& box, const GisEnvelope& extent) {
    if (box.empty()) return std::uint64_t{1} << 32;
    return hilbert_value(grid_cell((box.min_x + box.max_x) / 2, extent.min_x, extent.max_x - extent.min_x),
                         grid_cell((box.min_y + box.max_y) / 2, extent.min_y, extent.max_y - extent.min_y));
}

void hilbert_order(std::span<const GisEnvelope> boxes, const GisEnvelope& extent, std::vector<std::size_t>& order) {
    std::vector<std::uint64_t> keys(boxes.size());
    for (std::size_t i = 0; i < boxes.size(); ++i) keys[i] = hilbert_key(boxes[i], extent);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
}

GisBytes packed_rtree(std::span<const GisEnvelope> leaves, std::span<const std::uint64_t> offsets,
                      std::uint16_t node_size) {
    GisBytes out;
    if (leaves.empty() || node_size < 2) return out;
    // Nodes per level, leaves first, up to the single root.
    std::vector<std::size_t> level_sizes{leaves.size()};
    do {
        level_sizes.push_back((level_sizes.back() + node_size - 1) / node_size);
    } while (level_sizes.back() != 1);
    std::size_t total = 0;
    for (const std::size_t n : level_sizes) total += n;
    // The first node of each level in the file: the root level first.
    std::vector<std::size_t> level_starts(level_sizes.size());
    std::size_t start = total;
    for (std::size_t l = 0; l < level_sizes.size(); ++l) {
        start -= level_sizes[l];
        level_starts[l] = start;
    }
    std::vector<GisEnvelope> boxes(total);
    std::vector<std::uint64_t> node_offsets(total);
    std::copy(leaves.begin(), leaves.end(), boxes.begin() + static_cast<std::ptrdiff_t>(level_starts[0]));
    std::copy(offsets.begin(), offsets.end(), node_offsets.begin() + static_cast<std::ptrdiff_t>(level_starts[0]));
    for (std::size_t l = 0; l + 1 < level_sizes.size(); ++l) {
        for (std::size_t parent = 0; parent < level_sizes[l + 1]; ++parent) {
            const std::size_t first = level_starts[l] + parent * node_size;
            const std::size_t end = std::min(first + node_size, level_starts[l] + level_sizes[l]);
            GisEnvelope box;
            for (std::size_t child = first; child < end; ++child) box.add(boxes[child]);
            boxes[level_starts[l + 1] + parent] = box;
            node_offsets[level_starts[l + 1] + parent] = first;
        }
    }
    out.reserve(total * 40);
    for (std::size_t i = 0; i < total; ++i) {
        put_f64_le(out, boxes[i].min_x);
        put_f64_le(out, boxes[i].min_y);
        put_f64_le(out, boxes[i].max_x);
        put_f64_le(out, boxes[i].max_y);
        put_u64_le(out, node_offsets[i]);
    }
    return out;
}

}  // namespace chizuvec
