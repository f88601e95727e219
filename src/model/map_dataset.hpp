// The in-memory store of one map file. The reader fills the five element arrays in document order;
// polygon assembly adds the outlines and the measures add area, centroid and highlight; the writers
// only read it. Counts are the array sizes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/large_array.hpp"

namespace chizuvec {

struct MapPoint {
    std::uint32_t id_no = 0;
    double x = 0.0;  // zmn:X, the northing in metres: larger x is drawn higher
    double y = 0.0;  // zmn:Y, the easting in metres: larger y is drawn further right
};

// A curve is kept as a straight segment from its first to its last point reference.
struct MapCurve {
    std::uint32_t id_no = 0;
    std::uint32_t start_point_no = 0;
    std::uint32_t end_point_no = 0;
};

// One ring of a surface: ring_curves[first_ref, first_ref + count).
struct RingRun {
    std::uint32_t first_ref = 0;
    std::uint32_t count = 0;
    bool interior = false;  // a hole of the exterior ring before it
};

// A surface's rings, in document order: rings[first_ring, first_ring + ring_count).
struct MapSurface {
    std::uint32_t id_no = 0;
    std::uint32_t first_ring = 0;
    std::uint32_t ring_count = 0;
};

// One ring of an assembled outline: `count` entries of vertex_index_list.
struct OutlineRing {
    std::uint32_t count = 0;
    bool hole = false;  // a hole of the outline ring before it
};

struct Parcel {
    std::uint32_t id_no = 0;
    std::uint32_t shape_no = 0;
    char address[128] = {};  // 大字名 + 丁目名 + 小字名 + 予備名, UTF-8
    char chiban[32] = {};    // 地番, UTF-8
    char map_no[16] = {};    // 地図番号 of the last sheet that lists the parcel
    // The outline: vertex_index_list[first_vertex, first_vertex + vertex_count), its rings (outline
    // first, then its holes) outline_rings[first_ring, first_ring + ring_count). Parcels that share a
    // surface share one range. Only meaningful when has_outline is set.
    std::uint32_t first_vertex = 0;
    std::uint32_t vertex_count = 0;
    std::uint32_t first_ring = 0;
    std::uint32_t ring_count = 0;
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

// Every point of every curve with its orientation (always read), and each parcel's texts (read only
// when asked for, ReadOptions::gis_detail). Each array runs beside its element array: gis.curves[i]
// belongs to curves[i], and so on.

// A curve's point references: curve_points[first, first + count), in document order. A reference is
// a point number, or kDirectPosition plus an index into direct_positions.
struct CurveRun {
    std::uint32_t first = 0;
    std::uint32_t count = 0;
    bool reversed = false;  // orientation "-": the curve is walked from its last point to its first
};
inline constexpr std::uint32_t kDirectPosition = 0x80000000u;
inline constexpr std::uint32_t kNoSuchPoint = 0xFFFFFFFFu;  // a point number from 2^31 up: never found

struct PlanePosition {
    double x = 0.0;  // northing
    double y = 0.0;  // easting
};

// The texts of a parcel, whole (the drawing's fields are cut to their size).
enum class ParcelText {
    parcel_id,      // 筆ID, the id attribute as written
    oaza_code,      // 大字コード
    chome_code,     // 丁目コード
    koaza_code,     // 小字コード
    yobi_code,      // 予備コード
    oaza,           // 大字名
    chome,          // 丁目名
    koaza,          // 小字名
    yobi,           // 予備名
    chiban,         // 地番
    undetermined,   // 筆界未定構成筆: a JSON array of the 大字名 and 地番 of its parcels
    accuracy,       // 精度区分
    position_kind,  // 座標値種別
};
inline constexpr std::size_t kParcelTextCount = 13;

inline constexpr std::uint32_t kNoSheet = 0xFFFFFFFFu;

struct ParcelDetail {
    std::string texts[kParcelTextCount];
    std::uint32_t present = 0;             // bit i: texts[i] was given
    std::uint32_t first_sheet = kNoSheet;  // gis.sheets index of the first 図郭 that lists it

    bool has(ParcelText t) const { return (present >> static_cast<unsigned>(t)) & 1u; }
    const std::string& text(ParcelText t) const { return texts[static_cast<std::size_t>(t)]; }
    void set(ParcelText t, std::string_view value) {
        texts[static_cast<std::size_t>(t)] = value;
        present |= 1u << static_cast<unsigned>(t);
    }
};

// The texts of a map sheet (図郭) that each parcel it lists first carries in the GIS outputs.
enum class SheetText {
    kind,            // 地図種類
    classification,  // 地図分類
    material,        // 地図材質
    made_on,         // 地図作成年月日 as an ISO date, 2009-03-23
};
inline constexpr std::size_t kSheetTextCount = 4;

struct SheetDetail {
    std::string texts[kSheetTextCount];
    std::uint32_t present = 0;  // bit i: texts[i] was given
    // For the list of sheets: its map number (carried over from the sheet before when absent), its
    // scale (0 when it gives none) and how many parcels of the file it lists.
    std::string map_no;
    std::uint32_t scale_denominator = 0;
    std::uint32_t parcels = 0;

    bool has(SheetText t) const { return (present >> static_cast<unsigned>(t)) & 1u; }
    const std::string& text(SheetText t) const { return texts[static_cast<std::size_t>(t)]; }
    void set(SheetText t, std::string_view value) {
        texts[static_cast<std::size_t>(t)] = value;
        present |= 1u << static_cast<unsigned>(t);
    }
};

// A boundary point (筆界点) the map names, and a control point (基準点), from the 主題属性 (read only
// when asked for, ReadOptions::survey_points). `point_no` is the number of the point its 形状 names.
struct BoundaryPoint {
    std::uint32_t point_no = 0;
    char name[32] = {};  // 点番名, UTF-8
};
struct ControlPoint {
    std::uint32_t point_no = 0;
    char name[32] = {};  // 名称, UTF-8
    char kind[64] = {};  // 基準点種別, UTF-8
};

// Large arrays, as the element arrays are: a thread reuses them from one file to the next.
struct MapGisDetail {
    LargeArray<CurveRun> curves;
    LargeArray<std::uint32_t> curve_points;
    LargeArray<PlanePosition> direct_positions;
    LargeArray<ParcelDetail> parcels;
    std::vector<SheetDetail> sheets;  // every 図郭 element, in document order
};

struct MapDataset {
    LargeArray<MapPoint> points;
    LargeArray<MapCurve> curves;
    LargeArray<MapSurface> surfaces;
    LargeArray<std::uint32_t> ring_curves;  // curve numbers of every ring, end to end
    LargeArray<RingRun> rings;              // every ring of every surface, end to end
    LargeArray<Parcel> parcels;
    LargeArray<std::uint32_t> vertex_index_list;  // positions in points, the outlines end to end
    LargeArray<OutlineRing> outline_rings;        // the rings of the outlines, end to end
    // Every sheet that lists a parcel, so that a parcel on the edge of sheets is in each of them.
    std::vector<SheetListing> sheet_listings;
    std::vector<MapNumber> sheet_map_nos;       // one per run of listings under the same map number
    std::vector<MapSheet> sheets;               // in document order, those with any element of their own
    MapGisDetail gis;                           // empty unless the reader was asked for it
    LargeArray<BoundaryPoint> boundary_points;  // empty unless the reader was asked for them
    LargeArray<ControlPoint> control_points;

    // The last `position_points` of `points` are the curves' direct positions, in order, after the
    // file's own points; they have no number.
    std::uint32_t position_points = 0;
    std::uint32_t max_ring_curves = 0;
    std::uint32_t max_point_no = 0;
    std::uint32_t max_curve_no = 0;
    std::uint32_t max_surface_no = 0;
    std::uint32_t max_parcel_no = 0;    // counts parcels that were not kept
    std::uint32_t outside_parcels = 0;  // parcels left out as outside the district
    // The 地番 of the first kOutsideLotsKept of them, for messages that name them.
    static constexpr std::size_t kOutsideLotsKept = 10;
    std::vector<std::string> outside_lots;
    // Points (the file's own and direct positions) with a coordinate that is no number; the reader
    // gives them NaN, and a shape that uses one is no shape.
    std::uint32_t unreadable_points = 0;
    // Set by polygon assembly: the selected parcels left without shape for such a point, and the
    // 地番 of the first kOutsideLotsKept of them.
    std::uint32_t unreadable_parcels = 0;
    std::vector<std::string> unreadable_lots;

    // The file's own points.
    std::uint32_t point_count() const { return static_cast<std::uint32_t>(points.size()) - position_points; }
    std::span<const MapPoint> file_points() const { return {points.data(), point_count()}; }
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
    char municipality_code[16] = {};  // 市区町村コード
    char geodetic_kind[32] = {};      // 測地系判別, read only with the GIS detail
};

// Records that a sheet numbered `map_no` lists the parcel at `parcel_position`.
void add_sheet_listing(MapDataset& dataset, std::uint32_t parcel_position, std::string_view map_no);

// First capacities of the element arrays for a map file of `file_bytes`, so that they seldom grow.
void reserve_for_input(MapDataset& dataset, std::int64_t file_bytes);

// The map numbers the sheets list, each once, in the order first met.
std::vector<std::string> listed_map_numbers(const MapDataset& dataset);
// The map number of every sheet, each once: in document order, then any that only listings give.
std::vector<std::string> sheet_map_numbers(const MapDataset& dataset);

// The first sheet numbered `map_no`, or null.
const MapSheet* find_sheet(const MapDataset& dataset, std::string_view map_no);
// find_sheet of each of `numbers`, in one pass over the sheets however many there are.
std::vector<const MapSheet*> find_sheets(const MapDataset& dataset, const std::vector<std::string>& numbers);

// Releases every array of the dataset.
inline void release_dataset(MapDataset& dataset) { dataset = MapDataset{}; }

}  // namespace chizuvec
