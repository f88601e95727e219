// The in-memory store of one map file. The reader fills the five element arrays in document order;
// polygon assembly adds the outlines, the measures add area, centroid and highlight, and the SVG
// writer adds each point's drawing coordinates. Counts are the array sizes.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "model/large_array.hpp"

namespace chizuvec {

struct MapPoint {
    std::uint32_t id_no = 0;
    double x = 0.0;  // zmn:X, the northing in metres: larger x is drawn higher
    double y = 0.0;  // zmn:Y, the easting in metres: larger y is drawn further right
    std::int32_t svg_x = 0;
    std::int32_t svg_y = 0;
};

// A curve is kept as a straight segment from its first to its last point reference.
struct MapCurve {
    std::uint32_t id_no = 0;
    std::uint32_t start_point_no = 0;
    std::uint32_t end_point_no = 0;
};

// The outline of a surface is ring_curves[first_ref .. last_ref] (inclusive); first_ref > last_ref
// is an empty run.
struct MapSurface {
    std::uint32_t id_no = 0;
    std::uint32_t first_ref = 1;
    std::uint32_t last_ref = 0;
};

struct Parcel {
    std::uint32_t id_no = 0;
    std::uint32_t shape_no = 0;
    char address[128] = {};  // 大字名 + 丁目名 + 小字名 + 予備名, UTF-8
    char chiban[32] = {};    // 地番, UTF-8
    char map_no[16] = {};    // 地図番号 of the last sheet that lists the parcel
    // The outline: vertex_index_list[first_vertex, first_vertex + vertex_count). Parcels that share a
    // surface share one range. Only meaningful when has_outline is set.
    std::uint32_t first_vertex = 0;
    std::uint32_t vertex_count = 0;
    bool selected = false;      // in the drawing's map number, set by polygon assembly
    bool has_outline = false;   // polygon assembly reached this parcel and set its range
    bool has_centroid = false;  // the outline gathered at least one point
    double area = 0.0;
    double centroid_x = 0.0;
    double centroid_y = 0.0;
    std::int32_t hilite = 0;
};

// A map sheet's listing of one parcel: the parcel's position and the sheet's map number, as an index
// into MapDataset::sheet_map_nos.
struct SheetListing {
    std::uint32_t parcel = 0;
    std::uint32_t map_no = 0;
};

struct MapNumber {
    char text[16] = {};
};

// A map sheet (図郭) as the file describes it, for printing it at its scale inside its frame.
struct MapSheet {
    char map_no[16] = {};                 // 地図番号 (carried over from the sheet before when absent)
    std::uint32_t scale_denominator = 0;  // 縮尺分母; 0 when the file gives none
    bool orientation_unknown = false;     // 方位不明フラグ is "true": no north arrow
    bool has_frame = false;               // all four corners were read
    // 左下, 左上, 右下, 右上 (lower left, upper left, lower right, upper right), in map coordinates.
    double corner_x[4] = {};
    double corner_y[4] = {};
};

struct MapDataset {
    LargeArray<MapPoint> points;
    LargeArray<MapCurve> curves;
    LargeArray<MapSurface> surfaces;
    LargeArray<std::uint32_t> ring_curves;  // curve numbers of every ring, end to end
    LargeArray<Parcel> parcels;
    LargeArray<std::uint32_t> vertex_index_list;  // positions in points, the outlines end to end
    // Every sheet that lists a parcel, so that a parcel on the edge of sheets is in each of them.
    std::vector<SheetListing> sheet_listings;
    std::vector<MapNumber> sheet_map_nos;  // one per run of listings under the same map number
    std::vector<MapSheet> sheets;          // in document order, those with any element of their own

    std::uint32_t max_ring_curves = 0;
    std::uint32_t max_point_no = 0;
    std::uint32_t max_curve_no = 0;
    std::uint32_t max_surface_no = 0;
    std::uint32_t max_parcel_no = 0;  // counts parcels that were not kept

    std::uint32_t point_count() const { return static_cast<std::uint32_t>(points.size()); }
    std::uint32_t curve_count() const { return static_cast<std::uint32_t>(curves.size()); }
    std::uint32_t surface_count() const { return static_cast<std::uint32_t>(surfaces.size()); }
    std::uint32_t ring_curve_count() const { return static_cast<std::uint32_t>(ring_curves.size()); }
    std::uint32_t parcel_count() const { return static_cast<std::uint32_t>(parcels.size()); }
};

// The coordinate system of maps whose sheets each have their own frame: such a map has no true
// north or scale across sheets.
inline constexpr std::string_view kArbitraryCoordSystem = "任意座標系";

// Texts from the head of the map file, UTF-8.
struct MapHeader {
    char map_name[256] = {};          // 地図名
    char municipality_name[64] = {};  // 市区町村名
    char coord_system[64] = {};       // 座標系
};

// Records that a sheet numbered `map_no` lists the parcel at `parcel_position`.
void add_sheet_listing(MapDataset& dataset, std::uint32_t parcel_position, std::string_view map_no);

// First capacities of the element arrays for a map file of `file_bytes`, so that they seldom grow.
void reserve_for_input(MapDataset& dataset, std::int64_t file_bytes);

// The first sheet numbered `map_no`, or null.
const MapSheet* find_sheet(const MapDataset& dataset, std::string_view map_no);

// Releases every array of the dataset.
inline void release_dataset(MapDataset& dataset) { dataset = MapDataset{}; }

}  // namespace chizuvec
