#include "driver/output_formats.hpp"

#include <algorithm>
#include <iterator>

#include "common/ascii.hpp"
#include "platform/platform.hpp"
#include "render/pdf_writer.hpp"

namespace chizuvec {
namespace {

OutputFormat format_row(std::string_view name, std::string_view extension, std::string_view shown,
                        OutputSource source) {
    OutputFormat format;
    format.name = name;
    format.extensions[0] = extension;
    format.shown_extensions = shown;
    format.source = source;
    return format;
}

OutputFormat page_row(std::string_view name, std::string_view extension, std::string_view shown, PageWriter writer) {
    OutputFormat format = format_row(name, extension, shown, OutputSource::page);
    format.write_page = writer;
    return format;
}

OutputFormat parcel_row(std::string_view name, std::string_view extension, ParcelWriter writer) {
    OutputFormat format = format_row(name, extension, extension, OutputSource::parcels);
    format.write_parcels = writer;
    format.survey_points = true;
    return format;
}

OutputFormat feature_row(std::string_view name, std::string_view extension, FeatureWriterMaker maker) {
    OutputFormat format = format_row(name, extension, extension, OutputSource::features);
    format.make_feature_writer = maker;
    return format;
}

template <typename Change>
OutputFormat with(OutputFormat format, Change change) {
    change(format);
    return format;
}

// The table. Formats of one kind are listed in messages in this order.
const OutputFormat kFormats[] = {
    page_row("svg", ".svg", ".svg", write_svg_page),
    with(page_row("htm", ".htm", ".htm (.html)", write_htm_page),
         [](OutputFormat& f) {
             f.extensions[1] = ".html";
             f.extension_prefix = true;
         }),
    with(page_row("pdf", ".pdf", ".pdf", write_pdf_page), [](OutputFormat& f) { f.available = pdf_output_built(); }),
    parcel_row("dxf", ".dxf", write_dxf),
    parcel_row("sim", ".sim", write_sima),
    with(format_row("csv", ".csv", ".csv", OutputSource::rows),
         [](OutputFormat& f) { f.make_row_writer = make_csv_writer; }),
    with(format_row("xlsx", ".xlsx", ".xlsx", OutputSource::rows),
         [](OutputFormat& f) { f.make_row_writer = make_workbook_writer; }),
    with(feature_row("geojson", ".geojson", make_geojson_writer), [](OutputFormat& f) { f.extensions[1] = ".json"; }),
    feature_row("gpkg", ".gpkg", make_geopackage_writer),
    feature_row("fgb", ".fgb", make_flatgeobuf_writer),
    feature_row("parquet", ".parquet", make_geoparquet_writer),
};

bool of_kind(const OutputFormat& format, FormatKind kind) {
    switch (kind) {
        case FormatKind::one_map:
            return writes_one_map(format);
        case FormatKind::rows:
            return format.source == OutputSource::rows;
        case FormatKind::features:
            break;
    }
    return format.source == OutputSource::features;
}

bool matches(const OutputFormat& format, std::string_view extension) {
    for (const std::string_view own : format.extensions) {
        if (!own.empty() && equals_ignoring_ascii_case(extension, own)) return true;
    }
    const std::string_view first = format.extensions[0];
    return format.extension_prefix && extension.size() >= first.size() &&
           equals_ignoring_ascii_case(extension.substr(0, first.size()), first);
}

// "a, b or c" of the formats that `wanted` takes.
template <typename Wanted>
std::string listed(Wanted wanted, std::string_view OutputFormat::*text) {
    std::string out;
    std::size_t count = 0;
    for (const OutputFormat& format : kFormats) count += wanted(format) ? 1 : 0;
    std::size_t seen = 0;
    for (const OutputFormat& format : kFormats) {
        if (!wanted(format)) continue;
        if (seen > 0) out += seen + 1 == count ? " or " : ", ";
        out += format.*text;
        ++seen;
    }
    return out;
}

}  // namespace

const OutputFormat* format_for_path(std::string_view path, FormatKind kind) {
    const std::string_view extension = platform::path_extension(path);
    if (extension.empty()) return nullptr;
    for (const OutputFormat& format : kFormats) {
        if (of_kind(format, kind) && matches(format, extension)) return &format;
    }
    return nullptr;
}

const OutputFormat* format_named(std::string_view name) {
    for (const OutputFormat& format : kFormats) {
        if (writes_one_map(format) && format.name == name) return &format;
    }
    return nullptr;
}

const OutputFormat* format_named(std::string_view name, FormatKind kind) {
    for (const OutputFormat& format : kFormats) {
        if (of_kind(format, kind) && format.name == name) return &format;
    }
    return nullptr;
}

bool reads_survey_points(std::string_view path) {
    const OutputFormat* const format = format_for_path(path, FormatKind::one_map);
    return format != nullptr && format->survey_points;
}

std::string format_names(FormatKind kind) {
    return listed([&](const OutputFormat& f) { return of_kind(f, kind); }, &OutputFormat::name);
}
std::string format_extensions(FormatKind kind) {
    return listed([&](const OutputFormat& f) { return of_kind(f, kind); }, &OutputFormat::shown_extensions);
}
std::string format_choices(FormatKind kind, std::string_view stem) {
    std::string out;
    for (const OutputFormat& format : kFormats) {
        if (!of_kind(format, kind)) continue;
        if (!out.empty()) out += '|';
        out += stem;
        out += format.extensions[0];
    }
    return out;
}
std::string format_extensions(std::initializer_list<OutputSource> sources) {
    const auto wanted = [&](const OutputFormat& f) {
        return std::find(sources.begin(), sources.end(), f.source) != sources.end();
    };
    return listed(wanted, &OutputFormat::shown_extensions);
}

std::string format_extensions(bool (*wanted)(const OutputFormat& format)) {
    return listed(wanted, &OutputFormat::shown_extensions);
}

const OutputFormat& csv_format() {
    for (const OutputFormat& format : kFormats) {
        if (format.source == OutputSource::rows) return format;
    }
    return kFormats[0];
}

const OutputFormat& rows_format_for(std::string_view path) {
    // Standard output and any other name stay CSV, as --csv has always written.
    const OutputFormat* const format = path == "-" ? nullptr : format_for_path(path, FormatKind::rows);
    return format != nullptr ? *format : csv_format();
}

const OutputFormat& geojson_format() { return *format_for_path(".geojson", FormatKind::features); }

}  // namespace chizuvec
