#include "model/id_index.hpp"

#include <algorithm>
#include <chrono>

namespace chizuvec {
namespace {

// The dense table may hold this many slots per record before numbers go to the hash table, so a
// few huge numbers cannot blow up memory.
constexpr std::uint64_t kSlotsPerRecord = 8;
constexpr std::uint64_t kMinDense = 4096;
constexpr std::size_t kFirstSparseSlots = 64;

std::uint64_t mix(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// Differs from run to run (the clock, and where the system placed the stack and the program), so
// the slot of a number cannot be known in advance. Lookups give the same positions whatever it is.
std::uint64_t run_seed() {
    static const std::uint64_t seed = [] {
        const int on_stack = 0;
        const auto now = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        return mix(now ^ mix(reinterpret_cast<std::uintptr_t>(&on_stack)) ^
                   mix(reinterpret_cast<std::uintptr_t>(&run_seed) + 1));
    }();
    return seed;
}

std::size_t slot_of(std::uint32_t id_no, std::size_t mask) {
    return static_cast<std::size_t>(mix(id_no ^ run_seed())) & mask;
}

// The slot that holds `id_no`, or the free slot where it would go.
std::size_t probe(const std::vector<IdIndex::Slot>& slots, std::uint32_t id_no) {
    const std::size_t mask = slots.size() - 1;
    std::size_t at = slot_of(id_no, mask);
    while (slots[at].position != kNoRecord && slots[at].id_no != id_no) at = (at + 1) & mask;
    return at;
}

void grow(std::vector<IdIndex::Slot>& slots) {
    std::vector<IdIndex::Slot> bigger(slots.empty() ? kFirstSparseSlots : slots.size() * 2);
    for (const IdIndex::Slot& slot : slots) {
        if (slot.position != kNoRecord) bigger[probe(bigger, slot.id_no)] = slot;
    }
    slots.swap(bigger);
}

bool in_sparse(const std::vector<IdIndex::Slot>& slots, std::uint32_t id_no) {
    return !slots.empty() && slots[probe(slots, id_no)].position != kNoRecord;
}

}  // namespace

void IdIndex::insert_first(std::uint32_t id_no, std::uint32_t position) {
    if (id_no < dense.size()) {
        if (dense[id_no] != kNoRecord) return;
        // The number may have gone to the hash table while the dense table was smaller.
        if (in_sparse(sparse, id_no)) return;
        dense[id_no] = position;
        ++size;
        return;
    }
    const std::uint64_t limit = std::max<std::uint64_t>(kMinDense, kSlotsPerRecord * (std::uint64_t{size} + 1));
    if (id_no < limit) {
        if (in_sparse(sparse, id_no)) return;
        const std::uint64_t grown =
            std::min<std::uint64_t>(limit, std::max<std::uint64_t>(id_no + 1ull, dense.size() * 2ull));
        dense.resize(static_cast<std::size_t>(grown), kNoRecord);
        dense[id_no] = position;
        ++size;
        return;
    }
    if (2 * (std::size_t{sparse_size} + 1) > sparse.size()) grow(sparse);
    Slot& slot = sparse[probe(sparse, id_no)];
    if (slot.position != kNoRecord) return;
    slot = Slot{id_no, position};
    ++sparse_size;
    ++size;
}

void IdIndex::presize(std::uint32_t largest, std::size_t count) {
    const std::uint64_t limit = std::max<std::uint64_t>(kMinDense, kSlotsPerRecord * (std::uint64_t{count} + 1));
    if (largest < limit && largest >= dense.size()) dense.resize(std::size_t{largest} + 1, kNoRecord);
}

void IdIndex::reserve_dense(std::size_t count) { reserve_if_possible(dense, count); }

std::uint32_t IdIndex::find(std::uint32_t id_no) const {
    if (id_no < dense.size() && dense[id_no] != kNoRecord) return dense[id_no];
    if (sparse.empty()) return kNoRecord;
    return sparse[probe(sparse, id_no)].position;
}

void IdIndex::clear() {
    dense.clear();
    sparse.clear();
    sparse_size = 0;
    size = 0;
}

}  // namespace chizuvec
