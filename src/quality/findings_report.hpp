// The quality report as CSV (one row per finding; UTF-8, RFC 4180 quoting, CR LF line ends) or as
// GeoJSON (one point feature per finding, in longitude and latitude where the map's zone gives them).
#pragma once

#include <string>
#include <string_view>

#include "quality/findings.hpp"

namespace chizuvec {

// Appends `text` as one CSV field, ill-formed UTF-8 as U+FFFD (the report is UTF-8 whatever the map holds).
void append_report_field(std::string& out, std::string_view text);

enum class ReportFormat { csv, geojson };

// The format an output's extension names: .csv, .geojson or .json (any letter case); false for
// any other.
bool report_format_for(std::string_view path, ReportFormat& format);

// What the report begins and ends with.
std::string_view report_head(ReportFormat format);
std::string_view report_tail(ReportFormat format);

// Appends the findings of one file; `first` says whether any finding came before (GeoJSON needs
// the commas between features) and is cleared when one is written.
void append_report_rows(std::string& out, ReportFormat format, const FileFindings& file, bool& first);

}  // namespace chizuvec
