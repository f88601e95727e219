#include "mapxml/xml_layout.hpp"

#include <cstdint>
#include <utility>
#include <vector>

#include "common/utf8.hpp"

namespace chizuvec {
namespace {

bool is_space(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

void append_capped(std::string& text, char c) {
    if (text.size() < kMaxLayoutLine) text += c;
}

void append_capped(std::string& text, std::string_view more) {
    if (text.size() < kMaxLayoutLine) text.append(more.substr(0, kMaxLayoutLine - text.size()));
}

// The attributes that name a record go first, where the reader's tests look for them.
bool names_record(std::string_view name) { return name == "id" || name == "idref"; }

// The code point of a character reference's digits, or 0 when they are no character XML allows.
std::uint32_t reference_code(std::string_view digits, bool hex) {
    if (digits.empty()) return 0;
    std::uint32_t code = 0;
    for (const char c : digits) {
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (hex && c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (hex && c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return 0;
        }
        code = code * (hex ? 16u : 10u) + digit;
        if (code > 0x10FFFF) return 0;
    }
    if ((code >= 0xD800 && code <= 0xDFFF) || code == 0xFFFE || code == 0xFFFF) return 0;
    if (code < 0x20 && code != 0x9 && code != 0xA && code != 0xD) return 0;
    return code;
}

// Appends the character of the reference `name` (between '&' and ';'); false when it names none.
bool append_reference(std::string& out, std::string_view name) {
    if (name == "amp") {
        out += '&';
    } else if (name == "lt") {
        out += '<';
    } else if (name == "gt") {
        out += '>';
    } else if (name == "quot") {
        out += '"';
    } else if (name == "apos") {
        out += '\'';
    } else if (name.size() > 1 && name[0] == '#') {
        const bool hex = name[1] == 'x';
        const std::uint32_t code = reference_code(name.substr(hex ? 2 : 1), hex);
        if (code == 0) return false;
        append_utf8(out, static_cast<char32_t>(code));
    } else {
        return false;
    }
    return true;
}

}  // namespace

std::string_view decode_xml_text(std::string_view text, std::string& scratch) {
    std::size_t amp = text.find('&');
    if (amp == std::string_view::npos) return text;
    scratch.clear();
    std::size_t from = 0;
    while (amp != std::string_view::npos) {
        scratch.append(text.substr(from, amp - from));
        // The longest reference XML knows here is &#x10FFFF; (10 bytes).
        const std::size_t semi = text.substr(amp, 12).find(';');
        if (semi != std::string_view::npos && append_reference(scratch, text.substr(amp + 1, semi - 1))) {
            from = amp + semi + 1;
        } else {
            scratch += '&';
            from = amp + 1;
        }
        amp = text.find('&', from);
    }
    scratch.append(text.substr(from));
    return scratch;
}

// CR LF and CR are LF, as an XML processor reads them; NUL bytes are no text and go.
int XmlLayout::get() {
    if (pushed_ != -2) {
        const int c = pushed_;
        pushed_ = -2;
        return c;
    }
    for (;;) {
        int c = input_.get();
        if (c == '\n' && cr_) {
            cr_ = false;
            continue;
        }
        cr_ = c == '\r';
        if (cr_) c = '\n';
        if (c == 0) {
            // A NUL ends what is seen of its line, as for the published layout.
            while (c >= 0 && c != '\n' && c != '\r') c = input_.get();
            cr_ = c == '\r';
            return c < 0 ? c : '\n';
        }
        return c;
    }
}

void XmlLayout::emit(std::string_view text) { out_[out_count_++].assign(text); }

// Skips up to and including `end`; false when the input ends first.
bool XmlLayout::skip_until(std::string_view end) {
    std::string last;  // the last bytes read, as many as `end` has
    for (int c = get(); c >= 0; c = get()) {
        if (last.size() == end.size()) last.erase(0, 1);
        last += static_cast<char>(c);
        if (last == end) return true;
    }
    return false;
}

// A declaration such as DOCTYPE, with its internal subset in brackets.
void XmlLayout::skip_declaration() {
    int depth = 0;
    int quote = 0;
    for (int c = get(); c >= 0; c = get()) {
        if (quote != 0) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '[') {
            ++depth;
        } else if (c == ']') {
            --depth;
        } else if (c == '>' && depth <= 0) {
            return;
        }
    }
}

// A CDATA section's text, escaped as text outside one would be.
void XmlLayout::read_cdata() {
    std::size_t brackets = 0;
    for (int c = get(); c >= 0; c = get()) {
        if (c == ']') {
            ++brackets;
            continue;
        }
        if (c == '>' && brackets >= 2) {
            for (std::size_t i = 2; i < brackets; ++i) append_capped(text_, ']');
            return;
        }
        for (; brackets > 0; --brackets) append_capped(text_, ']');
        if (c == '&') {
            append_capped(text_, "&amp;");
        } else if (c == '<') {
            append_capped(text_, "&lt;");
        } else if (c == '>') {
            append_capped(text_, "&gt;");
        } else {
            append_capped(text_, static_cast<char>(c));
        }
        if (!is_space(c)) text_blank_ = false;
        if (c == '\n') text_break_ = true;
    }
}

void XmlLayout::read_text(int first) {
    for (int c = first; c >= 0; c = get()) {
        if (c == '<') {
            unget(c);
            return;
        }
        append_capped(text_, static_cast<char>(c));
        if (!is_space(c)) text_blank_ = false;
        if (c == '\n') text_break_ = true;
    }
}

void XmlLayout::flush_text() {
    if (!text_blank_) emit(text_);
    text_.clear();
    text_blank_ = true;
    text_break_ = false;
}

void XmlLayout::flush_open_as_container() {
    if (!open_pending_) return;
    open_ += '>';
    emit(open_);
    open_pending_ = false;
}

void XmlLayout::read_end_tag() {
    std::string name;
    int c = get();
    for (; c >= 0 && c != '>' && !is_space(c); c = get()) append_capped(name, static_cast<char>(c));
    while (c >= 0 && c != '>') c = get();
    if (c < 0) return;  // a tag the input cuts off is no tag
    if (open_pending_) {
        open_pending_ = false;
        const bool has_attributes = open_.find(' ') != std::string::npos;
        if (text_.empty() && has_attributes) {
            open_ += "/>";
            emit(open_);
        } else if (text_blank_ && text_break_) {
            // Only layout between the tags: an element without a value, as on two lines.
            open_ += '>';
            emit(open_);
            emit("</" + name + ">");
        } else {
            open_ += '>';
            open_ += text_;
            open_ += "</";
            open_ += name;
            open_ += '>';
            emit(open_);
        }
        text_.clear();
        text_blank_ = true;
        text_break_ = false;
        return;
    }
    flush_text();
    emit("</" + name + ">");
}

void XmlLayout::read_start_tag() {
    std::string tag = "<";
    int c = get();
    for (; c >= 0 && c != '>' && c != '/' && !is_space(c); c = get()) append_capped(tag, static_cast<char>(c));
    const std::size_t name_end = tag.size();
    std::vector<std::pair<std::string, std::string>> attributes;
    bool empty = false;
    for (;;) {
        while (is_space(c)) c = get();
        if (c < 0 || c == '>') break;
        if (c == '/') {
            c = get();
            if (c == '>' || c < 0) {
                empty = true;
                break;
            }
            continue;
        }
        std::string name;
        for (; c >= 0 && c != '=' && c != '>' && c != '/' && !is_space(c); c = get()) {
            append_capped(name, static_cast<char>(c));
        }
        while (is_space(c)) c = get();
        if (c != '=') continue;  // not XML; the name alone is dropped
        c = get();
        while (is_space(c)) c = get();
        if (c != '"' && c != '\'') continue;
        const int quote = c;
        std::string value;
        for (c = get(); c >= 0 && c != quote; c = get()) {
            if (c == '"') {
                append_capped(value, "&quot;");
            } else if (is_space(c)) {
                append_capped(value, ' ');  // attribute values see line breaks and tabs as blanks
            } else {
                append_capped(value, static_cast<char>(c));
            }
        }
        if (c >= 0) c = get();
        attributes.emplace_back(std::move(name), std::move(value));
    }
    if (c < 0) return;  // a tag the input cuts off is no tag
    for (int pass = 0; pass < 2; ++pass) {
        for (const auto& [name, value] : attributes) {
            if (names_record(name) != (pass == 0)) continue;
            append_capped(tag, " ");
            append_capped(tag, name);
            append_capped(tag, "=\"");
            append_capped(tag, value);
            append_capped(tag, "\"");
        }
    }
    if (open_pending_ && !text_blank_) {
        // Text that no end tag closes stays on the line of its start tag, as a file would have it.
        open_ += '>';
        open_ += text_;
        emit(open_);
        open_pending_ = false;
        text_.clear();
        text_blank_ = true;
        text_break_ = false;
    }
    if (open_pending_) flush_open_as_container();
    flush_text();
    if (!empty) {
        open_ = std::move(tag);
        open_pending_ = true;
        return;
    }
    if (attributes.empty()) {
        emit(tag + "></" + tag.substr(1, name_end - 1) + ">");
    } else {
        emit(tag + "/>");
    }
}

bool XmlLayout::next(std::string_view& line) {
    while (out_next_ == out_count_) {
        out_next_ = 0;
        out_count_ = 0;
        if (ended_) return false;
        const int c = get();
        if (c < 0) {
            flush_open_as_container();
            flush_text();
            ended_ = true;
        } else if (c != '<') {
            read_text(c);
        } else {
            const int d = get();
            if (d == '!') {
                const int e = get();
                if (e == '-') {
                    if (get() == '-') {
                        skip_until("-->");
                    } else {
                        skip_declaration();
                    }
                } else if (e == '[') {
                    // "CDATA[" follows.
                    for (int i = 0; i < 6 && get() >= 0; ++i) {
                    }
                    read_cdata();
                } else {
                    unget(e);
                    skip_declaration();
                }
            } else if (d == '?') {
                skip_until("?>");
            } else if (d == '/') {
                read_end_tag();
            } else {
                unget(d);
                read_start_tag();
            }
        }
    }
    served_.swap(out_[out_next_++]);
    line = served_;
    return true;
}

}  // namespace chizuvec
