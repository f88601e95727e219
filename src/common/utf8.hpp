// The one UTF-8 decoder of the program. Well-formed means what the Unicode standard says: no
// overlong forms, no surrogates, nothing above U+10FFFF; anything else is ill-formed and stands for
// U+FFFD, one replacement per maximal ill-formed subpart, as browsers and renderers count them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace chizuvec {

inline constexpr char32_t kReplacementCharacter = U'\uFFFD';
inline constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";

struct Utf8Char {
    char32_t code_point = 0;  // kReplacementCharacter when ill-formed
    std::size_t length = 1;   // bytes taken: the whole character, or the ill-formed subpart (at least 1)
    bool well_formed = true;
};

// Decodes the character that starts at `pos` (which must lie inside `text`).
constexpr Utf8Char decode_utf8(std::string_view text, std::size_t pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    if (lead < 0x80) return {lead, 1, true};
    // The range allowed for the second byte is what excludes overlong forms, surrogates and values
    // above U+10FFFF; later bytes are plain continuation bytes.
    std::size_t tail = 0;
    unsigned char low = 0x80, high = 0xBF;
    char32_t code_point = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        tail = 1, code_point = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        tail = 2, code_point = lead & 0x0Fu;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        tail = 3, code_point = lead & 0x07u;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return {kReplacementCharacter, 1, false};
    }
    std::size_t length = 1;
    for (std::size_t k = 0; k < tail; ++k, ++length) {
        if (pos + length >= text.size()) return {kReplacementCharacter, length, false};
        const unsigned char b = byte(pos + length);
        if (b < (k == 0 ? low : 0x80) || b > (k == 0 ? high : 0xBF)) return {kReplacementCharacter, length, false};
        code_point = (code_point << 6) | (b & 0x3Fu);
    }
    return {code_point, length, true};
}

constexpr bool is_utf8_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Appends the UTF-8 form of the code point `c` (at most U+10FFFF).
inline void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Appends `text` with each ill-formed subpart replaced by U+FFFD, so that what a map file holds
// reaches every output as valid UTF-8. Runs of ASCII are copied whole.
inline void append_well_formed_utf8(std::string& out, std::string_view text) {
    std::size_t copied = 0;  // text[copied, i) is yet to be appended, and well formed
    for (std::size_t i = 0; i < text.size();) {
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        const Utf8Char ch = decode_utf8(text, i);
        if (!ch.well_formed) {
            out.append(text, copied, i - copied);
            out += kReplacementUtf8;
            copied = i + ch.length;
        }
        i += ch.length;
    }
    out.append(text, copied, text.size() - copied);
}

}  // namespace chizuvec
