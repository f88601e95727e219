// What a quality check finds in a map file: one finding per fault, of a kind from a fixed vocabulary
// that scripts filter on, with where it is.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace chizuvec {

enum class FindingKind {
    zone_implausible,
    ring_not_closed,
    ring_degenerate,
    ring_self_intersects,
    hole_outside,
    overlap,
    duplicate_lot,
    not_in_sheet,
    outside_sheet,
    missing_reference,
    damaged_file,
};
inline constexpr std::size_t kFindingKindCount = 11;

// The kind's name in reports: "ring_self_intersects", ...
std::string_view finding_kind_name(FindingKind kind);

struct Finding {
    FindingKind kind = FindingKind::damaged_file;
    std::string parcel_id;  // 筆ID as written; empty for a finding about the whole file
    std::string lot;        // 大字名 (and 丁目名, 小字名) followed directly by the 地番
    std::string detail;     // a short English text with the numbers
    bool located = false;
    double x = 0.0;  // the map's X (northing) and Y (easting), metres
    double y = 0.0;
    bool geographic = false;  // longitude and latitude through the declared zone
    double longitude = 0.0;
    double latitude = 0.0;
};

// The findings of one map file.
struct FileFindings {
    std::string file;  // UTF-8, as the report names it
    std::vector<Finding> findings;
};

// Counts by kind, for the summary.
struct FindingTally {
    std::array<std::size_t, kFindingKindCount> counts{};
    std::size_t files = 0;
    void add(const FileFindings& f);
    std::size_t total() const;
};

}  // namespace chizuvec
