#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>

#include "cad/cad_source.hpp"
#include "common/utf8.hpp"
#include "platform/platform.hpp"

namespace chizuvec {
namespace {

// Each character of `utf8` in CP932, or `replacement(code point)` where it has none.
template <typename Replace>
std::string to_cp932(std::string_view utf8, std::string_view special, Replace replacement) {
    std::string out;
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const Utf8Char ch = decode_utf8(utf8, pos);
        const char32_t c = ch.code_point;
        const std::string_view one = utf8.substr(pos, ch.length);
        pos += ch.length;
        if (c < 0x80) {
            if (c < 0x20 || c == 0x7F || special.find(static_cast<char>(c)) != std::string_view::npos) {
                out += replacement(c);
            } else {
                out += static_cast<char>(c);
            }
            continue;
        }
        // One character at a time, so that the one replacement marks exactly the character lacking.
        const std::string converted =
            !ch.well_formed ? std::string("?")
                            : platform::convert_code_page(one, platform::kCodePageUtf8, platform::kCodePageShiftJis);
        if (converted.empty() || converted == "?") {
            out += replacement(c);
        } else {
            out += converted;
        }
    }
    return out;
}

}  // namespace

bool is_outside_lot(std::string_view chiban) {
    return chiban.find("地区外") != std::string_view::npos || chiban.find("別図") != std::string_view::npos;
}

std::string cad_text(std::string_view utf8) {
    return to_cp932(utf8, "\\%^", [](char32_t c) {
        // \U+ takes four hexadecimal digits: a character beyond them is written as its UTF-16 pair.
        char code[32];
        if (c > 0xFFFF) {
            const unsigned v = static_cast<unsigned>(c) - 0x10000;
            std::snprintf(code, sizeof code, "\\U+%04X\\U+%04X", 0xD800 + (v >> 10), 0xDC00 + (v & 0x3FF));
        } else {
            std::snprintf(code, sizeof code, "\\U+%04X", static_cast<unsigned>(c));
        }
        return std::string(code);
    });
}

std::string survey_text(std::string_view utf8) {
    return to_cp932(utf8, ",", [](char32_t) { return std::string("?"); });
}

void append_coordinate(std::string& out, double value) {
    // Fixed notation: survey programs read no exponents. The largest double takes 309 digits.
    char digits[400];
    const auto result = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed);
    if (!std::isfinite(value) || result.ec != std::errc()) {
        out += '0';
        return;
    }
    out.append(digits, result.ptr);
}

}  // namespace chizuvec
