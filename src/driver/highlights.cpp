#include "driver/highlights.hpp"

#include <cstddef>

#include "common/fixed_text.hpp"

namespace chizuvec {
namespace {

// Highlight keys longer than this never matched a parcel: no parcel name is that long.
constexpr std::size_t kLongestKey = 255;

}  // namespace

void select_highlights(MapDataset& dataset, const std::vector<std::string>& keys) {
    for (Parcel& parcel : dataset.parcels) parcel.hilite = 0;
    for (const std::string& key_text : keys) {
        const std::string_view key(key_text);
        if (key.size() > kLongestKey) continue;
        for (Parcel& parcel : dataset.parcels) {
            const std::string_view chiban = field_view(parcel.chiban);
            const std::string_view address = field_view(parcel.address);
            // The address and the lot number joined with nothing between them.
            const bool named = key == chiban || (key.size() == address.size() + chiban.size() &&
                                                 key.starts_with(address) && key.ends_with(chiban));
            if (named) parcel.hilite = 1;
        }
    }
}

}  // namespace chizuvec
