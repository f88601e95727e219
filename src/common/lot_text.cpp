#include "common/lot_text.hpp"

namespace chizuvec {
namespace {

constexpr char kDash = '-';

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The ASCII character a three-byte sequence at `p` stands for, or 0 when it stays as it is; `dash`
// is set for U+30FC, which counts only between digits.
char ascii_of(const unsigned char* p, bool& prolonged) {
    prolonged = false;
    const unsigned code = (static_cast<unsigned>(p[0] & 0x0Fu) << 12) | (static_cast<unsigned>(p[1] & 0x3Fu) << 6) |
                          static_cast<unsigned>(p[2] & 0x3Fu);
    if (code >= 0xFF01 && code <= 0xFF5E) return static_cast<char>(code - 0xFEE0);
    if (code == 0x3000) return ' ';
    if ((code >= 0x2010 && code <= 0x2015) || code == 0x2212 || code == 0xFF70) return kDash;
    if (code == 0x30FC) {
        prolonged = true;
        return kDash;
    }
    return 0;
}

bool is_three_byte(std::string_view text, std::size_t i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    return lead >= 0xE0 && lead <= 0xEF && i + 2 < text.size() &&
           (static_cast<unsigned char>(text[i + 1]) & 0xC0) == 0x80 &&
           (static_cast<unsigned char>(text[i + 2]) & 0xC0) == 0x80;
}

// Is the character at `i` a digit, ASCII or full-width?
bool digit_at(std::string_view text, std::size_t i) {
    if (i >= text.size()) return false;
    if (is_digit(text[i])) return true;
    bool prolonged = false;
    return is_three_byte(text, i) &&
           is_digit(ascii_of(reinterpret_cast<const unsigned char*>(text.data() + i), prolonged));
}

}  // namespace

std::string_view normal_lot_text(std::string_view text, std::string& buffer) {
    // Most texts are plain ASCII without spaces and need no copy.
    std::size_t i = 0;
    while (i < text.size() && static_cast<unsigned char>(text[i]) < 0x80 && text[i] != ' ') ++i;
    if (i == text.size()) return text;

    buffer.assign(text.substr(0, i));
    while (i < text.size()) {
        const char c = text[i];
        if (c == ' ') {
            ++i;
            continue;
        }
        if (!is_three_byte(text, i)) {
            buffer += c;
            ++i;
            continue;
        }
        bool prolonged = false;
        const char ascii = ascii_of(reinterpret_cast<const unsigned char*>(text.data() + i), prolonged);
        const bool between_digits = !buffer.empty() && is_digit(buffer.back()) && digit_at(text, i + 3);
        if (ascii == 0 || (prolonged && !between_digits)) {
            buffer.append(text.substr(i, 3));
        } else if (ascii != ' ') {
            buffer += ascii;
        }
        i += 3;
    }
    return buffer;
}

}  // namespace chizuvec
