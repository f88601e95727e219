#include "common/text_format.hpp"

#include <cstdarg>
#include <cstdio>

namespace chizuvec {
namespace {

void append_vformat(std::string& text, const char* format, std::va_list args) {
    // Most texts fit a stack buffer; only a longer one is formatted a second time.
    char buffer[512];
    std::va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(buffer, sizeof buffer, format, args);
    if (length > 0 && static_cast<std::size_t>(length) < sizeof buffer) {
        text.append(buffer, static_cast<std::size_t>(length));
    } else if (length > 0) {
        const std::size_t start = text.size();
        text.resize(start + static_cast<std::size_t>(length) + 1);
        std::vsnprintf(text.data() + start, static_cast<std::size_t>(length) + 1, format, again);
        text.resize(start + static_cast<std::size_t>(length));
    }
    va_end(again);
}

}  // namespace

void append_format(std::string& text, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    append_vformat(text, format, args);
    va_end(args);
}

std::string format_text(const char* format, ...) {
    std::string text;
    std::va_list args;
    va_start(args, format);
    append_vformat(text, format, args);
    va_end(args);
    return text;
}

// A field, quoted when it holds a comma, quote or line end. Control bytes become "?" as in the
// listing, and a text from the map that a spreadsheet would take for a formula (it begins with =,
// +, -, @) gets a leading apostrophe, so that opening the file never evaluates it.
void append_csv_field(std::string& out, std::string_view text) {
    std::string field;
    if (!text.empty() && (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@')) field = "'";
    bool quote = false;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F) {
            field += '?';
            continue;
        }
        if (c == '"') field += '"';
        quote = quote || c == ',' || c == '"';
        field += c;
    }
    if (quote) {
        out += '"';
        out += field;
        out += '"';
    } else {
        out += field;
    }
}

}  // namespace chizuvec
