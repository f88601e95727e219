#include "driver/highlights.hpp"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string_view>

#include "common/fixed_text.hpp"

namespace chizuvec {
namespace {

// Highlight keys longer than this never matched a parcel: no parcel name is that long.
constexpr std::size_t kLongestKey = 255;

}  // namespace

void select_highlights(MapDataset& dataset, const std::vector<std::string>& keys) {
    for (Parcel& parcel : dataset.parcels) parcel.hilite = 0;
    // The keys sorted once, so each parcel looks its two names up instead of comparing every key.
    std::vector<std::string_view> sorted;
    sorted.reserve(keys.size());
    for (const std::string& key : keys) {
        if (key.size() <= kLongestKey) sorted.emplace_back(key);
    }
    if (sorted.empty()) return;
    std::sort(sorted.begin(), sorted.end());
    const auto named = [&](std::string_view name) { return std::binary_search(sorted.begin(), sorted.end(), name); };

    // The address and the lot number joined with nothing between them; both fields together fit.
    char joined[sizeof(Parcel::address) + sizeof(Parcel::chiban)];
    for (Parcel& parcel : dataset.parcels) {
        const std::string_view chiban = field_view(parcel.chiban);
        const std::string_view address = field_view(parcel.address);
        std::memcpy(joined, address.data(), address.size());
        std::memcpy(joined + address.size(), chiban.data(), chiban.size());
        if (named(chiban) || named(std::string_view(joined, address.size() + chiban.size()))) parcel.hilite = 1;
    }
}

}  // namespace chizuvec
