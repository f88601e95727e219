// Byte-wise text comparison in which only the ASCII letters fold; every other byte, the bytes of
// multi-byte characters included, must match exactly.
#pragma once

#include <cstddef>
#include <string_view>

namespace chizuvec {

constexpr char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

constexpr bool equals_ignoring_ascii_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    }
    return true;
}

}  // namespace chizuvec
