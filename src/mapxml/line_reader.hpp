// Line source of the map XML reader: streams a file through one large buffer and hands out its lines
// as the reader sees them (CR LF read as LF, pieces of at most 1023 bytes, no empty lines, the first
// XML comment of a line removed). Reads only the file it is given; writes nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "model/large_array.hpp"

namespace chizuvec {

// A line is at most this many bytes; a longer one comes back in pieces of this size.
inline constexpr std::size_t kMaxLineBytes = 1023;
// Large enough to make reads few, small enough that its pages stay few and warm in the cache.
inline constexpr std::size_t kDefaultChunkSize = std::size_t{256} << 10;

struct LineReader {
    std::FILE* file = nullptr;
    // Raw bytes of the file, CR LF untranslated: a line's text is the same bytes without the CR
    // before its LF, so lines are served in place. The unread tail moves to the front before a refill.
    LargeBuffer chunk;              // read_size bytes and room for the tail kept from before
    std::size_t read_size = 0;      // bytes asked of the file per refill
    std::size_t begin = 0;          // first unread byte of chunk
    std::size_t end = 0;            // end of the valid bytes of chunk
    bool at_eof = false;
    // The first NUL and the first "<!--" at or after `begin`, found once per refill rather than once
    // per line (both are rare); `end` when there is none. Valid while the flags are set.
    std::size_t next_nul = 0;
    std::size_t next_comment = 0;
    bool nul_known = false;
    bool comment_known = false;
    char joined_buffer[kMaxLineBytes + 1] = {};  // text before a comment joined to text after it

    LineReader() = default;
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;
    ~LineReader();
};

// Opens `path` for binary reading, refilling `chunk_size` bytes (at least 1) at a time. Returns
// false when the file cannot be opened. Allocating the buffer may throw std::bad_alloc.
bool open_line_reader(LineReader& reader, const std::string& path, std::size_t chunk_size = kDefaultChunkSize);

void close_line_reader(LineReader& reader);

// Next line of the file, without its newline and ending at its first NUL byte; never empty. Returns
// false at end of input, also when the input ends inside a comment. `line` stays valid until the
// next call.
bool read_line(LineReader& reader, std::string_view& line);

// Positions of the first '<' bytes of a line. Every tag begins with '<', so a tag can only occur at
// one of them: a test of the line compares a few bytes at each instead of searching the line.
struct LineTags {
    static constexpr std::uint32_t kKept = 6;
    std::uint32_t count = 0;  // positions kept in `at`, in increasing order
    bool more = false;        // the line has a further '<' after the kept ones
    std::uint32_t at[kKept] = {};
};

// As read_line, and gives the line's '<' positions too; the common line is scanned only once.
bool read_line(LineReader& reader, std::string_view& line, LineTags& tags);

}  // namespace chizuvec
