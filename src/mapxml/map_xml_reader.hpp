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
    not_found,   // the input does not exist or cannot be opened
    no_memory,   // an array of the dataset could not grow
    zip_failed,  // the archive could not be read; `zip` tells why
};

struct ReadResult {
    ReadStatus status = ReadStatus::ok;
    ZipResult zip;  // zip_failed: libzip's code, or why libzip could not be loaded
};

// What a reading keeps besides what the drawing needs.
struct ReadOptions {
    bool gis_detail = false;    // fills MapDataset::gis and MapHeader::geodetic_kind
    bool keep_outside = false;  // keeps the parcels whose 地番 begins with 地区外
};

// Reads `input_path` into `dataset` (which must be empty) and `header` (passed empty; a field is
// changed only when its element is met).
ReadResult read_map_xml(const std::string& input_path, MapDataset& dataset, MapHeader& header,
                        const ReadOptions& options = {});

// Reads the archive entry `entry`, whose opening gave `opened`, as read_map_xml reads a .zip input:
// no entry is not_found, a failure to open or to read it to its end (checked) is zip_failed.
ReadResult read_zip_entry(ZipEntrySource& entry, const ZipResult& opened, MapDataset& dataset, MapHeader& header,
                          const ReadOptions& options = {});

}  // namespace chizuvec
