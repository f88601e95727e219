#include "quality/findings.hpp"

namespace chizuvec {

std::string_view finding_kind_name(FindingKind kind) {
    constexpr std::string_view kNames[kFindingKindCount] = {
        "zone_implausible", "ring_not_closed", "ring_degenerate", "ring_self_intersects", "hole_outside", "overlap",
        "duplicate_lot",    "not_in_sheet",    "outside_sheet",   "missing_reference",    "damaged_file",
    };
    return kNames[static_cast<std::size_t>(kind)];
}

void FindingTally::add(const FileFindings& f) {
    ++files;
    for (const Finding& finding : f.findings) ++counts[static_cast<std::size_t>(finding.kind)];
}

std::size_t FindingTally::total() const {
    std::size_t sum = 0;
    for (const std::size_t c : counts) sum += c;
    return sum;
}

}  // namespace chizuvec
