#include "common/numbers.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace chizuvec {
namespace {

constexpr std::uint64_t kMaxU32 = 0xFFFFFFFFull;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// White space as isspace() sees it in the C locale.
bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The value of eight ASCII digits read as one little-endian word, or -1 when a byte is no digit.
std::int64_t eight_digits(const char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    constexpr std::uint64_t kHigh = 0xF0F0F0F0F0F0F0F0ull;
    constexpr std::uint64_t kZeros = 0x3030303030303030ull;
    // Every byte 0x30..0x39: its high nibble is 3, and adding 6 does not carry out of the nibble.
    if ((word & kHigh) != kZeros || ((word + 0x0606060606060606ull) & kHigh) != kZeros) return -1;
    word -= kZeros;
    word = word * 10 + (word >> 8);  // pairs of digits
    word = (((word & 0x000000FF000000FFull) * (100 + (1000000ull << 32))) +
            (((word >> 16) & 0x000000FF000000FFull) * (1 + (10000ull << 32)))) >>
           32;
    return static_cast<std::int64_t>(word);
}

// Reads a run of digits from `pos`; any value above 4294967295 comes back as 4294967296.
std::uint64_t read_digits(std::string_view text, std::size_t& pos) {
    std::uint64_t value = 0;
    if constexpr (std::endian::native == std::endian::little) {
        // Identifiers run to ten digits; eight at a time takes most of them in one step.
        while (text.size() - pos >= 8 && value <= kMaxU32) {
            const std::int64_t eight = eight_digits(text.data() + pos);
            if (eight < 0) break;
            value = value * 100000000 + static_cast<std::uint64_t>(eight);
            pos += 8;
        }
        if (value > kMaxU32) value = kMaxU32 + 1;
    }
    while (pos < text.size() && is_digit(text[pos])) {
        value = value * 10 + static_cast<std::uint64_t>(text[pos] - '0');
        if (value > kMaxU32) value = kMaxU32 + 1;  // stays above the limit without overflowing
        ++pos;
    }
    return value;
}

// Decimal exponent of the first significant digit of a number in from_chars' general format; a
// value out of a double's range is too large when it is positive. The exponent is capped so that
// absurd exponents cannot overflow.
bool is_too_large(std::string_view number) {
    constexpr std::int64_t kCap = 1000000000;
    std::size_t pos = 0;
    std::int64_t magnitude = 0;
    bool significant = false;
    while (pos < number.size() && is_digit(number[pos])) {
        if (significant || number[pos] != '0') {
            if (significant) ++magnitude;
            significant = true;
        }
        ++pos;
    }
    if (pos < number.size() && number[pos] == '.') {
        ++pos;
        std::int64_t zeros = 0;
        while (pos < number.size() && is_digit(number[pos])) {
            if (!significant) {
                if (number[pos] == '0') {
                    ++zeros;
                } else {
                    significant = true;
                    magnitude = -(zeros + 1);
                }
            }
            ++pos;
        }
    }
    if (pos < number.size() && (number[pos] == 'e' || number[pos] == 'E')) {
        ++pos;
        bool negative = false;
        if (pos < number.size() && (number[pos] == '+' || number[pos] == '-')) {
            negative = number[pos] == '-';
            ++pos;
        }
        std::int64_t exponent = 0;
        while (pos < number.size() && is_digit(number[pos])) {
            exponent = std::min<std::int64_t>(kCap, exponent * 10 + (number[pos] - '0'));
            ++pos;
        }
        magnitude += negative ? -exponent : exponent;
    }
    return significant && magnitude > 0;
}

}  // namespace

std::uint32_t parse_id_number(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && !is_digit(text[pos])) ++pos;
    const std::uint64_t value = read_digits(text, pos);
    return value > kMaxU32 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(value);
}

double parse_decimal(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && is_space(text[pos])) ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    // Only a digit, or a "." followed by a digit, starts a number.
    const std::size_t start = pos;
    if (start >= text.size()) return 0.0;
    if (!is_digit(text[start]) && !(text[start] == '.' && start + 1 < text.size() && is_digit(text[start + 1]))) {
        return 0.0;
    }
    double value = 0.0;
    const char* first = text.data() + start;
    const char* last = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        // from_chars leaves the value alone; strtod gives an infinity or zero. The exponent's sign
        // alone cannot tell them apart: "1e-5" behind 400 digits is huge, "0.000...1" is tiny.
        const std::string_view number(first, static_cast<std::size_t>(ptr - first));
        value = is_too_large(number) ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (ec != std::errc()) {
        return 0.0;
    }
    return negative ? -value : value;
}

bool parse_coordinate(std::string_view text, double& value) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && is_space(text[first])) ++first;
    while (last > first && is_space(text[last - 1])) --last;
    std::size_t pos = first;
    const bool negative = pos < last && text[pos] == '-';
    if (pos < last && (text[pos] == '+' || text[pos] == '-')) ++pos;
    std::size_t digits = 0;
    std::size_t decimals = 0;
    std::uint64_t mantissa = 0;  // of the first 19 digits, enough for the quick way below
    for (; pos < last && is_digit(text[pos]); ++pos, ++digits) {
        if (digits < 19) mantissa = mantissa * 10 + static_cast<std::uint64_t>(text[pos] - '0');
    }
    if (pos < last && text[pos] == '.') {
        for (++pos; pos < last && is_digit(text[pos]); ++pos, ++digits, ++decimals) {
            if (digits < 19) mantissa = mantissa * 10 + static_cast<std::uint64_t>(text[pos] - '0');
        }
    }
    if (digits == 0) return false;
    // The usual coordinate, "-12345.678": its digits as a whole number below 2^53 and a power of ten
    // up to 10^22 are both exact doubles, so their quotient is rounded once, as the full parse
    // rounds it.
    static constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                              1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    if (pos == last && digits <= 15) {
        const double magnitude = static_cast<double>(mantissa) / kPowersOfTen[decimals];
        value = negative ? -magnitude : magnitude;
        return true;
    }
    if (pos < last && (text[pos] == 'e' || text[pos] == 'E')) {
        ++pos;
        if (pos < last && (text[pos] == '+' || text[pos] == '-')) ++pos;
        std::size_t exponent_digits = 0;
        for (; pos < last && is_digit(text[pos]); ++pos) ++exponent_digits;
        if (exponent_digits == 0) return false;
    }
    if (pos != last) return false;
    const double read = parse_decimal(text.substr(first, last - first));
    if (!std::isfinite(read)) return false;
    value = read;
    return true;
}

std::uint32_t parse_unsigned(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && is_space(text[pos])) ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    const std::uint64_t value = read_digits(text, pos);
    if (value > kMaxU32) return 0xFFFFFFFFu;  // out of range, whatever the sign
    const auto low = static_cast<std::uint32_t>(value);
    return negative ? 0u - low : low;
}

}  // namespace chizuvec
