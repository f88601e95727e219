// The command line: the single-map form as it has always been, and the form for many map files.
#pragma once

#include <string>
#include <vector>

#include "render/page_builder.hpp"

namespace chizuvec {

inline constexpr const char* kUsageGrammar =
    "Chizuvec.exe Input_filename.xml Output_filename.svg ['all' or Map_number [Highlighted_lot_number-1 "
    "[Highlighted_lot_number-2 [....]]]]";
inline constexpr const char* kOrderUsage = "Chizuvec.exe INPUT OUTPUT [MAP_NUMBER [LOT ...]]";
inline constexpr const char* kListingUsageGrammar = "Chizuvec.exe Input_filename.xml   (lists the parcels)";
// The forms for many map files, before and after the --csv line, which lists the table's rows formats.
inline constexpr const char* kBatchUsageBeforeCsv =
    "Chizuvec.exe [--paper SIZE [--scale N]] [--frame] [--fit-core] [--label-all] Input_filename.xml "
    "Output_filename.svg|.pdf "
    "[...]\n"
    "Chizuvec.exe --around LOT [--margin METRES] [--paper SIZE [--scale N]] Input_filename.xml "
    "Output_filename.svg|.htm|.pdf\n"
    "Chizuvec.exe Input_filename.xml Output_filename.dxf|.sim ['all' or Map_number [Highlighted_lot_number...]]\n"
    "Chizuvec.exe --out-dir DIR [--format svg|htm|pdf|dxf|sim] [--per-sheet] [--jobs N] [--highlight LOT]... "
    "[--paper SIZE [--scale N]] [--frame] [--fit-core] [--label-all] INPUT...\n";
inline constexpr const char* kBatchUsageAfterCsv =
    "Chizuvec.exe --gis OUT.geojson|OUT.gpkg|OUT.fgb|OUT.parquet|- [--jobs N] [--include-arbitrary] "
    "[--include-outside] INPUT...\n"
    "Chizuvec.exe --gis DIR --split prefecture|municipality --format geojson|gpkg|fgb|parquet [--jobs N] "
    "[--include-arbitrary] [--include-outside] INPUT...\n"
    "Chizuvec.exe --check REPORT.csv|REPORT.geojson|- [--jobs N] INPUT...\n"
    "Chizuvec.exe --sheets INPUT...\n"
    "Chizuvec.exe --diff OUT.csv|OUT.geojson|OUT.gpkg|OUT.fgb|OUT.svg|OUT.htm|OUT.pdf [--jobs N] OLD NEW\n"
    "SIZE: A4, A3, A2, A1 or A0, optionally with -landscape or -portrait";
// Every form for many map files, one a line.
std::string batch_usage_grammar();

// More threads than outputs the platform can keep track of at once would gain nothing.
inline constexpr unsigned kMaxJobs = 256;

// --split: one GIS output per prefecture (the first two digits of 市区町村コード) or municipality.
enum class GisSplit { none, prefecture, municipality };

struct BatchOptions {
    std::string out_dir;                  // --out-dir: one drawing per map file (or sheet) in it
    std::string csv_path;                 // --csv: one row per parcel; "-" for standard output
    std::string gis_path;                 // --gis: one feature per parcel; "-" for GeoJSON on standard output
    std::string diff_path;                // --diff: one row per changed parcel from inputs[0] to inputs[1]
    std::string check_path;               // --check: one row per finding; "-" for CSV on standard output
    bool include_arbitrary = false;       // --include-arbitrary
    bool include_outside = false;         // --include-outside
    std::string extension = ".svg";       // --format svg|htm
    GisSplit split = GisSplit::none;      // --split, with --gis DIR
    std::string gis_format;               // --format of a --split output: geojson, gpkg, fgb or parquet
    bool per_sheet = false;               // --per-sheet
    bool sheets = false;                  // --sheets: list every map sheet of each input
    unsigned jobs = 0;                    // --jobs; 0 for the number of cores
    std::vector<std::string> highlights;  // --highlight, in the ANSI code page as given
    bool fit_core = false;                // --fit-core
    std::vector<std::string> inputs;
};

// Part of a map drawn: --around LOT... [--margin METRES] in the single-map form, --fit-core in both.
inline constexpr double kDefaultMargin = 30.0;  // metres
inline constexpr double kLargestMargin = 100000.0;
struct FocusOptions {
    std::vector<std::string> around;  // --around, in the ANSI code page as typed
    double margin = kDefaultMargin;   // --margin: the crop beyond the lots' box, in metres
    bool margin_given = false;
    bool fit_core = false;  // --fit-core: a whole-file drawing leaves out the parcels far from the rest
};

// The single-map form: a listing (no output) or one output, of the map number, with the lots.
struct SingleMapArguments {
    std::string input;              // as typed; empty when none was given
    std::string output;             // empty for the listing; ".svg" added when it has no extension
    std::string output_as_typed;    // the output argument itself
    std::string map_no;             // empty for every parcel ("all" in any letter case, "0", or none)
    std::vector<std::string> lots;  // the lots to highlight, in the ANSI code page as typed
};

enum class CommandForm { single_map, help, version, batch, bad_options };

struct Command {
    CommandForm form = CommandForm::single_map;
    BatchOptions batch;
    PrintOptions print;     // --paper, --scale, --frame
    bool printing = false;  // any of them was given
    FocusOptions focus;     // --around, --margin, --fit-core
    SingleMapArguments single;
    std::string error;  // bad_options: the message, without "** Error: " or the line end
    std::string usage;  // bad_options: the one usage line that answers it, when not every form
};

// Does an output argument name a folder (an existing one, or a name ending in a separator)?
bool names_folder(const std::string& path);

// Reads the arguments as they came. The batch form is the one whose first argument is one of its
// options; anything else keeps the single-map meaning it has always had.
Command parse_command_line(int argc, char** argv);

}  // namespace chizuvec
