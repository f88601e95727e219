#include "model/id_index.hpp"

#include <algorithm>

namespace chizuvec {
namespace {

// The dense table may hold this many slots per record before numbers go to the hash map, so a
// few huge numbers cannot blow up memory.
constexpr std::uint64_t kSlotsPerRecord = 8;
constexpr std::uint64_t kMinDense = 4096;

}  // namespace

void IdIndex::insert_first(std::uint32_t id_no, std::uint32_t position) {
    if (id_no < dense.size()) {
        if (dense[id_no] != kNoRecord) return;
        // The number may have gone to the hash map while the table was smaller.
        if (!sparse.empty() && sparse.count(id_no) != 0) return;
        dense[id_no] = position;
        ++size;
        return;
    }
    const std::uint64_t limit = std::max<std::uint64_t>(kMinDense, kSlotsPerRecord * (std::uint64_t{size} + 1));
    if (id_no < limit) {
        if (!sparse.empty() && sparse.count(id_no) != 0) return;
        const std::uint64_t grown = std::min<std::uint64_t>(limit, std::max<std::uint64_t>(id_no + 1ull, dense.size() * 2ull));
        dense.resize(static_cast<std::size_t>(grown), kNoRecord);
        dense[id_no] = position;
        ++size;
        return;
    }
    if (sparse.emplace(id_no, position).second) ++size;
}

void IdIndex::presize(std::uint32_t largest, std::size_t count) {
    const std::uint64_t limit = std::max<std::uint64_t>(kMinDense, kSlotsPerRecord * (std::uint64_t{count} + 1));
    if (largest < limit && largest >= dense.size()) dense.resize(std::size_t{largest} + 1, kNoRecord);
}

std::uint32_t IdIndex::find(std::uint32_t id_no) const {
    if (id_no < dense.size() && dense[id_no] != kNoRecord) return dense[id_no];
    if (sparse.empty()) return kNoRecord;
    const auto it = sparse.find(id_no);
    return it == sparse.end() ? kNoRecord : it->second;
}

void IdIndex::clear() {
    dense.clear();
    sparse.clear();
    size = 0;
}

}  // namespace chizuvec
