#include "quality/findings_report.hpp"

#include <charconv>

#include "common/ascii.hpp"
#include "common/text_format.hpp"
#include "common/utf8.hpp"
#include "gis/gis_encoding.hpp"

namespace chizuvec {

void append_report_field(std::string& out, std::string_view text) {
    std::string well_formed;
    append_well_formed_utf8(well_formed, text);
    append_csv_field(out, well_formed);
}

namespace {

void append_fixed(std::string& out, double value, int decimals) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    out.append(text, result.ptr);
}

}  // namespace

bool report_format_for(std::string_view path, ReportFormat& format) {
    const auto ends = [&](std::string_view suffix) {
        return path.size() > suffix.size() &&
               equals_ignoring_ascii_case(path.substr(path.size() - suffix.size()), suffix);
    };
    if (ends(".csv")) {
        format = ReportFormat::csv;
        return true;
    }
    if (ends(".geojson") || ends(".json")) {
        format = ReportFormat::geojson;
        return true;
    }
    return false;
}

std::string_view report_head(ReportFormat format) {
    return format == ReportFormat::csv ? "file,筆ID,地番,kind,detail,x,y\r\n"
                                       : "{\"type\":\"FeatureCollection\",\"features\":[\n";
}

std::string_view report_tail(ReportFormat format) { return format == ReportFormat::csv ? "" : "\n]}\n"; }

void append_report_rows(std::string& out, ReportFormat format, const FileFindings& file, bool& first) {
    for (const Finding& f : file.findings) {
        if (format == ReportFormat::csv) {
            append_report_field(out, file.file);
            out += ',';
            append_report_field(out, f.parcel_id);
            out += ',';
            append_report_field(out, f.lot);
            out += ',';
            out += finding_kind_name(f.kind);
            out += ',';
            append_report_field(out, f.detail);
            out += ',';
            if (f.located) append_fixed(out, f.x, 3);
            out += ',';
            if (f.located) append_fixed(out, f.y, 3);
            out += "\r\n";
            continue;
        }
        if (!first) out += ",\n";
        first = false;
        out += "{\"type\":\"Feature\",\"properties\":{\"file\":";
        append_json_text(out, file.file);
        out += ",\"筆ID\":";
        append_json_text(out, f.parcel_id);
        out += ",\"地番\":";
        append_json_text(out, f.lot);
        out += ",\"kind\":\"";
        out += finding_kind_name(f.kind);
        out += "\",\"detail\":";
        append_json_text(out, f.detail);
        const auto number = [&](const char* key, bool present, double value, int decimals) {
            out += ",\"";
            out += key;
            out += "\":";
            if (present) {
                append_fixed(out, value, decimals);
            } else {
                out += "null";
            }
        };
        number("x", f.located, f.x, 3);
        number("y", f.located, f.y, 3);
        number("longitude", f.geographic, f.longitude, 9);
        number("latitude", f.geographic, f.latitude, 9);
        out += "},\"geometry\":";
        if (f.geographic) {
            out += "{\"type\":\"Point\",\"coordinates\":[";
            append_fixed(out, f.longitude, 9);
            out += ',';
            append_fixed(out, f.latitude, 9);
            out += "]}}";
        } else {
            out += "null}";
        }
    }
}

}  // namespace chizuvec
