// Copies into the fixed-size text fields of the records. Every field keeps at most its size less one
// byte, is always zero-terminated, and is cut only at a UTF-8 character boundary so that no field
// ever ends in half a character.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace chizuvec {

// Length of the longest prefix of `text` that fits `room` bytes and does not end inside a UTF-8
// sequence. Bytes that are not valid UTF-8 are treated as characters of their own.
inline std::size_t utf8_fit(std::string_view text, std::size_t room) {
    if (text.size() <= room) return text.size();
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const auto is_tail = [&](std::size_t i) { return (byte(i) & 0xC0) == 0x80; };
    // text[room] is the first byte dropped; when it continues a character, that character goes too.
    std::size_t lead = room;
    while (lead > 0 && room - lead < 3 && is_tail(lead)) --lead;
    if (lead == room || is_tail(lead)) return room;
    const unsigned char b = byte(lead);
    const std::size_t length = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    return lead + length > room ? lead : room;
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
