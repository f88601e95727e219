// Copies into the fixed-size text fields of the records. Every field keeps at most its size less one
// byte, is always zero-terminated, and is cut only at a UTF-8 character boundary so that no field
// ever ends in half a character.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

#include "common/utf8.hpp"

namespace chizuvec {

// Length of the longest prefix of `text` that fits `room` bytes and does not end inside a
// well-formed UTF-8 character. Ill-formed bytes count as characters of their own.
inline std::size_t utf8_fit(std::string_view text, std::size_t room) {
    if (text.size() <= room) return text.size();
    // text[room] is the first byte dropped; when it continues a character, that character goes too.
    std::size_t lead = room;
    while (lead > 0 && room - lead < 3 && is_utf8_continuation(static_cast<unsigned char>(text[lead]))) --lead;
    if (lead == room) return room;
    const Utf8Char c = decode_utf8(text, lead);
    return c.well_formed && lead + c.length > room ? lead : room;
}

// Length of the zero-terminated text held in a field.
template <std::size_t N>
std::size_t field_length(const char (&field)[N]) {
    return ::strnlen(field, N);
}

template <std::size_t N>
std::string_view field_view(const char (&field)[N]) {
    return std::string_view(field, field_length(field));
}

// Replaces the field's text. Returns true when the value had to be cut.
template <std::size_t N>
bool copy_text(char (&field)[N], std::string_view value) {
    static_assert(N > 0);
    const std::size_t len = utf8_fit(value, N - 1);
    if (len > 0) std::memcpy(field, value.data(), len);
    field[len] = '\0';
    return len != value.size();
}

// Appends to the field's text. Returns true when the value had to be cut.
template <std::size_t N>
bool append_text(char (&field)[N], std::string_view value) {
    static_assert(N > 0);
    const std::size_t used = field_length(field) < N ? field_length(field) : N - 1;
    const std::size_t len = utf8_fit(value, N - 1 - used);
    if (len > 0) std::memcpy(field + used, value.data(), len);
    field[used + len] = '\0';
    return len != value.size();
}

}  // namespace chizuvec
