// What the lots named on the command line found in a map file: whether any parcel carries each, and
// in which 地番区域 a lot number given alone lies. The warnings of the single-map command come from it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "model/map_dataset.hpp"

namespace chizuvec {

// Where one key was found in a map file.
struct LotFinding {
    bool found = false;               // some parcel would be highlighted by it
    std::vector<std::string> areas;   // the 地番区域 (address) of each parcel whose lot number alone
                                      // matched, each once, in parcel order
    bool drawn = false;               // a parcel it matched is in the drawn selection
    std::vector<std::string> sheets;  // the map numbers of the parcels it matched, each once
};

// One finding per key of `keys` (UTF-8, matched as highlighted lots are).
std::vector<LotFinding> find_lots(const MapDataset& dataset, const std::vector<std::string>& keys);

// "A, B, C", at most `shown` of `names`, then ", and N more".
std::string name_list(const std::vector<std::string>& names, std::size_t shown);

// At most `shown` lots of `dataset` nearest to `key` (UTF-8), nearest first, ties in parcel order,
// each once. The distance is the edit distance of normal forms (lot_text.hpp): the key against the
// 地番, or, for its part before the trailing run of ASCII (the lot number), against the address, plus
// its lot number against the 地番, whichever is less; a lot is named with its address in the second
// case. One pass over the parcels, each address compared once.
std::vector<std::string> nearest_lots(const MapDataset& dataset, std::string_view key, std::size_t shown);

// The warnings for the lots drawn from `file_name`: each lot found in no parcel, and each lot number
// given alone that lies in several 地番区域 (all of them highlighted). A lot not found is followed
// by the nearest lots (at most 5). `arguments` are the lots as
// typed, printed once each by their normal form; those in `skipped` (keys) were reported already.
// A lot found only on sheets other than `map_no` (when one is drawn) is named with its sheet.
std::string lot_warnings_text(const MapDataset& dataset, const std::vector<std::string>& keys,
                              const std::vector<std::string>& arguments, std::string_view file_name,
                              const std::vector<std::string>& skipped, std::string_view map_no);

}  // namespace chizuvec
