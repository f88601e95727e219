#include "driver/lot_lookup.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <set>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "common/ascii.hpp"
#include "common/text_format.hpp"
#include "driver/console.hpp"
#include "driver/display_name.hpp"
#include "driver/highlights.hpp"
#include "driver/lot_report.hpp"
#include "driver/read_report.hpp"
#include "mapxml/search_list.hpp"
#include "mapxml/zip_input.hpp"
#include "platform/platform.hpp"

namespace chizuvec {
namespace {

constexpr int kNone = -1;

// A list that puts one lot in more 地番区域 than this is not believed: the map files are searched.
constexpr std::size_t kMaxListedAreas = 1000;

// Where the lots are: for each key, the map files holding it (indexes into the listing), as far
// as they were looked at, and the 地番区域 in which a lot number given alone lies.
struct LotPlaces {
    std::vector<int> first;              // per key: the first map file holding it, or kNone
    std::vector<std::set<int>> holders;  // per key: every map file known to hold it
    // per key: each 地番区域 of a lot number given alone, once, with the first map file holding it
    std::vector<std::vector<std::pair<std::string, int>>> areas;
    std::vector<std::unordered_set<std::string>> area_names;  // per key: the names in `areas`

    explicit LotPlaces(std::size_t keys) : first(keys, kNone), holders(keys), areas(keys), area_names(keys) {}
    void add(std::size_t key, int file) {
        holders[key].insert(file);
        if (first[key] == kNone || file < first[key]) first[key] = file;
    }
    // Looked up in a set: a list may name one lot in many 地番区域.
    void add_area(std::size_t key, std::string_view area, int file) {
        if (area_names[key].emplace(area).second) areas[key].emplace_back(area, file);
    }
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
    return list.rows() > 0;
}

LotPlaces places_from_list(const SearchList& list, const std::vector<MapFile>& files,
                           const std::vector<std::string>& keys) {
    // The list names inner zips; the listing knows them by their entry names.
    std::unordered_map<std::string, int> by_entry;
    for (std::size_t i = 0; i < files.size(); ++i)
        by_entry.emplace(lower_ascii(files[i].inner_entry), static_cast<int>(i));
    LotPlaces places(keys.size());
    for (std::size_t k = 0; k < keys.size(); ++k) {
        for (const SearchList::Place& place : list.places_of(keys[k])) {
            const auto found = by_entry.find(lower_ascii(place.file));
            if (found == by_entry.end()) continue;
            places.add(k, found->second);
            if (place.lot_only && places.areas[k].size() <= kMaxListedAreas) {
                places.add_area(k, place.area, found->second);
            }
        }
    }
    return places;
}

// Reads the map file `index` and records which keys it holds; false when it cannot be read (its
// failure printed under its name when `report`; running out of memory sets `error` instead).
bool add_places_of_file(const std::vector<MapFile>& files, std::size_t index, const std::vector<std::string>& keys,
                        MapFileReader& reader, LotPlaces& places, std::string& error, bool report = true) {
    MapDataset dataset;
    MapHeader header;
    const ReadResult read = reader.read(files[index], dataset, header);
    if (read.status == ReadStatus::no_memory) {
        error = named_lines(files[index].name, read_failure_text(read, files[index].name, files[index].inner_entry));
        return false;
    }
    if (read.status != ReadStatus::ok) {
        if (report)
            print_error(
                named_lines(files[index].name, read_failure_text(read, files[index].name, files[index].inner_entry)));
        return false;
    }
    const std::vector<LotFinding> findings = find_lots(dataset, keys);
    const auto file = static_cast<int>(index);
    for (std::size_t k = 0; k < keys.size(); ++k) {
        if (!findings[k].found) continue;
        places.add(k, file);
        for (const std::string& area : findings[k].areas) places.add_area(k, area, file);
    }
    return true;
}

// Reads every map file in order: a lot may lie in several 地番区域 of different files. A file
// that cannot be read is reported under its name and passed over; running out of memory ends it.
// `unreadable` gets the files that could not be read.
LotPlaces places_by_reading(const std::vector<MapFile>& files, const std::vector<std::string>& keys, std::string& error,
                            std::set<int>& unreadable) {
    LotPlaces places(keys.size());
    MapFileReader reader;
    for (std::size_t i = 0; i < files.size() && error.empty(); ++i) {
        if (!add_places_of_file(files, i, keys, reader, places, error) && error.empty()) {
            unreadable.insert(static_cast<int>(i));
        }
    }
    return places;
}

// What the list says, leaving out the files that could not be read: those cannot contradict it.
LotPlaces without_files(const LotPlaces& places, const std::set<int>& left_out) {
    LotPlaces kept(places.first.size());
    for (std::size_t k = 0; k < places.first.size(); ++k) {
        for (const int file : places.holders[k]) {
            if (left_out.count(file) == 0) kept.add(k, file);
        }
        for (const auto& [area, file] : places.areas[k]) {
            if (left_out.count(file) == 0) kept.add_area(k, area, file);
        }
    }
    return kept;
}

// The first file the list places key `k` in that could not be read, or kNone.
int unreadable_listed_file(const LotPlaces& listed, std::size_t k, const std::set<int>& unreadable) {
    for (const int file : listed.holders[k]) {
        if (unreadable.count(file) > 0) return file;
    }
    return kNone;
}

std::string listed_unreadable_text(const char* kind, const std::string& lot, const MapFile& file) {
    return format_text("%s: lot \"%s\" is listed in %s, which cannot be read\n", kind, display_name(lot).c_str(),
                       display_name(platform::path_file_name(file.inner_entry)).c_str());
}

// Does the list hold every key, and do the map files that the drawing and its messages would rest on
// hold what the list says of them? Those are the file chosen for the first key, the file named for
// each key that the chosen one lacks, and every file named with a 地番区域 of a lot in several. Each
// is read once; they are at most the archive's map files.
bool list_holds_up(const std::vector<MapFile>& files, const std::vector<std::string>& keys, const LotPlaces& listed,
                   std::string& error) {
    for (std::size_t k = 0; k < keys.size(); ++k) {
        if (listed.first[k] == kNone || listed.areas[k].size() > kMaxListedAreas) return false;
    }
    const int chosen = listed.first.front();
    std::set<int> named{chosen};
    for (std::size_t k = 0; k < keys.size(); ++k) {
        if (listed.holders[k].count(chosen) == 0) named.insert(listed.first[k]);
        if (listed.areas[k].size() < 2) continue;
        for (const auto& area : listed.areas[k]) named.insert(area.second);
    }
    LotPlaces read(keys.size());
    std::vector<std::set<std::pair<std::string, int>>> read_areas(keys.size());  // per key: (地番区域, file)
    MapFileReader reader;
    for (const int file : named) {
        // A file that cannot be read is reported when the map files are searched.
        LotPlaces one(keys.size());
        if (!add_places_of_file(files, static_cast<std::size_t>(file), keys, reader, one, error, false)) return false;
        for (std::size_t k = 0; k < keys.size(); ++k) {
            if (one.first[k] != kNone) read.add(k, file);
            for (const auto& area : one.areas[k]) {
                read.add_area(k, area.first, file);
                read_areas[k].insert(area);
            }
        }
    }
    for (std::size_t k = 0; k < keys.size(); ++k) {
        for (const int file : named) {
            if ((listed.holders[k].count(file) > 0) != (read.holders[k].count(file) > 0)) return false;
        }
        if (listed.areas[k].size() < 2 && read.areas[k].size() < 2) continue;
        // Every 地番区域 an error would name, with its file, is in the map files, and no other.
        if (listed.area_names[k] != read.area_names[k]) return false;
        for (const auto& area : listed.areas[k]) {
            if (read_areas[k].count(area) == 0) return false;
        }
    }
    return true;
}

// The first key given alone that lies in several 地番区域, as the error that names them.
std::string several_areas_error(const std::string& input_name, const std::vector<MapFile>& files,
                                const LotPlaces& places, const std::vector<std::string>& keys,
                                const std::vector<std::string>& arguments) {
    constexpr std::size_t kShown = 10;
    for (std::size_t k = 0; k < keys.size(); ++k) {
        const auto& areas = places.areas[k];
        if (areas.size() < 2) continue;
        std::vector<std::string> named;
        for (const auto& [area, file] : areas)
            named.push_back(display_utf8(area) + " (" + display_utf8(files[static_cast<std::size_t>(file)].name) + ")");
        const std::string lot = display_utf8(arguments[k]);
        return message_text(format_text("** Error: lot \"%s\" is in %zu 地番区域 of \"%s\": %s; name one, as %s%s\n",
                                        lot.c_str(), areas.size(), display_utf8(input_name).c_str(),
                                        name_list(named, kShown).c_str(), display_utf8(areas.front().first).c_str(),
                                        lot.c_str()));
    }
    return {};
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
    if (files.size() == 1) {
        // An archive of one map file, whatever its name: that file is meant.
        choice.file = files.front();
        return choice;
    }
    if (keys.empty()) {
        choice.error = no_lot_error(input_name, files.size());
        return choice;
    }
    // The search list is a hint: what it says is checked against the map file it names, and the map
    // files themselves are searched when it does not hold up.
    SearchList list;
    const bool has_list = !listing.search_list.inner_entry.empty();
    const bool list_read = read_search_list(listing.search_list, list);
    LotPlaces places = list_read ? places_from_list(list, files, keys) : LotPlaces(keys.size());
    const bool listed = list_read && list_holds_up(files, keys, places, choice.error);
    if (!choice.error.empty()) return choice;
    std::set<int> unreadable;
    // Per key: a file that the list places it in and that could not be read, when the lot was found
    // nowhere else.
    std::vector<int> lost(keys.size(), kNone);
    if (!listed) {
        LotPlaces found = places_by_reading(files, keys, choice.error, unreadable);
        if (!choice.error.empty()) return choice;
        const LotPlaces readable = without_files(places, unreadable);
        bool contradicted = false;
        for (std::size_t k = 0; k < keys.size(); ++k) {
            const int damaged = unreadable_listed_file(places, k, unreadable);
            if (found.first[k] == kNone) lost[k] = damaged;
            // A lot listed in a file that cannot be read may well be there too: no contradiction.
            if (damaged == kNone &&
                (found.holders[k] != readable.holders[k] || found.area_names[k] != readable.area_names[k])) {
                contradicted = true;
            }
        }
        // A list that cannot be read, or that the map files contradict, is worth a word; a lot that
        // is nowhere is not the list's fault, nor is a map file that cannot be read.
        if (has_list && (!list_read || contradicted) &&
            std::any_of(found.first.begin(), found.first.end(), [](int f) { return f != kNone; })) {
            print_error(format_text("**Warning: the search list of \"%s\" does not match its map files\n",
                                    display_name(input_name).c_str()));
        }
        places = std::move(found);
    }
    choice.error = several_areas_error(input_name, files, places, keys, arguments);
    if (!choice.error.empty()) return choice;
    std::size_t first_key = 0;
    while (first_key < keys.size() && places.first[first_key] == kNone) ++first_key;
    if (first_key == keys.size()) {
        std::set<std::string_view> told;
        for (std::size_t k = 0; k < keys.size(); ++k) {
            const std::string& lot = arguments[k];
            if (!told.insert(lot).second) continue;
            if (lost[k] != kNone) {
                choice.error += listed_unreadable_text("** Error", lot, files[static_cast<std::size_t>(lost[k])]);
                continue;
            }
            append_format(choice.error, "** Error: lot \"%s\" is in none of the %zu map files of \"%s\"",
                          display_name(lot).c_str(), files.size(), display_name(input_name).c_str());
            if (!unreadable.empty()) append_format(choice.error, "; %zu of them cannot be read", unreadable.size());
            choice.error += '\n';
        }
        return choice;
    }
    const int chosen = places.first[first_key];
    choice.file = files[static_cast<std::size_t>(chosen)];
    std::set<std::string_view> warned;
    for (std::size_t k = 0; k < keys.size(); ++k) {
        if (lost[k] != kNone && warned.insert(arguments[k]).second) {
            choice.told.push_back(arguments[k]);
            print_error(listed_unreadable_text("**Warning", arguments[k], files[static_cast<std::size_t>(lost[k])]));
            continue;
        }
        if (places.first[k] == kNone || places.holders[k].count(chosen) > 0) continue;
        if (!warned.insert(arguments[k]).second) continue;
        choice.told.push_back(keys[k]);
        print_error(format_text("**Warning: lot \"%s\" is in %s, not drawn\n", display_name(arguments[k]).c_str(),
                                display_name(files[static_cast<std::size_t>(places.first[k])].name).c_str()));
    }
    return choice;
}

}  // namespace chizuvec
