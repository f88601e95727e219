// The work for one map file: read it, assemble and measure its parcels, then list them, turn them
// into CSV rows or draw them. Everything it would print comes back as data, and it touches no
// shared state, so several files can be converted at once on several threads.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "config/render_settings.hpp"
#include "driver/row_writer.hpp"
#include "gis/parcel_features.hpp"
#include "mapxml/map_inputs.hpp"
#include "platform/platform.hpp"
#include "render/page_builder.hpp"

namespace chizuvec {

// What every conversion of a run shares, fixed before the first file is read.
struct ConvertContext {
    const RenderSettings* settings = nullptr;
    std::int32_t source_width = 0;  // measured once per run
    std::uint32_t console_code_page = 0;
    std::uint32_t ansi_code_page = 0;
    // Every output of the run is opened under these: it never replaces a file the run reads.
    platform::OutputRules output_rules;
    PrintOptions print;  // --paper, --scale, --frame
};

// The identities of the files on disk that `files` are read from and of the other `paths` (those
// that exist), sorted, each once: the inputs no output may replace.
std::vector<platform::FileId> input_file_ids(const std::vector<MapFile>& files, const std::vector<std::string>& paths);

enum class ConvertMode { listing, csv, drawing, gis, sheets };

struct ConvertRequest {
    ConvertMode mode = ConvertMode::listing;
    // drawing: the map number to draw ("" for every parcel) and the output file; with per_sheet,
    // one drawing per map number that a sheet of the file lists, named by sheet_outputs.
    std::string map_no;
    std::string output_path;
    bool per_sheet = false;
    std::function<std::vector<std::string>(const std::vector<std::string>& map_nos)> sheet_outputs;
    std::vector<std::string> highlights;  // UTF-8 lot numbers
    bool survey_points = false;           // drawing: the output writes the map's named points
    // A drawing that does not fit its paper is told of by the caller, once for the run (DrawOutcome::page).
    bool fit_told_by_caller = false;
    // The single-map command's own lookups: a map number matched as typed (see lookup_forms.hpp),
    // the sheets named when none matches, and a warning for each lot of `lot_arguments` (the
    // highlights as typed) that is missing or in several 地番区域, except those in `lots_told`.
    bool typed_lookups = false;
    std::vector<std::string> lot_arguments;
    std::vector<std::string> lots_told;
    // drawing: --around draws the lots `around` (UTF-8; `around_arguments` as typed) with what lies
    // within `margin` metres of their box, and --fit-core a whole file without its far parcels.
    std::vector<std::string> around;
    std::vector<std::string> around_arguments;
    double margin = 30.0;
    bool fit_core = false;
    // gis: what the features keep.
    bool include_arbitrary = false;  // 任意座標系 maps in local metres, instead of skipping them
    bool include_outside = false;    // lots whose 地番 holds 地区外 or 別図
};

// What a GIS conversion made of a file.
enum class GisFileStatus {
    written,              // features built (possibly none)
    arbitrary,            // a 任意座標系 map, left out
    unknown_coordinates,  // a coordinate system that is neither 公共座標1系 .. 19系 nor 任意座標系
};

enum class DrawStatus { ok, no_polygons, failed };

// One drawing, or the listing or CSV rows of the whole file, with the texts the single-map run
// prints for it, in the order it prints them: messages, statistics, then warning or error.
struct DrawOutcome {
    DrawStatus status = DrawStatus::ok;
    std::string map_no;
    std::string output_path;
    std::string messages;        // polygon assembly's messages, one line each
    std::string statistics;      // the statistics line
    std::string notes;           // typed_lookups: the lines after the statistics line
    std::string warning;         // "**Warning: No polygons to draw\n"
    std::string error;           // a failed drawing's error
    bool out_of_memory = false;  // failed for want of memory; the error line is fixed
    PageNotes page;              // how a printed page came out
    std::int64_t size = 0;
    double finished_at = 0.0;  // monotonic seconds when the drawing was complete
};

struct FileOutcome {
    bool read_failed = false;
    std::string read_error;             // the reader's error lines
    std::vector<DrawOutcome> drawings;  // one for a listing, CSV or single drawing; one per sheet
    std::string listing;                // listing: the console bytes for standard output
    RowBatch rows;                      // csv: the file's rows (kListingColumns)
    std::size_t left_out = 0;           // csv: parcels left out as outside the district
    GisFileStatus gis_status = GisFileStatus::written;
    GisCoordinates gis_coordinates = GisCoordinates::geographic;
    std::string coord_system;  // gis: the map's 座標系
    FeatureBatch features;     // gis: the file's features
    std::string read_warning;  // gis: the cut-off warning, which the drawings carry in their messages
    // drawing with highlights: which of them some parcel of the file matched, in their order.
    std::vector<bool> lots_found;
    // per_sheet: stopped by an interrupt after `drawings` of `sheets` sheets.
    bool stopped = false;
    std::size_t sheets = 0;
    bool failed() const;
};

// Reads `file` with `reader`, which a thread keeps from one file to the next.
FileOutcome convert_map_file(const MapFile& file, const ConvertContext& context, const ConvertRequest& request,
                             MapFileReader& reader);

}  // namespace chizuvec
