// The map files one input names: a plain .xml, a .zip holding one map file, a municipality archive
// (a .zip whose entries are zips of map files, with or without a search list), or a folder of such
// files. Listing an input reads no map; each map file is read on its own, so that many can be read
// side by side.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "mapxml/map_xml_reader.hpp"
#include "mapxml/zip_input.hpp"
#include "model/map_dataset.hpp"

namespace chizuvec {

struct MapFile {
    std::string path;         // the file on disk: the .xml, the .zip, or the municipality archive
    std::string inner_entry;  // the inner zip's entry in a municipality archive; empty otherwise
    // The name in messages: the input as given for a file of its own (as the statistics line has
    // always shown it), the inner map file's name ("14103-0200-7.xml") inside a municipality archive.
    std::string name;
    std::int64_t inner_index = -1;  // the index of `inner_entry` in the archive; -1 when none
};

// The base name without folder and extension: what a drawing of this map file is named after.
std::string map_file_stem(const MapFile& file);

enum class InputStatus {
    ok,
    not_found,    // no such file or folder
    no_map_file,  // the input holds no map file
    zip_failed,   // the archive could not be listed; `zip` tells why
    not_regular,  // a pipe or a device, which only the single-map command reads
};

struct InputListing {
    InputStatus status = InputStatus::ok;
    std::vector<MapFile> files;  // in archive order, or by name within a folder
    ZipResult zip;
    // A municipality archive's search list (its entry "...-search-list.csv"); `inner_entry` is empty
    // when there is none. Folders have none.
    MapFile search_list;
    // A folder's .xml and .zip names that are no regular files (pipes, devices): never opened, as
    // one that never ends would hold up the run.
    std::vector<std::string> not_regular;
};

// `name` as the single-map command has always resolved it: without an extension, ".xml" when such a
// file exists, else the folder of that name, else ".zip".
std::string resolve_input_name(std::string name);

// Lists the map files of `input`. A name without extension is resolved as the single-map command
// always has: ".xml" when such a file exists, else ".zip".
// - A .zip that holds the entry named after it (NAME.xml, in any letter case) is one map file, as
//   is a .zip that cannot be opened (reading it then reports why).
// - Otherwise it is a municipality archive: each entry named *.zip is a map file named after it
//   ("14103-0200-7.xml" for "14103-0200-7.zip"), each named *.xml is a map file of that name, in
//   archive order; entries in folders count alike and keep their folder in the name
//   ("14103-0200/14103-0200-7.xml"). None: no_map_file.
// - A folder: its .xml and .zip files by name (not its subfolders), municipality archives expanded;
//   a .zip in it that holds no map file is still listed, so that reading it reports it by name.
// - An input that is not a regular file, nor a folder: not_regular, nothing listed and nothing read.
InputListing list_map_files(const std::string& input);

// Reads one listed map file into `dataset` (which must be empty) and `header`. An inner map file
// fails as its own zip would, but no_map_file when the inner zip holds no entry named after it.
ReadResult read_map_file(const MapFile& file, MapDataset& dataset, MapHeader& header);

// Reads listed map files one after another, as read_map_file does, keeping a municipality archive
// open from one inner map file to the next: its directory is read once, not once per inner file.
// One per thread.
class MapFileReader {
  public:
    ReadResult read(const MapFile& file, MapDataset& dataset, MapHeader& header, const ReadOptions& options = {});

  private:
    ZipEntrySource archive_;
};

}  // namespace chizuvec
