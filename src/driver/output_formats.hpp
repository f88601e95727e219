// Every output format of the program, one row each: its name, its extensions, what it writes from,
// whether this build has it and its writer. The command line, the single-map form, the batch and
// the messages all look formats up here, so a new format is its writer's file and its row.
#pragma once

#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "cad/cad_source.hpp"
#include "driver/row_writer.hpp"
#include "gis/feature_writer.hpp"
#include "model/map_dataset.hpp"
#include "render/drawing.hpp"
#include "render/svg_writer.hpp"

namespace chizuvec {

// What a format's writer reads.
enum class OutputSource {
    page,      // the page model of one map file's selection (render/drawing.hpp)
    parcels,   // the parcels of one map file, in map coordinates
    rows,      // the parcels of every map file of a run, as rows of one file
    features,  // the GIS features of every map file of a run
};

using PageWriter = PageStatus (*)(std::FILE* file, const Drawing& drawing);
using ParcelWriter = PageStatus (*)(std::FILE* file, const CadSource& source);
using FeatureWriterMaker = std::unique_ptr<FeatureWriter> (*)(const std::string& path);
using RowWriterMaker = std::unique_ptr<RowWriter> (*)(OutputSession& output);

struct OutputFormat {
    std::string_view name;              // as --format takes it, and as messages name it
    std::string_view extensions[2];     // any letter case; the first is the one output names get
    bool extension_prefix = false;      // an extension that begins with the first matches (.htm, .html)
    std::string_view shown_extensions;  // as messages list them
    OutputSource source = OutputSource::page;
    bool available = true;       // this build has its writer
    bool survey_points = false;  // its writer reads the map's 筆界点 and 基準点 (ReadOptions::survey_points)
    PageWriter write_page = nullptr;
    ParcelWriter write_parcels = nullptr;
    RowWriterMaker make_row_writer = nullptr;
    FeatureWriterMaker make_feature_writer = nullptr;
};

// One output per map file (or sheet): the single-map form and --out-dir.
inline bool writes_one_map(const OutputFormat& format) {
    return format.source == OutputSource::page || format.source == OutputSource::parcels;
}

// Whether the output at `path` is of a format that reads the map's named points.
bool reads_survey_points(std::string_view path);

// Which formats a look-up considers: those writing one map file (writes_one_map), the rows ones
// (--csv), or the GIS ones.
enum class FormatKind { one_map, rows, features };

// The format of `kind` whose extension ends `path`; null for none.
const OutputFormat* format_for_path(std::string_view path, FormatKind kind);
// The format of one map file named `name` (--format's value); null for none.
const OutputFormat* format_named(std::string_view name);
// The format of `kind` named `name`; null for none.
const OutputFormat* format_named(std::string_view name, FormatKind kind);
// The formats of `kind` as text for messages: "svg, htm or pdf" (names) or ".svg, .htm (.html) or
// .pdf" (extensions).
std::string format_names(FormatKind kind);
std::string format_extensions(FormatKind kind);
// The formats of `kind` as a usage line lists them: "OUT.csv|OUT.xlsx" for the stem "OUT".
std::string format_choices(FormatKind kind, std::string_view stem);
// The extensions of the formats that write from one of `sources`, in the table's order.
std::string format_extensions(std::initializer_list<OutputSource> sources);
// The extensions of the formats that `wanted` takes, in the table's order.
std::string format_extensions(bool (*wanted)(const OutputFormat& format));

// The formats the batch's --csv writes: CSV, the default whatever the extension, and the workbook.
const OutputFormat& csv_format();
const OutputFormat& rows_format_for(std::string_view path);
// GeoJSON: --gis - writes it on standard output.
const OutputFormat& geojson_format();

}  // namespace chizuvec
