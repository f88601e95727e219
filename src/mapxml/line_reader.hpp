// Line source of the map XML reader: streams a file through one large buffer and hands out its lines
// as the reader sees them (CR LF read as LF, pieces of at most 1023 bytes, no empty lines, the first
// XML comment of a line removed). Reads only the file it is given; writes nothing.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace chizuvec {

// A line is at most this many bytes; a longer one comes back in pieces of this size.
inline constexpr std::size_t kMaxLineBytes = 1023;
inline constexpr std::size_t kDefaultChunkSize = std::size_t{1} << 20;

struct LineReader {
    std::FILE* file = nullptr;
    std::vector<char> chunk;  // bytes read from the file, CR LF already turned into LF
    std::size_t begin = 0;    // first unread byte of chunk
    std::size_t end = 0;      // end of the valid bytes of chunk
    bool pending_cr = false;  // the last byte read was a CR whose successor is still unread
    bool at_eof = false;
    char piece_buffer[kMaxLineBytes + 1] = {};    // a piece that spans two refills of chunk
    char comment_buffer[kMaxLineBytes + 1] = {};  // a comment line that spans two refills
    char joined_buffer[kMaxLineBytes + 1] = {};   // text before a comment joined to text after it

    LineReader() = default;
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;
    ~LineReader();
};

// Opens `path` for binary reading with a buffer of `chunk_size` bytes (at least 2). Returns false
// when the file cannot be opened. Allocating the buffer may throw std::bad_alloc.
bool open_line_reader(LineReader& reader, const std::string& path, std::size_t chunk_size = kDefaultChunkSize);

void close_line_reader(LineReader& reader);

// Next line of the file, without its newline and ending at its first NUL byte; never empty. Returns
// false at end of input, also when the input ends inside a comment. `line` stays valid until the
// next call.
bool read_line(LineReader& reader, std::string_view& line);

}  // namespace chizuvec
