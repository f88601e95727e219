// Lookup of records by identifier number, built once so that resolving a reference costs O(1)
// instead of a scan. Where a number occurs more than once, the first record in array order wins:
// insert in array order and later inserts of the same number are ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "model/large_array.hpp"

namespace chizuvec {

inline constexpr std::uint32_t kNoRecord = 0xFFFFFFFFu;

struct IdIndex {
    // Dense table for numbers that are small next to the number of records (the usual case: map
    // files number their elements from 1 up), a hash table for the rest.
    LargeArray<std::uint32_t> dense;
    struct Slot {
        std::uint32_t id_no = 0;
        std::uint32_t position = kNoRecord;  // kNoRecord: the slot is free
    };
    // Open addressing with a hash keyed by a seed chosen per run, so that no file can choose numbers
    // that collide; a power of two of slots, at most half of them used.
    std::vector<Slot> sparse;
    std::uint32_t sparse_size = 0;
    std::uint32_t size = 0;

    // Records `position` for `id_no` unless the number is already known.
    void insert_first(std::uint32_t id_no, std::uint32_t position);
    // Sizes the dense table once for `count` records numbered up to `largest`, when they fit it, so
    // that it is neither copied nor cleared again as it fills.
    void presize(std::uint32_t largest, std::size_t count);
    // Room in the dense table for records numbered below `count`, when the system grants it.
    void reserve_dense(std::size_t count);
    // Position of the first record with this number, or kNoRecord.
    std::uint32_t find(std::uint32_t id_no) const;
    void clear();
};

// Builds the index of a record array by its `id_no` fields.
template <typename Records>
IdIndex build_id_index(const Records& records) {
    IdIndex index;
    std::uint32_t largest = 0;
    for (const auto& record : records) largest = record.id_no > largest ? record.id_no : largest;
    index.presize(largest, records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        index.insert_first(records[i].id_no, static_cast<std::uint32_t>(i));
    }
    return index;
}

}  // namespace chizuvec
