// The GIS outputs: one parcel a feature, written by one writer per format (GeoJSON, GeoPackage,
// FlatGeobuf, GeoParquet) behind one small interface, so the run that feeds them knows no format. The run
// builds each feature (attributes, rings in output coordinates) and hands the features over in
// input order; a writer never sees the map dataset.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace chizuvec {

// integer: a signed 32-bit whole number (INT32 in Parquet, Int in FlatGeobuf).
enum class GisFieldType { text, real, integer };

struct GisField {
    std::string_view name;
    GisFieldType type = GisFieldType::text;
};

// The attribute columns of a parcel, in this order. The first 18 are the columns GIS users know
// from the converters they use today, with the same names.
inline constexpr GisField kParcelFields[] = {
    {"筆ID"},
    {"地図名"},
    {"市区町村コード"},
    {"市区町村名"},
    {"座標系"},
    {"測地系判別"},
    {"大字コード"},
    {"丁目コード"},
    {"小字コード"},
    {"予備コード"},
    {"大字名"},
    {"丁目名"},
    {"小字名"},
    {"予備名"},
    {"地番"},
    {"筆界未定構成筆"},  // a JSON array text of the parcels it names
    {"精度区分"},
    {"座標値種別"},
    {"地図番号"},                         // every sheet that lists the parcel, joined by ';'
    {"縮尺分母", GisFieldType::integer},  // of the first of those sheets that gives one
    {"面積", GisFieldType::real},         // m², of the shape written, its holes taken away
    {"代表点緯度", GisFieldType::real},   // a point inside the parcel
    {"代表点経度", GisFieldType::real},
    // Of the first sheet that lists the parcel: 法第14条1項地図 or 地図に準ずる図面, and so on.
    {"地図種類"},
    {"地図分類"},
    {"地図材質"},
    {"地図作成年月日"},  // an ISO date, 2009-03-23
    {"地図ファイル"},    // the map file's name without folder, as the CSV's map_file: a key to join the two
    // A 任意座標系 map's point inside the parcel in the map's own X (northing) and Y (easting), where
    // 代表点緯度 and 代表点経度 stay null: a plane point is no latitude.
    {"代表点X", GisFieldType::real},
    {"代表点Y", GisFieldType::real},
};
inline constexpr std::size_t kParcelFieldCount = std::size(kParcelFields);

enum class GisCoordinates {
    geographic,  // longitude, latitude in degrees on JGD2011 (EPSG:6668)
    local,       // easting, northing in metres of a 任意座標系 map: no defined system
};

struct GisSchema {
    std::string_view layer_name = "parcels";
    std::span<const GisField> fields;
    GisCoordinates coordinates = GisCoordinates::geographic;
};

// One attribute value; `null` when the map file does not give it.
struct GisValue {
    bool null = true;
    std::string_view text;     // text fields, UTF-8
    double number = 0.0;       // real fields
    std::int32_t integer = 0;  // integer fields
};

// A parcel: its values (one per schema field, in order) and its MultiPolygon. `xy` holds x, y pairs
// (longitude, latitude or easting, northing); ring r is points [ring_ends[r-1], ring_ends[r]) (the
// first ring from 0), every ring closed (last point equal to the first); polygon p is rings
// [polygon_ends[p-1], polygon_ends[p]). In each polygon the first ring is the exterior, wound
// counter-clockwise, the others holes, wound clockwise. No rings: a null geometry.
struct GisFeature {
    std::span<const GisValue> values;
    std::span<const double> xy;
    std::span<const std::uint32_t> ring_ends;
    std::span<const std::uint32_t> polygon_ends;
};

// A writer of one output. `begin` once, `write` per feature in the order they are to appear (a
// writer may reorder them in the file where its format asks for that, as FlatGeobuf's index does),
// then `finish`, which completes the file. Every call returns false once anything has failed;
// `error` then says what, in plain words. The writer writes only the path it was made for; the
// caller makes that a temporary file and renames it over the output when finish succeeded.
class FeatureWriter {
  public:
    virtual ~FeatureWriter() = default;
    virtual bool begin(const GisSchema& schema) = 0;
    virtual bool write(const GisFeature& feature) = 0;
    virtual bool finish() = 0;
    virtual std::string error() const = 0;
};

enum class GisFormat { geojson, geopackage, flatgeobuf, geoparquet };

// A writer of `format` into the file at `path` (created or truncated); GeoJSON with the path "-"
// writes standard output.
std::unique_ptr<FeatureWriter> make_geojson_writer(const std::string& path);
std::unique_ptr<FeatureWriter> make_geopackage_writer(const std::string& path);
std::unique_ptr<FeatureWriter> make_flatgeobuf_writer(const std::string& path);
std::unique_ptr<FeatureWriter> make_geoparquet_writer(const std::string& path);
// GeoParquet with row groups of `rows_per_group` rows instead of about 100,000 (for tests).
std::unique_ptr<FeatureWriter> make_geoparquet_writer(const std::string& path, std::size_t rows_per_group);

}  // namespace chizuvec
