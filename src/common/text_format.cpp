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

}  // namespace chizuvec
