// The one place where text for the console is re-encoded.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace chizuvec {

// Writes `text`, in the ANSI code page `ansi_code_page`, to `out`; re-encoded to UTF-8 when the
// console code page is 65001. No newline is added.
// The bytes console_print would write for `text`.
std::string console_text(std::string_view text, std::uint32_t console_code_page, std::uint32_t ansi_code_page);

void console_print(std::string_view text, std::uint32_t console_code_page, std::uint32_t ansi_code_page,
                   std::FILE* out = stdout);

}  // namespace chizuvec
