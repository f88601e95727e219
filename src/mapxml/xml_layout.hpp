// Rewrites map XML of any layout into the one the line reader's tests expect: every element on a
// line of its own, a value element's start tag, text and end tag on one line, attributes in double
// quotes with single spaces and id or idref first, an empty element without attributes as <a></a>
// and with them as <a .../>. Comments, processing instructions and the DOCTYPE are dropped; a CDATA
// section becomes escaped text, so that a line's text never holds '<'; entity references stay as
// they are (the reader decodes the values it takes). CR LF and CR become LF. Whitespace with a line
// break between tags is layout and goes; other text stays, line breaks included.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace chizuvec {

// Where the rewriter's bytes come from: the next byte, or -1 at the end of the input.
class ByteCursor {
  public:
    virtual ~ByteCursor() = default;
    virtual int get() = 0;
};

// A text or tag longer than this is cut: no input chooses the memory of a line.
inline constexpr std::size_t kMaxLayoutLine = std::size_t{64} << 10;

class XmlLayout {
  public:
    explicit XmlLayout(ByteCursor& input) : input_(input) {}
    // The next line; false at the end of the input. `line` stays valid until the next call.
    bool next(std::string_view& line);

  private:
    int get();
    void unget(int c) { pushed_ = c; }
    bool skip_until(std::string_view end);
    void skip_declaration();
    void read_cdata();
    void read_end_tag();
    void read_start_tag();
    void read_text(int first);
    void emit(std::string_view text);
    void flush_open_as_container();
    void flush_text();

    ByteCursor& input_;
    int pushed_ = -2;   // a byte given back, or -2
    bool cr_ = false;   // the last byte was a CR (so an LF right after it goes)
    std::string open_;  // a start tag not written yet ("<name attrs"), or empty
    bool open_pending_ = false;
    std::string text_;         // text since the last tag, still escaped
    bool text_blank_ = true;   // text_ is white space only
    bool text_break_ = false;  // text_ holds a line break
    std::string out_[3];       // lines made ready, served in order
    std::size_t out_count_ = 0;
    std::size_t out_next_ = 0;
    std::string served_;  // the line last handed out
    bool ended_ = false;
};

// The text of an XML value as XML defines it: the predefined entities and character references
// decoded (an unknown or malformed reference stays as it is). `scratch` holds the result when
// decoding was needed; the returned view points into it or into `text`.
std::string_view decode_xml_text(std::string_view text, std::string& scratch);

}  // namespace chizuvec
