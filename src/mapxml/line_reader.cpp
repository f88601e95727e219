#include "mapxml/line_reader.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace chizuvec {
namespace {

constexpr std::string_view kCommentOpen = "<!--";
constexpr std::string_view kCommentClose = "-->";

// What one piece can span in the file: its 1023 bytes, then the CR and the LF that may end it.
constexpr std::size_t kWindow = kMaxLineBytes + 2;

// First "<!--" in [first, last), or last. It is found by its '!', which map files hardly use
// elsewhere, where a search for '<' would stop at every tag.
const char* find_comment_open_between(const char* first, const char* last) {
    const char* from = first;
    while (last - from >= static_cast<std::ptrdiff_t>(kCommentOpen.size())) {
        // The '!' of an opening at or after `from` lies in [from + 1, last - 2).
        const auto span = static_cast<std::size_t>(last - 2 - (from + 1));
        const void* found = std::memchr(from + 1, '!', span);
        if (found == nullptr) break;
        const char* bang = static_cast<const char*>(found);
        if (std::string_view(bang - 1, kCommentOpen.size()) == kCommentOpen) return bang - 1;
        from = bang;
    }
    return last;
}

// Eight bytes at a time: a byte equal to `c` becomes zero after the exclusive or, and the borrow
// trick sets the high bit of every such byte (and maybe of some bytes after one, so each flagged
// byte is checked).
constexpr std::uint64_t kOnes = 0x0101010101010101ull;
constexpr std::uint64_t kHighs = 0x8080808080808080ull;

std::uint64_t flag_bytes(std::uint64_t word, unsigned char c) {
    const std::uint64_t x = word ^ (kOnes * c);
    return (x - kOnes) & ~x & kHighs;
}

std::uint64_t word_at(const char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

void keep_tag(LineTags& tags, std::size_t pos) {
    if (tags.count < LineTags::kKept) {
        tags.at[tags.count++] = static_cast<std::uint32_t>(pos);
    } else {
        tags.more = true;
    }
}

// Looks at the flagged bytes of the word at `pos` in address order: keeps each '<' and returns the
// position of the first LF, or npos.
std::size_t take_flagged(const char* text, std::size_t pos, std::uint64_t flags, LineTags& tags) {
    if constexpr (std::endian::native == std::endian::little) {
        for (; flags != 0; flags &= flags - 1) {
            const std::size_t at = pos + static_cast<std::size_t>(std::countr_zero(flags)) / 8;
            if (text[at] == '\n') return at;
            if (text[at] == '<') keep_tag(tags, at);
        }
    } else {
        for (std::size_t at = pos; at < pos + 8; ++at) {
            if (text[at] == '\n') return at;
            if (text[at] == '<') keep_tag(tags, at);
        }
    }
    return std::string_view::npos;
}

// Keeps the positions pos + i of the set bits i of `bits`, lowest first.
void keep_tag_bits(LineTags& tags, std::size_t pos, std::uint64_t bits) {
    if (bits == 0) return;
    // The count is kept in a register while the positions are stored, which might alias it.
    std::uint32_t count = tags.count;
    for (; bits != 0; bits &= bits - 1) {
        if (count < LineTags::kKept) {
            tags.at[count++] = static_cast<std::uint32_t>(pos + static_cast<std::size_t>(std::countr_zero(bits)));
        } else {
            tags.more = true;
        }
    }
    tags.count = count;
}

// What the batch scan looks at, a block at a time.
constexpr std::size_t kBlockBytes = 64;

// Bit i stands for byte base + i of the chunk: an LF, a '<'.
struct ByteMasks {
    std::uint64_t lf = 0;
    std::uint64_t lt = 0;
};

#if !defined(__SSE2__) && !defined(_M_X64)
// Bit i of the mask: byte i of the eight in `word` is `c`. Exact (no borrow runs into the next byte).
std::uint64_t byte_bits8(std::uint64_t word, unsigned char c) {
    constexpr std::uint64_t kLows = 0x7F7F7F7F7F7F7F7Full;
    const std::uint64_t x = word ^ (kOnes * c);
    const std::uint64_t zero_highs = ~(((x & kLows) + kLows) | x | kLows);
    // Gathers the eight high bits into the top byte, byte i's as bit 56 + i.
    return ((zero_highs >> 7) * 0x0102040810204080ull) >> 56;
}
#endif

#if defined(__GNUC__) || defined(__clang__)
#define CHIZUVEC_HOT_INLINE inline __attribute__((always_inline))
#else
#define CHIZUVEC_HOT_INLINE inline
#endif

// The masks of the block of the chunk at `base` (below `limit`), bits from `limit` on cleared. The
// chunk has kBlockBytes readable bytes after its end.
CHIZUVEC_HOT_INLINE ByteMasks block_masks(const char* chunk, std::size_t base, std::size_t limit) {
    const char* const p = chunk + base;
    ByteMasks masks;
#if defined(__SSE2__) || defined(_M_X64)
    const __m128i lf_bytes = _mm_set1_epi8('\n');
    const __m128i lt_bytes = _mm_set1_epi8('<');
    for (std::size_t i = 0; i < kBlockBytes; i += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const auto lf = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, lf_bytes)));
        const auto lt = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, lt_bytes)));
        masks.lf |= std::uint64_t{lf} << i;
        masks.lt |= std::uint64_t{lt} << i;
    }
#else
    if constexpr (std::endian::native == std::endian::little) {
        for (std::size_t i = 0; i < kBlockBytes; i += 8) {
            const std::uint64_t word = word_at(p + i);
            masks.lf |= byte_bits8(word, '\n') << i;
            masks.lt |= byte_bits8(word, '<') << i;
        }
    } else {
        for (std::size_t i = 0; i < kBlockBytes; ++i) {
            masks.lf |= std::uint64_t{p[i] == '\n'} << i;
            masks.lt |= std::uint64_t{p[i] == '<'} << i;
        }
    }
#endif
    if (limit - base < kBlockBytes) {
        const std::uint64_t valid = (std::uint64_t{1} << (limit - base)) - 1;
        masks.lf &= valid;
        masks.lt &= valid;
    }
    return masks;
}

// Finds the first LF in text[0, size) and keeps the '<' positions before it; npos without an LF.
// Inlined where it is called: a call for every line costs as much as the scan of a short one.
CHIZUVEC_HOT_INLINE std::size_t scan_line(const char* text, std::size_t size, LineTags& tags) {
    tags.count = 0;
    tags.more = false;
    std::size_t pos = 0;
#if defined(__SSE2__) || defined(_M_X64)
    // Sixteen bytes at a time where the processor has SSE2 (every x86-64 does): one bit per byte.
    const __m128i lf_bytes = _mm_set1_epi8('\n');
    const __m128i lt_bytes = _mm_set1_epi8('<');
    for (; pos + 16 <= size; pos += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + pos));
        const auto lf = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, lf_bytes)));
        auto lt = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, lt_bytes)));
        if (lf != 0) {
            const auto stop = static_cast<unsigned>(std::countr_zero(lf));
            keep_tag_bits(tags, pos, lt & ((1u << stop) - 1u));
            return pos + stop;
        }
        keep_tag_bits(tags, pos, lt);
    }
#endif
    for (; pos + 8 <= size; pos += 8) {
        const std::uint64_t word = word_at(text + pos);
        const std::uint64_t flags = flag_bytes(word, '\n') | flag_bytes(word, '<');
        if (flags == 0) continue;
        const std::size_t lf = take_flagged(text, pos, flags, tags);
        if (lf != std::string_view::npos) return lf;
    }
    for (; pos < size; ++pos) {
        if (text[pos] == '\n') return pos;
        if (text[pos] == '<') keep_tag(tags, pos);
    }
    return std::string_view::npos;
}

// The '<' positions of a line read by the full path.
void scan_tags(std::string_view line, LineTags& tags) {
    tags.count = 0;
    tags.more = false;
    const char* const text = line.data();
    std::size_t pos = 0;
    for (; pos + 8 <= line.size(); pos += 8) {
        const std::uint64_t flags = flag_bytes(word_at(text + pos), '<');
        if (flags != 0) take_flagged(text, pos, flags, tags);
    }
    for (; pos < line.size(); ++pos) {
        if (text[pos] == '<') keep_tag(tags, pos);
    }
}

}  // namespace

LineReader::LineReader(std::size_t chunk_size, bool any_layout)
    : chunk_(make_large_buffer(std::max<std::size_t>(chunk_size, 1) + kWindow + kBlockBytes)),
      read_size_(std::max<std::size_t>(chunk_size, 1)),
      any_layout_(any_layout) {}

LineReader::~LineReader() { close(); }

void LineReader::close() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    source_ = nullptr;
    open_ = false;
    begin_ = 0;
    end_ = 0;
    at_eof_ = false;
    nul_known_ = false;
    comment_known_ = false;
    layout_.reset();
    cursor_.reset();
    batch_next_ = batch_;
    batch_end_ = batch_;
}

bool LineReader::open_file(const std::string& path) {
    close();
    file_ = std::fopen(path.c_str(), "rb");
    open_ = file_ != nullptr;
    return open_;
}

void LineReader::open_source(ByteSource& source) {
    close();
    source_ = &source;
    open_ = true;
}

// Moves the unread tail (shorter than kWindow) to the front and appends the next bytes of the input.
// False when the input has nothing more.
bool LineReader::refill() {
    if (at_eof_) return false;
    const std::size_t tail = end_ - begin_;
    if (begin_ > 0) {
        if (tail > 0) std::memmove(chunk_.get(), chunk_.get() + begin_, tail);
        begin_ = 0;
        end_ = tail;
    }
    nul_known_ = false;
    comment_known_ = false;
    // Straight into the chunk: a plain file is never copied twice.
    std::int64_t got = 0;
    if (file_ != nullptr) {
        got = static_cast<std::int64_t>(std::fread(chunk_.get() + end_, 1, read_size_, file_));
    } else if (source_ != nullptr) {
        got = source_->read(chunk_.get() + end_, read_size_);
    }
    if (got > 0) end_ += static_cast<std::size_t>(got);
    // The batch scan reads whole blocks past the end: they hold no stale bytes.
    std::memset(chunk_.get() + end_, 0, kBlockBytes);
    if (got <= 0) {
        // A read error ends the input as it would end fgets.
        at_eof_ = true;
        return false;
    }
    return true;
}

// The next piece as fgets into a 1024-byte buffer gives it from the file read in text mode: up to
// the next LF, at most 1023 bytes, without the LF. Text mode drops only a CR directly before an LF,
// so the piece's bytes are the file's bytes and the piece is a view into the chunk.
bool LineReader::next_piece(std::string_view& piece) {
    for (;;) {
        const std::size_t available = end_ - begin_;
        const char* start = chunk_.get() + begin_;
        const void* lf = std::memchr(start, '\n', std::min(available, kWindow));
        if (lf != nullptr) {
            std::size_t length = static_cast<std::size_t>(static_cast<const char*>(lf) - start);
            std::size_t consumed = length + 1;
            if (length > 0 && start[length - 1] == '\r') --length;
            if (length > kMaxLineBytes) {
                // The rest of the line, down to its LF, comes as the next piece.
                length = kMaxLineBytes;
                consumed = kMaxLineBytes;
            }
            piece = std::string_view(start, length);
            begin_ += consumed;
            return true;
        }
        if (available >= kWindow || (at_eof_ && available > 0)) {
            // A long line, or the last line without LF (whose final CR, if any, stays text).
            const std::size_t length = std::min(available, kMaxLineBytes);
            piece = std::string_view(start, length);
            begin_ += length;
            return true;
        }
        if (!refill() && end_ == begin_) return false;
    }
}

// The text of a piece as C string functions see it: up to its first NUL.
std::string_view LineReader::cut_at_nul(std::string_view piece) {
    const std::size_t from = static_cast<std::size_t>(piece.data() - chunk_.get());
    if (!nul_known_ || next_nul_ < from) {
        const void* nul = std::memchr(piece.data(), '\0', end_ - from);
        next_nul_ = nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - chunk_.get()) : end_;
        nul_known_ = true;
    }
    if (next_nul_ < from + piece.size()) return piece.substr(0, next_nul_ - from);
    return piece;
}

// Position of the first "<!--" within `text` (a line in the chunk), or npos. The first one at or
// after the line's start in the whole chunk answers for every line up to it.
std::size_t LineReader::find_comment_open(std::string_view text) {
    const std::size_t from = static_cast<std::size_t>(text.data() - chunk_.get());
    if (!comment_known_ || next_comment_ < from) {
        const char* last = chunk_.get() + end_;
        next_comment_ = static_cast<std::size_t>(find_comment_open_between(text.data(), last) - chunk_.get());
        comment_known_ = true;
    }
    if (next_comment_ + kCommentOpen.size() <= from + text.size()) return next_comment_ - from;
    return std::string_view::npos;
}

// Appends as much of `text` as the joined line has room for; the joined line never exceeds one
// line's size.
void LineReader::append_joined(std::size_t& length, std::string_view text) {
    const std::size_t take = std::min(text.size(), kMaxLineBytes - length);
    if (take > 0) std::memcpy(joined_buffer_ + length, text.data(), take);
    length += take;
}

// Any line, piece by piece: NULs, comments, long lines and lines cut by a refill.
bool LineReader::read_full_line(std::string_view& line) {
    for (;;) {
        std::string_view piece;
        if (!next_piece(piece)) return false;
        std::string_view text = cut_at_nul(piece);
        if (text.empty()) continue;
        const std::size_t open = find_comment_open(text);
        if (open == std::string_view::npos) {
            line = text;
            return true;
        }
        // The text before the comment is saved first: reading on may move the chunk it lies in.
        std::size_t length = 0;
        append_joined(length, text.substr(0, open));
        // Searching from the opening itself makes "<!-->" a whole comment.
        std::size_t close = text.find(kCommentClose, open);
        while (close == std::string_view::npos) {
            if (!next_piece(piece)) return false;
            text = cut_at_nul(piece);
            close = text.find(kCommentClose);
        }
        // Only the first comment goes; a later "<!--" in the joined text stays as text.
        append_joined(length, text.substr(close + kCommentClose.size()));
        if (length == 0) continue;
        line = std::string_view(joined_buffer_, length);
        return true;
    }
}

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// attributes_in_form for any tag: attribute by attribute.
bool each_attribute_in_form(const char* tag, std::size_t size) {
    std::size_t pos = 1;
    while (pos < size && tag[pos] != ' ' && tag[pos] != '"' && tag[pos] != '\'' && tag[pos] != '=' &&
           tag[pos] != '\t') {
        ++pos;
    }
    bool first = true;
    while (pos < size) {
        if (tag[pos] != ' ') return false;
        const std::size_t name = ++pos;
        while (pos < size && tag[pos] != '=' && tag[pos] != ' ' && tag[pos] != '"' && tag[pos] != '\'' &&
               tag[pos] != '\t') {
            ++pos;
        }
        if (pos + 1 >= size || tag[pos] != '=' || tag[pos + 1] != '"' || pos == name) return false;
        const std::string_view attribute(tag + name, pos - name);
        if (!first && (attribute == "id" || attribute == "idref")) return false;
        first = false;
        pos += 2;
        while (pos < size && tag[pos] != '"') ++pos;
        if (pos >= size) return false;
        ++pos;
    }
    return true;
}

// The tag [0, size) (from '<' to the closing quote of its last attribute, so size > 1) in the form
// the rewriter writes: single blanks before names, '=' and double quotes, id or idref first.
CHIZUVEC_HOT_INLINE bool attributes_in_form(const char* tag, std::size_t size) {
    // The common tag, one attribute: the quote before the last one and the text before it.
    std::size_t open = size - 2;
#if defined(__SSE2__) || defined(_M_X64)
    if (size >= 17) {
        // The sixteen bytes before the closing quote hold the opening one for every usual id.
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(tag + size - 17));
        const auto quotes = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_set1_epi8('"'))));
        open = quotes != 0 ? size - 17 + static_cast<std::size_t>(31 - std::countl_zero(quotes)) : size - 17;
        if (quotes == 0 && open > 0) --open;
    }
#endif
    while (open > 0 && tag[open] != '"') --open;
    if (open >= 8 && tag[open - 1] == '=') {
        std::size_t blank = 0;
        const char* const name_end = tag + open - 1;
        if (name_end[-1] == 'd' && name_end[-2] == 'i') {
            if (name_end[-3] == ' ') blank = open - 4;
        } else if (name_end[-1] == 'f' && name_end[-2] == 'e' && name_end[-3] == 'r' && name_end[-4] == 'd' &&
                   name_end[-5] == 'i' && name_end[-6] == ' ') {
            blank = open - 7;
        }
        if (blank > 1) {
            const char before = tag[blank - 1];
            return before != '"' && before != '\'' && !is_blank(before) && before != '=';
        }
    }
    return each_attribute_in_form(tag, size);
}

// What a line [0, length) (not empty, its '<' positions found) is as far as its own bytes tell.
enum class Shape { element, bare_start, other };

// Only a few bytes are looked at: its last ones and those after its '<'s.
// A line of one element has one or two '<'s: `more` says it has further ones.
static_assert(LineTags::kKept == 2);
CHIZUVEC_HOT_INLINE Shape line_shape(const char* text, std::size_t length, const LineTags& tags) {
    if (text[length - 1] != '>' || tags.count == 0 || tags.more) return Shape::other;
    const std::size_t first = tags.at[0];
    const char kind = text[first + 1];
    if (tags.count == 2) {
        // <name>value</name>
        if (text[tags.at[1] + 1] != '/' || kind == '/' || kind == '!' || kind == '?') return Shape::other;
        return Shape::element;
    }
    if (kind == '/') return is_blank(text[length - 2]) ? Shape::other : Shape::element;
    if (kind == '?') return Shape::element;  // a processing instruction of its own, skipped by every test
    if (kind == '!' || length - first < 3) return Shape::other;
    const char before = text[length - 2];
    if (before == '"') return attributes_in_form(text + first, length - 1 - first) ? Shape::element : Shape::other;
    if (before == '/') {
        // <name attrs/>; a bare <name/> is written as <name></name>.
        if (text[length - 3] != '"' || length - first < 4) return Shape::other;
        return attributes_in_form(text + first, length - 2 - first) ? Shape::element : Shape::other;
    }
    if (before == '\'' || is_blank(before)) return Shape::other;
    // A start tag without attributes: its value, if any, must not begin on the next line.
    return Shape::bare_start;
}

// Whether a line (`size` bytes up to its LF) begins with a tag after blanks only, as a line after a
// bare start tag must.
bool begins_with_tag(const char* text, std::size_t size, const LineTags& tags) {
    if (tags.count == 0) return false;
    const std::size_t first = tags.at[0];
    std::size_t pos = 0;
#if defined(__SSE2__) || defined(_M_X64)
    if (first < 16 && size >= 16) {
        // The indentation of the published layout is tabs: one look at sixteen bytes.
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
        const auto tabs = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_set1_epi8('\t'))));
        pos = static_cast<std::size_t>(std::countr_one(tabs));
        if (pos >= first) return true;
    }
#endif
    while (pos < first && is_blank(text[pos])) ++pos;
    return pos == first;
}

}  // namespace

// Whether the text of the next line begins with a tag, as it does after a start tag of the
// published layout. unknown when the chunk ends first.
LineReader::Layout LineReader::peek_next(const char* from, const char* last) const {
#if defined(__SSE2__) || defined(_M_X64)
    if (last - from >= 16) {
        // The indentation of the published layout is tabs: one look at sixteen bytes.
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
        const auto tabs = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_set1_epi8('\t'))));
        from += std::countr_one(tabs);
        if (*from == '<') return Layout::published;
    }
#endif
    while (from < last && (is_blank(*from) || *from == '\r' || *from == '\n')) ++from;
    if (from == last) return at_eof_ ? Layout::published : Layout::unknown;
    return *from == '<' ? Layout::published : Layout::other;
}

// Is the line [start, start + length), whose LF is at `lf`, in the published layout?
LineReader::Layout LineReader::classify(const char* start, std::size_t length, std::size_t lf, std::size_t available,
                                        const LineTags& tags) const {
    switch (line_shape(start, length, tags)) {
        case Shape::element:
            return Layout::published;
        case Shape::bare_start:
            return peek_next(start + lf + 1, start + available);
        case Shape::other:
            break;
    }
    return Layout::other;
}

// Proves the lines from begin_ on to be in the published layout, as many as the batch holds, and
// keeps them for read_line; false when there is none. It stops before the first line it cannot prove
// (cut by the chunk's end, empty, too long, at a NUL or a comment opening, or not one element), which
// the line-by-line path then takes. A bare start tag is proved by the next line beginning with a tag.
// The LFs and '<'s are found 64 bytes at a time, so a line costs a few bit operations besides the
// bytes its shape looks at.
bool LineReader::fill_batch() {
    batch_next_ = batch_;
    batch_end_ = batch_;
    if (begin_ == end_) return false;
    const char* const chunk = chunk_.get();
    if (!nul_known_ || next_nul_ < begin_) (void)cut_at_nul(std::string_view(chunk + begin_, 0));
    if (!comment_known_ || next_comment_ < begin_) (void)find_comment_open(std::string_view(chunk + begin_, 0));
    // A line kept must end before both.
    const std::size_t limit = std::min(next_nul_, next_comment_);
    std::size_t pos = begin_;
    std::size_t proved = begin_;  // the end of the lines proved
    Line* kept = batch_;
    Line* const room_end = batch_ + kBatchRoom;
    Line* const full = batch_ + kBatchLines;
    bool bare_open = false;  // the last line kept is a bare start tag not proved yet
    std::size_t base = pos;  // the block the masks describe; its bits before pos are cleared
    ByteMasks masks = block_masks(chunk, base, limit);
    while (kept != room_end) {
        const char* const text = chunk + pos;
        LineTags& tags = kept->tags;
        tags.count = 0;
        tags.more = false;
        while (masks.lf == 0) {
            keep_tag_bits(tags, base - pos, masks.lt);
            base += kBlockBytes;
            // Never past the limit: pos is at most limit, as every line kept ends before it.
            if (base >= limit || base - pos > kWindow) goto stop;
            masks = block_masks(chunk, base, limit);
        }
        {
            const auto at = static_cast<std::size_t>(std::countr_zero(masks.lf));
            const std::uint64_t through = (std::uint64_t{2} << at) - 1;  // bits up to the LF (all at 63)
            keep_tag_bits(tags, base - pos, masks.lt & through);
            masks.lf &= ~through;
            masks.lt &= ~through;
            const std::size_t lf = base + at - pos;
            const std::size_t length = lf - static_cast<std::size_t>(lf > 0 && text[lf - 1] == '\r');
            if (length - 1 >= kMaxLineBytes) break;  // empty, or too long
            if (bare_open && !begins_with_tag(text, lf, tags)) break;
            const Shape shape = line_shape(text, length, tags);
            if (shape == Shape::other) break;
            // The line before, if a bare start tag, is proved by this one beginning with a tag.
            proved = pos;
            kept->text = std::string_view(text, length);
            ++kept;
            pos += lf + 1;
            bare_open = shape == Shape::bare_start;
            if (!bare_open) proved = pos;
            if (kept >= full && !bare_open) break;
        }
    }
stop:
    if (bare_open) --kept;
    begin_ = proved;
    batch_end_ = kept;
    return kept != batch_;
}

int LineReader::ChunkCursor::get() {
    LineReader& r = reader_;
    if (r.begin_ == r.end_ && !r.refill()) return -1;
    return static_cast<unsigned char>(r.chunk_.get()[r.begin_++]);
}

bool LineReader::read_layout_line(Line& line) {
    if (!layout_->next(line.text)) return false;
    scan_tags(line.text, line.tags);
    return true;
}

bool LineReader::read_raw_line(Line& line) {
    const char* const start = chunk_.get() + begin_;
    const std::size_t lf = scan_line(start, std::min(end_ - begin_, kWindow), line.tags);
    if (lf != std::string_view::npos) {
        std::size_t length = lf;
        if (length > 0 && start[length - 1] == '\r') --length;
        const std::size_t stop = begin_ + length;
        if (length > 0 && length <= kMaxLineBytes && nul_known_ && next_nul_ >= stop && comment_known_ &&
            next_comment_ >= begin_ && next_comment_ + kCommentOpen.size() > stop) {
            line.text = std::string_view(start, length);
            begin_ += lf + 1;
            return true;
        }
    }
    if (!read_full_line(line.text)) return false;
    scan_tags(line.text, line.tags);
    return true;
}

bool LineReader::read_next_line(Line& line) {
    if (!open_) return false;
    if (layout_ != nullptr) return read_layout_line(line);
    if (!any_layout_) return read_raw_line(line);
    if (fill_batch()) return read_line(line);
    return read_line_by_line(line);
}

bool LineReader::read_line_by_line(Line& line) {
    for (;;) {
        // The common line: whole in the chunk, not empty, and neither a NUL nor a comment opening
        // before its end as far as the last look-ahead saw.
        const char* const start = chunk_.get() + begin_;
        const std::size_t available = end_ - begin_;
        const std::size_t lf = scan_line(start, std::min(available, kWindow), line.tags);
        if (lf == std::string_view::npos) {
            // A line the chunk cuts: read on, so that it is whole (a refill keeps less than kWindow).
            if (available < kWindow && refill()) continue;
            if (available == 0) return false;
            break;  // a line too long for the published layout, or the last one without LF
        }
        std::size_t length = lf;
        if (length > 0 && start[length - 1] == '\r') --length;
        if (length == 0) {
            begin_ += lf + 1;
            continue;
        }
        const std::size_t stop = begin_ + length;
        // The next NUL and comment opening are found once for many lines.
        if (!nul_known_ || next_nul_ < begin_) (void)cut_at_nul(std::string_view(start, length));
        if (!comment_known_ || next_comment_ < begin_) (void)find_comment_open(std::string_view(start, length));
        if (next_nul_ < stop) {
            // Binary bytes: read as before, up to the NUL.
            if (!read_full_line(line.text)) return false;
            scan_tags(line.text, line.tags);
            return true;
        }
        const bool comment = next_comment_ + kCommentOpen.size() <= stop;
        if (comment && line.tags.count == 1 && next_comment_ == begin_ + line.tags.at[0] && length >= 7 &&
            std::string_view(start + length - 3, 3) == kCommentClose) {
            // A comment on a line of its own (XML allows no "--" inside one) is no line at all.
            begin_ += lf + 1;
            continue;
        }
        if (comment || length > kMaxLineBytes) break;
        const Layout layout = classify(start, length, lf, available, line.tags);
        if (layout == Layout::published) {
            line.text = std::string_view(start, length);
            begin_ += lf + 1;
            return true;
        }
        // Unknown: the next line's text lies beyond the chunk; beyond blanks it cannot hold, the
        // rewriter judges.
        if (layout == Layout::unknown && available < kWindow && refill()) continue;
        break;
    }
    cursor_ = std::make_unique<ChunkCursor>(*this);
    layout_ = std::make_unique<XmlLayout>(*cursor_);
    return read_layout_line(line);
}

}  // namespace chizuvec
