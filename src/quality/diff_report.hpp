// The rows of a release diff: CSV (UTF-8, RFC 4180 quoting, CR LF line ends), or GIS features with
// the new outline (the old one for a removed parcel) through the GIS writers.
#pragma once

#include <string>
#include <string_view>

#include "gis/feature_writer.hpp"
#include "quality/release_diff.hpp"

namespace chizuvec {

struct DiffRow {
    ChangeKind kind = ChangeKind::added;
    const ReleaseParcel* old = nullptr;  // null for an added parcel
    const ReleaseParcel* now = nullptr;  // null for a removed one
    double max_shift_m = 0.0;
    std::string detail;
};

std::string_view diff_csv_header();
void append_diff_csv(std::string& out, const DiffRow& row);

// The attribute columns of the GIS output, in the CSV's order.
std::span<const GisField> diff_fields();

// Writes the row as a feature in `coordinates`; a parcel whose zone gives no such coordinates has a
// null geometry. False when the writer fails.
bool write_diff_feature(FeatureWriter& writer, const DiffRow& row, GisCoordinates coordinates);

}  // namespace chizuvec
