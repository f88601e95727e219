#include "driver/batch.hpp"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_set>

#include "common/lot_text.hpp"
#include "common/text_format.hpp"
#include "driver/console.hpp"
#include "driver/csv_listing.hpp"
#include "driver/display_name.hpp"
#include "driver/map_output.hpp"
#include "driver/output_formats.hpp"
#include "driver/output_names.hpp"
#include "driver/output_session.hpp"
#include "driver/progress.hpp"
#include "driver/read_report.hpp"
#include "model/large_array.hpp"
#include "platform/platform.hpp"

namespace chizuvec {
namespace {}  // namespace

std::string prefixed(const std::string& prefix, const std::string& text) {
    std::string out;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size() - 1) + 1;
        out += prefix;
        out.append(text, start, end - start);
        start = end;
    }
    return out;
}

namespace {

// Converts files 0..count-1 on `jobs` threads and hands each outcome to `report`, in order, on the
// calling thread. Workers run at most a window of files ahead of the one reported last, so memory
// is bounded by the jobs, not by the input. After an interrupt no file is started; those in flight
// finish and are reported. Returns the number of files reported.
std::size_t convert_in_order(std::size_t count, unsigned jobs,
                             const std::function<FileOutcome(std::size_t, MapFileReader&)>& work,
                             const std::function<void(std::size_t, FileOutcome&)>& report,
                             const std::function<void(std::size_t)>& tick) {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::unique_ptr<FileOutcome>> done(count);
    std::size_t next = 0;      // the next file to start
    std::size_t reported = 0;  // files reported so far
    bool stop = false;
    const std::size_t window = static_cast<std::size_t>(jobs) * 2;

    const auto worker = [&] {
        // Each file fills arrays of about the size of the last one's.
        const KeepReleasedBlocks keep;
        MapFileReader reader;
        for (;;) {
            std::size_t index = 0;
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return stop || next >= count || next < reported + window; });
                if (stop || next >= count) return;
                index = next++;
            }
            auto outcome = std::make_unique<FileOutcome>(work(index, reader));
            const std::lock_guard<std::mutex> lock(mutex);
            done[index] = std::move(outcome);
            changed.notify_all();
        }
    };
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < jobs; ++i) threads.emplace_back(worker);

    std::unique_lock<std::mutex> lock(mutex);
    while (reported < (stop ? next : count)) {
        if (done[reported] == nullptr) {
            changed.wait_for(lock, std::chrono::milliseconds(100));
            if (!stop && platform::interrupt_requested()) {
                stop = true;
                changed.notify_all();
            }
            lock.unlock();
            tick(reported);
            lock.lock();
            continue;
        }
        std::unique_ptr<FileOutcome> outcome = std::move(done[reported]);
        lock.unlock();
        report(reported, *outcome);
        outcome.reset();
        lock.lock();
        ++reported;
        changed.notify_all();
    }
    stop = true;
    changed.notify_all();
    lock.unlock();
    for (std::thread& t : threads) t.join();
    return reported;
}

}  // namespace

std::size_t report_refused_entries(const InputListing& listing) {
    for (const std::string& path : listing.not_regular) print_error(display_name(path) + ": " + kNotRegularError);
    return listing.not_regular.size();
}

std::vector<MapFile> list_inputs(const std::vector<std::string>& inputs, std::size_t& failures) {
    std::vector<MapFile> files;
    for (const std::string& input : inputs) {
        InputListing listing = list_map_files(input);
        // Refused rather than read: a pipe or device that never ends would hold up every file.
        failures += report_refused_entries(listing);
        switch (listing.status) {
            case InputStatus::ok:
                for (MapFile& f : listing.files) files.push_back(std::move(f));
                continue;
            case InputStatus::not_regular:
                print_error(display_name(input) + ": " + kNotRegularError);
                break;
            case InputStatus::not_found:
                print_error(display_name(input) + ": ** Error: Input file not found\n");
                break;
            case InputStatus::no_map_file:
                print_error(format_text("** Error: \"%s\" holds no map file\n", display_name(input).c_str()));
                break;
            case InputStatus::zip_failed: {
                ReadResult read;
                read.status = ReadStatus::zip_failed;
                read.zip = listing.zip;
                print_error(prefixed(display_name(input) + ": ", read_failure_text(read)));
                break;
            }
        }
        ++failures;
    }
    return files;
}

namespace {

// What a file reports in a run of many: nothing when all went well, else its lines, each after
// "NAME: ". Counts its drawings.
struct Tally {
    std::size_t drawn = 0;
    std::size_t failed = 0;
    std::size_t skipped = 0;
    std::size_t files = 0;          // map files reported
    std::size_t unread = 0;         // of them, or of the inputs, not read (counted in `failed` too)
    std::size_t files_stopped = 0;  // stopped between two sheets by an interrupt
    std::size_t failed_inputs = 0;  // inputs that could not be listed
    // Drawings that do not fit their paper, told once at the end: the first of them, and what
    // would fit them all.
    std::size_t overflowing = 0;
    std::string first_overflowing;
    std::size_t paper_needed = 0;  // index into kPaperSizes
    bool no_paper_fits = false;
    std::uint32_t scale_needed = 0;

    void note_page(const DrawOutcome& d) {
        if (d.status != DrawStatus::ok || !d.page.overflows) return;
        if (overflowing++ == 0) first_overflowing = display_name(platform::path_file_name(d.output_path));
        if (d.page.fitting_paper == nullptr) {
            no_paper_fits = true;
        } else {
            paper_needed = std::max(paper_needed, static_cast<std::size_t>(d.page.fitting_paper - kPaperSizes));
        }
        scale_needed = std::max(scale_needed, d.page.fitting_scale);
    }
};

// Once for the run, however many drawings did not fit.
std::string overflow_text(const Tally& tally, PaperOrientation orientation) {
    if (tally.overflowing == 0) return {};
    const PaperSize* paper = tally.no_paper_fits ? nullptr : &kPaperSizes[tally.paper_needed];
    return format_text("**Warning: %zu of %zu drawings do not fit the paper at their scale (the first: %s): %s\n",
                       tally.overflowing, tally.drawn, tally.first_overflowing.c_str(),
                       fit_hint_text(paper, orientation, tally.scale_needed).c_str());
}

std::string report_text(const MapFile& file, const FileOutcome& outcome, Tally& tally) {
    const std::string prefix = display_name(file.name) + ": ";
    ++tally.files;
    if (outcome.read_failed) {
        ++tally.failed;
        ++tally.unread;
        return prefixed(prefix, outcome.read_error);
    }
    std::string text;
    if (outcome.drawings.empty() && !outcome.stopped) {
        ++tally.skipped;
        return prefix + "**Warning: No polygons to draw\n";
    }
    for (const DrawOutcome& d : outcome.drawings) {
        text += prefixed(prefix, d.messages);
        text += prefixed(prefix, d.warning);
        if (d.out_of_memory) text += prefix + "** Error: out of memory\n";
        text += prefixed(prefix, d.error);
        if (d.status == DrawStatus::ok) ++tally.drawn;
        tally.note_page(d);
        if (d.status == DrawStatus::failed) ++tally.failed;
        if (d.status == DrawStatus::no_polygons) ++tally.skipped;
    }
    if (outcome.stopped) {
        ++tally.files_stopped;
        const auto drawn =
            static_cast<std::size_t>(std::count_if(outcome.drawings.begin(), outcome.drawings.end(),
                                                   [](const DrawOutcome& d) { return d.status == DrawStatus::ok; }));
        text += format_text("stopped: %s, %zu of %zu sheets drawn\n", display_name(file.name).c_str(), drawn,
                            outcome.sheets);
    }
    return text;
}

}  // namespace

std::size_t convert_with_progress(const std::vector<MapFile>& files, unsigned jobs, double start,
                                  const std::function<FileOutcome(std::size_t, MapFileReader&)>& work,
                                  const std::function<std::string(std::size_t, FileOutcome&)>& take) {
    ProgressLine progress(platform::stderr_is_terminal(), files.size(), start);
    const auto report = [&](std::size_t i, FileOutcome& outcome) {
        const std::string text = take(i, outcome);
        if (!text.empty()) {
            progress.clear();
            print_error(text);
        }
        progress.show(i + 1, platform::monotonic_seconds());
    };
    const auto tick = [&](std::size_t reported) { progress.show(reported, platform::monotonic_seconds()); };
    const std::size_t reported = convert_in_order(files.size(), job_count(jobs, files.size()), work, report, tick);
    progress.clear();
    return reported;
}

namespace {

// Were files left unread by an interrupt? Then a lot may be in one of them.
bool interrupted_before_all(std::size_t reported, std::size_t files) {
    return platform::interrupt_requested() && reported < files;
}

int run_drawings(const BatchOptions& options, const ConvertContext& context, const std::vector<MapFile>& files,
                 Tally& tally, double start) {
    const std::string& dir = options.out_dir;
    if (!platform::make_directory(dir)) {
        print_error(format_text("** Error: Cannot create output folder \"%s\"\n", display_name(dir).c_str()));
        return 1;
    }
    const std::string folder = dir + platform::path_separator();
    OutputNames names(kMaxFileNameBytes - options.extension.size(), context.ansi_code_page);
    std::vector<std::string> outputs(files.size());
    if (!options.per_sheet) {
        for (std::size_t i = 0; i < files.size(); ++i) {
            outputs[i] = folder + names.claim(file_name_safe(map_file_stem(files[i]))) + options.extension;
        }
    }
    std::vector<std::string> keys;
    for (const std::string& key : options.highlights) {
        keys.push_back(platform::convert_code_page(key, context.ansi_code_page, platform::kCodePageUtf8));
    }
    const auto work = [&](std::size_t i, MapFileReader& reader) {
        ConvertRequest request;
        request.mode = ConvertMode::drawing;
        request.output_path = outputs[i];
        request.per_sheet = options.per_sheet;
        request.survey_points = reads_survey_points("x" + options.extension);
        request.highlights = keys;
        request.fit_told_by_caller = true;
        request.fit_core = options.fit_core;
        const std::string stem = file_name_safe(map_file_stem(files[i]));
        bool claimed = false;
        request.sheet_outputs = [&](const std::vector<std::string>& map_nos) {
            std::vector<std::string> wanted;
            for (const std::string& map_no : map_nos) {
                // Sheet numbers are UTF-8 in the map; file names are in the ANSI code page.
                const std::string sheet =
                    platform::convert_code_page(map_no, platform::kCodePageUtf8, context.ansi_code_page);
                wanted.push_back(stem + "_" + file_name_safe(sheet));
            }
            claimed = true;
            std::vector<std::string> paths = names.claim_in_turn(i, wanted);
            for (std::string& path : paths) path = folder + path + options.extension;
            return paths;
        };
        FileOutcome outcome = convert_map_file(files[i], context, request, reader);
        // A file that claimed nothing (it failed before its sheets were known) still ends its turn.
        if (options.per_sheet && !claimed) names.pass_turn(i);
        return outcome;
    };
    std::vector<bool> lots_found(options.highlights.size(), false);
    const std::size_t reported =
        convert_with_progress(files, options.jobs, start, work, [&](std::size_t i, FileOutcome& outcome) {
            for (std::size_t k = 0; k < outcome.lots_found.size() && k < lots_found.size(); ++k) {
                if (outcome.lots_found[k]) lots_found[k] = true;
            }
            return report_text(files[i], outcome, tally);
        });
    const double elapsed = platform::monotonic_seconds() - start;
    print_error(overflow_text(tally, context.print.orientation));
    // A lot that highlights nothing anywhere is most likely mistyped: said once, at the end.
    if (!files.empty() && !interrupted_before_all(reported, files.size())) {
        // Each lot once, by its normal form: ２６-１ and 26-1 are one lot typed two ways.
        std::unordered_set<std::string> told;
        std::string buffer;
        for (std::size_t k = 0; k < lots_found.size(); ++k) {
            const std::string& lot = options.highlights[k];
            if (lots_found[k]) continue;
            if (!told.emplace(normal_lot_text(keys[k], buffer)).second) continue;
            print_error(format_text("**Warning: --highlight lot \"%s\" is in none of the %zu map files\n",
                                    display_name(lot).c_str(), files.size()));
        }
    }
    const bool interrupted = platform::interrupt_requested();
    if (options.per_sheet) {
        // Sheets and map files counted apart: a file holds many sheets.
        // Inputs that could not be listed are failed map files that were never reported.
        const std::size_t listed_unread = tally.unread - std::min(tally.unread, tally.failed_inputs);
        const std::size_t done = tally.files - std::min(tally.files, listed_unread + tally.files_stopped);
        std::string files_part = format_text("%zu map file%s done", done, done == 1 ? "" : "s");
        if (interrupted) append_format(files_part, ", %zu stopped", tally.files_stopped);
        append_format(files_part, ", failed %zu", tally.unread);
        if (interrupted) append_format(files_part, ", %zu not done,", files.size() - reported);
        print_error(format_text("%s %zu sheet%s, failed %zu, skipped %zu (no polygons); %s in %.1f s\n",
                                interrupted ? "Interrupted: drawn" : "Drawn", tally.drawn, tally.drawn == 1 ? "" : "s",
                                tally.failed - tally.unread, tally.skipped, files_part.c_str(), elapsed));
        if (interrupted) platform::end_as_interrupted();
        return tally.failed == 0 ? 0 : 1;
    }
    if (interrupted) {
        print_error(
            format_text("Interrupted: drawn %zu, failed %zu, skipped %zu (no polygons), %zu files not done, "
                        "in %.1f s\n",
                        tally.drawn, tally.failed, tally.skipped, files.size() - reported, elapsed));
        platform::end_as_interrupted();
    }
    print_error(format_text("Drawn %zu, failed %zu, skipped %zu (no polygons) in %.1f s\n", tally.drawn, tally.failed,
                            tally.skipped, elapsed));
    return tally.failed == 0 ? 0 : 1;
}

int run_csv(const BatchOptions& options, const ConvertContext& context, const std::vector<MapFile>& files, Tally& tally,
            double start) {
    const std::string& path = options.csv_path;
    const OutputFormat& format = rows_format_for(path);
    OutputSession output;
    const WriteStatus opened = output.open(path, context.output_rules, true);
    if (opened != WriteStatus::ok) {
        print_error(output_error_text(opened, path));
        return 1;
    }
    std::unique_ptr<RowWriter> writer = format.make_row_writer(output);
    // Every write is checked; the first failure ends the writing, the previous output left as it was.
    bool written = writer->begin(kListingColumns);
    std::size_t parcels = 0;
    std::size_t left_out = 0;  // outside the district
    const auto work = [&](std::size_t i, MapFileReader& reader) {
        ConvertRequest request;
        request.mode = ConvertMode::csv;
        return convert_map_file(files[i], context, request, reader);
    };
    const auto take = [&](std::size_t i, FileOutcome& outcome) {
        Tally ignored;
        std::string text = report_text(files[i], outcome, ignored);
        if (outcome.failed()) ++tally.failed;
        if (!outcome.failed()) {
            written = written && writer->write(outcome.rows);
            ++tally.drawn;
            parcels += outcome.rows.rows();
            left_out += outcome.left_out;
        }
        return text;
    };
    const std::size_t reported = convert_with_progress(files, options.jobs, start, work, take);
    const double elapsed = platform::monotonic_seconds() - start;
    if (platform::interrupt_requested()) {
        // An output with files missing is not left where the complete one was expected.
        writer.reset();
        output.abandon();
        print_error(format_text("Interrupted: listed %zu map files, failed %zu, %zu files not done, in %.1f s\n",
                                tally.drawn, tally.failed, files.size() - reported, elapsed));
        platform::end_as_interrupted();
    }
    written = written && writer->finish();
    const std::string writer_error = writer->error();
    const std::size_t texts_cut = writer->texts_cut();
    writer.reset();  // closes what it holds before the file is moved
    std::int64_t size = 0;
    if (!(written && output.commit(size))) {
        output.abandon();
        if (writer_error.empty()) {
            print_error(output_error_text(WriteStatus::failed, path));
        } else {
            print_error(format_text("** Error: Cannot write output file \"%s\": %s\n", display_name(path).c_str(),
                                    writer_error.c_str()));
        }
        return 1;
    }
    if (texts_cut != 0) {
        print_error(format_text("**Warning: %zu cell text%s cut to the %zu characters a cell holds in \"%s\"\n",
                                texts_cut, texts_cut == 1 ? "" : "s", kWorksheetCellCharacters,
                                display_name(path).c_str()));
    }
    // What was left out, and why, so that a short output is not taken for the whole of the files.
    const std::string listed = left_out == 0 ? format_text("%zu parcels", parcels)
                                             : format_text("%zu of %zu parcels (%zu outside the district)", parcels,
                                                           parcels + left_out, left_out);
    // A workbook is packed at the end: its time counts.
    print_error(format_text("Listed %s of %zu map files, failed %zu in %.1f s\n", listed.c_str(), tally.drawn,
                            tally.failed, platform::monotonic_seconds() - start));
    return tally.failed == 0 ? 0 : 1;
}

}  // namespace

unsigned job_count(unsigned requested, std::size_t files) {
    unsigned jobs = requested != 0 ? requested : std::thread::hardware_concurrency();
    jobs = std::clamp(jobs, 1u, kMaxJobs);
    if (files < jobs) jobs = static_cast<unsigned>(std::max<std::size_t>(files, 1));
    return jobs;
}

int run_batch(const BatchOptions& options, const ConvertContext& context) {
    if (!options.check_path.empty()) return run_quality_check(options, context);
    if (!options.diff_path.empty()) return run_release_diff(options, context);
    if (options.sheets) {
        std::size_t failed = 0;
        const std::vector<MapFile> files = list_inputs(options.inputs, failed);
        const int code = run_listing_of_files(files, context, ConvertMode::sheets);
        return failed == 0 ? code : 1;
    }
    const double start = platform::monotonic_seconds();
    Tally tally;
    const std::vector<MapFile> files = list_inputs(options.inputs, tally.failed);
    tally.failed_inputs = tally.failed;
    tally.unread = tally.failed;
    // No output may replace a file the run reads; in the output folder, the program chose the names,
    // so a link found under one is replaced rather than followed out of the folder. A file the user
    // named (--csv, --gis) is written through a link, as the single-map output is.
    ConvertContext run_context = context;
    run_context.output_rules.inputs = input_file_ids(files, options.inputs);
    run_context.output_rules.replace_links = !options.out_dir.empty();
    platform::catch_interrupts();
    if (!options.gis_path.empty()) return run_gis_export(options, run_context, files, tally.failed, start);
    const int code = options.csv_path.empty() ? run_drawings(options, run_context, files, tally, start)
                                              : run_csv(options, run_context, files, tally, start);
    return code;
}

int run_listing_of_files(const std::vector<MapFile>& files, const ConvertContext& context, ConvertMode mode) {
    std::size_t failed = 0;
    bool stdout_ok = true;
    const auto work = [&](std::size_t i, MapFileReader& reader) {
        ConvertRequest request;
        request.mode = mode;
        return convert_map_file(files[i], context, request, reader);
    };
    const auto report = [&](std::size_t i, FileOutcome& outcome) {
        if (outcome.read_failed) {
            ++failed;
            print_error(prefixed(display_name(files[i].name) + ": ", outcome.read_error));
            return;
        }
        const DrawOutcome& d = outcome.drawings.front();
        print_error(d.messages);
        if (d.out_of_memory) {
            ++failed;
            print_error(display_name(files[i].name) + ": ** Error: out of memory\n");
            return;
        }
        print_error(d.statistics);
        stdout_ok = write_standard_output(outcome.listing) && stdout_ok;
    };
    convert_in_order(files.size(), job_count(0, files.size()), work, report, [](std::size_t) {});
    if (!finish_standard_output() || !stdout_ok) {
        print_error(kCannotWriteStdout);
        return 1;
    }
    return failed == 0 ? 0 : 1;
}

}  // namespace chizuvec
