#include "driver/options.hpp"

#include <cstring>
#include <string_view>

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
    {"--per-sheet", true},
    {"--jobs", true},
    {"--highlight", true},
    {"--gis", true},
    {"--include-arbitrary", true},
    {"--include-outside", true},
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
    if (argc < 2) return command;
    if (!is_batch_option(argv[1])) {
        // The single-map form takes no options: one after the input was meant for the batch form.
        for (int i = 2; i < argc; ++i) {
            if (find_option(argv[i]) == nullptr) continue;
            return bad(std::string("options come before the input: \"") + argv[i] + "\" after \"" + argv[1] +
                       "\" (for the batch form: Chizuvec.exe " + argv[i] + " ... INPUT...)");
        }
        return command;
    }

    command.form = CommandForm::batch;
    BatchOptions& options = command.batch;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") {
            ++i;
            break;
        }
        if (!is_batch_option(arg)) break;
        if (arg == "--per-sheet") {
            options.per_sheet = true;
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
        } else if (arg == "--format") {
            if (value != "svg" && value != "htm") return bad("--format is svg or htm");
            options.extension = value == "svg" ? ".svg" : ".htm";
        } else if (arg == "--jobs") {
            options.jobs = parse_jobs(value);
            if (options.jobs == 0) return bad("--jobs needs a number from 1 to " + std::to_string(kMaxJobs));
        } else {
            options.highlights.emplace_back(value);
        }
    }
    for (; i < argc; ++i) options.inputs.emplace_back(argv[i]);

    const int outputs = !options.out_dir.empty() + !options.csv_path.empty() + !options.gis_path.empty();
    if (outputs != 1) return bad("give one of --out-dir DIR, --csv FILE or --gis FILE");
    if (options.out_dir.empty() && (options.per_sheet || !options.highlights.empty())) {
        return bad("--per-sheet and --highlight are for drawings (--out-dir)");
    }
    if (options.gis_path.empty() && (options.include_arbitrary || options.include_outside)) {
        return bad("--include-arbitrary and --include-outside are for GIS outputs (--gis)");
    }
    if (options.inputs.empty()) return bad("no input file given");
    return command;
}

}  // namespace chizuvec
