// One run: the command line, the settings, then one map file listed or drawn, or many map files
// handed to the batch. The driver alone turns outcomes into messages, the pause and exit codes.
#include "driver/run.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "common/ascii.hpp"
#include "common/text_format.hpp"
#include "config/render_settings.hpp"
#include "driver/batch.hpp"
#include "driver/console.hpp"
#include "driver/convert.hpp"
#include "driver/display_name.hpp"
#include "driver/lot_lookup.hpp"
#include "driver/output_formats.hpp"
#include "driver/read_report.hpp"
#include "mapxml/map_inputs.hpp"
#include "platform/platform.hpp"
#include "render/svg_text.hpp"
#include "render/svg_writer.hpp"

namespace chizuvec {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitError = 1;

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

// Does `input` name map files other than the one the single-map command has always read (a folder
// or a municipality archive)? One without any keeps the message it has always given.
bool names_several_map_files(const std::string& input_name, InputListing& listing) {
    listing = list_map_files(input_name);
    if (listing.status != InputStatus::ok || listing.files.empty()) return false;
    return platform::is_directory(input_name) || !listing.files.front().inner_entry.empty();
}

// The input that is not there: the names looked for, and when the output argument is a map file
// while the input is named like an output, that the two were given the other way round.
std::string input_not_found_text(const SingleMapArguments& arguments) {
    const std::string& input = arguments.input;
    std::string text = "** Error: Input file not found\n";
    if (platform::path_extension(input).empty()) {
        text += format_text("looked for \"%s\", \"%s.xml\" and \"%s.zip\"\n", display_name(input).c_str(),
                            display_name(input).c_str(), display_name(input).c_str());
    } else {
        text += format_text("looked for \"%s\"\n", display_name(input).c_str());
    }
    const std::string& other = arguments.output_as_typed;
    const bool named_like_output = format_for_path(input, FormatKind::one_map) != nullptr ||
                                   format_for_path(input, FormatKind::features) != nullptr ||
                                   format_for_path(input, FormatKind::rows) != nullptr;
    if (named_like_output && !other.empty() && platform::path_exists(resolve_input_name(other))) {
        text += format_text("\"%s\" is the map file: the input comes first (Chizuvec.exe %s %s ...)\n",
                            display_name(other).c_str(), display_name(other).c_str(), display_name(input).c_str());
    }
    return text;
}

// The single-map command: one file listed or drawn, its texts printed as they always were.
int run_single_map(const SingleMapArguments& arguments, const FocusOptions& focus, const RenderSettings& settings,
                   const ConvertContext& context, double start) {
    const bool drawing = !arguments.output.empty();
    // A folder is no output file: never a hidden "d/.svg" nor a "d.svg" beside it.
    if (drawing && names_folder(arguments.output)) {
        return fail(format_text("** Error: \"%s\" is a folder; name a file\n", display_name(arguments.output).c_str()));
    }
    // Arguments arrive in the locale's codeset, which is the ANSI code page here.
    const std::string input_name = resolve_input_name(arguments.input);
    if (!platform::path_exists(input_name)) return fail(input_not_found_text(arguments));
    if (!drawing) {
        InputListing listing;
        if (names_several_map_files(input_name, listing)) return run_listing_of_files(listing.files, context);
    }

    ConvertRequest request;
    request.mode = drawing ? ConvertMode::drawing : ConvertMode::listing;
    request.map_no = arguments.map_no;
    request.typed_lookups = true;
    if (drawing) {
        request.output_path = arguments.output;
        request.survey_points = reads_survey_points(arguments.output);
        for (const std::string& lot : arguments.lots) {
            request.highlights.push_back(
                platform::convert_code_page(lot, context.ansi_code_page, platform::kCodePageUtf8));
            request.lot_arguments.push_back(lot);
        }
        for (const std::string& lot : focus.around) {
            request.around.push_back(platform::convert_code_page(lot, context.ansi_code_page, platform::kCodePageUtf8));
        }
        request.around_arguments = focus.around;
        request.margin = focus.margin;
        request.fit_core = focus.fit_core;
    }
    // Municipality archives and folders: the map file holding the first named lot (lot_lookup.hpp).
    MapFile file{input_name, {}, input_name};
    bool several = false;
    if (drawing) {
        // The lots drawn around choose the map file before those only highlighted.
        std::vector<std::string> keys = request.around;
        keys.insert(keys.end(), request.highlights.begin(), request.highlights.end());
        std::vector<std::string> typed = focus.around;
        typed.insert(typed.end(), arguments.lots.begin(), arguments.lots.end());
        LotChoice choice = choose_map_file(input_name, keys, typed);
        if (!choice.error.empty()) return fail(choice.error);
        several = choice.several;
        if (several) file = std::move(choice.file);
        request.lots_told = std::move(choice.told);
    }
    // The drawing may replace none of the files read for it: the map file, the archive it lies in,
    // the folder's map files searched for the lot.
    ConvertContext run_context = context;
    if (drawing) {
        std::vector<MapFile> read_files{file};
        if (platform::is_directory(input_name)) {
            InputListing folder = list_map_files(input_name);
            read_files.insert(read_files.end(), folder.files.begin(), folder.files.end());
        }
        run_context.output_rules.inputs = input_file_ids(read_files, {input_name});
    }
    MapFileReader reader;
    const FileOutcome outcome = convert_map_file(file, run_context, request, reader);
    if (outcome.read_failed) return fail(several ? named_lines(file.name, outcome.read_error) : outcome.read_error);
    const DrawOutcome& d = outcome.drawings.front();
    print_error(d.messages);
    if (d.out_of_memory && d.statistics.empty()) return fail_out_of_memory();
    print_error(d.statistics);
    if (d.out_of_memory) return fail_out_of_memory();
    print_error(d.notes);
    if (!drawing) {
        // Outlines too large to build leave nothing to list.
        if (d.status == DrawStatus::failed && !d.error.empty()) return fail(d.error);
        if (!write_standard_output(outcome.listing) || !finish_standard_output()) return fail(kCannotWriteStdout);
        return kExitOk;
    }
    print_error(d.warning);
    if (d.status == DrawStatus::failed) return fail(d.error);
    if (d.status == DrawStatus::no_polygons) return kExitOk;

    const std::string message =
        format_text("Output file \"%s\" created successfully. (%lld bytes) (%fs)\n", d.output_path.c_str(),
                    static_cast<long long>(d.size), d.finished_at - start);
    if (d.output_path == "-" || !platform::is_regular_file(d.output_path)) {
        // Standard output (or a device or pipe, which may be it) holds the drawing itself.
        print_error(message);
        return kExitOk;
    }
    console_print(message, context.console_code_page, context.ansi_code_page);
    std::fflush(stdout);
    if (settings.shell_open_svg == 1) platform::open_with_desktop(d.output_path);
    return kExitOk;
}

int run(int argc, char** argv) {
    ConvertContext context;
    context.console_code_page = platform::console_code_page();
    context.ansi_code_page = platform::ansi_code_page();

    const Command command = parse_command_line(argc, argv);
    if (command.form == CommandForm::help) {
        std::printf("Usage:\n%s\n%s\n%s\n", kUsageGrammar, kListingUsageGrammar, batch_usage_grammar().c_str());
        return kExitOk;
    }
    if (command.form == CommandForm::version) {
        std::printf("Chizuvec %s\n", CHIZUVEC_VERSION);
        return kExitOk;
    }
    if (command.form == CommandForm::bad_options) {
        if (!command.usage.empty()) {
            return fail(format_text("** Error: %s\nUsage: %s\n", command.error.c_str(), command.usage.c_str()));
        }
        return fail(format_text("** Error: %s\nUsage:\n%s\n%s\n", command.error.c_str(), kUsageGrammar,
                                batch_usage_grammar().c_str()));
    }
    const bool batch = command.form == CommandForm::batch;
    if (!batch && command.single.input.empty()) {
        return fail(format_text("Not enough input parameters\nUsage:\n%s\n\n", kUsageGrammar));
    }
    const bool drawing = batch ? !command.batch.out_dir.empty() : !command.single.output.empty();
    if (command.printing && !drawing) {
        return fail(
            format_text("** Error: --paper, --scale, --frame and --label-all are for drawings\nUsage:\n%s\n%s\n",
                        kUsageGrammar, batch_usage_grammar().c_str()));
    }
    if ((command.focus.fit_core || !command.focus.around.empty()) && !drawing) {
        return fail(format_text("** Error: --around and --fit-core are for drawings\nUsage:\n%s\n%s\n", kUsageGrammar,
                                batch_usage_grammar().c_str()));
    }
    context.print = command.print;

    const std::string config_path = platform::executable_directory() + platform::path_separator() + "Chizuvec.ini";
    RenderSettings settings{};
    if (read_render_settings(config_path, settings) != SettingsStatus::read) {
        return fail(format_text("Configuration file \"%s\" not found\n", config_path.c_str()));
    }
    context.settings = &settings;
    if (drawing) {
        // Settings that cannot give a drawing are refused before the input is read.
        const std::string_view bad_key = find_invalid_layout_setting(settings);
        if (!bad_key.empty()) {
            return fail(format_text("** Error: Invalid setting %.*s in \"%s\"\n", static_cast<int>(bad_key.size()),
                                    bad_key.data(), config_path.c_str()));
        }
    }
    const double start = platform::monotonic_seconds();
    // Measured once per run, before any map is read, so that whatever a map costs cannot change it.
    if (drawing) context.source_width = measure_source_text(settings);

    if (batch) return run_batch(command.batch, context);
    return run_single_map(command.single, command.focus, settings, context, start);
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
