// --diff OUT OLD NEW: what changed between two releases of a municipality's map files. OLD is read
// whole into a compact table of its parcels; NEW's files then stream past it one at a time, so
// memory holds one release's parcels, not both archives.
#include <memory>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/ascii.hpp"
#include "common/text_format.hpp"
#include "driver/assembly_report.hpp"
#include "driver/batch.hpp"
#include "driver/console.hpp"
#include "driver/display_name.hpp"
#include "driver/map_output.hpp"
#include "driver/output_formats.hpp"
#include "driver/output_session.hpp"
#include "driver/read_report.hpp"
#include "gis/parcel_features.hpp"
#include "platform/platform.hpp"
#include "quality/diff_drawing.hpp"
#include "quality/diff_report.hpp"

namespace chizuvec {
namespace {

// The parcels of one map file, or why they could not be read.
struct ReleaseFile {
    std::vector<ReleaseParcel> parcels;
    NamedPoints points;
    std::string error;
};

ReleaseFile read_release_file(const MapFile& file, MapFileReader& reader) {
    ReleaseFile result;
    try {
        MapDataset dataset;
        MapHeader header;
        ReadOptions options;
        options.gis_detail = true;
        options.survey_points = true;
        const ReadResult read = reader.read(file, dataset, header, options);
        if (read.status != ReadStatus::ok) {
            result.error = read_failure_text(read, file.name, file.inner_entry);
            return result;
        }
        // Every parcel keeps its own outline for the comparison.
        if (const std::uint64_t points = parcel_shape_points(dataset, false, kMaxDrawnPoints);
            points > kMaxDrawnPoints) {
            result.error = drawing_too_large_text(points);
            return result;
        }
        release_parcels(dataset, header, result.parcels, &result.points);
    } catch (const std::bad_alloc&) {
        result.parcels.clear();
        result.points = NamedPoints{};
        result.error = "** Error: out of memory\n";
    }
    return result;
}

enum class DiffOutput { csv, gis, drawing };

struct DiffTally {
    std::size_t counts[4] = {};
    std::size_t failed = 0;
};

}  // namespace

int run_release_diff(const BatchOptions& options, const ConvertContext& context) {
    const double start = platform::monotonic_seconds();
    const std::string& path = options.diff_path;
    DiffOutput kind = DiffOutput::csv;
    const OutputFormat* format = nullptr;
    const std::string_view extension = platform::path_extension(path);
    if (!equals_ignoring_ascii_case(extension, ".csv")) {
        format = format_for_path(path, FormatKind::one_map);
        if (format != nullptr && format->source == OutputSource::page) {
            kind = DiffOutput::drawing;
        } else {
            format = format_for_path(path, FormatKind::features);
            if (format == nullptr) {
                // The changes are CSV rows, GIS features or a drawing; a workbook of them is not written.
                const std::string types = format_extensions([](const OutputFormat& f) {
                    return f.source != OutputSource::parcels && (f.source != OutputSource::rows || &f == &csv_format());
                });
                print_error(format_text("** Error: Unsupported output file type \"%s\" (%s)\n",
                                        display_name(path).c_str(), types.c_str()));
                return 1;
            }
            kind = DiffOutput::gis;
        }
    }
    std::size_t listing_failures = 0;
    const std::vector<MapFile> old_files = list_inputs({options.inputs[0]}, listing_failures);
    const std::vector<MapFile> new_files = list_inputs({options.inputs[1]}, listing_failures);
    if (listing_failures != 0) return 1;
    ConvertContext run_context = context;
    std::vector<MapFile> all = old_files;
    all.insert(all.end(), new_files.begin(), new_files.end());
    run_context.output_rules.inputs = input_file_ids(all, options.inputs);
    platform::catch_interrupts();

    DiffTally tally;
    // OLD, whole: its parcels and, by lot, their positions in order.
    std::vector<ReleaseParcel> old_parcels;
    std::vector<NamedPoints> old_points(old_files.size());
    {
        std::vector<ReleaseFile> slots(old_files.size());
        const auto work = [&](std::size_t i, MapFileReader& reader) {
            slots[i] = read_release_file(old_files[i], reader);
            return FileOutcome{};
        };
        const auto take = [&](std::size_t i, FileOutcome&) {
            std::string text;
            if (!slots[i].error.empty()) {
                ++tally.failed;
                text = prefixed(display_name(old_files[i].name) + ": ", slots[i].error);
            }
            for (ReleaseParcel& p : slots[i].parcels) {
                p.file = static_cast<std::uint32_t>(i);
                p.named = {};  // only the new side's parcels look their points up
                old_parcels.push_back(std::move(p));
            }
            old_points[i] = std::move(slots[i].points);
            slots[i] = ReleaseFile{};
            return text;
        };
        convert_with_progress(old_files, options.jobs, start, work, take);
    }
    if (platform::interrupt_requested()) {
        print_error("Interrupted: nothing written\n");
        platform::end_as_interrupted();
    }
    std::unordered_map<std::string_view, std::vector<std::uint32_t>> old_of_lot;
    for (std::uint32_t i = 0; i < old_parcels.size(); ++i) old_of_lot[old_parcels[i].key].push_back(i);
    std::vector<bool> matched(old_parcels.size(), false);
    // A lot given in several map files is matched in the map file of the same name first, whatever
    // order the archives list their files in.
    std::unordered_map<std::string, std::uint32_t> old_file_of_name;
    for (std::uint32_t i = 0; i < old_files.size(); ++i) old_file_of_name.emplace(map_file_stem(old_files[i]), i);
    constexpr std::uint32_t kNoFile = 0xFFFFFFFFu;
    const auto match = [&](const ReleaseParcel& now, std::uint32_t old_file) -> std::uint32_t {
        const auto found = old_of_lot.find(now.key);
        if (found == old_of_lot.end()) return kNoFile;
        std::uint32_t first_free = kNoFile;
        for (const std::uint32_t at : found->second) {
            if (matched[at]) continue;
            if (old_parcels[at].file == old_file) return at;
            if (first_free == kNoFile) first_free = at;
        }
        return first_free;
    };

    // A drawing is written whole at the end, through the page output.
    OutputSession output;
    if (kind != DiffOutput::drawing) {
        const WriteStatus opened = output.open(path, run_context.output_rules, false);
        if (opened != WriteStatus::ok) {
            print_error(output_error_text(opened, path));
            return 1;
        }
    }
    std::unique_ptr<FeatureWriter> writer;
    bool written = true;
    GisCoordinates coordinates = GisCoordinates::geographic;
    bool began = false;
    if (kind == DiffOutput::gis) {
        writer = format->make_feature_writer(output.release_stream());
    } else if (kind == DiffOutput::csv) {
        written = output.write("\xEF\xBB\xBF") && output.write(diff_csv_header());
    }
    DiffDrawing drawing;
    std::string rows;
    const auto put = [&](const DiffRow& row) {
        ++tally.counts[static_cast<int>(row.kind)];
        if (!written) return;
        if (kind == DiffOutput::drawing) {
            drawing.add(row.now != nullptr ? *row.now : *row.old, &row.kind);
            return;
        }
        if (kind == DiffOutput::csv) {
            rows.clear();
            append_diff_csv(rows, row);
            written = output.write(rows);
            return;
        }
        if (!began) {
            // The first parcel's map decides: plane zones give longitude and latitude, 任意座標系 its metres.
            const ReleaseParcel& p = row.now != nullptr ? *row.now : *row.old;
            coordinates = p.zone != 0 ? GisCoordinates::geographic : GisCoordinates::local;
            GisSchema schema;
            schema.layer_name = "changes";
            schema.fields = diff_fields();
            schema.coordinates = coordinates;
            began = true;
            written = writer->begin(schema);
        }
        written = written && write_diff_feature(*writer, row, coordinates);
    };

    // NEW, a file at a time, against the table.
    std::vector<ReleaseFile> slots(new_files.size());
    const auto work = [&](std::size_t i, MapFileReader& reader) {
        slots[i] = read_release_file(new_files[i], reader);
        return FileOutcome{};
    };
    const auto take = [&](std::size_t i, FileOutcome&) {
        std::string text;
        if (!slots[i].error.empty()) {
            ++tally.failed;
            text = prefixed(display_name(new_files[i].name) + ": ", slots[i].error);
        }
        const auto same_name = old_file_of_name.find(map_file_stem(new_files[i]));
        const std::uint32_t old_file = same_name == old_file_of_name.end() ? kNoFile : same_name->second;
        for (const ReleaseParcel& now : slots[i].parcels) {
            const std::uint32_t at = match(now, old_file);
            if (at == kNoFile) {
                DiffRow row;
                row.kind = ChangeKind::added;
                row.now = &now;
                put(row);
                continue;
            }
            matched[at] = true;
            const std::optional<ParcelChange> change =
                compare_parcels(old_parcels[at], now, &old_points[old_parcels[at].file], &slots[i].points);
            if (!change) {
                if (kind == DiffOutput::drawing) drawing.add(now, nullptr);
                continue;
            }
            DiffRow row;
            row.kind = change->kind;
            row.old = &old_parcels[at];
            row.now = &now;
            row.max_shift_m = change->max_shift_m;
            row.detail = change->detail;
            put(row);
        }
        slots[i] = ReleaseFile{};
        return text;
    };
    convert_with_progress(new_files, options.jobs, start, work, take);
    const double elapsed = platform::monotonic_seconds() - start;
    if (platform::interrupt_requested()) {
        writer.reset();
        output.abandon();
        print_error(format_text("Interrupted: nothing written, in %.1f s\n", elapsed));
        platform::end_as_interrupted();
    }
    for (std::uint32_t i = 0; i < old_parcels.size(); ++i) {
        if (matched[i]) continue;
        DiffRow row;
        row.kind = ChangeKind::removed;
        row.old = &old_parcels[i];
        put(row);
    }
    std::string writer_error;
    if (writer) {
        if (written && !began) {
            GisSchema schema;
            schema.layer_name = "changes";
            schema.fields = diff_fields();
            written = writer->begin(schema);
        }
        written = written && writer->finish();
        writer_error = writer->error();
        writer.reset();
    }
    // A release that could not be read whole would show its parcels as removed or added.
    if (tally.failed != 0) {
        output.abandon();
        print_error(format_text("** Error: %zu map files could not be read; no diff written\n", tally.failed));
        return 1;
    }
    if (kind == DiffOutput::drawing) {
        const auto name = [&](const std::string& input) {
            return platform::convert_code_page(platform::path_file_name(input), context.ansi_code_page,
                                               platform::kCodePageUtf8);
        };
        const WriteStatus drawn = write_page_output(
            path, drawing.drawing("Changes from " + name(options.inputs[0]) + " to " + name(options.inputs[1])),
            run_context.output_rules);
        if (drawn != WriteStatus::ok) {
            print_error(output_error_text(drawn, path));
            return 1;
        }
    }
    std::int64_t size = 0;
    if (kind != DiffOutput::drawing && (!written || !output.commit(size))) {
        output.abandon();
        const std::string shown = display_name(path);
        print_error(writer_error.empty() ? format_text("** Error: Cannot write output file \"%s\"\n", shown.c_str())
                                         : format_text("** Error: Cannot write output file \"%s\": %s\n", shown.c_str(),
                                                       writer_error.c_str()));
        return 1;
    }
    print_error(
        format_text("Compared %zu map files with %zu: added %zu, removed %zu, reshaped %zu, attributes %zu "
                    "in %.1f s\n",
                    new_files.size(), old_files.size(), tally.counts[0], tally.counts[1], tally.counts[2],
                    tally.counts[3], elapsed));
    return 0;
}

}  // namespace chizuvec
