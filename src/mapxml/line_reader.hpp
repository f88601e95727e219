// Line source of the map XML reader: streams bytes through one large buffer and hands out its lines
// as the reader sees them (CR LF read as LF, no empty lines). Lines in the published layout (one
// element a line) are served in place; from the first line that is not, the rest of the input goes
// through the layout rewriter (xml_layout.hpp), whose lines may be longer and hold line breaks. The bytes come from a
// plain file or from any other ByteSource (an archive entry), so the same scanning serves both. Reads only what it is
// given; writes nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "mapxml/xml_layout.hpp"
#include "model/large_array.hpp"

namespace chizuvec {

// A line is at most this many bytes; a longer one comes back in pieces of this size.
inline constexpr std::size_t kMaxLineBytes = 1023;
// Large enough to make reads few, small enough that its pages stay few and warm in the cache.
inline constexpr std::size_t kDefaultChunkSize = std::size_t{256} << 10;

// Where the line reader's bytes come from.
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // Reads up to `size` bytes into `buffer`: the count read, 0 at the end, or -1 on a failure
    // (which ends the input; the source keeps what went wrong for its owner).
    virtual std::int64_t read(char* buffer, std::size_t size) = 0;
};

// Positions of the first '<' bytes of a line. Every tag begins with '<', so a tag can only occur at
// one of them: a test of the line compares a few bytes at each instead of searching the line.
struct LineTags {
    static constexpr std::uint32_t kKept = 2;
    std::uint32_t count = 0;  // positions kept in `at`, in increasing order
    bool more = false;        // the line has a further '<' after the kept ones
    std::uint32_t at[kKept] = {};
};

// A line without its newline, ending at its first NUL byte and never empty, with its '<' positions.
// `text` stays valid until the next read.
struct Line {
    std::string_view text;
    LineTags tags;
};

class LineReader {
  public:
    // Refills `chunk_size` bytes (at least 1) at a time. Allocating the buffer may throw
    // std::bad_alloc.
    // Without the rewriter every line comes as the file has it (the published layout's rules only).
    static constexpr bool kRawLines = false;
    explicit LineReader(std::size_t chunk_size = kDefaultChunkSize, bool any_layout = true);
    ~LineReader();
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // Reads the file at `path` (binary). False when it cannot be opened.
    bool open_file(const std::string& path);
    // Reads `source`, which must outlive the reading.
    void open_source(ByteSource& source);

    // The next line; false at end of input, also when the input ends inside a comment. Lines already
    // proved to be in the published layout are handed out here, at the caller.
    bool read_line(Line& line) {
        if (batch_next_ == batch_end_) return read_next_line(line);
        line = *batch_next_++;
        return true;
    }

  private:
    enum class Layout { published, other, unknown };
    class ChunkCursor : public ByteCursor {
      public:
        explicit ChunkCursor(LineReader& reader) : reader_(reader) {}
        int get() override;

      private:
        LineReader& reader_;
    };
    // Lines taken a batch at a time, so the state of one look stays in registers for many lines.
    static constexpr std::size_t kBatchLines = 256;
    // Room for the start tags that follow the last line of a full batch until one can be proved.
    static constexpr std::size_t kBatchRoom = kBatchLines + 16;
    bool fill_batch();
    bool read_next_line(Line& line);
    bool read_line_by_line(Line& line);
    Layout classify(const char* start, std::size_t length, std::size_t lf, std::size_t available,
                    const LineTags& tags) const;
    Layout peek_next(const char* from, const char* last) const;
    bool read_layout_line(Line& line);
    bool read_raw_line(Line& line);
    bool refill();
    bool next_piece(std::string_view& piece);
    std::string_view cut_at_nul(std::string_view piece);
    std::size_t find_comment_open(std::string_view text);
    void append_joined(std::size_t& length, std::string_view text);
    bool read_full_line(std::string_view& line);
    void close();

    std::FILE* file_ = nullptr;     // the plain file read directly, when there is one
    ByteSource* source_ = nullptr;  // otherwise the source
    // Raw bytes of the input, CR LF untranslated: a line's text is the same bytes without the CR
    // before its LF, so lines are served in place. The unread tail moves to the front before a refill.
    LargeBuffer chunk_;          // read_size_ bytes and room for the tail kept from before
    std::size_t read_size_ = 0;  // bytes asked of the input per refill
    std::size_t begin_ = 0;      // first unread byte of chunk_
    std::size_t end_ = 0;        // end of the valid bytes of chunk_
    bool open_ = false;
    bool at_eof_ = false;
    bool any_layout_ = true;
    // The first NUL and the first "<!--" at or after `begin_`, found once per refill rather than once
    // per line (both are rare); `end_` when there is none. Valid while the flags are set.
    std::size_t next_nul_ = 0;
    std::size_t next_comment_ = 0;
    bool nul_known_ = false;
    bool comment_known_ = false;
    char joined_buffer_[kMaxLineBytes + 1] = {};  // text before a comment joined to text after it
    // Set from the first line not in the published layout to the end of the input.
    std::unique_ptr<ChunkCursor> cursor_;
    std::unique_ptr<XmlLayout> layout_;
    // Lines of the published layout found ahead, in place in the chunk: begin_ is already past them,
    // and no refill comes before the last is handed out.
    Line batch_[kBatchRoom] = {};
    const Line* batch_next_ = batch_;
    const Line* batch_end_ = batch_;
};

}  // namespace chizuvec
