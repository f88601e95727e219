#include "driver/csv_listing.hpp"

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/fixed_text.hpp"

namespace chizuvec {
namespace {

// Every map number that lists a parcel, each once, in the order the sheets first give it; the
// parcel's own map number when no sheet lists it. Sorting keeps this linear-logarithmic however
// many sheets list one parcel.
std::vector<std::string> parcel_sheets(const MapDataset& dataset) {
    // One number per distinct map number text, counted in the order first met.
    std::unordered_map<std::string_view, std::uint32_t> first_of_text;
    std::vector<std::uint32_t> number_of(dataset.sheet_map_nos.size());
    std::vector<std::string_view> text_of;
    for (std::size_t i = 0; i < dataset.sheet_map_nos.size(); ++i) {
        const std::string_view text = field_view(dataset.sheet_map_nos[i].text);
        const auto [it, added] = first_of_text.emplace(text, static_cast<std::uint32_t>(text_of.size()));
        if (added) text_of.push_back(text);
        number_of[i] = it->second;
    }
    std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs;  // parcel, map number
    pairs.reserve(dataset.sheet_listings.size());
    for (const SheetListing& listing : dataset.sheet_listings) {
        if (listing.parcel < dataset.parcels.size() && listing.map_no < number_of.size()) {
            pairs.emplace_back(listing.parcel, number_of[listing.map_no]);
        }
    }
    std::sort(pairs.begin(), pairs.end());
    pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
    std::vector<std::string> sheets(dataset.parcels.size());
    for (const auto& [parcel, number] : pairs) {
        std::string& joined = sheets[parcel];
        if (!joined.empty()) joined += ';';
        joined += text_of[number];
    }
    for (std::size_t i = 0; i < sheets.size(); ++i) {
        if (sheets[i].empty()) sheets[i] = field_view(dataset.parcels[i].map_no);
    }
    return sheets;
}

}  // namespace

void append_listing_rows(RowBatch& out, const MapDataset& dataset, std::string_view map_file,
                         std::string_view coord_system) {
    const std::vector<std::string> sheets = parcel_sheets(dataset);
    // A 任意座標系 map's coordinates are in a unit of its own: nothing says they are metres.
    const std::string_view unit = coord_system == kArbitraryCoordSystem ? "map" : "m";
    const bool with_texts = dataset.gis.parcels.size() == dataset.parcels.size();
    std::size_t i = 0;
    for (const Parcel& parcel : dataset.parcels) {
        out.add_text(map_file);
        out.add_number(parcel.id_no);
        out.add_text(field_view(parcel.address));
        out.add_text(field_view(parcel.chiban));
        out.add_text(sheets[i]);
        out.add_text(coord_system);
        out.add_number(parcel.area);
        if (parcel.has_centroid) {
            out.add_number(parcel.centroid_x);
            out.add_number(parcel.centroid_y);
        } else {
            out.add_null();
            out.add_null();
        }
        if (with_texts) {
            out.add_text(dataset.gis.parcels[i].text(ParcelText::parcel_id));
        } else {
            out.add_null();
        }
        out.add_text(unit);
        ++i;
    }
}

}  // namespace chizuvec
