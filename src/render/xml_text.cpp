#include "render/xml_text.hpp"

#include <algorithm>
#include <array>

#include "common/utf8.hpp"

namespace chizuvec {
namespace {

constexpr std::array<std::string_view, 5> kEntityNames = {"amp", "lt", "gt", "quot", "apos"};
constexpr char32_t kBeyondUnicode = 0x110000;

bool is_xml_char(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c < kBeyondUnicode);
}

int digit_value(char c, bool hex) {
    if (c >= '0' && c <= '9') return c - '0';
    if (hex && c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (hex && c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Length of the digits at the start of `text`, and their value, held at kBeyondUnicode once past it.
std::size_t scan_digits(std::string_view text, bool hex, char32_t& value) {
    std::size_t n = 0;
    value = 0;
    for (int d = 0; n < text.size() && (d = digit_value(text[n], hex)) >= 0; ++n) {
        value = std::min<char32_t>(value * (hex ? 16 : 10) + static_cast<char32_t>(d), kBeyondUnicode);
    }
    return n;
}

// Length of the reference XML accepts at the start of `text` (which begins with "&"), or 0.
std::size_t reference_length(std::string_view text) {
    const std::string_view body = text.substr(1);
    if (body.starts_with('#')) {
        const bool hex = body.starts_with("#x");
        const std::size_t start = hex ? 2 : 1;
        char32_t value = 0;
        const std::size_t digits = scan_digits(body.substr(start), hex, value);
        const std::size_t end = start + digits;
        if (digits == 0 || end >= body.size() || body[end] != ';' || !is_xml_char(value)) return 0;
        return 1 + end + 1;
    }
    for (const std::string_view name : kEntityNames) {
        if (body.starts_with(name) && body.substr(name.size()).starts_with(';')) return 1 + name.size() + 1;
    }
    return 0;
}

// Could `text` (from an "&" to the end) be the start of a reference that a field's end cut off?
bool is_reference_start(std::string_view text) {
    const std::string_view body = text.substr(1);
    if (body.starts_with('#')) {
        const bool hex = body.starts_with("#x");
        const std::string_view digits = body.substr(hex ? 2 : 1);
        char32_t value = 0;
        return scan_digits(digits, hex, value) == digits.size();
    }
    for (const std::string_view name : kEntityNames) {
        if (name.starts_with(body)) return true;
    }
    return false;
}

enum class Kind { map_text, plain_text };

void append_safe(std::string& out, std::string_view text, Kind kind, bool may_end_cut) {
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x80) {
            const Utf8Char c = decode_utf8(text, i);
            if (!c.well_formed) {
                out += kReplacementUtf8;
            } else if (c.code_point != 0xFFFE && c.code_point != 0xFFFF) {
                out.append(text.substr(i, c.length));
            }
            i += c.length;
            continue;
        }
        ++i;
        switch (byte) {
            case '&':
                if (kind == Kind::map_text) {
                    const std::string_view rest = text.substr(i - 1);
                    if (const std::size_t n = reference_length(rest); n > 0) {
                        out.append(rest.substr(0, n));
                        i += n - 1;
                        break;
                    }
                    if (may_end_cut && is_reference_start(rest)) return;
                }
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += kind == Kind::map_text ? "\"" : "&quot;";
                break;
            case '\'':
                out += kind == Kind::map_text ? "'" : "&apos;";
                break;
            default:
                if (is_xml_char(byte)) out += static_cast<char>(byte);
                break;
        }
    }
}

}  // namespace

void append_map_text(std::string& out, std::string_view text, bool may_end_cut) {
    append_safe(out, text, Kind::map_text, may_end_cut);
}

void append_xml_escaped(std::string& out, std::string_view text) { append_safe(out, text, Kind::plain_text, false); }

std::string plain_text_of(std::string_view xml_text) {
    static constexpr std::string_view kCharacters[] = {"&", "<", ">", "\"", "'"};
    std::string plain;
    plain.reserve(xml_text.size());
    for (std::size_t pos = 0; pos < xml_text.size();) {
        const std::size_t length = xml_text[pos] == '&' ? reference_length(xml_text.substr(pos)) : 0;
        if (length == 0) {
            plain += xml_text[pos++];
            continue;
        }
        const std::string_view body = xml_text.substr(pos + 1, length - 2);
        pos += length;
        if (body.starts_with('#')) {
            const bool hex = body.starts_with("#x");
            char32_t c = 0;
            scan_digits(body.substr(hex ? 2 : 1), hex, c);
            append_utf8(plain, c);
            continue;
        }
        for (std::size_t i = 0; i < kEntityNames.size(); ++i) {
            if (body == kEntityNames[i]) plain += kCharacters[i];
        }
    }
    return plain;
}

}  // namespace chizuvec
