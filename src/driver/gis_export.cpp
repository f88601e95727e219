// --gis: the parcels of every map file as features of one GIS output, written in input order as the
// batch hands the files over, into a temporary file that replaces the output only when complete.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "common/text_format.hpp"
#include "driver/batch.hpp"
#include "driver/console.hpp"
#include "driver/display_name.hpp"
#include "driver/output_formats.hpp"
#include "driver/output_session.hpp"
#include "gis/feature_writer.hpp"
#include "platform/platform.hpp"

namespace chizuvec {
namespace {

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
    return text;
}

// The output while the files come in: it begins with the first file that has features, whose
// coordinates every later one must share.
struct GisOutput {
    std::unique_ptr<FeatureWriter> writer;
    bool began = false;
    bool failed = false;
    GisCoordinates coordinates = GisCoordinates::geographic;
    std::vector<std::string> names[2];  // the files written, by GisCoordinates

    bool begin(GisCoordinates kind) {
        GisSchema schema;
        schema.fields = kParcelFields;
        schema.coordinates = kind;
        coordinates = kind;
        began = true;
        failed = !writer->begin(schema);
        return !failed;
    }
    bool mixed() const { return !names[0].empty() && !names[1].empty(); }
};

struct GisTally {
    std::size_t files = 0;
    std::size_t parcels = 0;
    std::size_t without_shape = 0;
    std::vector<std::string> shapeless;      // the first lots without shape, "LOT (FILE)"
    std::size_t left_out = 0;                // lots of 地区外 or 別図
    std::vector<std::string> left_out_lots;  // the first of them, "LOT (FILE)", in UTF-8
    std::size_t failed = 0;
    std::vector<std::string> skipped;  // 任意座標系 maps left out
};

// What a file reports, and its features handed to the output. Messages are built in UTF-8 and go
// out in the code page of messages (message_text).
std::string file_gis_report(const MapFile& file, FileOutcome& outcome, GisOutput& output, GisTally& tally) {
    const std::string prefix = display_name(file.name) + ": ";
    if (outcome.read_failed) {
        ++tally.failed;
        return prefixed(prefix, outcome.read_error);
    }
    // Polygon assembly's messages are about the drawing's outlines, which the features do not use.
    for (const DrawOutcome& d : outcome.drawings) {
        if (d.out_of_memory) {
            ++tally.failed;
            return prefix + "** Error: out of memory\n";
        }
        if (d.status == DrawStatus::failed) {
            ++tally.failed;
            return prefixed(prefix, d.error);
        }
    }
    if (outcome.gis_status == GisFileStatus::arbitrary) {
        tally.skipped.push_back(display_name(file.name));
        return prefix + message_text("Skipped: 任意座標系 (--include-arbitrary writes it in local metres)\n");
    }
    if (outcome.gis_status == GisFileStatus::unknown_coordinates) {
        ++tally.failed;
        return prefix + message_text(format_text("** Error: Unknown coordinate system \"%s\"\n",
                                                 display_utf8(outcome.coord_system).c_str()));
    }
    output.names[static_cast<int>(outcome.gis_coordinates)].push_back(display_name(file.name));
    if (output.mixed() || output.failed) return {};
    if (!output.began && !output.begin(outcome.gis_coordinates)) return {};
    if (!write_feature_batch(*output.writer, outcome.features)) {
        output.failed = true;
        return {};
    }
    ++tally.files;
    tally.parcels += outcome.features.size();
    tally.without_shape += outcome.features.without_shape;
    for (const std::string& lot : outcome.features.shapeless_lots) {
        if (tally.shapeless.size() == FeatureBatch::kNamedShapeless) break;
        tally.shapeless.push_back(display_utf8(lot) + " (" + display_name(file.name) + ")");
    }
    tally.left_out += outcome.features.left_out;
    for (const std::string& lot : outcome.features.left_out_lots) {
        if (tally.left_out_lots.size() == FeatureBatch::kNamedShapeless) break;
        tally.left_out_lots.push_back(display_utf8(lot) + " (" + display_utf8(file.name) + ")");
    }
    return {};
}

// A file cut off is said so before anything else of it, as the drawings and CSV rows say it.
std::string take_gis_outcome(const MapFile& file, FileOutcome& outcome, GisOutput& output, GisTally& tally) {
    std::string text = prefixed(display_name(file.name) + ": ", outcome.read_warning);
    return text + file_gis_report(file, outcome, output, tally);
}

}  // namespace

int run_gis_export(const BatchOptions& options, const ConvertContext& context, const std::vector<MapFile>& files,
                   std::size_t failed, double start) {
    const std::string& path = options.gis_path;
    const OutputFormat* const format = path == "-" ? &geojson_format() : format_for_path(path, FormatKind::features);
    if (format == nullptr) {
        print_error(format_text("** Error: Unsupported output file type \"%s\" (%s)\n", display_name(path).c_str(),
                                format_extensions(FormatKind::features).c_str()));
        return 1;
    }
    OutputSession file;
    const WriteStatus opened = file.open(path, context.output_rules, true);
    if (opened != WriteStatus::ok) {
        print_error(output_error_text(opened, path));
        return 1;
    }
    GisOutput output;
    output.writer = format->make_feature_writer(file.release_stream());
    GisTally tally;
    tally.failed = failed;

    const auto work = [&](std::size_t i, MapFileReader& reader) {
        ConvertRequest request;
        request.mode = ConvertMode::gis;
        request.include_arbitrary = options.include_arbitrary;
        request.include_outside = options.include_outside;
        return convert_map_file(files[i], context, request, reader);
    };
    const auto take = [&](std::size_t i, FileOutcome& outcome) {
        return take_gis_outcome(files[i], outcome, output, tally);
    };
    const std::size_t reported = convert_with_progress(files, options.jobs, start, work, take);
    const double elapsed = platform::monotonic_seconds() - start;
    if (platform::interrupt_requested()) {
        output.writer.reset();
        file.abandon();
        // What went to standard output stays there; a file is not written at all.
        const std::string done =
            file.to_standard_output()
                ? format_text("wrote %zu parcels of %zu map files", tally.parcels, tally.files)
                : format_text("nothing written (%zu parcels of %zu map files read)", tally.parcels, tally.files);
        print_error(format_text("Interrupted: %s, failed %zu, %zu files not done, in %.1f s\n", done.c_str(),
                                tally.failed, files.size() - reported, elapsed));
        platform::end_as_interrupted();
    }
    // An output without a single feature looks written and holds nothing: none is made.
    if (!output.mixed() && tally.parcels == 0 && tally.failed == 0) {
        output.writer.reset();
        file.abandon();
        std::string text = format_text("** Error: no parcel could be written to \"%s\": nothing was written\n",
                                       display_name(path).c_str());
        if (!tally.skipped.empty()) {
            const bool one = tally.skipped.size() == 1;
            text +=
                message_text(format_text("%zu map %s in 任意座標系 (%s): --include-arbitrary writes %s in local "
                                         "metres\n",
                                         tally.skipped.size(), one ? "file is" : "files are",
                                         joined(tally.skipped).c_str(), one ? "it" : "them"));
        }
        print_error(text);
        return 1;
    }
    bool written = !output.mixed();
    if (written && !output.began) written = output.begin(GisCoordinates::geographic);
    written = written && !output.failed && output.writer->finish();
    const std::string writer_error = output.writer->error();
    output.writer.reset();  // closes what it holds before the file is moved
    // One output of every map file: a run that failed on any of them keeps the previous output.
    const bool complete = tally.failed == 0;
    std::int64_t size = 0;
    if (written && complete) {
        written = file.commit(size);
    } else {
        file.abandon();
    }
    if (output.mixed()) {
        print_error(format_text(
            message_text(
                "** Error: Maps in 任意座標系 (local metres) and maps in 公共座標 systems (longitude and latitude) "
                "cannot share one output: %s; %s\n")
                .c_str(),
            joined(output.names[static_cast<int>(GisCoordinates::local)]).c_str(),
            joined(output.names[static_cast<int>(GisCoordinates::geographic)]).c_str()));
        return 1;
    }
    if (!written) {
        const std::string shown = display_name(path);
        if (writer_error.empty()) {
            print_error(output_error_text(WriteStatus::failed, path));
            return 1;
        }
        print_error(
            format_text("** Error: Cannot write output file \"%s\": %s\n", shown.c_str(), writer_error.c_str()));
        return 1;
    }
    if (!complete && !file.to_standard_output()) {
        print_error(
            format_text("Nothing written: failed %zu, so \"%s\" stays as it was (%zu parcels of %zu map files "
                        "read) in %.1f s\n",
                        tally.failed, display_name(path).c_str(), tally.parcels, tally.files, elapsed));
        return 1;
    }
    const std::string left_out = tally.left_out == 0
                                     ? std::string()
                                     : message_text(format_text(", left out %zu (地区外, 別図)", tally.left_out));
    print_error(format_text(message_text("Wrote %zu parcels (%zu without shape) of %zu map files%s, skipped %zu "
                                         "(任意座標系), failed %zu in %.1f s\n")
                                .c_str(),
                            tally.parcels, tally.without_shape, tally.files, left_out.c_str(), tally.skipped.size(),
                            tally.failed, elapsed));
    if (!tally.shapeless.empty()) {
        std::string more;
        if (tally.without_shape > tally.shapeless.size()) {
            more = format_text(" and %zu more", tally.without_shape - tally.shapeless.size());
        }
        print_error(message_text("Without shape: ") + joined(tally.shapeless) + more + "\n");
    }
    if (!tally.left_out_lots.empty()) {
        std::string more;
        if (tally.left_out > tally.left_out_lots.size()) {
            more = format_text(" and %zu more", tally.left_out - tally.left_out_lots.size());
        }
        // Built in UTF-8, lots and names alike, and put in the code page of messages once.
        print_error(message_text(
            "Left out (地区外, 別図; --include-outside writes them): " + joined(tally.left_out_lots) + more + "\n"));
    }
    if (!tally.skipped.empty()) print_error(message_text("Skipped (任意座標系): ") + joined(tally.skipped) + "\n");
    return tally.failed == 0 ? 0 : 1;
}

}  // namespace chizuvec
