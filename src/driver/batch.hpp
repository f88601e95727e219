// Runs over many map files: drawings into a folder, one CSV of every parcel, and the listing of an
// input that names several map files. The files are converted on several threads; what each one
// reports is printed in input order by the calling thread.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "config/render_settings.hpp"
#include "driver/convert.hpp"
#include "driver/options.hpp"
#include "mapxml/map_inputs.hpp"

namespace chizuvec {

// An input of a run of many files that is a pipe or a device, refused: one that never ends would
// hold up every file.
inline constexpr const char* kNotRegularError = "** Error: not a regular file (a pipe or device): name it alone\n";

// Prints the error of each pipe or device a folder listing refused; how many there were.
std::size_t report_refused_entries(const InputListing& listing);

// --out-dir or --csv. `context` has the settings (and, for drawings, the measured source line).
// Returns the exit code; an interrupt ends the process after the summary.
int run_batch(const BatchOptions& options, const ConvertContext& context);

// The listing of every map file of one input, one statistics line and listing block per file; or,
// for ConvertMode::sheets, the list of each file's map sheets.
int run_listing_of_files(const std::vector<MapFile>& files, const ConvertContext& context,
                         ConvertMode mode = ConvertMode::listing);

// Every line of `text` with `prefix` before it.
std::string prefixed(const std::string& prefix, const std::string& text);

// The map files of every input, in order; an input that cannot be listed is reported and counted.
std::vector<MapFile> list_inputs(const std::vector<std::string>& inputs, std::size_t& failures);

// Converts `files` in input order on the run's threads (`jobs`, 0 for every core) with a progress
// line, printing the text that `take` returns for each outcome; memory is bounded by the jobs, and
// after an interrupt no file is started. Returns the number of files reported.
std::size_t convert_with_progress(const std::vector<MapFile>& files, unsigned jobs, double start,
                                  const std::function<FileOutcome(std::size_t, MapFileReader&)>& work,
                                  const std::function<std::string(std::size_t, FileOutcome&)>& take);

// --gis: one GIS output of the parcels of every map file (gis_export.cpp). `failed` counts the
// inputs that could not be listed.
int run_gis_export(const BatchOptions& options, const ConvertContext& context, const std::vector<MapFile>& files,
                   std::size_t failed, double start);

// --check: the quality report of every map file (quality_run.cpp); --diff: what changed between two
// releases (diff_run.cpp). Each lists its own inputs.
int run_quality_check(const BatchOptions& options, const ConvertContext& context);
int run_release_diff(const BatchOptions& options, const ConvertContext& context);

// The threads a run uses: `requested`, or the number of cores when 0; never more than files.
unsigned job_count(unsigned requested, std::size_t files);

}  // namespace chizuvec
