// --check: a quality report of every map file of the inputs, one row or feature per finding,
// written in input order as the batch hands the files over, into a temporary file that replaces the
// report only when complete.
#include <new>
#include <string>
#include <vector>

#include "common/text_format.hpp"
#include "driver/assembly_report.hpp"
#include "driver/batch.hpp"
#include "driver/console.hpp"
#include "driver/display_name.hpp"
#include "driver/output_session.hpp"
#include "driver/read_report.hpp"
#include "gis/parcel_features.hpp"
#include "platform/platform.hpp"
#include "quality/findings_report.hpp"
#include "quality/map_check.hpp"

namespace chizuvec {
namespace {

std::string report_name(const std::string& name, const ConvertContext& context) {
    return platform::convert_code_page(platform::path_file_name(name), context.ansi_code_page, platform::kCodePageUtf8);
}

FileFindings damaged(std::string file, std::string detail) {
    FileFindings f;
    f.file = std::move(file);
    Finding& finding = f.findings.emplace_back();
    finding.kind = FindingKind::damaged_file;
    finding.detail = std::move(detail);
    return f;
}

// The first line of a reader's error, without its "** Error: " and line end.
std::string reason_of(const std::string& error) {
    std::string line = error.substr(0, error.find('\n'));
    constexpr std::string_view kPrefix = "** Error: ";
    if (line.compare(0, kPrefix.size(), kPrefix) == 0) line.erase(0, kPrefix.size());
    return line;
}

// One map file's findings; `error` is set instead when the file could not be checked for a reason
// of the run's own (memory, a library that cannot be loaded).
FileFindings check_file(const MapFile& file, const ConvertContext& context, MapFileReader& reader, std::string& error) {
    FileFindings result;
    result.file = report_name(file.name, context);
    try {
        MapDataset dataset;
        MapHeader header;
        ReadOptions options;
        options.gis_detail = true;
        const ReadResult read = reader.read(file, dataset, header, options);
        if (read.status == ReadStatus::no_memory ||
            (read.status == ReadStatus::zip_failed && read.zip.status == ZipStatus::library_missing)) {
            error = read_failure_text(read, file.name);
            return result;
        }
        if (read.status != ReadStatus::ok) {
            const std::string reason = read.status == ReadStatus::not_map_xml ? std::string("not a map XML file")
                                       : read.status == ReadStatus::not_found
                                           ? std::string("cannot be opened")
                                           : reason_of(read_failure_text(read, file.name));
            return damaged(result.file, "cannot be read: " + reason);
        }
        if (read.cut_off) {
            Finding& f = result.findings.emplace_back();
            f.kind = FindingKind::damaged_file;
            f.detail = "ends before </地図>: it may be cut off";
        }
        // Each surface is checked once; its rings' points are held while it is.
        if (const std::uint64_t points = parcel_shape_points(dataset, true, kMaxDrawnPoints);
            points > kMaxDrawnPoints) {
            error = drawing_too_large_text(points);
            return result;
        }
        check_map(dataset, header, read.cut_off, result.findings);
    } catch (const std::bad_alloc&) {
        result.findings.clear();
        error = "** Error: out of memory\n";
    }
    return result;
}

void print_summary(const char* form, const FindingTally& tally, std::size_t failed, double elapsed) {
    std::string text = format_text(form, tally.files, failed, tally.total(), elapsed);
    for (std::size_t k = 0; k < kFindingKindCount; ++k) {
        if (tally.counts[k] == 0) continue;
        const std::string_view name = finding_kind_name(static_cast<FindingKind>(k));
        append_format(text, "  %.*s: %zu\n", static_cast<int>(name.size()), name.data(), tally.counts[k]);
    }
    print_error(message_text(text));
}

}  // namespace

int run_quality_check(const BatchOptions& options, const ConvertContext& context) {
    const double start = platform::monotonic_seconds();
    const std::string& path = options.check_path;
    const bool to_stdout = path == "-";
    ReportFormat format = ReportFormat::csv;
    if (!to_stdout && !report_format_for(path, format)) {
        print_error(format_text("** Error: Unsupported output file type \"%s\" (.csv or .geojson)\n",
                                display_name(path).c_str()));
        return 1;
    }
    // Inputs that cannot be listed are findings of their own, reported before the map files that
    // follow them.
    std::vector<MapFile> files;
    std::vector<std::pair<std::size_t, FileFindings>> listing_findings;
    std::size_t failed = 0;
    for (const std::string& input : options.inputs) {
        InputListing listing = list_map_files(input);
        failed += report_refused_entries(listing);
        switch (listing.status) {
            case InputStatus::ok:
                for (MapFile& f : listing.files) files.push_back(std::move(f));
                continue;
            case InputStatus::not_regular:
                print_error(display_name(input) + ": " + kNotRegularError);
                ++failed;
                continue;
            case InputStatus::not_found:
                print_error(display_name(input) + ": ** Error: Input file not found\n");
                ++failed;
                continue;
            case InputStatus::no_map_file:
                listing_findings.emplace_back(files.size(), damaged(report_name(input, context), "holds no map file"));
                continue;
            case InputStatus::zip_failed: {
                ReadResult read;
                read.status = ReadStatus::zip_failed;
                read.zip = listing.zip;
                if (listing.zip.status == ZipStatus::library_missing) {
                    print_error(named_lines(input, read_failure_text(read)));
                    ++failed;
                    continue;
                }
                listing_findings.emplace_back(
                    files.size(),
                    damaged(report_name(input, context), "cannot be read: " + reason_of(read_failure_text(read))));
                continue;
            }
        }
    }
    ConvertContext run_context = context;
    run_context.output_rules.inputs = input_file_ids(files, options.inputs);
    platform::catch_interrupts();

    OutputSession output;
    const WriteStatus opened = output.open(path, run_context.output_rules, true);
    if (opened != WriteStatus::ok) {
        print_error(output_error_text(opened, path));
        return 1;
    }
    const auto write = [&](std::string_view bytes) { return output.write(bytes); };
    bool written = true;
    if (!to_stdout && format == ReportFormat::csv) written = write("\xEF\xBB\xBF");
    written = written && write(report_head(format));

    FindingTally tally;
    bool first = true;
    std::size_t next_listing = 0;
    const auto put = [&](const FileFindings& findings) {
        std::string rows;
        append_report_rows(rows, format, findings, first);
        written = written && write(rows);
        tally.add(findings);
    };
    const auto put_listing_findings = [&](std::size_t before) {
        for (; next_listing < listing_findings.size() && listing_findings[next_listing].first <= before;
             ++next_listing) {
            put(listing_findings[next_listing].second);
        }
    };
    // Each worker fills its own file's slot; the slot is emptied as soon as it is written.
    std::vector<FileFindings> results(files.size());
    std::vector<std::string> errors(files.size());
    const auto work = [&](std::size_t i, MapFileReader& reader) {
        results[i] = check_file(files[i], run_context, reader, errors[i]);
        return FileOutcome{};
    };
    const auto take = [&](std::size_t i, FileOutcome&) {
        put_listing_findings(i);
        std::string text;
        if (!errors[i].empty()) {
            ++failed;
            text = prefixed(display_name(files[i].name) + ": ", errors[i]);
        } else {
            put(results[i]);
        }
        results[i] = FileFindings{};
        return text;
    };
    const std::size_t reported = convert_with_progress(files, options.jobs, start, work, take);
    const double elapsed = platform::monotonic_seconds() - start;
    if (platform::interrupt_requested()) {
        output.abandon();
        print_summary("Interrupted: checked %zu map files, failed %zu, %zu findings, in %.1f s\n", tally, failed,
                      elapsed);
        print_error(format_text("%zu files not done\n", files.size() - reported));
        platform::end_as_interrupted();
    }
    put_listing_findings(files.size());
    written = written && write(report_tail(format));
    std::int64_t size = 0;
    if (!written || !output.commit(size)) {
        output.abandon();
        written = false;
    }
    if (!written) {
        print_error(output_error_text(WriteStatus::failed, path));
        return 1;
    }
    print_summary("Checked %zu map files (failed %zu): %zu findings in %.1f s\n", tally, failed, elapsed);
    return failed == 0 ? 0 : 1;
}

}  // namespace chizuvec
