#include "mapxml/map_inputs.hpp"

#include <algorithm>

#include "common/ascii.hpp"
#include "platform/platform.hpp"

namespace chizuvec {
namespace {

constexpr std::string_view kXmlExtension = ".xml";
constexpr std::string_view kZipExtension = ".zip";

bool has_extension(std::string_view path, std::string_view extension) {
    return equals_ignoring_ascii_case(platform::path_extension(path), extension);
}

// A file of its own: a plain map file or an archive holding one.
void list_file(const std::string& path, std::vector<MapFile>& files) { files.push_back(MapFile{path, {}, path}); }

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
            if ((has_extension(name, kXmlExtension) || has_extension(name, kZipExtension)) &&
                !platform::is_directory(file)) {
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
    list_file(path, listing.files);
    return listing;
}

ReadResult read_map_file(const MapFile& file, MapDataset& dataset, MapHeader& header) {
    return read_map_xml(file.path, dataset, header);
}

}  // namespace chizuvec
