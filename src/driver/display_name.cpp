#include "driver/display_name.hpp"

#include "common/utf8.hpp"
#include "mapxml/code_page_guess.hpp"
#include "platform/platform.hpp"

namespace chizuvec {
namespace {

bool is_utf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const Utf8Char c = decode_utf8(text, i);
        if (!c.well_formed) return false;
        i += c.length;
    }
    return true;
}

// The bidirectional formatting characters: shown as they are, they reorder the rest of the line, so
// that "a\u202Egpj.exe" reads as "aexe.jpg" on a terminal.
bool is_bidi_control(char32_t c) {
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

std::string display_name(std::string_view name) { return message_text(display_utf8(name)); }

std::string message_text(std::string_view utf8) {
    // Messages are written in the code page of the console's texts (UTF-8 on POSIX).
    const std::uint32_t code_page = platform::ansi_code_page();
    if (code_page != platform::kCodePageUtf8)
        return platform::convert_code_page(std::string(utf8), platform::kCodePageUtf8, code_page);
    return std::string(utf8);
}

std::string display_utf8(std::string_view name) {
    std::string text(name);
    if (!is_utf8(text)) {
        const int guess = guess_code_page(text.c_str());
        const bool japanese = guess == static_cast<int>(platform::kCodePageShiftJis) ||
                              guess == static_cast<int>(platform::kCodePageEucJp);
        // Else a name in the code page of file names, as arguments and folders give them.
        const std::uint32_t from = japanese ? static_cast<std::uint32_t>(guess) : platform::ansi_code_page();
        if (from != platform::kCodePageUtf8) text = platform::convert_code_page(text, from, platform::kCodePageUtf8);
    }
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const Utf8Char c = decode_utf8(text, i);
        const bool control =
            c.code_point < 0x20 || (c.code_point >= 0x7F && c.code_point <= 0x9F) || is_bidi_control(c.code_point);
        if (!c.well_formed || control) {
            shown += '?';
        } else {
            shown.append(text, i, c.length);
        }
        i += c.length;
    }
    return shown;
}

}  // namespace chizuvec
