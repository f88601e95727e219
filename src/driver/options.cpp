#include "driver/options.hpp"

#include <cstring>
#include <string_view>

#include "common/ascii.hpp"
#include "driver/output_formats.hpp"
#include "platform/platform.hpp"

namespace chizuvec {
namespace {

// Every option of the program, one row each: a new option is a row here, and so is known both to
// the batch form and to the single-map form, which refuses options after its input.
struct OptionRow {
    std::string_view name;
    bool batch;  // one of the options that begin the batch form
};
constexpr OptionRow kOptions[] = {
    {"--out-dir", true},
    {"--csv", true},
    {"--format", true},
    {"--split", true},
    {"--per-sheet", true},
    {"--jobs", true},
    {"--highlight", true},
    {"--gis", true},
    {"--include-arbitrary", true},
    {"--include-outside", true},
    {"--check", true},
    {"--diff", true},
    {"--sheets", true},
    {"--paper", false},
    {"--scale", false},
    {"--frame", false},
    {"--around", false},
    {"--margin", false},
    {"--fit-core", false},
    {"--label-all", false},
    {"--help", false},
    {"-h", false},
    {"--version", false},
};

const OptionRow* find_option(std::string_view arg) {
    for (const OptionRow& row : kOptions) {
        if (row.name == arg) return &row;
    }
    return nullptr;
}

// An argument that reads as an option, known or not: "-" alone names standard output, and lot
// numbers and map numbers never begin with a dash before a letter.
bool looks_like_option(std::string_view arg) {
    if (find_option(arg) != nullptr || arg.starts_with("--")) return true;
    return arg.size() >= 2 && arg[0] == '-' && ((arg[1] >= 'a' && arg[1] <= 'z') || (arg[1] >= 'A' && arg[1] <= 'Z'));
}

}  // namespace

std::string batch_usage_grammar() {
    return kBatchUsageBeforeCsv + ("Chizuvec.exe --csv " + format_choices(FormatKind::rows, "OUT")) +
           "|- [--jobs N] INPUT...\n" + kBatchUsageAfterCsv;
}

bool names_folder(const std::string& path) {
    return path.ends_with('/') || path.ends_with(platform::path_separator()) || platform::is_directory(path);
}

namespace {

bool is_batch_option(std::string_view arg) {
    const OptionRow* row = find_option(arg);
    return row != nullptr && row->batch;
}

// A count from 1 to kMaxJobs in plain decimal digits, or 0.
unsigned parse_jobs(std::string_view text) {
    if (text.empty() || text.size() > 3) return 0;
    unsigned value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return 0;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value <= kMaxJobs ? value : 0;
}

// ---- Printing options -----------------------------------------------------------------------------

bool is_print_option(std::string_view arg) {
    return arg == "--paper" || arg == "--scale" || arg == "--frame" || arg == "--label-all";
}

bool parse_paper(std::string_view text, PrintOptions& print) {
    PaperOrientation orientation = PaperOrientation::by_shape;
    if (const std::size_t dash = text.find('-'); dash != std::string_view::npos) {
        const std::string_view suffix = text.substr(dash + 1);
        if (equals_ignoring_ascii_case(suffix, "landscape")) {
            orientation = PaperOrientation::landscape;
        } else if (equals_ignoring_ascii_case(suffix, "portrait")) {
            orientation = PaperOrientation::portrait;
        } else {
            return false;
        }
        text = text.substr(0, dash);
    }
    for (const PaperSize& size : kPaperSizes) {
        if (equals_ignoring_ascii_case(text, size.name)) {
            print.paper_width_mm = size.short_mm;
            print.paper_height_mm = size.long_mm;
            print.orientation = orientation;
            return true;
        }
    }
    return false;
}

// A scale 1:N with N from 1 to 10,000,000 in plain decimal digits, or 0.
std::uint32_t parse_scale(std::string_view text) {
    if (text.empty() || text.size() > 8) return 0;
    std::uint32_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return 0;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return value <= 10000000 ? value : 0;
}

// Reads the printing option at argv[i] (and its value); the message when it is wrong, else empty.
std::string read_print_option(int argc, char** argv, int& i, Command& command) {
    const std::string_view arg = argv[i];
    command.printing = true;
    if (arg == "--frame" || arg == "--label-all") {
        (arg == "--frame" ? command.print.frame : command.print.label_all) = true;
        return {};
    }
    if (i + 1 >= argc) return std::string(arg) + " needs a value";
    const std::string_view value = argv[++i];
    if (arg == "--paper") {
        if (!parse_paper(value, command.print)) return "--paper is A4, A3, A2, A1 or A0, with -landscape or -portrait";
    } else {
        command.print.scale = parse_scale(value);
        if (command.print.scale == 0) return "--scale needs a number from 1 to 10000000";
    }
    return {};
}

// ---- Part of a map --------------------------------------------------------------------------------

constexpr const char* kAroundForOneMap =
    "--around and --margin are for one map file: Chizuvec.exe --around LOT [--margin METRES] INPUT OUTPUT";

bool is_focus_option(std::string_view arg) { return arg == "--around" || arg == "--margin" || arg == "--fit-core"; }

// Metres above 0 in plain decimal digits with an optional fraction, at most kLargestMargin; else 0.
double parse_margin(std::string_view text) {
    std::size_t digits = 0;
    std::size_t dots = 0;
    double value = 0.0;
    double unit = 1.0;
    for (const char c : text) {
        if (c == '.') {
            if (++dots > 1) return 0.0;
            continue;
        }
        if (c < '0' || c > '9' || ++digits > 12) return 0.0;
        if (dots == 0) {
            value = value * 10 + (c - '0');
        } else {
            unit /= 10;
            value += (c - '0') * unit;
        }
    }
    return digits > 0 && value <= kLargestMargin ? value : 0.0;
}

// Reads the option at argv[i] (and its value) that draws part of a map; the message when it is
// wrong, else empty.
std::string read_focus_option(int argc, char** argv, int& i, Command& command) {
    const std::string_view arg = argv[i];
    FocusOptions& focus = command.focus;
    if (arg == "--fit-core") {
        focus.fit_core = true;
        return {};
    }
    if (i + 1 >= argc) return std::string(arg) + " needs a value";
    const std::string_view value = argv[++i];
    if (arg == "--around") {
        if (value.empty()) return "--around needs a lot number";
        focus.around.emplace_back(value);
        return {};
    }
    focus.margin = parse_margin(value);
    focus.margin_given = true;
    if (focus.margin <= 0.0) return "--margin needs a number of metres above 0, such as 30 or 12.5";
    return {};
}

// The combinations that cannot be drawn; the message, or empty.
std::string check_focus(const FocusOptions& focus) {
    if (focus.margin_given && focus.around.empty()) return "--margin is for --around";
    if (focus.fit_core && !focus.around.empty()) return "--fit-core is for drawings of a whole map file, not --around";
    return {};
}

Command bad(std::string message) {
    Command command;
    command.form = CommandForm::bad_options;
    command.error = std::move(message);
    return command;
}

}  // namespace

Command parse_command_line(int argc, char** argv) {
    Command command;
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        command.form = CommandForm::help;
        return command;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        command.form = CommandForm::version;
        return command;
    }
    // Printing options come first in the single-map form.
    int first = 1;
    for (; first < argc && (is_print_option(argv[first]) || is_focus_option(argv[first])); ++first) {
        std::string error = is_print_option(argv[first]) ? read_print_option(argc, argv, first, command)
                                                         : read_focus_option(argc, argv, first, command);
        if (!error.empty()) return bad(std::move(error));
    }
    if (std::string error = check_focus(command.focus); !error.empty()) return bad(std::move(error));
    // A DXF takes --scale alone: millimetres on paper at that scale.
    const auto scale_alone_allowed = [&](std::string_view output) {
        const OutputFormat* const format = format_for_path(output, FormatKind::one_map);
        return format != nullptr && format->name == "dxf";
    };
    if (first < argc && looks_like_option(argv[first]) && find_option(argv[first]) == nullptr) {
        return bad(std::string("\"") + argv[first] + "\" is not an option of this program");
    }
    if (first >= argc || !is_batch_option(argv[first])) {
        if (command.print.scale != 0 && command.print.paper_width_mm == 0 &&
            !(first + 1 < argc && scale_alone_allowed(argv[first + 1]))) {
            return bad("--scale is for --paper");
        }
        // The single-map form takes no options after its input: one there was meant to come first.
        for (int i = first + 1; i < argc; ++i) {
            if (!looks_like_option(argv[i])) continue;
            if (find_option(argv[i]) == nullptr) {
                return bad(std::string("\"") + argv[i] + "\" after \"" + argv[first] +
                           "\" is not an option of this program, and options come before the input");
            }
            const bool batch = is_batch_option(argv[i]);
            return bad(std::string("options come before the input: \"") + argv[i] + "\" after \"" + argv[first] +
                       "\" (" + (batch ? "for the batch form: Chizuvec.exe " : "Chizuvec.exe ") + argv[i] +
                       (batch ? " ... INPUT...)" : " ... INPUT OUTPUT ...)"));
        }
        SingleMapArguments& single = command.single;
        if (first < argc) single.input = argv[first];
        if (first + 1 < argc) {
            single.output = argv[first + 1];
            single.output_as_typed = single.output;
            // "-" is standard output, and a device or pipe is written as it is named; a folder is
            // refused later as it was typed. Any other name without extension gets the drawing's own.
            const std::string& out = single.output;
            const bool as_named =
                out == "-" || names_folder(out) || (platform::path_exists(out) && !platform::is_regular_file(out));
            if (!as_named && platform::path_extension(out).empty()) single.output += ".svg";
        }
        // A map number named like an output: the output and the sheet were given the other way round.
        if (first + 2 < argc && format_for_path(argv[first + 2], FormatKind::one_map) != nullptr) {
            Command order = bad(std::string("\"") + argv[first + 2] +
                                "\" stands where the map number goes: the output comes before it");
            order.usage = kOrderUsage;
            return order;
        }
        // "all" in any letter case and "0" select every parcel, as does an absent argument.
        if (first + 2 < argc && !equals_ignoring_ascii_case(argv[first + 2], "all") &&
            std::strcmp(argv[first + 2], "0") != 0) {
            single.map_no = argv[first + 2];
        }
        for (int i = first + 3; i < argc; ++i) single.lots.emplace_back(argv[i]);
        if (!command.focus.around.empty() && !single.map_no.empty()) {
            return bad("--around draws the lot with its neighbours from the whole file: give no map number (or all)");
        }
        return command;
    }

    command.form = CommandForm::batch;
    BatchOptions& options = command.batch;
    int i = first;
    for (; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") {
            ++i;
            break;
        }
        if (is_print_option(arg)) {
            std::string error = read_print_option(argc, argv, i, command);
            if (!error.empty()) return bad(std::move(error));
            continue;
        }
        if (arg == "--fit-core") {
            command.focus.fit_core = true;
            continue;
        }
        if (arg == "--around" || arg == "--margin") return bad(kAroundForOneMap);
        if (!is_batch_option(arg)) break;
        if (arg == "--per-sheet" || arg == "--sheets") {
            (arg == "--per-sheet" ? options.per_sheet : options.sheets) = true;
            continue;
        }
        if (arg == "--include-arbitrary" || arg == "--include-outside") {
            (arg == "--include-arbitrary" ? options.include_arbitrary : options.include_outside) = true;
            continue;
        }
        if (i + 1 >= argc) return bad(std::string(arg) + " needs a value");
        const std::string_view value = argv[++i];
        if (arg == "--out-dir") {
            options.out_dir = value;
        } else if (arg == "--csv") {
            options.csv_path = value;
        } else if (arg == "--gis") {
            options.gis_path = value;
        } else if (arg == "--check") {
            options.check_path = value;
        } else if (arg == "--diff") {
            options.diff_path = value;

        } else if (arg == "--format") {
            // A GIS format's name is for --split, which may come after it.
            const OutputFormat* const format = format_named(value);
            if (format != nullptr) {
                options.extension = format->extensions[0];
            } else if (format_named(value, FormatKind::features) != nullptr) {
                options.gis_format = value;
            } else {
                return bad("--format is " + format_names(FormatKind::one_map) + " (or with --split " +
                           format_names(FormatKind::features) + ")");
            }
        } else if (arg == "--split") {
            if (value != "prefecture" && value != "municipality") return bad("--split is prefecture or municipality");
            options.split = value == "prefecture" ? GisSplit::prefecture : GisSplit::municipality;
        } else if (arg == "--jobs") {
            options.jobs = parse_jobs(value);
            if (options.jobs == 0) return bad("--jobs needs a number from 1 to " + std::to_string(kMaxJobs));
        } else {
            options.highlights.emplace_back(value);
        }
    }
    for (; i < argc; ++i) options.inputs.emplace_back(argv[i]);
    if (!command.focus.around.empty() || command.focus.margin_given) return bad(kAroundForOneMap);
    options.fit_core = command.focus.fit_core;

    const int outputs = !options.out_dir.empty() + !options.csv_path.empty() + !options.gis_path.empty() +
                        !options.check_path.empty() + !options.diff_path.empty() + options.sheets;
    if (outputs != 1)
        return bad("give one of --out-dir DIR, --csv FILE, --gis FILE, --check FILE, --diff FILE or --sheets");
    if (options.out_dir.empty() && (options.per_sheet || !options.highlights.empty())) {
        return bad("--per-sheet and --highlight are for drawings (--out-dir)");
    }
    if (options.gis_path.empty() && (options.include_arbitrary || options.include_outside)) {
        return bad("--include-arbitrary and --include-outside are for GIS outputs (--gis)");
    }
    if (options.split != GisSplit::none &&
        (options.gis_path.empty() || options.gis_path == "-" || options.gis_format.empty())) {
        return bad("--split writes into a folder: --gis DIR --split prefecture|municipality --format " +
                   format_names(FormatKind::features));
    }
    if (options.split == GisSplit::none && !options.gis_format.empty()) {
        return bad("--format " + options.gis_format + " is for --split (--gis takes the format from the extension)");
    }
    if (options.inputs.empty()) return bad("no input file given");
    if (!options.diff_path.empty() && options.inputs.size() != 2)
        return bad("--diff FILE takes two inputs, OLD and NEW");
    if (command.print.scale != 0 && command.print.paper_width_mm == 0 &&
        !scale_alone_allowed("x" + options.extension)) {
        return bad("--scale is for --paper");
    }
    if (command.printing && (!options.csv_path.empty() || options.sheets))
        return bad("--paper, --scale, --frame and --label-all are for drawings");
    return command;
}

}  // namespace chizuvec
