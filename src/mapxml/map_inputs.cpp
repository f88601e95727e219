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

// An archive entry's name without its folders (entry names always separate them by "/").
std::string_view entry_base_name(std::string_view name) {
    const std::size_t slash = name.rfind('/');
    return slash == std::string_view::npos ? name : name.substr(slash + 1);
}

bool ends_with_ignoring_ascii_case(std::string_view text, std::string_view ending) {
    return text.size() >= ending.size() && equals_ignoring_ascii_case(text.substr(text.size() - ending.size()), ending);
}

// The one map file of an archive that holds exactly one, under whatever name or folder (a browser
// saves a second download of NAME.zip as "NAME (1).zip"): its entry, or null.
const ZipEntryName* single_map_entry(const std::vector<ZipEntryName>& entries) {
    const ZipEntryName* single = nullptr;
    for (const ZipEntryName& entry : entries) {
        if (!has_extension(entry.name, kXmlExtension) && !has_extension(entry.name, kZipExtension)) continue;
        if (single != nullptr) return nullptr;
        single = &entry;
    }
    return single != nullptr && has_extension(single->name, kXmlExtension) ? single : nullptr;
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
        // Archives packed again by users gain a top folder; their entries count as at the top. Folder
        // entries and the resource forks a Mac adds ("__MACOSX/", "._NAME") are no map files.
        const std::string_view base = entry_base_name(entry.name);
        if (base.empty() || base.substr(0, 2) == "._" || entry.name.rfind("__MACOSX/", 0) == 0) continue;
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
    if (const ZipEntryName* single = any ? nullptr : single_map_entry(entries)) {
        files.push_back(MapFile{path, single->name, std::string(platform::path_file_name(single->name)),
                                static_cast<std::int64_t>(single->index)});
        any = true;
    }
    return any;
}

}  // namespace

std::string resolve_input_name(std::string name) {
    // A file that exists is what was meant, extension or not.
    if (!platform::path_extension(name).empty() || (platform::path_exists(name) && !platform::is_directory(name))) {
        return name;
    }
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
            const bool map_name = has_extension(name, kXmlExtension) || has_extension(name, kZipExtension);
            if (map_name && !platform::is_regular_file(file)) {
                listing.not_regular.push_back(file);
            } else if (has_extension(name, kXmlExtension)) {
                list_file(file, listing.files);
            } else if (has_extension(name, kZipExtension) && !list_archive(file, listing.files, nullptr)) {
                list_file(file, listing.files);
            }
        }
        if (listing.files.empty() && listing.not_regular.empty()) listing.status = InputStatus::no_map_file;
        return listing;
    }
    if (!platform::path_exists(path)) {
        listing.status = InputStatus::not_found;
        return listing;
    }
    if (!platform::is_regular_file(path)) {
        listing.status = InputStatus::not_regular;
        return listing;
    }
    if (!reads_as_archive(path)) {
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
        // An inner zip holds its map file under its own base name.
        const auto index = static_cast<std::uint64_t>(file.inner_index);
        if (!has_extension(file.inner_entry, kZipExtension)) {
            return read_zip_entry(archive_, archive_.open_index(file.path, index), dataset, header, options);
        }
        const std::string wanted = std::string(stem_of(entry_base_name(file.inner_entry))) + std::string(kXmlExtension);
        const ZipResult opened = archive_.open_nested(file.path, index, wanted);
        if (opened.status == ZipStatus::no_entry) return {ReadStatus::no_map_file, {}};
        return read_zip_entry(archive_, opened, dataset, header, options);
    } catch (const std::bad_alloc&) {
        release_dataset(dataset);
        return {ReadStatus::no_memory, {}};
    }
}

}  // namespace chizuvec
