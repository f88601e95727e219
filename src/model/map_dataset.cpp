#include "model/map_dataset.hpp"

#include <cstddef>
#include <unordered_map>
#include <unordered_set>

#include "common/fixed_text.hpp"

namespace chizuvec {

void add_sheet_listing(MapDataset& dataset, std::uint32_t parcel_position, std::string_view map_no) {
    // Sheets list their parcels in runs, so a map number is stored once per run, not per parcel.
    if (dataset.sheet_map_nos.empty() || field_view(dataset.sheet_map_nos.back().text) != map_no) {
        MapNumber number;
        copy_text(number.text, map_no);
        dataset.sheet_map_nos.push_back(number);
    }
    const auto index = static_cast<std::uint32_t>(dataset.sheet_map_nos.size() - 1);
    dataset.sheet_listings.push_back(SheetListing{parcel_position, index});
}

std::vector<std::string> listed_map_numbers(const MapDataset& dataset) {
    std::vector<std::string> numbers;
    std::unordered_set<std::string_view> seen;
    for (const MapNumber& number : dataset.sheet_map_nos) {
        const std::string_view text = field_view(number.text);
        if (seen.insert(text).second) numbers.emplace_back(text);
    }
    return numbers;
}

std::vector<std::string> sheet_map_numbers(const MapDataset& dataset) {
    std::vector<std::string> numbers;
    std::unordered_set<std::string_view> seen;
    const auto add = [&](std::string_view text) {
        if (!text.empty() && seen.insert(text).second) numbers.emplace_back(text);
    };
    // A sheet that lists no parcel the reader kept (empty, or only lots outside the district) is
    // still a sheet of the file.
    for (const MapSheet& sheet : dataset.sheets) add(field_view(sheet.map_no));
    for (const MapNumber& number : dataset.sheet_map_nos) add(field_view(number.text));
    return numbers;
}

std::vector<const MapSheet*> find_sheets(const MapDataset& dataset, const std::vector<std::string>& numbers) {
    std::unordered_map<std::string_view, std::size_t> wanted;
    for (std::size_t i = 0; i < numbers.size(); ++i) wanted.emplace(numbers[i], i);
    std::vector<const MapSheet*> found(numbers.size(), nullptr);
    for (const MapSheet& sheet : dataset.sheets) {
        const auto it = wanted.find(field_view(sheet.map_no));
        if (it != wanted.end() && found[it->second] == nullptr) found[it->second] = &sheet;
    }
    return found;
}

const MapSheet* find_sheet(const MapDataset& dataset, std::string_view map_no) {
    for (const MapSheet& sheet : dataset.sheets) {
        if (field_view(sheet.map_no) == map_no) return &sheet;
    }
    return nullptr;
}

// Bytes per element well below those of real and generated map files: growing copies an array and
// holds two of them for a while. Reserving beyond what is filled costs address space, not memory.
void reserve_for_input(MapDataset& dataset, std::int64_t file_bytes) {
    const auto bytes = static_cast<std::size_t>(file_bytes > 0 ? file_bytes : 0);
    reserve_if_possible(dataset.points, 1000 + bytes / 512);
    reserve_if_possible(dataset.curves, 5000 + bytes / 256);
    reserve_if_possible(dataset.surfaces, 500 + bytes / 2048);
    reserve_if_possible(dataset.ring_curves, 5000 + bytes / 512);
    reserve_if_possible(dataset.rings, 500 + bytes / 2048);
    reserve_if_possible(dataset.parcels, 500 + bytes / 2048);
}

}  // namespace chizuvec
