#include "mapxml/map_inputs.hpp"

#include <algorithm>
#include <cstdint>
#include <new>

#include "common/ascii.hpp"
#include "platform/platform.hpp"

namespace chizuvec {
namespace {

constexpr std::string_view kXmlExtension = ".xml";
constexpr std::string_view kZipExtension = ".zip";

bool has_extension(std::string_view path, std::string_view extension) {
    return equals_ignoring_ascii_case(platform::path_extension(path), extension);
}

constexpr std::string_view kSearchListEnding = "-search-list.csv";

// A file of its own: a plain map file or an archive holding one.
void list_file(const std::string& path, std::vector<MapFile>& files) { files.push_back(MapFile{path, {}, path}); }

std::string_view stem_of(std::string_view name) {
    return name.substr(0, name.size() - platform::path_extension(name).size());
}

bool ends_with_ignoring_ascii_case(std::string_view text, std::string_view ending) {
    return text.size() >= ending.size() && equals_ignoring_ascii_case(text.substr(text.size() - ending.size()), ending);
}

// The map files of a .zip: itself when it holds the entry named after it, else its inner map files.
// False when it is a municipality archive without any map file.
bool list_archive(const std::string& path, std::vector<MapFile>& files, MapFile* search_list) {
    std::vector<ZipEntryName> entries;
    if (list_zip_entries(path, entries).status != ZipStatus::ok) {
        list_file(path, files);
        return true;
    }
    const std::string wanted = std::string(stem_of(platform::path_file_name(path))) + std::string(kXmlExtension);
    for (const ZipEntryName& entry : entries) {
        if (equals_ignoring_ascii_case(entry.name, wanted)) {
            list_file(path, files);
            return true;
        }
    }
    bool any = false;
    for (const ZipEntryName& entry : entries) {
        // Entries in folders are not the archive's own; the published archives have none.
        if (entry.name.find('/') != std::string::npos) continue;
        const auto index = static_cast<std::int64_t>(entry.index);
        if (has_extension(entry.name, kZipExtension)) {
            files.push_back(
                MapFile{path, entry.name, std::string(stem_of(entry.name)) + std::string(kXmlExtension), index});
            any = true;
        } else if (has_extension(entry.name, kXmlExtension)) {
            files.push_back(MapFile{path, entry.name, entry.name, index});
            any = true;
        } else if (search_list != nullptr && search_list->inner_entry.empty() &&
                   ends_with_ignoring_ascii_case(entry.name, kSearchListEnding)) {
            *search_list = MapFile{path, entry.name, entry.name, index};
        }
    }
    return any;
}

}  // namespace

std::string resolve_input_name(std::string name) {
    if (!platform::path_extension(name).empty()) return name;
    // A folder counts only after the names the command has always tried first.
    if (platform::path_exists(name + std::string(kXmlExtension))) return name + std::string(kXmlExtension);
    if (platform::is_directory(name)) return name;
    return name + std::string(kZipExtension);
}

std::string map_file_stem(const MapFile& file) {
    const std::string_view name = platform::path_file_name(file.inner_entry.empty() ? file.path : file.name);
    return std::string(name.substr(0, name.size() - platform::path_extension(name).size()));
}

InputListing list_map_files(const std::string& input) {
    InputListing listing;
    const std::string path = resolve_input_name(input);
    if (platform::is_directory(path)) {
        // The folder's own map files by name, so that runs and their outputs come in a stable order.
        std::vector<std::string> names = platform::list_directory(path);
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            const std::string file = path + platform::path_separator() + name;
            if (platform::is_directory(file)) continue;
            if (has_extension(name, kXmlExtension)) {
                list_file(file, listing.files);
            } else if (has_extension(name, kZipExtension) && !list_archive(file, listing.files, nullptr)) {
                list_file(file, listing.files);
            }
        }
        if (listing.files.empty()) listing.status = InputStatus::no_map_file;
        return listing;
    }
    if (!platform::path_exists(path)) {
        listing.status = InputStatus::not_found;
        return listing;
    }
    if (!has_extension(path, kZipExtension)) {
        list_file(path, listing.files);
    } else if (!list_archive(path, listing.files, &listing.search_list)) {
        listing.status = InputStatus::no_map_file;
        listing.search_list = MapFile{};
    }
    return listing;
}

ReadResult read_map_file(const MapFile& file, MapDataset& dataset, MapHeader& header) {
    return MapFileReader().read(file, dataset, header);
}

ReadResult MapFileReader::read(const MapFile& file, MapDataset& dataset, MapHeader& header,
                               const ReadOptions& options) {
    if (file.inner_entry.empty() || file.inner_index < 0) return read_map_xml(file.path, dataset, header, options);
    try {
        // An inner zip holds its map file under the name the listing gave it.
        const auto index = static_cast<std::uint64_t>(file.inner_index);
        const ZipResult opened = has_extension(file.inner_entry, kZipExtension)
                                     ? archive_.open_nested(file.path, index, file.name)
                                     : archive_.open_index(file.path, index);
        return read_zip_entry(archive_, opened, dataset, header, options);
    } catch (const std::bad_alloc&) {
        release_dataset(dataset);
        return {ReadStatus::no_memory, {}};
    }
}

}  // namespace chizuvec
