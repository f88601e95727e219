// The messages of a map file that could not be read, as the single-map command prints them.
#pragma once

#include <string>
#include <string_view>

#include "mapxml/map_xml_reader.hpp"

namespace chizuvec {

// The error lines for a failed read (status not ok), each ending in a line end. `inner_entry` is
// the inner zip the map file came from in a municipality archive: its damage is told in words.
std::string read_failure_text(const ReadResult& read, std::string_view name = "the input",
                              std::string_view inner_entry = {});

// `text` with "NAME: " before each of its lines: a failure of one map file among several.
std::string named_lines(std::string_view name, std::string_view text);

}  // namespace chizuvec
