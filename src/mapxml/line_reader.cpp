#include "mapxml/line_reader.hpp"

#include <algorithm>
#include <cstring>

namespace chizuvec {
namespace {

constexpr std::string_view kCommentOpen = "<!--";
constexpr std::string_view kCommentClose = "-->";

// Turns each CR LF of chunk[0, total) into LF in place and returns the new length. A CR at the very
// end is held back until the next read shows whether an LF follows it.
std::size_t translate_crlf(LineReader& reader, std::size_t total) {
    char* data = reader.chunk.data();
    std::size_t read_pos = 0;
    std::size_t write_pos = 0;
    while (read_pos < total) {
        const void* cr = std::memchr(data + read_pos, '\r', total - read_pos);
        const std::size_t stop = cr != nullptr ? static_cast<std::size_t>(static_cast<const char*>(cr) - data) : total;
        if (write_pos != read_pos) std::memmove(data + write_pos, data + read_pos, stop - read_pos);
        write_pos += stop - read_pos;
        read_pos = stop;
        if (read_pos == total) break;
        if (read_pos + 1 == total) {
            reader.pending_cr = true;
        } else if (data[read_pos + 1] != '\n') {
            data[write_pos++] = '\r';  // a lone CR is text
        }
        ++read_pos;
    }
    return write_pos;
}

// Replaces the (fully consumed) chunk with the next bytes of the file. False at end of input.
bool refill(LineReader& reader) {
    reader.begin = 0;
    reader.end = 0;
    while (!reader.at_eof) {
        std::size_t total = 0;
        if (reader.pending_cr) {
            reader.chunk[0] = '\r';
            total = 1;
            reader.pending_cr = false;
        }
        const std::size_t got = std::fread(reader.chunk.data() + total, 1, reader.chunk.size() - total, reader.file);
        if (got == 0) {
            // A read error ends the input as it would end fgets.
            reader.at_eof = true;
            reader.end = total;
            return total > 0;
        }
        reader.end = translate_crlf(reader, total + got);
        if (reader.end > 0) return true;
    }
    return false;
}

// The next piece as fgets into a 1024-byte buffer gives it: up to and including the next LF, at
// most 1023 bytes. The piece is a view into the chunk when it lies there whole, else it is
// gathered in `scratch`.
bool next_piece(LineReader& reader, char* scratch, std::string_view& piece) {
    std::size_t used = 0;
    for (;;) {
        if (reader.begin == reader.end && !refill(reader)) {
            if (used == 0) return false;
            piece = std::string_view(scratch, used);
            return true;
        }
        const std::size_t room = kMaxLineBytes - used;
        const std::size_t window = std::min(room, reader.end - reader.begin);
        const char* start = reader.chunk.data() + reader.begin;
        const void* lf = std::memchr(start, '\n', window);
        const std::size_t take =
            lf != nullptr ? static_cast<std::size_t>(static_cast<const char*>(lf) - start) + 1 : window;
        const bool complete = lf != nullptr || take == room;
        reader.begin += take;
        if (used == 0 && complete) {
            piece = std::string_view(start, take);
            return true;
        }
        std::memcpy(scratch + used, start, take);
        used += take;
        if (complete) {
            piece = std::string_view(scratch, used);
            return true;
        }
    }
}

// The text of a piece as C string functions see it: up to the first NUL, without the newline.
std::string_view piece_text(std::string_view piece) {
    const void* nul = std::memchr(piece.data(), '\0', piece.size());
    if (nul != nullptr) return piece.substr(0, static_cast<std::size_t>(static_cast<const char*>(nul) - piece.data()));
    if (!piece.empty() && piece.back() == '\n') piece.remove_suffix(1);
    return piece;
}

// Appends as much of `text` as the joined line has room for; the joined line never exceeds one
// line's size.
void append_joined(LineReader& reader, std::size_t& length, std::string_view text) {
    const std::size_t take = std::min(text.size(), kMaxLineBytes - length);
    if (take > 0) std::memcpy(reader.joined_buffer + length, text.data(), take);
    length += take;
}

}  // namespace

LineReader::~LineReader() { close_line_reader(*this); }

bool open_line_reader(LineReader& reader, const std::string& path, std::size_t chunk_size) {
    close_line_reader(reader);
    reader.chunk.assign(std::max<std::size_t>(chunk_size, 2), '\0');
    reader.begin = 0;
    reader.end = 0;
    reader.pending_cr = false;
    reader.at_eof = false;
    reader.file = std::fopen(path.c_str(), "rb");
    return reader.file != nullptr;
}

void close_line_reader(LineReader& reader) {
    if (reader.file != nullptr) std::fclose(reader.file);
    reader.file = nullptr;
}

bool read_line(LineReader& reader, std::string_view& line) {
    if (reader.file == nullptr) return false;
    for (;;) {
        std::string_view piece;
        if (!next_piece(reader, reader.piece_buffer, piece)) return false;
        std::string_view text = piece_text(piece);
        if (text.empty()) continue;
        const std::size_t open = text.find(kCommentOpen);
        if (open == std::string_view::npos) {
            line = text;
            return true;
        }
        // The text before the comment is saved first: reading on may refill the chunk it lies in.
        std::size_t length = 0;
        append_joined(reader, length, text.substr(0, open));
        // Searching from the opening itself makes "<!-->" a whole comment.
        std::size_t close = text.find(kCommentClose, open);
        while (close == std::string_view::npos) {
            if (!next_piece(reader, reader.comment_buffer, piece)) return false;
            text = piece_text(piece);
            close = text.find(kCommentClose);
        }
        // Only the first comment goes; a later "<!--" in the joined text stays as text.
        append_joined(reader, length, text.substr(close + kCommentClose.size()));
        if (length == 0) continue;
        line = std::string_view(reader.joined_buffer, length);
        return true;
    }
}

}  // namespace chizuvec
