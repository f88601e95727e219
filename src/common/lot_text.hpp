// Lot numbers and map numbers as people type them: the normal form in which a typed text and the
// map's own text are compared. The map's text is still what is shown.
#pragma once

#include <string>
#include <string_view>

namespace chizuvec {

// `text` (UTF-8) in its normal form: full-width ASCII (U+FF01 to U+FF5E) as ASCII, the dashes
// U+2010 to U+2015, U+2212 and U+FF70 as '-', U+30FC as '-' where it stands between two digits, and
// every space (ASCII or ideographic) left out, 番 and 番地 between two digits as '-', and the kanji
// numerals before 丁目 (一 to 百九十九) as arabic ones. The view is `text` itself when it is already in the
// normal form, else `buffer` filled with it.
std::string_view normal_lot_text(std::string_view text, std::string& buffer);

// The edit distance between two texts, byte by byte (a kanji differs by up to 3).
std::size_t edit_distance(std::string_view a, std::string_view b);

}  // namespace chizuvec
