// printf into a std::string of any length: messages and listing lines are never cut.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#if defined(__MINGW_PRINTF_FORMAT)
// MinGW's C99 stdio (the one its C++ library selects) takes %zu and %lld; plain printf would be
// checked as the Microsoft one.
#define CHIZUVEC_PRINTF_LIKE(format_index, first_arg) \
    __attribute__((format(__MINGW_PRINTF_FORMAT, format_index, first_arg)))
#elif defined(__GNUC__)
#define CHIZUVEC_PRINTF_LIKE(format_index, first_arg) __attribute__((format(printf, format_index, first_arg)))
#else
#define CHIZUVEC_PRINTF_LIKE(format_index, first_arg)
#endif

namespace chizuvec {

// Appends the formatted text to `text`.
void append_format(std::string& text, const char* format, ...) CHIZUVEC_PRINTF_LIKE(2, 3);

// The formatted text.
std::string format_text(const char* format, ...) CHIZUVEC_PRINTF_LIKE(1, 2);

// Appends a CSV field, quoted when it holds a comma or quote; control bytes become "?", and a text
// that a spreadsheet would take for a formula (=, +, -, @ first) gets a leading apostrophe.
void append_csv_field(std::string& out, std::string_view text);

// An identifier number as the program's "%d" formats show it: its bit pattern read as int.
inline int as_printf_int(std::uint32_t value) { return static_cast<int>(static_cast<std::int32_t>(value)); }

}  // namespace chizuvec
