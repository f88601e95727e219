// Loads one map file (plain .xml, or .zip holding it) into the MapDataset and the MapHeader. The
// reader is line-oriented: it recognises a fixed set of tags by substring search within each line
// and skips everything else.
#pragma once

#include <string>

#include "mapxml/zip_input.hpp"
#include "model/map_dataset.hpp"

namespace chizuvec {

enum class ReadStatus {
    ok,
    not_found,    // the input does not exist or cannot be opened
    no_memory,    // an array of the dataset could not grow
    zip_failed,   // the archive could not be read; `zip` tells why
    no_map_file,  // an archive inside the archive holds no map file
    not_map_xml,  // no 地図 root element and nothing else the reader knows: not a map file at all
    // A pipe or device: a zip archive, which can only be read from a file
    archive_not_file,
    stream_too_long,  // a pipe or device that went on past kMaxStreamedInputBytes
};

struct ReadResult {
    ReadStatus status = ReadStatus::ok;
    ZipResult zip;         // zip_failed: libzip's code, or why libzip could not be loaded
    bool cut_off = false;  // ok: the 地図 root element opened and never closed (a cut-off download)
};

// Is the file at `path` read as an archive? Its content decides: a zip signature at its start, or
// a name ending in ".zip" (any case) unless the file begins like XML text.
bool reads_as_archive(const std::string& path);
// What a reading keeps besides what the drawing needs.
struct ReadOptions {
    bool gis_detail = false;     // fills MapDataset::gis and MapHeader::geodetic_kind
    bool keep_outside = false;   // keeps the parcels whose 地番 begins with 地区外
    bool survey_points = false;  // fills MapDataset::boundary_points and control_points
};

// Reads `input_path` into `dataset` (which must be empty) and `header` (passed empty; a field is
// changed only when its element is met). An input that is not a regular file (a pipe, a device) is
// read as map XML as it comes (stream_input.hpp): binary bytes among its first bytes make it
// not_map_xml at once, a zip signature archive_not_file, and it is read up to a bound.
ReadResult read_map_xml(const std::string& input_path, MapDataset& dataset, MapHeader& header,
                        const ReadOptions& options = {});

// Reads the archive entry `entry`, whose opening gave `opened`, as read_map_xml reads a .zip input:
// no entry is not_found, a failure to open or to read it to its end (checked) is zip_failed.
ReadResult read_zip_entry(ZipEntrySource& entry, const ZipResult& opened, MapDataset& dataset, MapHeader& header,
                          const ReadOptions& options = {});

}  // namespace chizuvec
