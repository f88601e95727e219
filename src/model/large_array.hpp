// Storage for the arrays that grow with the map file and for the read and write buffers. Large
// blocks come from the platform's page allocator, aligned so that the system can back them with
// huge pages: a map file fills megabytes of fresh memory, and on a virtual machine each 4 KiB page
// fault costs about as much as reading a few hundred lines.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
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
        void* block = platform::allocate_large_block(bytes);
        if (block == nullptr) throw std::bad_alloc();
        return static_cast<T*>(block);
    }

    void deallocate(T* data, std::size_t count) noexcept {
        const std::size_t bytes = count * sizeof(T);
        if (bytes < kLargeArrayBytes) {
            ::operator delete(data);
        } else {
            platform::free_large_block(data, bytes);
        }
    }

    template <typename U>
    bool operator==(const LargeArrayAllocator<U>&) const noexcept {
        return true;
    }
};

template <typename T>
using LargeArray = std::vector<T, LargeArrayAllocator<T>>;

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
