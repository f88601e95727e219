// Texts from outside the program as they go into the drawing: always well-formed XML character
// data, never markup. Map texts are XML text already and keep their references; file names and the
// configured source line are plain text and have every special character escaped.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "common/fixed_text.hpp"

namespace chizuvec {

// Appends a text of the map file (or the map number it is selected by) as XML character data. A
// reference XML accepts (&amp; &lt; &gt; &quot; &apos;, &#N; and &#xH; naming a character XML
// allows) is kept as written; any other "&", and "<" and ">", become entities. Ill-formed UTF-8
// becomes U+FFFD; characters XML forbids (C0 controls but tab, LF and CR; U+FFFE, U+FFFF) are
// dropped. When `may_end_cut` is set the text filled its field, and a reference cut off by the
// field's end ("&am") is left out rather than escaped.
void append_map_text(std::string& out, std::string_view text, bool may_end_cut);

// The text of a fixed field: it may have been cut when it fills the field.
template <std::size_t N>
void append_map_field(std::string& out, const char (&field)[N]) {
    append_map_text(out, field_view(field), field_length(field) == N - 1);
}

// Appends `text` with & < > " ' all written as entities and nothing ever cut, and with the same
// repair of ill-formed UTF-8 and forbidden characters as append_map_text.
void append_xml_escaped(std::string& out, std::string_view text);

// The text that XML character data stands for: its references (as the appenders above leave them)
// replaced by the characters they name.
std::string plain_text_of(std::string_view xml_text);

}  // namespace chizuvec
