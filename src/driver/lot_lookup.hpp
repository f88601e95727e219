// The single-map command given a municipality archive or a folder: it draws the one map file that
// holds the first lot named on the command line.
#pragma once

#include <string>
#include <vector>

#include "mapxml/map_inputs.hpp"

namespace chizuvec {

struct LotChoice {
    bool several = false;  // the input holds several map files; `file` is the one to draw
    MapFile file;
    std::string error;              // not empty: the run ends with this message
    std::vector<std::string> told;  // the keys (UTF-8) of the lots already warned about
};

// Chooses the map file of `input_name` (resolved) to draw for the lots `keys` (UTF-8, matched as
// highlighted lots are), with `arguments` the same lots as given on the command line. An input of
// its own map file is drawn as always (several is false). Otherwise the file holding the first lot
// found is chosen: found through the archive's search list, or, without one (or in a folder), by
// reading the map files in order until every lot is found. A lot in several map files counts as
// in the first of them in archive order. Prints a warning for each lot found only in other map
// files, and the failures of map files read on the way, each under the map file's name.
LotChoice choose_map_file(const std::string& input_name, const std::vector<std::string>& keys,
                          const std::vector<std::string>& arguments);

}  // namespace chizuvec
