#include "common/lot_text.hpp"

#include <algorithm>
#include <string>
#include <vector>

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

constexpr std::string_view kBan = "番";
constexpr std::string_view kChi = "地";
constexpr std::string_view kChome = "丁目";

// The value of a kanji numeral character, 10 for 十 and 100 for 百; -1 for any other text.
int kanji_digit(std::string_view c) {
    static constexpr std::string_view kDigits[] = {"〇", "一", "二", "三", "四", "五", "六", "七", "八", "九"};
    for (int d = 0; d < 10; ++d) {
        if (c == kDigits[d]) return d;
    }
    if (c == "十") return 10;
    if (c == "百") return 100;
    return -1;
}

// The number a run of kanji numerals writes (二十六, 百五, or digit by digit as 二六); -1 when the
// run is no number.
long kanji_number(std::string_view run) {
    long total = 0;
    long digits = -1;  // the digits since the last 十 or 百, read positionally
    bool positional = true;
    for (std::size_t i = 0; i + 3 <= run.size(); i += 3) {
        const int d = kanji_digit(run.substr(i, 3));
        if (d < 10) {
            digits = (digits < 0 ? 0 : digits * 10) + d;
            continue;
        }
        positional = false;
        total += (digits < 0 ? 1 : digits) * d;
        digits = -1;
    }
    if (positional) return digits;
    return total + (digits < 0 ? 0 : digits);
}

// 丁目 written with kanji numerals (三丁目, 二十六丁目) in arabic ones, as registry documents and
// the maps write either.
void arabic_chome(std::string& text) {
    for (std::size_t at = text.find(kChome); at != std::string::npos; at = text.find(kChome, at + 1)) {
        std::size_t begin = at;
        while (begin >= 3 && kanji_digit(std::string_view(text).substr(begin - 3, 3)) >= 0) begin -= 3;
        // At most 百九十九 and so on: a longer run is some name's, not a number.
        if (begin == at || at - begin > 5 * 3) continue;
        const long value = kanji_number(std::string_view(text).substr(begin, at - begin));
        if (value <= 0) continue;
        const std::string digits = std::to_string(value);
        text.replace(begin, at - begin, digits);
        at = begin + digits.size();
    }
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
        // 26番111 and 26番地111 as registry documents write 26-111.
        if (text.substr(i, 3) == kBan && !buffer.empty() && is_digit(buffer.back())) {
            const std::size_t after = text.substr(i + 3, 3) == kChi ? i + 6 : i + 3;
            if (digit_at(text, after)) {
                buffer += kDash;
                i = after;
                continue;
            }
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
    arabic_chome(buffer);
    return buffer;
}

std::size_t edit_distance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

}  // namespace chizuvec
