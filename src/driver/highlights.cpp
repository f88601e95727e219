#include "driver/highlights.hpp"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string_view>

#include "common/fixed_text.hpp"
#include "common/lot_text.hpp"

namespace chizuvec {
namespace {

// Highlight keys longer than this never matched a parcel: no parcel name is that long.
constexpr std::size_t kLongestKey = 255;

// Calls `named` with each parcel and its two names in the normal form of typed lot numbers: the lot
// number, and the address followed by it.
template <typename Parcels, typename Named>
void for_each_parcel_name(Parcels& parcels, Named named) {
    // The address and the lot number joined with nothing between them; both fields together fit.
    char joined[sizeof(Parcel::address) + sizeof(Parcel::chiban)];
    std::string chiban_buffer;
    std::string joined_buffer;
    for (auto& parcel : parcels) {
        const std::string_view chiban = field_view(parcel.chiban);
        const std::string_view address = field_view(parcel.address);
        std::memcpy(joined, address.data(), address.size());
        std::memcpy(joined + address.size(), chiban.data(), chiban.size());
        named(parcel, normal_lot_text(chiban, chiban_buffer),
              normal_lot_text(std::string_view(joined, address.size() + chiban.size()), joined_buffer));
    }
}

// The keys in the normal form.
std::vector<std::string> normal_keys(const std::vector<std::string>& keys) {
    std::vector<std::string> normal(keys.size());
    std::string buffer;
    for (std::size_t i = 0; i < keys.size(); ++i) normal[i] = normal_lot_text(keys[i], buffer);
    return normal;
}

}  // namespace

void select_highlights(MapDataset& dataset, const std::vector<std::string>& typed_keys) {
    for (Parcel& parcel : dataset.parcels) parcel.hilite = 0;
    const std::vector<std::string> keys = normal_keys(typed_keys);
    // The keys sorted once, so each parcel looks its two names up instead of comparing every key.
    std::vector<std::string_view> sorted;
    sorted.reserve(keys.size());
    for (const std::string& key : keys) {
        if (key.size() <= kLongestKey) sorted.emplace_back(key);
    }
    if (sorted.empty()) return;
    std::sort(sorted.begin(), sorted.end());
    const auto named = [&](std::string_view name) { return std::binary_search(sorted.begin(), sorted.end(), name); };

    for_each_parcel_name(dataset.parcels, [&](Parcel& parcel, std::string_view chiban, std::string_view joined) {
        if (named(chiban) || named(joined)) parcel.hilite = 1;
    });
}

}  // namespace chizuvec
