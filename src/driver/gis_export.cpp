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
#include "gis/feature_writer.hpp"
#include "platform/platform.hpp"

namespace chizuvec {
namespace {

std::unique_ptr<FeatureWriter> make_writer(GisFormat format, const std::string& path) {
    switch (format) {
        case GisFormat::geopackage:
            return make_geopackage_writer(path);
        case GisFormat::flatgeobuf:
            return make_flatgeobuf_writer(path);
        case GisFormat::geojson:
            break;
    }
    return make_geojson_writer(path);
}

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
    std::vector<std::string> shapeless;  // the first lots without shape, "LOT (FILE)"
    std::size_t failed = 0;
    std::vector<std::string> skipped;  // 任意座標系 maps left out
};

// What a file reports, and its features handed to the output. Messages are built in UTF-8 and go
// out in the code page of messages (message_text).
std::string take_gis_outcome(const MapFile& file, FileOutcome& outcome, GisOutput& output, GisTally& tally) {
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
    return {};
}

}  // namespace

int run_gis_export(const BatchOptions& options, const ConvertContext& context, const std::vector<MapFile>& files,
                   std::size_t failed, double start) {
    const std::string& path = options.gis_path;
    const bool to_stdout = path == "-";
    GisFormat format = GisFormat::geojson;
    if (!to_stdout && !gis_format_for(path, format)) {
        print_error(format_text("** Error: Unsupported output file type \"%s\" (.geojson, .gpkg or .fgb)\n",
                                display_name(path).c_str()));
        return 1;
    }
    platform::OutputFile file;
    std::string write_path = path;
    if (!to_stdout) {
        const platform::OutputOpen opened = platform::open_output_file(path, context.output_rules, file);
        if (opened != platform::OutputOpen::ok) {
            const char* form = opened == platform::OutputOpen::is_input
                                   ? "** Error: Output file \"%s\" is the input file\n"
                                   : "** Error: Cannot write output file \"%s\"\n";
            print_error(format_text(form, display_name(path).c_str()));
            return 1;
        }
        write_path = platform::release_output_stream(file);
    }
    GisOutput output;
    output.writer = make_writer(format, write_path);
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
        if (!to_stdout) platform::abandon_output_file(file);
        print_error(
            format_text("Interrupted: wrote %zu parcels of %zu map files, failed %zu, %zu files not done, "
                        "in %.1f s\n",
                        tally.parcels, tally.files, tally.failed, files.size() - reported, elapsed));
        platform::end_as_interrupted();
    }
    bool written = !output.mixed();
    if (written && !output.began) written = output.begin(GisCoordinates::geographic);
    written = written && !output.failed && output.writer->finish();
    const std::string writer_error = output.writer->error();
    output.writer.reset();  // closes what it holds before the file is moved
    if (written && !to_stdout) {
        std::int64_t size = 0;
        written = platform::commit_output_file(file, size);
    } else if (!to_stdout) {
        platform::abandon_output_file(file);
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
        print_error(writer_error.empty() ? format_text("** Error: Cannot write output file \"%s\"\n", shown.c_str())
                                         : format_text("** Error: Cannot write output file \"%s\": %s\n", shown.c_str(),
                                                       writer_error.c_str()));
        return 1;
    }
    print_error(
        format_text(message_text("Wrote %zu parcels (%zu without shape) of %zu map files, skipped %zu (任意座標系), "
                                 "failed %zu in %.1f s\n")
                        .c_str(),
                    tally.parcels, tally.without_shape, tally.files, tally.skipped.size(), tally.failed, elapsed));
    if (!tally.shapeless.empty()) {
        std::string more;
        if (tally.without_shape > tally.shapeless.size()) {
            more = format_text(" and %zu more", tally.without_shape - tally.shapeless.size());
        }
        print_error(message_text("Without shape: ") + joined(tally.shapeless) + more + "\n");
    }
    if (!tally.skipped.empty()) print_error(message_text("Skipped (任意座標系): ") + joined(tally.skipped) + "\n");
    return tally.failed == 0 ? 0 : 1;
}

}  // namespace chizuvec
