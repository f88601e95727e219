// Lookup of records by identifier number, built once so that resolving a reference costs O(1)
// instead of a scan. Where a number occurs more than once, the first record in array order wins:
// insert in array order and later inserts of the same number are ignored.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

namespace chizuvec {

inline constexpr std::uint32_t kNoRecord = 0xFFFFFFFFu;

struct IdIndex {
    // Dense table for numbers that are small next to the number of records (the usual case: map
    // files number their elements from 1 up), a hash map for the rest.
    std::vector<std::uint32_t> dense;
    std::unordered_map<std::uint32_t, std::uint32_t> sparse;
    std::uint32_t size = 0;

    // Records `position` for `id_no` unless the number is already known.
    void insert_first(std::uint32_t id_no, std::uint32_t position);
    // Position of the first record with this number, or kNoRecord.
    std::uint32_t find(std::uint32_t id_no) const;
    void clear();
};

// Builds the index of a record array by its `id_no` fields.
template <typename Record>
IdIndex build_id_index(const std::vector<Record>& records) {
    IdIndex index;
    index.dense.reserve(records.size() + 1);
    for (std::size_t i = 0; i < records.size(); ++i) {
        index.insert_first(records[i].id_no, static_cast<std::uint32_t>(i));
    }
    return index;
}

}  // namespace chizuvec
