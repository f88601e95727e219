#include "gen_map_core.hpp"

#include <zip.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace chizuvec::genmap {
namespace {

// The town: blocks of 10 x 5 parcels separated by roads, blocks in rows from the south-west, map
// sheets of 2 x 2 blocks. Lengths are whole millimetres so that coordinates print exactly.
constexpr std::uint32_t kCellCols = 10;  // parcels of a block from west to east
constexpr std::uint32_t kCellRows = 5;   // and from south to north
constexpr std::uint32_t kParcelsPerBlock = kCellCols * kCellRows;
constexpr std::uint32_t kBlocksPerSheetSide = 2;
constexpr std::int64_t kCellWidth = 18000;   // along zmn:Y, the easting
constexpr std::int64_t kCellHeight = 24000;  // along zmn:X, the northing
constexpr std::int64_t kRoadWidth = 6000;
constexpr std::int64_t kBlockPitchY = kCellCols * kCellWidth + kRoadWidth;
constexpr std::int64_t kBlockPitchX = kCellRows * kCellHeight + kRoadWidth;
constexpr std::int64_t kCornerJitter = 1500;
constexpr std::int64_t kBendJitter = 800;   // sideways offset of a point put into an edge
constexpr std::uint64_t kBendPercent = 30;  // edges with such a point; a ring gets 4 to 8 curves
// South-west corner of the first block, in plane system 9 like a map of Chiba.
constexpr std::int64_t kOriginX = -42250000;
constexpr std::int64_t kOriginY = 25725000;

constexpr std::size_t kBufferSize = std::size_t{4} << 20;

// splitmix64: small, fast and the same on every platform, unlike the standard distributions.
std::uint64_t mix(std::uint64_t z) {
    z += 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

struct Random {
    std::uint64_t state = 0;
    std::uint64_t next() {
        state += 0x9E3779B97F4A7C15ull;
        return mix(state);
    }
    // Uniform in [-limit, limit].
    std::int64_t offset(std::int64_t limit) {
        return static_cast<std::int64_t>(next() % static_cast<std::uint64_t>(2 * limit + 1)) - limit;
    }
    bool chance(std::uint64_t percent) { return next() % 100 < percent; }
};

// Every block draws from its own stream, so each pass over the blocks sees the same layout.
Random block_random(std::uint64_t seed, std::uint32_t block) { return Random{mix(seed ^ mix(block + 1ull))}; }

// Attributes of one parcel (地区外, lot-number form, accuracy class) come from one hash.
std::uint64_t parcel_hash(std::uint64_t seed, std::uint32_t parcel) { return mix(mix(~seed) ^ (parcel + 1ull)); }

bool is_outside_parcel(std::uint64_t hash) { return hash % 100 == 0; }

// Buffered line output. Lines are built from pieces; a piece never comes near the buffer's size,
// so checking for room per piece is enough.
class LineWriter {
  public:
    explicit LineWriter(std::FILE* out) : out_(out), buffer_(kBufferSize) {}

    LineWriter& tabs(int depth) {
        room(static_cast<std::size_t>(depth));
        for (int i = 0; i < depth; ++i) buffer_[used_++] = '\t';
        return *this;
    }
    LineWriter& text(std::string_view piece) {
        room(piece.size());
        for (const char c : piece) buffer_[used_++] = c;
        return *this;
    }
    LineWriter& number(std::uint64_t value, int min_digits = 1) {
        char digits[24];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        room(static_cast<std::size_t>(n + min_digits));
        for (int i = n; i < min_digits; ++i) buffer_[used_++] = '0';
        while (n > 0) buffer_[used_++] = digits[--n];
        return *this;
    }
    // Identifiers of the real files: a letter and nine digits, "P000000001".
    LineWriter& id(char prefix, std::uint32_t no) {
        text(std::string_view(&prefix, 1));
        return number(no, 9);
    }
    // Millimetres as metres with three decimals, "-42247.011".
    LineWriter& coordinate(std::int64_t mm) {
        std::uint64_t magnitude = static_cast<std::uint64_t>(mm);
        if (mm < 0) {
            text("-");
            magnitude = 0 - magnitude;
        }
        number(magnitude / 1000);
        text(".");
        return number(magnitude % 1000, 3);
    }
    void end() { text("\r\n"); }
    void line(int depth, std::string_view whole) {
        tabs(depth).text(whole);
        end();
    }
    // Writes out what is buffered; false when any write has failed.
    bool finish() {
        flush();
        return !failed_ && std::fflush(out_) == 0;
    }

  private:
    void room(std::size_t n) {
        if (used_ + n > buffer_.size()) flush();
    }
    void flush() {
        if (used_ != 0 && !failed_ && std::fwrite(buffer_.data(), 1, used_, out_) != used_) failed_ = true;
        used_ = 0;
    }

    std::FILE* out_;
    std::vector<char> buffer_;
    std::size_t used_ = 0;
    bool failed_ = false;
};

// A point of a block's layout; point_no 0 marks an edge without an inserted point.
struct Vertex {
    std::int64_t x = 0;
    std::int64_t y = 0;
    std::uint32_t point_no = 0;
};

// The points of one block. Neighbouring parcels use the same corner and edge points, which is what
// makes the parcels of a block share their boundaries.
struct BlockLayout {
    std::uint32_t cells = 0;  // parcels of this block; only the last block may have fewer than 50
    std::int64_t south = 0;
    std::int64_t west = 0;
    std::vector<Vertex> corners;      // (kCellRows + 1) x (kCellCols + 1), row by row from the south-west
    std::vector<Vertex> east_bends;   // point inside the edge from corner (i, j) east to (i, j + 1)
    std::vector<Vertex> north_bends;  // point inside the edge from corner (i, j) north to (i + 1, j)
    Vertex reference;                 // a 基準点 at the road crossing south-west of the block
    std::uint32_t point_count = 0;
    std::uint32_t ring_curve_count = 0;

    const Vertex& corner(std::uint32_t i, std::uint32_t j) const { return corners[i * (kCellCols + 1) + j]; }
    const Vertex& east_bend(std::uint32_t i, std::uint32_t j) const { return east_bends[i * kCellCols + j]; }
    const Vertex& north_bend(std::uint32_t i, std::uint32_t j) const { return north_bends[i * (kCellCols + 1) + j]; }
};

struct BlockBase {
    std::uint32_t first_point_no = 0;
    std::uint32_t first_curve_no = 0;  // the block's direct-position curve; its parcels' curves follow
    std::uint32_t reference_point_no = 0;
};

struct Plan {
    GenMapOptions options;
    std::uint32_t block_count = 0;
    std::uint32_t block_cols = 0;
    std::uint32_t block_rows = 0;
    std::vector<BlockBase> bases;
    std::uint32_t id_step = 1;
};

std::uint32_t parcel_id(const Plan& plan, std::uint32_t parcel) { return (parcel + 1) * plan.id_step; }
std::uint32_t shape_of(const Plan& plan, std::uint32_t parcel) {
    return plan.options.shared_surface_curves != 0 ? 1 : parcel + 1;
}

// The bucket count a std::unordered_map ends with after `count` inserts one by one.
std::uint32_t final_bucket_count(std::uint32_t count) {
    std::unordered_map<std::uint32_t, std::uint32_t> map;
    for (std::uint32_t k = 0; k < count; ++k) map.emplace(k, k);
    return static_cast<std::uint32_t>(map.bucket_count());
}

// The ring of cell (row, col), anticlockwise on the map from its south-west corner. Each entry is the
// start of one curve; the last curve runs back to the first entry.
void cell_ring(const BlockLayout& layout, std::uint32_t row, std::uint32_t col, std::vector<const Vertex*>& ring) {
    ring.clear();
    const auto add = [&](const Vertex& v) {
        if (v.point_no != 0) ring.push_back(&v);
    };
    add(layout.corner(row, col));
    add(layout.east_bend(row, col));
    add(layout.corner(row, col + 1));
    add(layout.north_bend(row, col + 1));
    add(layout.corner(row + 1, col + 1));
    add(layout.east_bend(row + 1, col));
    add(layout.corner(row + 1, col));
    add(layout.north_bend(row, col));
}

// A point between `a` and `b`, somewhat off the middle and pushed sideways.
Vertex bend_between(const Vertex& a, const Vertex& b, bool sideways_is_x, Random& random) {
    const std::int64_t percent = 50 + random.offset(15);
    Vertex v;
    v.x = a.x + (b.x - a.x) * percent / 100;
    v.y = a.y + (b.y - a.y) * percent / 100;
    (sideways_is_x ? v.x : v.y) += random.offset(kBendJitter);
    return v;
}

void lay_out_block(const Plan& plan, std::uint32_t block, std::uint32_t first_point_no, BlockLayout& layout) {
    Random random = block_random(plan.options.seed, block);
    const std::uint32_t before = block * kParcelsPerBlock;
    layout.cells = std::min(kParcelsPerBlock, plan.options.parcels - before);
    layout.south = kOriginX + (block / plan.block_cols) * kBlockPitchX;
    layout.west = kOriginY + (block % plan.block_cols) * kBlockPitchY;

    std::uint32_t point_no = first_point_no;
    layout.corners.resize((kCellRows + 1) * (kCellCols + 1));
    for (std::uint32_t i = 0; i <= kCellRows; ++i) {
        for (std::uint32_t j = 0; j <= kCellCols; ++j) {
            Vertex& v = layout.corners[i * (kCellCols + 1) + j];
            v.x = layout.south + i * kCellHeight + random.offset(kCornerJitter);
            v.y = layout.west + j * kCellWidth + random.offset(kCornerJitter);
            v.point_no = point_no++;
        }
    }
    layout.east_bends.assign((kCellRows + 1) * kCellCols, Vertex{});
    for (std::uint32_t i = 0; i <= kCellRows; ++i) {
        for (std::uint32_t j = 0; j < kCellCols; ++j) {
            if (!random.chance(kBendPercent)) continue;
            Vertex& v = layout.east_bends[i * kCellCols + j];
            v = bend_between(layout.corner(i, j), layout.corner(i, j + 1), true, random);
            v.point_no = point_no++;
        }
    }
    layout.north_bends.assign(kCellRows * (kCellCols + 1), Vertex{});
    for (std::uint32_t i = 0; i < kCellRows; ++i) {
        for (std::uint32_t j = 0; j <= kCellCols; ++j) {
            if (!random.chance(kBendPercent)) continue;
            Vertex& v = layout.north_bends[i * (kCellCols + 1) + j];
            v = bend_between(layout.corner(i, j), layout.corner(i + 1, j), false, random);
            v.point_no = point_no++;
        }
    }
    layout.reference = Vertex{layout.south - kRoadWidth / 2, layout.west - kRoadWidth / 2, point_no++};
    layout.point_count = point_no - first_point_no;

    std::vector<const Vertex*> ring;
    ring.reserve(8);
    layout.ring_curve_count = 0;
    for (std::uint32_t cell = 0; cell < layout.cells; ++cell) {
        cell_ring(layout, cell / kCellCols, cell % kCellCols, ring);
        layout.ring_curve_count += static_cast<std::uint32_t>(ring.size());
    }
}

// Calls visit(sheet_index, blocks, block_count_in_sheet) for every map sheet that has a block, in
// the order the sheets are written.
template <typename Visit>
void for_each_sheet(const Plan& plan, Visit visit) {
    const std::uint32_t sheet_cols = (plan.block_cols + kBlocksPerSheetSide - 1) / kBlocksPerSheetSide;
    const std::uint32_t sheet_rows = (plan.block_rows + kBlocksPerSheetSide - 1) / kBlocksPerSheetSide;
    std::uint32_t sheet = 0;
    for (std::uint32_t srow = 0; srow < sheet_rows; ++srow) {
        for (std::uint32_t scol = 0; scol < sheet_cols; ++scol) {
            std::uint32_t blocks[kBlocksPerSheetSide * kBlocksPerSheetSide];
            std::uint32_t count = 0;
            for (std::uint32_t r = 0; r < kBlocksPerSheetSide; ++r) {
                for (std::uint32_t c = 0; c < kBlocksPerSheetSide; ++c) {
                    const std::uint32_t brow = srow * kBlocksPerSheetSide + r;
                    const std::uint32_t bcol = scol * kBlocksPerSheetSide + c;
                    if (bcol >= plan.block_cols) continue;
                    const std::uint32_t block = brow * plan.block_cols + bcol;
                    if (block < plan.block_count) blocks[count++] = block;
                }
            }
            if (count != 0) visit(sheet++, srow, scol, blocks, count);
        }
    }
}

// Map numbers in the style "V0244-4": four sheets to a number.
std::string map_number(std::uint32_t sheet) {
    char text[32];
    std::snprintf(text, sizeof text, "V%04u-%u", 200 + sheet / 4, sheet % 4 + 1);
    return text;
}

Plan make_plan(const GenMapOptions& options, GenMapSummary& summary) {
    Plan plan;
    plan.options = options;
    plan.block_count = (options.parcels + kParcelsPerBlock - 1) / kParcelsPerBlock;
    plan.block_cols = static_cast<std::uint32_t>(std::ceil(std::sqrt(static_cast<double>(plan.block_count))));
    if (plan.block_cols == 0) plan.block_cols = 1;
    plan.block_rows = (plan.block_count + plan.block_cols - 1) / plan.block_cols;
    plan.bases.resize(plan.block_count);

    summary = GenMapSummary{};
    std::uint32_t point_no = 1;
    std::uint32_t curve_no = 1;
    BlockLayout layout;
    for (std::uint32_t block = 0; block < plan.block_count; ++block) {
        lay_out_block(plan, block, point_no, layout);
        plan.bases[block] = BlockBase{point_no, curve_no, layout.reference.point_no};
        point_no += layout.point_count;
        curve_no += 1 + layout.ring_curve_count;
        summary.ring_curves += layout.ring_curve_count;
    }
    summary.parcels = options.parcels;
    summary.surfaces = options.parcels;
    summary.points = point_no - 1;
    summary.curves = curve_no - 1;
    for (std::uint32_t parcel = 0; parcel < options.parcels; ++parcel) {
        if (is_outside_parcel(parcel_hash(options.seed, parcel))) ++summary.outside_parcels;
    }
    if (options.colliding_ids && options.parcels != 0) {
        plan.id_step = final_bucket_count(options.parcels - summary.outside_parcels);
    }
    summary.parcel_id_step = plan.id_step;
    if (options.shared_surface_curves != 0) {
        summary.points = summary.curves = summary.ring_curves = options.shared_surface_curves;
        summary.surfaces = 1;
    }
    for_each_sheet(plan, [&](std::uint32_t sheet, std::uint32_t, std::uint32_t, const std::uint32_t*, std::uint32_t) {
        if (sheet == 0) summary.first_map_no = map_number(sheet);
        ++summary.map_sheets;
    });
    if (options.extra_sheet_refs != 0 && options.parcels != 0) ++summary.map_sheets;
    if (options.parcels != 0) summary.map_sheets += options.one_parcel_sheets;
    return plan;
}

void write_head(LineWriter& w, const Plan& plan) {
    w.line(0, R"(<?xml version="1.0" encoding="UTF-8"?>)");
    w.line(0, R"(<地図 xmlns="http://www.moj.go.jp/MINJI/tizuxml" xmlns:zmn="http://www.moj.go.jp/MINJI/tizuzumen" )"
              R"(xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" )"
              R"(xsi:schemaLocation="http://www.moj.go.jp/MINJI/tizuxml tizuxml.xsd">)");
    w.line(1, "<version>ver1.0</version>");
    w.tabs(1).text("<地図名>genmap-s").number(plan.options.seed).text("-n").number(plan.options.parcels);
    w.text("</地図名>").end();
    w.tabs(1).text("<市区町村コード>").text(plan.options.municipality_code).text("</市区町村コード>").end();
    w.line(1, "<市区町村名>千葉市稲毛区</市区町村名>");
    w.line(1, plan.options.arbitrary ? "<座標系>任意座標系</座標系>" : "<座標系>公共座標9系</座標系>");
    w.line(1, "<測地系判別>測量</測地系判別>");
}

// ---- 空間属性 ----

void write_point(LineWriter& w, const Vertex& v) {
    w.tabs(2).text(R"(<zmn:GM_Point id=")").id('P', v.point_no).text(R"(">)").end();
    w.line(3, "<zmn:GM_Point.position>");
    w.line(4, "<zmn:DirectPosition>");
    w.tabs(5).text("<zmn:X>").coordinate(v.x).text("</zmn:X>").end();
    w.tabs(5).text("<zmn:Y>").coordinate(v.y).text("</zmn:Y>").end();
    w.line(4, "</zmn:DirectPosition>");
    w.line(3, "</zmn:GM_Point.position>");
    w.line(2, "</zmn:GM_Point>");
}

void write_curve_start(LineWriter& w, std::uint32_t curve_no) {
    w.tabs(2).text(R"(<zmn:GM_Curve id=")").id('C', curve_no).text(R"(">)").end();
    w.line(3, "<zmn:GM_OrientablePrimitive.orientation>+</zmn:GM_OrientablePrimitive.orientation>");
    w.tabs(3).text(R"(<zmn:GM_OrientablePrimitive.primitive idref=")").id('C', curve_no).text(R"("/>)").end();
    w.line(3, "<zmn:GM_Curve.segment>");
    w.line(4, "<zmn:GM_LineString>");
    w.line(5, "<zmn:GM_LineString.controlPoint>");
}

void write_curve_end(LineWriter& w) {
    w.line(5, "</zmn:GM_LineString.controlPoint>");
    w.line(4, "</zmn:GM_LineString>");
    w.line(3, "</zmn:GM_Curve.segment>");
    w.line(2, "</zmn:GM_Curve>");
}

// A curve by reference to two points: the form the parcel outlines use.
void write_indirect_curve(LineWriter& w, std::uint32_t curve_no, const Vertex& from, const Vertex& to) {
    write_curve_start(w, curve_no);
    for (const Vertex* v : {&from, &to}) {
        w.line(6, "<zmn:GM_PointArray.column>");
        w.line(7, "<zmn:GM_Position.indirect>");
        w.tabs(8).text(R"(<zmn:GM_PointRef.point idref=")").id('P', v->point_no).text(R"("/>)").end();
        w.line(7, "</zmn:GM_Position.indirect>");
        w.line(6, "</zmn:GM_PointArray.column>");
    }
    write_curve_end(w);
}

// A curve with its coordinates written inline, as map files give sheet borders and lines that no
// surface uses.
void write_direct_curve(LineWriter& w, std::uint32_t curve_no, const Vertex& from, const Vertex& to) {
    write_curve_start(w, curve_no);
    for (const Vertex* v : {&from, &to}) {
        w.line(6, "<zmn:GM_PointArray.column>");
        w.line(7, "<zmn:GM_Position.direct>");
        w.tabs(8).text("<zmn:X>").coordinate(v->x).text("</zmn:X>").end();
        w.tabs(8).text("<zmn:Y>").coordinate(v->y).text("</zmn:Y>").end();
        w.line(7, "</zmn:GM_Position.direct>");
        w.line(6, "</zmn:GM_PointArray.column>");
    }
    write_curve_end(w);
}

void write_surface(LineWriter& w, std::uint32_t surface_no, std::uint32_t first_curve_no, std::size_t curves) {
    w.tabs(2).text(R"(<zmn:GM_Surface id=")").id('F', surface_no).text(R"(">)").end();
    w.line(3, "<zmn:GM_Surface.patch>");
    w.line(4, "<zmn:GM_Polygon>");
    w.line(5, "<zmn:GM_Polygon.boundary>");
    w.line(6, "<zmn:GM_SurfaceBoundary>");
    w.line(7, "<zmn:GM_SurfaceBoundary.exterior>");
    w.line(8, "<zmn:GM_Ring>");
    for (std::uint32_t k = 0; k < curves; ++k) {
        w.tabs(9).text(R"(<zmn:GM_CompositeCurve.generator idref=")").id('C', first_curve_no + k).text(R"("/>)");
        w.end();
    }
    w.line(8, "</zmn:GM_Ring>");
    w.line(7, "</zmn:GM_SurfaceBoundary.exterior>");
    w.line(6, "</zmn:GM_SurfaceBoundary>");
    w.line(5, "</zmn:GM_Polygon.boundary>");
    w.line(4, "</zmn:GM_Polygon>");
    w.line(3, "</zmn:GM_Surface.patch>");
    w.line(2, "</zmn:GM_Surface>");
}

// The section lists every point, then every curve, then every surface, as the real files do.
void write_spatial_section(LineWriter& w, const Plan& plan) {
    w.line(1, "<空間属性>");
    BlockLayout layout;
    std::vector<const Vertex*> ring;
    ring.reserve(8);

    for (std::uint32_t block = 0; block < plan.block_count; ++block) {
        lay_out_block(plan, block, plan.bases[block].first_point_no, layout);
        for (const Vertex& v : layout.corners) write_point(w, v);
        for (const Vertex& v : layout.east_bends) {
            if (v.point_no != 0) write_point(w, v);
        }
        for (const Vertex& v : layout.north_bends) {
            if (v.point_no != 0) write_point(w, v);
        }
        write_point(w, layout.reference);
    }

    for (std::uint32_t block = 0; block < plan.block_count; ++block) {
        lay_out_block(plan, block, plan.bases[block].first_point_no, layout);
        std::uint32_t curve_no = plan.bases[block].first_curve_no;
        // The road's centre line along the south side of the block.
        const Vertex road_east{layout.reference.x, layout.reference.y + kBlockPitchY, 0};
        write_direct_curve(w, curve_no++, layout.reference, road_east);
        for (std::uint32_t cell = 0; cell < layout.cells; ++cell) {
            cell_ring(layout, cell / kCellCols, cell % kCellCols, ring);
            for (std::size_t k = 0; k < ring.size(); ++k) {
                write_indirect_curve(w, curve_no++, *ring[k], *ring[(k + 1) % ring.size()]);
            }
        }
    }

    for (std::uint32_t block = 0; block < plan.block_count; ++block) {
        lay_out_block(plan, block, plan.bases[block].first_point_no, layout);
        std::uint32_t curve_no = plan.bases[block].first_curve_no + 1;
        for (std::uint32_t cell = 0; cell < layout.cells; ++cell) {
            cell_ring(layout, cell / kCellCols, cell % kCellCols, ring);
            write_surface(w, block * kParcelsPerBlock + cell + 1, curve_no, ring.size());
            curve_no += static_cast<std::uint32_t>(ring.size());
        }
    }
    w.line(1, "</空間属性>");
}

// The spatial section of a map whose parcels all have one shape: a ring of many curves round a
// circle of 100 m.
void write_shared_spatial_section(LineWriter& w, const Plan& plan) {
    const std::uint32_t n = plan.options.shared_surface_curves;
    const auto vertex = [&](std::uint32_t k) {
        const double angle = 2.0 * 3.14159265358979323846 * static_cast<double>(k % n) / static_cast<double>(n);
        return Vertex{kOriginX + std::llround(100000.0 * std::cos(angle)),
                      kOriginY + std::llround(100000.0 * std::sin(angle)), k % n + 1};
    };
    w.line(1, "<空間属性>");
    for (std::uint32_t k = 0; k < n; ++k) write_point(w, vertex(k));
    for (std::uint32_t k = 0; k < n; ++k) write_indirect_curve(w, k + 1, vertex(k), vertex(k + 1));
    write_surface(w, 1, 1, n);
    w.line(1, "</空間属性>");
}

// ---- 主題属性 ----

struct Oaza {
    std::string_view name;
    std::uint32_t code;
    bool has_chome;
};

constexpr Oaza kOaza[] = {
    {"作草部町", 15, false}, {"稲毛東", 21, true}, {"小仲台", 33, true}, {"園生町", 40, false},
    {"長沼町", 52, false},   {"穴川", 61, true},   {"天台", 74, true},
};
constexpr std::string_view kKanjiDigits[] = {"一", "二", "三", "四", "五", "六"};
constexpr std::uint32_t kBlocksPerOaza = 8;

void write_parcel(LineWriter& w, const Plan& plan, std::uint32_t parcel) {
    const std::uint64_t hash = parcel_hash(plan.options.seed, parcel);
    const std::uint32_t block = parcel / kParcelsPerBlock;
    const std::uint32_t cell = parcel % kParcelsPerBlock;
    w.tabs(2).text(R"(<筆 id=")").id('H', parcel_id(plan, parcel)).text(R"(">)").end();

    if (is_outside_parcel(hash)) {
        // Parcels outside the district carry no names, only the codes and a placeholder lot number.
        w.line(3, "<大字コード>000</大字コード>");
        w.line(3, "<丁目コード>000</丁目コード>");
        w.line(3, "<小字コード>0000</小字コード>");
        w.line(3, "<予備コード>00</予備コード>");
        w.tabs(3).text("<地番>地区外-").number(40000 + parcel).text("</地番>").end();
        w.tabs(3).text(R"(<形状 idref=")").id('F', shape_of(plan, parcel)).text(R"("/>)").end();
        w.line(3, "<座標値種別>図上測量</座標値種別>");
        w.line(2, "</筆>");
        return;
    }

    const Oaza& oaza = kOaza[(block / kBlocksPerOaza) % std::size(kOaza)];
    const std::uint32_t chome =
        oaza.has_chome ? static_cast<std::uint32_t>((block / 2) % std::size(kKanjiDigits) + 1) : 0;
    w.tabs(3).text("<大字コード>").number(oaza.code, 3).text("</大字コード>").end();
    w.tabs(3).text("<丁目コード>").number(chome, 3).text("</丁目コード>").end();
    w.line(3, "<小字コード>0000</小字コード>");
    w.line(3, "<予備コード>00</予備コード>");
    w.tabs(3).text("<大字名>").text(oaza.name).text("</大字名>").end();
    if (chome != 0) w.tabs(3).text("<丁目名>").text(kKanjiDigits[chome - 1]).text("丁目</丁目名>").end();

    // Lot numbers "123-4", now and then a bare "123" or a "別図-5" (a parcel drawn on a separate sheet).
    w.tabs(3).text("<地番>");
    if ((hash >> 8) % 200 == 0) {
        w.text("別図-").number(parcel + 1);
    } else {
        w.number(1ull + block * 25ull + cell / 2);
        // The first of a pair may keep the bare number; its sibling is always "-2", so no lot repeats.
        if (cell % 2 != 0 || (hash >> 16) % 10 != 0) w.text("-").number(cell % 2 + 1);
    }
    w.text("</地番>").end();
    w.tabs(3).text(R"(<形状 idref=")").id('F', shape_of(plan, parcel)).text(R"("/>)").end();
    w.line(3, (hash >> 24) % 4 == 0 ? "<精度区分>甲二</精度区分>" : "<精度区分>甲一</精度区分>");
    w.line(3, "<座標値種別>測量成果</座標値種別>");
    w.line(2, "</筆>");
}

// Survey points and boundary lines first, parcels last, as in the real files.
void write_thematic_section(LineWriter& w, const Plan& plan) {
    w.line(1, "<主題属性>");
    for (std::uint32_t block = 0; block < plan.block_count; ++block) {
        w.line(2, "<基準点>");
        w.tabs(3).text("<名称>").number(20100 + block, 6).text("</名称>").end();
        w.tabs(3).text(R"(<形状 idref=")").id('P', plan.bases[block].reference_point_no).text(R"("/>)").end();
        w.line(3, "<基準点種別>数値図根点（細部多角点）</基準点種別>");
        w.line(3, "<埋標区分>埋標（その他）</埋標区分>");
        w.line(2, "</基準点>");
    }
    for (std::uint32_t block = 0; block < plan.block_count; ++block) {
        w.line(2, "<筆界点>");
        w.tabs(3).text("<点番名>").number(3965000ull + block).text("</点番名>").end();
        w.tabs(3).text(R"(<形状 idref=")").id('P', plan.bases[block].first_point_no).text(R"("/>)").end();
        w.line(2, "</筆界点>");
    }
    for (std::uint32_t block = 0; block < plan.block_count; ++block) {
        w.line(2, "<筆界線>");
        w.tabs(3).text(R"(<形状 idref=")").id('C', plan.bases[block].first_curve_no).text(R"("/>)").end();
        w.line(3, "<線種別>筆界線</線種別>");
        w.line(2, "</筆界線>");
    }
    for (std::uint32_t parcel = 0; parcel < plan.options.parcels; ++parcel) write_parcel(w, plan, parcel);
    w.line(1, "</主題属性>");
}

// ---- 図郭 ----

void write_corner(LineWriter& w, std::string_view tag, std::int64_t x, std::int64_t y) {
    w.tabs(2).text("<").text(tag).text(">").end();
    w.tabs(3).text("<zmn:X>").coordinate(x).text("</zmn:X>").end();
    w.tabs(3).text("<zmn:Y>").coordinate(y).text("</zmn:Y>").end();
    w.tabs(2).text("</").text(tag).text(">").end();
}

void write_date(LineWriter& w, std::string_view tag, int year, int month, int day) {
    w.tabs(2).text("<").text(tag).text(">").end();
    w.tabs(3).text("<年>").number(static_cast<std::uint64_t>(year)).text("</年>").end();
    w.tabs(3).text("<月>").number(static_cast<std::uint64_t>(month)).text("</月>").end();
    w.tabs(3).text("<日>").number(static_cast<std::uint64_t>(day)).text("</日>").end();
    w.tabs(2).text("</").text(tag).text(">").end();
}

void write_block_refs(LineWriter& w, const Plan& plan, std::uint32_t block) {
    const std::uint32_t first = block * kParcelsPerBlock;
    const std::uint32_t end = std::min(first + kParcelsPerBlock, plan.options.parcels);
    for (std::uint32_t parcel = first; parcel < end; ++parcel) {
        w.tabs(2).text(R"(<筆参照 idref=")").id('H', parcel_id(plan, parcel)).text(R"("/>)").end();
    }
}

void write_map_sheets(LineWriter& w, const Plan& plan) {
    for_each_sheet(plan, [&](std::uint32_t sheet, std::uint32_t srow, std::uint32_t scol, const std::uint32_t* blocks,
                             std::uint32_t count) {
        const std::int64_t south = kOriginX - kRoadWidth / 2 + srow * kBlocksPerSheetSide * kBlockPitchX;
        const std::int64_t west = kOriginY - kRoadWidth / 2 + scol * kBlocksPerSheetSide * kBlockPitchY;
        const std::int64_t north = south + kBlocksPerSheetSide * kBlockPitchX;
        const std::int64_t east = west + kBlocksPerSheetSide * kBlockPitchY;
        w.line(1, "<図郭>");
        w.tabs(2).text("<地図番号>").text(map_number(sheet)).text("</地図番号>").end();
        w.line(2, "<縮尺分母>500</縮尺分母>");
        w.line(2, "<方位不明フラグ>false</方位不明フラグ>");
        write_corner(w, "左下座標", south, west);
        write_corner(w, "左上座標", north, west);
        write_corner(w, "右下座標", south, east);
        write_corner(w, "右上座標", north, east);
        w.line(2, "<地図種類>法務局作成地図</地図種類>");
        w.line(2, "<地図分類>法第14条1項地図</地図分類>");
        w.line(2, "<地図材質>電磁的記録媒体</地図材質>");
        write_date(w, "地図作成年月日", 2021, 1, 15);
        write_date(w, "備付地図年月日", 2021, 3, 12);
        for (std::uint32_t k = 0; k < count; ++k) write_block_refs(w, plan, blocks[k]);
        if (plan.options.overlapping_sheets) {
            // The first block of the next sheet, when there is one.
            std::uint32_t next_block = plan.block_count;
            for_each_sheet(plan, [&](std::uint32_t other, std::uint32_t, std::uint32_t,
                                     const std::uint32_t* other_blocks, std::uint32_t) {
                if (other == sheet + 1) next_block = other_blocks[0];
            });
            if (next_block < plan.block_count) write_block_refs(w, plan, next_block);
        }
        w.line(1, "</図郭>");
    });
    if (plan.options.extra_sheet_refs != 0 && plan.options.parcels != 0) {
        w.line(1, "<図郭>");
        w.line(2, "<地図番号>V9999-9</地図番号>");
        for (std::uint32_t k = 0; k < plan.options.extra_sheet_refs; ++k) {
            w.tabs(2)
                .text(R"(<筆参照 idref=")")
                .id('H', parcel_id(plan, k % plan.options.parcels))
                .text(R"("/>)")
                .end();
        }
        w.line(1, "</図郭>");
    }
    for (std::uint32_t k = 0; plan.options.parcels != 0 && k < plan.options.one_parcel_sheets; ++k) {
        char number[32];
        if (plan.options.colliding_sheet_names) {
            // Two bits a character, eight characters: 65,536 numbers that all read "S________".
            number[0] = 'S';
            for (int digit = 0; digit < 8; ++digit) number[1 + digit] = "/:*?"[(k >> (2 * digit)) & 3];
            number[9] = '\0';
        } else {
            std::snprintf(number, sizeof number, "S%06u", k);
        }
        w.line(1, "<図郭>");
        w.tabs(2).text("<地図番号>").text(number).text("</地図番号>").end();
        w.tabs(2).text(R"(<筆参照 idref=")").id('H', parcel_id(plan, k % plan.options.parcels)).text(R"("/>)").end();
        w.line(1, "</図郭>");
    }
}

}  // namespace

int write_generated_map(std::FILE* out, const GenMapOptions& options, GenMapSummary& summary) {
    const Plan plan = make_plan(options, summary);
    LineWriter w(out);
    write_head(w, plan);
    if (options.shared_surface_curves != 0) {
        write_shared_spatial_section(w, plan);
    } else {
        write_spatial_section(w, plan);
    }
    write_thematic_section(w, plan);
    write_map_sheets(w, plan);
    w.line(0, "</地図>");
    return w.finish() ? kGenOk : kGenWriteFailed;
}

int generate_map_file(const std::string& path, const GenMapOptions& options, GenMapSummary& summary) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return kGenWriteFailed;
    int result = write_generated_map(out, options, summary);
    if (std::fclose(out) != 0) result = kGenWriteFailed;
    if (result != kGenOk) std::remove(path.c_str());
    return result;
}

std::string zip_entry_name(const std::string& zip_path) {
    const std::size_t slash = zip_path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? zip_path : zip_path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos) name.erase(dot);
    return name + ".xml";
}

int generate_map_zip(const std::string& zip_path, const GenMapOptions& options, GenMapSummary& summary) {
    // libzip reads the source file only in zip_close, so the XML never has to fit in memory.
    const std::string temp_path = zip_path + ".genmap-tmp.xml";
    int result = generate_map_file(temp_path, options, summary);
    if (result != kGenOk) return result;

    int error = 0;
    zip_t* archive = zip_open(zip_path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (archive == nullptr) {
        std::remove(temp_path.c_str());
        return kGenZipFailed;
    }
    result = kGenZipFailed;
    zip_source_t* source = zip_source_file(archive, temp_path.c_str(), 0, 0);
    if (source != nullptr) {
        const zip_int64_t index =
            zip_file_add(archive, zip_entry_name(zip_path).c_str(), source, ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(source);
        } else if (zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, 0) == 0) {
            result = kGenOk;
        }
    }
    if (result == kGenOk && zip_close(archive) != 0) result = kGenZipFailed;
    if (result != kGenOk) {
        zip_discard(archive);
        std::remove(zip_path.c_str());
    }
    std::remove(temp_path.c_str());
    return result;
}

}  // namespace chizuvec::genmap
