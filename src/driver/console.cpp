#include "driver/console.hpp"

#include "platform/platform.hpp"

namespace chizuvec {

std::string console_text(std::string_view text, std::uint32_t console_code_page, std::uint32_t ansi_code_page) {
    if (console_code_page == platform::kCodePageUtf8) {
        return platform::convert_code_page(text, ansi_code_page, platform::kCodePageUtf8);
    }
    return std::string(text);
}

void console_print(std::string_view text, std::uint32_t console_code_page, std::uint32_t ansi_code_page,
                   std::FILE* out) {
    if (console_code_page == platform::kCodePageUtf8) {
        const std::string utf8 = platform::convert_code_page(text, ansi_code_page, platform::kCodePageUtf8);
        std::fwrite(utf8.data(), 1, utf8.size(), out);
    } else {
        std::fwrite(text.data(), 1, text.size(), out);
    }
}

bool write_standard_output(std::string_view bytes) {
    return bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size();
}

bool finish_standard_output() { return std::fflush(stdout) == 0 && std::ferror(stdout) == 0; }

}  // namespace chizuvec
