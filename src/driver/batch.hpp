// Runs over many map files: drawings into a folder, one CSV of every parcel, and the listing of an
// input that names several map files. The files are converted on several threads; what each one
// reports is printed in input order by the calling thread.
#pragma once

#include <vector>

#include "config/render_settings.hpp"
#include "driver/convert.hpp"
#include "driver/options.hpp"
#include "mapxml/map_inputs.hpp"

namespace chizuvec {

// --out-dir or --csv. `context` has the settings (and, for drawings, the measured source line).
// Returns the exit code; an interrupt ends the process after the summary.
int run_batch(const BatchOptions& options, const ConvertContext& context);

// The listing of every map file of one input, one statistics line and listing block per file.
int run_listing_of_files(const std::vector<MapFile>& files, const ConvertContext& context);

// The threads a run uses: `requested`, or the number of cores when 0; never more than files.
unsigned job_count(unsigned requested, std::size_t files);

}  // namespace chizuvec
