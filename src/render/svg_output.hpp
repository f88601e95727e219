// The document's bytes on their way out: one large buffer filled by put and put_int and handed to
// the file (or, for tests, to a string) when full. Knows nothing of what the bytes mean; the line
// end every element is closed with lives here too.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "model/large_array.hpp"

namespace chizuvec {

// Every line of the document ends in CR LF.
inline constexpr std::string_view kLineEnd = "\r\n";

inline constexpr std::size_t kOutputBufferSize = std::size_t{256} << 10;  // few writes, few pages

// One pass of the document through a large buffer. The bytes go to `file` when it is set, else they
// are appended to `sink`. After the first failed write nothing more is written and `failed` stays.
struct SvgOutput {
    std::FILE* file = nullptr;
    std::string* sink = nullptr;
    LargeBuffer buffer;
    std::size_t capacity = 0;
    std::size_t used = 0;
    bool failed = false;
};

SvgOutput make_output(std::FILE* file, std::string* sink, std::size_t capacity = kOutputBufferSize);
// Hands the buffered bytes on; false once any write has failed.
bool flush_output(SvgOutput& out);
// The buffer-filling halves of put and put_int, for when the bytes may not fit.
void put_spilling(SvgOutput& out, std::string_view bytes);
void put_int_after_flush(SvgOutput& out, std::int64_t value);

// A drawing writes a few pieces per point; the common case (room in the buffer) is inline. Bytes
// put after a failed write are dropped with the buffer at the next flush.
inline void put(SvgOutput& out, std::string_view bytes) {
    if (bytes.size() < out.capacity - out.used) {
        if (!bytes.empty()) std::memcpy(out.buffer.get() + out.used, bytes.data(), bytes.size());
        out.used += bytes.size();
    } else {
        put_spilling(out, bytes);
    }
}

inline constexpr std::size_t kMaxIntChars = 24;

inline void put_int(SvgOutput& out, std::int64_t value) {
    if (out.capacity - out.used < kMaxIntChars) {
        put_int_after_flush(out, value);
        return;
    }
    char* const begin = out.buffer.get() + out.used;
    out.used += static_cast<std::size_t>(std::to_chars(begin, begin + kMaxIntChars, value).ptr - begin);
}

}  // namespace chizuvec
