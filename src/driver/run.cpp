// One run: arguments, settings, reading, assembly, measures, then the listing or the drawing. The
// driver alone turns result codes into messages, the pause and exit codes.
#include "driver/run.hpp"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "common/ascii.hpp"
#include "common/fixed_text.hpp"
#include "common/text_format.hpp"
#include "config/render_settings.hpp"
#include "driver/assembly_report.hpp"
#include "driver/console.hpp"
#include "driver/highlights.hpp"
#include "driver/parcel_listing.hpp"
#include "geometry/parcel_measures.hpp"
#include "geometry/polygon_assembly.hpp"
#include "mapxml/map_inputs.hpp"
#include "mapxml/map_xml_reader.hpp"
#include "model/map_dataset.hpp"
#include "platform/platform.hpp"
#include "render/svg_text.hpp"
#include "render/svg_writer.hpp"

namespace chizuvec {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitError = 1;

void print_error(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stderr); }

// An error exit: the message, the pause, exit code 1.
int fail(const std::string& message) {
    print_error(message);
    std::fflush(stderr);
    platform::pause_for_key();
    return kExitError;
}

// Builds no string, since there is no memory for one.
int fail_out_of_memory() {
    std::fputs("** Error: out of memory\n", stderr);
    std::fflush(stderr);
    platform::pause_for_key();
    return kExitError;
}

std::string resolve_output_name(std::string name) {
    if (platform::path_extension(name).empty()) name += ".svg";
    return name;
}

std::string statistics_line(const std::string& input_name, const MapDataset& d) {
    return format_text("%s: P=%u(max=%u) C=%u(%u) C-F=%u F=%u(%u) H=%u(%u)\n", input_name.c_str(), d.point_count(),
                       d.max_point_no, d.curve_count(), d.max_curve_no, d.ring_curve_count(), d.surface_count(),
                       d.max_surface_no, d.parcel_count(), d.max_parcel_no);
}

int run(int argc, char** argv) {
    const std::uint32_t console_code_page = platform::console_code_page();
    const std::uint32_t ansi_code_page = platform::ansi_code_page();
    const int arg_count = argc - 1;

    if (arg_count == 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf("Usage:\n%s\n", kUsageGrammar);
        return kExitOk;
    }
    if (arg_count == 1 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("Chizuvec %s\n", CHIZUVEC_VERSION);
        return kExitOk;
    }
    if (arg_count < 1) {
        return fail(format_text("Not enough input parameters\nUsage:\n%s\n\n", kUsageGrammar));
    }
    const bool drawing = arg_count >= 2;

    const std::string config_path = platform::executable_directory() + platform::path_separator() + "Chizuvec.ini";
    RenderSettings settings{};
    if (read_render_settings(config_path, settings) != SettingsStatus::read) {
        return fail(format_text("Configuration file \"%s\" not found\n", config_path.c_str()));
    }
    if (drawing) {
        // Settings that cannot give a drawing are refused before the input is read.
        const std::string_view bad_key = find_invalid_layout_setting(settings);
        if (!bad_key.empty()) {
            return fail(format_text("** Error: Invalid setting %.*s in \"%s\"\n", static_cast<int>(bad_key.size()),
                                    bad_key.data(), config_path.c_str()));
        }
    }
    const double start = platform::monotonic_seconds();
    // Measured before the map is read, so that whatever the map costs cannot change the measurement.
    std::int32_t source_width = 0;
    if (drawing) source_width = measure_source_text(settings);

    // Arguments arrive in the locale's codeset, which is the ANSI code page here.
    const std::string input_name = resolve_input_name(argv[1]);
    MapDataset dataset;
    MapHeader header;
    const ReadResult read = read_map_xml(input_name, dataset, header);
    if (read.status == ReadStatus::not_found) return fail("** Error: Input file not found\n");
    if (read.status == ReadStatus::no_memory) return fail("** Error: code=2\n");
    if (read.status == ReadStatus::zip_failed) {
        if (read.zip.status == ZipStatus::library_missing) {
            print_error(format_text("** Error: cannot load %s: %s\n", read.zip.library_file.c_str(),
                                    read.zip.library_error.c_str()));
        }
        print_error(format_text("** Error: ZIP error code %d\n", read.zip.code));
        return fail("** Error: code=3\n");
    }

    // "all" in any letter case and "0" select every parcel, as does an absent argument.
    std::string map_no;
    if (arg_count >= 3 && !equals_ignoring_ascii_case(argv[3], "all") && std::strcmp(argv[3], "0") != 0) {
        map_no = argv[3];
    }

    BoundingBox bounds;
    const AssemblyResult assembly = assemble_outlines(dataset, map_no, bounds);
    print_error(assembly_messages_text(assembly));
    if (assembly.status == AssemblyStatus::no_memory) return fail_out_of_memory();
    measure_parcels(dataset);
    print_error(statistics_line(input_name, dataset));

    if (!drawing) {
        print_parcel_listing(dataset, console_code_page, ansi_code_page, input_name, field_view(header.map_name),
                             field_view(header.coord_system));
        return kExitOk;
    }

    std::vector<std::string> keys;
    for (int i = 4; i < argc; ++i) {
        keys.push_back(platform::convert_code_page(argv[i], ansi_code_page, platform::kCodePageUtf8));
    }
    select_highlights(dataset, keys);

    if (assembly.entry_count == 0) {
        print_error("**Warning: No polygons to draw\n");
        return kExitOk;
    }
    if (assembly.drawn_points > kMaxDrawnPoints) return fail(drawing_too_large_text(assembly.drawn_points));

    const std::string output_name = resolve_output_name(argv[2]);
    const WriteResult written = write_svg(output_name, input_name, map_no, header, bounds, settings, dataset, source_width);
    const double end = platform::monotonic_seconds();
    if (written.status == WriteStatus::unsupported_type) {
        return fail(format_text("** Error: Unsupported output file type \"%s\"\n", output_name.c_str()));
    }
    if (written.status == WriteStatus::output_is_input) {
        return fail(format_text("** Error: Output file \"%s\" is the input file\n", output_name.c_str()));
    }
    if (written.status != WriteStatus::ok) {
        return fail(format_text("** Error: Cannot write output file \"%s\"\n", output_name.c_str()));
    }
    const std::string message = format_text("Output file \"%s\" created successfully. (%lld bytes) (%fs)\n",
                                            output_name.c_str(), static_cast<long long>(written.size), end - start);
    console_print(message, console_code_page, ansi_code_page);
    std::fflush(stdout);
    if (settings.shell_open_svg == 1) platform::open_with_desktop(output_name);
    return kExitOk;
}

}  // namespace

int run_program(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        // The reader reports its own allocation failures; this catches the later stages.
        return fail_out_of_memory();
    }
}

}  // namespace chizuvec
