// Inputs shaped to make the program's time or memory grow faster than their size, at any size: for
// the end-to-end tests (a size that stays quick) and the benchmark that measures the growth over two
// sizes. Each is a map file, or an archive of map files, in the published line layout.
#pragma once

#include <cstdint>
#include <string>

namespace chizuvec::genhostile {

enum class Attack {
    empty_inner_zips,      // a municipality archive of `n` inner zips without their map file, then one map
    undetermined_members,  // one parcel with `n` 筆界未定構成筆 members
    search_list_areas,     // an archive whose search list puts lot "1" in `n` 地番区域 of its first map file
    repeated_curve,        // a ring naming one 2,000-point curve `n` times
    distinct_scales,       // one parcel listed by `n` sheets, each of its own 縮尺分母
};

// The name of an attack on the command line, and back; false for an unknown name.
const char* attack_name(Attack attack);
bool attack_from_name(const std::string& name, Attack& attack);

// The points of the curve that repeated_curve names again and again.
inline constexpr std::uint32_t kRepeatedCurvePoints = 2000;

// A map file of one parcel (lot "1", 大字名 `area`) on a unit square, as the published files lay it
// out; `extra_parcel` and `extra_sheets` are inserted inside the parcel and after the first sheet.
std::string small_map(const std::string& area, const std::string& extra_parcel = "",
                      const std::string& extra_sheets = "");

// Writes the attack of size `n` to `path` (a .xml, or a .zip for the archive attacks). False when
// it cannot be written.
bool write_attack(Attack attack, std::uint32_t n, const std::string& path);

}  // namespace chizuvec::genhostile
