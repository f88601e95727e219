// The allocation policy of the arrays that grow with the map file and of the read and write
// buffers, in one place. Large blocks come from the platform's page allocator, aligned so that the
// system can back them with huge pages: a map file fills megabytes of fresh memory, and on a virtual
// machine each 4 KiB page fault costs about as much as reading a few hundred lines. Everything else
// uses these arrays as it would any std::vector.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

#include "common/sanitizer.hpp"
#include "platform/platform.hpp"

namespace chizuvec {

// From this size on a block is cheaper as one huge page than as the 4 KiB pages it fills, even
// when only part of the huge page is used. Under AddressSanitizer every block comes from operator
// new, whose bounds it checks.
#if defined(CHIZUVEC_ADDRESS_CHECKED)
inline constexpr std::size_t kLargeArrayBytes = static_cast<std::size_t>(-1);
#else
inline constexpr std::size_t kLargeArrayBytes = std::size_t{128} << 10;
#endif

namespace large_block {

// A large block starts with this header, which says where its memory came from: when the system
// has no mapping to give, the block comes from operator new instead and must go back there.
struct alignas(64) Header {
    std::size_t mapped = 0;  // the bytes asked of the page allocator, header included; 0: operator new
};

// The blocks this thread keeps for reuse (see KeepReleasedBlocks), smallest fit first.
struct KeptBlocks {
    static constexpr std::size_t kMaxBlocks = 16;
    static constexpr std::size_t kMaxBytes = std::size_t{64} << 20;
    bool keeping = false;
    std::size_t count = 0;
    std::size_t bytes = 0;
    Header* blocks[kMaxBlocks] = {};
};
inline thread_local KeptBlocks kept_blocks;

// A kept block of at least `total` bytes, taken out of the keep; nullptr when there is none.
inline Header* take_kept(std::size_t total) {
    KeptBlocks& kept = kept_blocks;
    std::size_t best = kept.count;
    for (std::size_t i = 0; i < kept.count; ++i) {
        const std::size_t size = kept.blocks[i]->mapped;
        if (size >= total && (best == kept.count || size < kept.blocks[best]->mapped)) best = i;
    }
    if (best == kept.count) return nullptr;
    Header* block = kept.blocks[best];
    kept.bytes -= block->mapped;
    kept.blocks[best] = kept.blocks[--kept.count];
    return block;
}

// The system maps large blocks in steps of 2 MiB (see platform::allocate_large_block): asking for
// whole steps costs nothing more and lets a kept block serve any array that fits its steps.
inline constexpr std::size_t kStep = std::size_t{2} << 20;

inline void* allocate(std::size_t bytes) {
    if (bytes > static_cast<std::size_t>(-1) - sizeof(Header) - kStep) throw std::bad_alloc();
    const std::size_t total = bytes + sizeof(Header);
    const std::size_t steps = (total + kStep - 1) / kStep * kStep;
    if (Header* kept = take_kept(steps)) return kept + 1;
    void* block = platform::allocate_large_block(steps);
    const bool mapped = block != nullptr;
    if (!mapped) block = ::operator new (total, std::align_val_t{alignof(Header)});
    auto* header = ::new (block) Header;
    header->mapped = mapped ? steps : 0;
    return header + 1;
}

inline void release(void* data) noexcept {
    auto* header = static_cast<Header*>(data) - 1;
    if (header->mapped == 0) {
        ::operator delete (header, std::align_val_t{alignof(Header)});
        return;
    }
    KeptBlocks& kept = kept_blocks;
    if (kept.keeping && header->mapped <= KeptBlocks::kMaxBytes) {
        // Room is made by giving back the smallest kept blocks: the larger fit more arrays.
        while (kept.count > 0 &&
               (kept.count == KeptBlocks::kMaxBlocks || header->mapped > KeptBlocks::kMaxBytes - kept.bytes)) {
            std::size_t smallest = 0;
            for (std::size_t i = 1; i < kept.count; ++i) {
                if (kept.blocks[i]->mapped < kept.blocks[smallest]->mapped) smallest = i;
            }
            Header* const given_back = kept.blocks[smallest];
            if (given_back->mapped >= header->mapped) break;
            kept.bytes -= given_back->mapped;
            kept.blocks[smallest] = kept.blocks[--kept.count];
            platform::free_large_block(given_back, given_back->mapped);
        }
        if (kept.count < KeptBlocks::kMaxBlocks && header->mapped <= KeptBlocks::kMaxBytes - kept.bytes) {
            kept.blocks[kept.count++] = header;
            kept.bytes += header->mapped;
            return;
        }
    }
    platform::free_large_block(header, header->mapped);
}

}  // namespace large_block

// While one lives, the large blocks its thread releases are kept for the thread's next large
// arrays instead of going back to the system: a thread that converts one map file after another
// would otherwise have the system map and zero megabytes of fresh pages for every file. At most
// KeptBlocks::kMaxBlocks blocks and kMaxBytes in all are kept; they are released when it ends.
// One at a time per thread.
class KeepReleasedBlocks {
  public:
    KeepReleasedBlocks() { large_block::kept_blocks.keeping = true; }
    ~KeepReleasedBlocks() {
        large_block::KeptBlocks& kept = large_block::kept_blocks;
        kept.keeping = false;
        while (large_block::Header* block = large_block::take_kept(0)) platform::free_large_block(block, block->mapped);
    }
    KeepReleasedBlocks(const KeepReleasedBlocks&) = delete;
    KeepReleasedBlocks& operator=(const KeepReleasedBlocks&) = delete;
};

template <typename T>
struct LargeArrayAllocator {
    using value_type = T;

    LargeArrayAllocator() = default;
    template <typename U>
    LargeArrayAllocator(const LargeArrayAllocator<U>&) noexcept {}

    T* allocate(std::size_t count) {
        if (count > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
        const std::size_t bytes = count * sizeof(T);
        if (bytes < kLargeArrayBytes) return static_cast<T*>(::operator new(bytes));
        return static_cast<T*>(large_block::allocate(bytes));
    }

    void deallocate(T* data, std::size_t count) noexcept {
        const std::size_t bytes = count * sizeof(T);
        if (bytes < kLargeArrayBytes) {
            ::operator delete(data);
        } else {
            large_block::release(data);
        }
    }

    template <typename U>
    bool operator==(const LargeArrayAllocator<U>&) const noexcept {
        return true;
    }
};

template <typename T>
using LargeArray = std::vector<T, LargeArrayAllocator<T>>;

// Reserves room for `count` elements when the system grants it. A first capacity is only a head
// start: where the system refuses it (a limit on address space, say) the array grows as it fills.
template <typename T>
void reserve_if_possible(LargeArray<T>& array, std::size_t count) {
    try {
        array.reserve(count);
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
}

// A byte buffer from the same allocator, not zeroed: its bytes are written before they are read.
struct LargeBufferRelease {
    std::size_t bytes = 0;
    void operator()(char* data) const noexcept { LargeArrayAllocator<char>().deallocate(data, bytes); }
};
using LargeBuffer = std::unique_ptr<char[], LargeBufferRelease>;

inline LargeBuffer make_large_buffer(std::size_t bytes) {
    return LargeBuffer(LargeArrayAllocator<char>().allocate(bytes), LargeBufferRelease{bytes});
}

}  // namespace chizuvec
