#include "driver/lot_lookup.hpp"

#include <cstdint>
#include <cstdio>
#include <set>
#include <string_view>
#include <unordered_map>

#include "common/ascii.hpp"
#include "common/text_format.hpp"
#include "driver/display_name.hpp"
#include "driver/highlights.hpp"
#include "driver/read_report.hpp"
#include "mapxml/search_list.hpp"
#include "mapxml/zip_input.hpp"
#include "platform/platform.hpp"

namespace chizuvec {
namespace {

constexpr int kNone = -1;

void print_error(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stderr); }

// Where the lots are: for each key, the map files holding it (indexes into the listing), as far
// as they were looked at.
struct LotPlaces {
    std::vector<int> first;              // per key: the first map file holding it, or kNone
    std::vector<std::set<int>> holders;  // per key: every map file known to hold it
};

std::string lower_ascii(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = ascii_lower(c);
    return lower;
}

// The archive's search list, parsed; false when it cannot be used (none, damaged, too large).
bool read_search_list(const MapFile& entry, SearchList& list) {
    if (entry.inner_entry.empty() || entry.inner_index < 0) return false;
    ZipEntrySource source;
    if (source.open_index(entry.path, static_cast<std::uint64_t>(entry.inner_index)).status != ZipStatus::ok ||
        source.size() > kMaxSearchListBytes) {
        return false;
    }
    std::string bytes(static_cast<std::size_t>(source.size()), '\0');
    std::size_t total = 0;
    for (;;) {
        char probe = 0;
        char* at = total < bytes.size() ? bytes.data() + total : &probe;
        const std::int64_t n = source.read(at, total < bytes.size() ? bytes.size() - total : 1);
        if (n < 0) return false;
        if (n == 0) break;
        total += static_cast<std::size_t>(n);
    }
    if (source.result().status != ZipStatus::ok || total != bytes.size()) return false;
    list.parse(bytes);
    return true;
}

LotPlaces places_from_list(const SearchList& list, const std::vector<MapFile>& files,
                           const std::vector<std::string>& keys) {
    // The list names inner zips; the listing knows them by their entry names.
    std::unordered_map<std::string, int> by_entry;
    for (std::size_t i = 0; i < files.size(); ++i)
        by_entry.emplace(lower_ascii(files[i].inner_entry), static_cast<int>(i));
    LotPlaces places{std::vector<int>(keys.size(), kNone), std::vector<std::set<int>>(keys.size())};
    for (std::size_t k = 0; k < keys.size(); ++k) {
        for (const std::string_view file : list.files_of(keys[k])) {
            const auto found = by_entry.find(lower_ascii(file));
            if (found == by_entry.end()) continue;
            places.holders[k].insert(found->second);
        }
        if (!places.holders[k].empty()) places.first[k] = *places.holders[k].begin();
    }
    return places;
}

// Reads the map files in order until every key has been found once. A file that cannot be read is
// reported under its name and passed over; running out of memory ends the run.
LotPlaces places_by_reading(const std::vector<MapFile>& files, const std::vector<std::string>& keys,
                            std::string& error) {
    LotPlaces places{std::vector<int>(keys.size(), kNone), std::vector<std::set<int>>(keys.size())};
    std::size_t missing = keys.size();
    MapFileReader reader;
    for (std::size_t i = 0; i < files.size() && missing > 0; ++i) {
        MapDataset dataset;
        MapHeader header;
        const ReadResult read = reader.read(files[i], dataset, header);
        if (read.status == ReadStatus::no_memory) {
            error = named_lines(files[i].name, read_failure_text(read));
            return places;
        }
        if (read.status != ReadStatus::ok) {
            print_error(named_lines(files[i].name, read_failure_text(read)));
            continue;
        }
        const std::vector<bool> present = keys_present(dataset, keys);
        for (std::size_t k = 0; k < keys.size(); ++k) {
            if (!present[k]) continue;
            places.holders[k].insert(static_cast<int>(i));
            if (places.first[k] == kNone) {
                places.first[k] = static_cast<int>(i);
                --missing;
            }
        }
    }
    return places;
}

std::string no_lot_error(const std::string& input_name, std::size_t count) {
    return format_text("** Error: \"%s\" holds %zu map file%s; name a lot number to draw, or use --out-dir\n",
                       display_name(input_name).c_str(), count, count == 1 ? "" : "s");
}

}  // namespace

LotChoice choose_map_file(const std::string& input_name, const std::vector<std::string>& keys,
                          const std::vector<std::string>& arguments) {
    LotChoice choice;
    const InputListing listing = list_map_files(input_name);
    const bool folder = platform::is_directory(input_name);
    if (listing.files.empty() || (!folder && listing.files.front().inner_entry.empty())) {
        // A map file of its own, or nothing to choose from: read as the single-map command always has.
        if (folder)
            choice.error = format_text("** Error: \"%s\" holds no map file\n", display_name(input_name).c_str());
        return choice;
    }
    choice.several = true;
    const std::vector<MapFile>& files = listing.files;
    if (keys.empty()) {
        choice.error = no_lot_error(input_name, files.size());
        return choice;
    }
    SearchList list;
    LotPlaces places;
    if (read_search_list(listing.search_list, list)) {
        places = places_from_list(list, files, keys);
    } else {
        places = places_by_reading(files, keys, choice.error);
        if (!choice.error.empty()) return choice;
    }
    std::size_t first_key = 0;
    while (first_key < keys.size() && places.first[first_key] == kNone) ++first_key;
    if (first_key == keys.size()) {
        choice.error = no_lot_error(input_name, files.size());
        return choice;
    }
    const int chosen = places.first[first_key];
    choice.file = files[static_cast<std::size_t>(chosen)];
    std::set<std::string_view> warned;
    for (std::size_t k = 0; k < keys.size(); ++k) {
        if (places.first[k] == kNone || places.holders[k].count(chosen) > 0) continue;
        if (!warned.insert(arguments[k]).second) continue;
        print_error(format_text("**Warning: lot \"%s\" is in %s, not drawn\n", display_name(arguments[k]).c_str(),
                                display_name(files[static_cast<std::size_t>(places.first[k])].name).c_str()));
    }
    return choice;
}

}  // namespace chizuvec
