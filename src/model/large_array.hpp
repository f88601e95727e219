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
    bool mapped = false;
};

inline void* allocate(std::size_t bytes) {
    if (bytes > static_cast<std::size_t>(-1) - sizeof(Header)) throw std::bad_alloc();
    const std::size_t total = bytes + sizeof(Header);
    void* block = platform::allocate_large_block(total);
    const bool mapped = block != nullptr;
    if (!mapped) block = ::operator new (total, std::align_val_t{alignof(Header)});
    auto* header = ::new (block) Header;
    header->mapped = mapped;
    return header + 1;
}

inline void release(void* data, std::size_t bytes) noexcept {
    auto* header = static_cast<Header*>(data) - 1;
    if (header->mapped) {
        platform::free_large_block(header, bytes + sizeof(Header));
    } else {
        ::operator delete (header, std::align_val_t{alignof(Header)});
    }
}

}  // namespace large_block

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
            large_block::release(data, bytes);
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
