// The work for one map file: read it, assemble and measure its parcels, then list them, turn them
// into CSV rows or draw them. Everything it would print comes back as data, and it touches no
// shared state, so several files can be converted at once on several threads.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "config/render_settings.hpp"
#include "mapxml/map_inputs.hpp"
#include "render/page_builder.hpp"

namespace chizuvec {

// What every conversion of a run shares, fixed before the first file is read.
struct ConvertContext {
    const RenderSettings* settings = nullptr;
    std::int32_t source_width = 0;  // measured once per run
    std::uint32_t console_code_page = 0;
    std::uint32_t ansi_code_page = 0;
    PrintOptions print;  // --paper, --scale, --frame
};

enum class ConvertMode { listing, csv, drawing };

struct ConvertRequest {
    ConvertMode mode = ConvertMode::listing;
    // drawing: the map number to draw ("" for every parcel) and the output file; with per_sheet,
    // one drawing per map number that a sheet of the file lists, named by sheet_outputs.
    std::string map_no;
    std::string output_path;
    bool per_sheet = false;
    std::function<std::vector<std::string>(const std::vector<std::string>& map_nos)> sheet_outputs;
    std::vector<std::string> highlights;  // UTF-8 lot numbers
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
    std::string warning;         // "**Warning: No polygons to draw\n"
    std::string error;           // a failed drawing's error
    bool out_of_memory = false;  // failed for want of memory; the error line is fixed
    std::int64_t size = 0;
    double finished_at = 0.0;  // monotonic seconds when the drawing was complete
};

struct FileOutcome {
    bool read_failed = false;
    std::string read_error;             // the reader's error lines
    std::vector<DrawOutcome> drawings;  // one for a listing, CSV or single drawing; one per sheet
    std::string listing;                // listing: the console bytes for standard output
    std::string csv;                    // csv: the file's rows
    bool failed() const;
};

// Reads `file` with `reader`, which a thread keeps from one file to the next.
FileOutcome convert_map_file(const MapFile& file, const ConvertContext& context, const ConvertRequest& request,
                             MapFileReader& reader);

}  // namespace chizuvec
