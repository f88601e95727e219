// Number rules shared by the map reader and the settings reader. All of them are independent of the
// locale: the decimal separator is always ".".
#pragma once

#include <cstdint>
#include <string_view>

namespace chizuvec {

// Identifier number of an id or idref value: skip to the first decimal digit and read the run of
// digits that follows. No digit gives 0; a value above 4294967295 reads as 4294967295.
std::uint32_t parse_id_number(std::string_view text);

// Decimal floating-point number: leading white space, optional sign, digits with an optional "."
// fraction and an optional exponent. Reading stops at the first character that does not fit; no
// number gives 0.0. "inf", "nan" and hexadecimal forms are not numbers here. A value beyond the
// range of a double reads as an infinity of its sign, as the C library's strtod gives it.
double parse_decimal(std::string_view text);

// A coordinate written as the whole text: ASCII white space around an optional sign, digits with an
// optional "." fraction and an optional exponent, and nothing else. False for anything else ("NaN",
// "inf", "0x10", full-width digits, an empty text, trailing characters) and for a value beyond the
// range of a double, so that no such text passes for a place; `value` is then left alone.
bool parse_coordinate(std::string_view text, double& value);

// Unsigned settings value: leading white space, optional sign, decimal digits up to the first
// non-digit. No digits give 0, a magnitude above 4294967295 gives 4294967295, and a minus sign
// yields the 32-bit two's complement of the number.
std::uint32_t parse_unsigned(std::string_view text);

}  // namespace chizuvec
