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

// Writes a message (errors, warnings, statistics, summaries) to standard error as it is.
inline void print_error(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stderr); }

// Standard output carrying the program's results (the listing, the CSV): every write is checked.
inline constexpr const char* kCannotWriteStdout = "** Error: Cannot write standard output\n";
// Writes `bytes` to standard output; false when the write failed.
bool write_standard_output(std::string_view bytes);
// Flushes standard output; false when it or any earlier write to it failed.
bool finish_standard_output();

}  // namespace chizuvec
