// The GeoPackage and FlatGeobuf writers, checked with GDAL's ogrinfo as the reader: what it
// reports of the layer (count, extent, system, fields), the values and shapes of every feature, and
// for FlatGeobuf that a bounding-box query through the spatial index finds the right features.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "gis/feature_writer.hpp"
#include "gis/hilbert_rtree.hpp"
#include "test_os.hpp"
#include "test_support.hpp"

namespace chizuvec {
namespace {

// A feature with its own storage: an id, a lot number, an area and its polygons (each a list of
// rings, each ring a closed list of x, y).
struct TestFeature {
    std::string id;
    std::string lot;
    double area = 0.0;
    std::vector<std::vector<std::vector<double>>> polygons;
};

class FeatureStore {
  public:
    explicit FeatureStore(const TestFeature& f) {
        values_.resize(kParcelFieldCount);
        set("筆ID", f.id);
        set("地番", f.lot);
        set("筆界未定構成筆", R"(["大字\"東\" 1-2","字'西' 3"])");
        values_[20].null = false;
        values_[20].number = f.area;
        values_[19].null = false;  // 縮尺分母, the largest a 32-bit column holds
        values_[19].integer = INT32_MAX;
        for (const auto& polygon : f.polygons) {
            for (const auto& ring : polygon) {
                xy_.insert(xy_.end(), ring.begin(), ring.end());
                ring_ends_.push_back(static_cast<std::uint32_t>(xy_.size() / 2));
            }
            polygon_ends_.push_back(static_cast<std::uint32_t>(ring_ends_.size()));
        }
    }
    GisFeature feature() const { return {values_, xy_, ring_ends_, polygon_ends_}; }

  private:
    void set(std::string_view field, std::string_view text) {
        for (std::size_t i = 0; i < kParcelFieldCount; ++i) {
            if (kParcelFields[i].name == field) values_[i] = {false, texts_[i] = text, 0.0};
        }
    }
    std::string texts_[kParcelFieldCount];
    std::vector<GisValue> values_;
    std::vector<double> xy_;
    std::vector<std::uint32_t> ring_ends_;
    std::vector<std::uint32_t> polygon_ends_;
};

std::vector<double> square(double x, double y, double side, bool clockwise = false) {
    if (clockwise) return {x, y, x, y + side, x + side, y + side, x + side, y, x, y};
    return {x, y, x + side, y, x + side, y + side, x, y + side, x, y};
}

// Four lots around Tokyo: a square, a square with a square hole, a lot without shape (and a lot
// number full of quotes), two squares in one lot.
const std::vector<TestFeature> kGeographic = {
    {"F1", "1-1", 100.25, {{square(139.003, 35.003, 0.001)}}},
    {"F2", "2", 2000.5, {{square(139.01, 35.01, 0.01), square(139.012, 35.012, 0.002, true)}}},
    {"F3", "\"引用\"と'単'の番", 0.0, {}},
    {"F4", "4", 3.0, {{square(139.1, 35.1, 0.001)}, {square(139.2, 35.2, 0.001)}}},
};
// A lot of a map with local coordinates, in metres.
const std::vector<TestFeature> kLocal = {
    {"L1", "7", 100.0, {{square(-1500.0, 2500.0, 10.0)}}},
};

std::unique_ptr<FeatureWriter> make_writer(GisFormat format, const std::string& path) {
    if (format == GisFormat::geoparquet) return make_geoparquet_writer(path);
    return format == GisFormat::geopackage ? make_geopackage_writer(path) : make_flatgeobuf_writer(path);
}

bool write_file(GisFormat format, const std::string& path, GisCoordinates coordinates,
                const std::vector<TestFeature>& features, std::string& error) {
    auto writer = make_writer(format, path);
    bool ok = writer->begin({"parcels", kParcelFields, coordinates});
    for (const TestFeature& f : features) ok = ok && writer->write(FeatureStore(f).feature());
    ok = ok && writer->finish();
    error = writer->error();
    return ok;
}

std::string ogrinfo(const std::string& arguments) {
    std::string out;
    test::command_output("ogrinfo -ro " + arguments + " 2>&1", out);
    return out;
}

// A name and a number, as "G12".
std::string numbered(const char* prefix, int i) {
    std::string name = prefix;
    name += std::to_string(i);
    return name;
}

// The ids of the features an ogrinfo listing shows.
std::set<std::string> listed_ids(const std::string& listing) {
    std::set<std::string> ids;
    const std::string key = "筆ID (String) = ";
    for (std::size_t at = listing.find(key); at != std::string::npos; at = listing.find(key, at + 1)) {
        const std::size_t start = at + key.size();
        ids.insert(listing.substr(start, listing.find('\n', start) - start));
    }
    return ids;
}

TEST(GisWriters, GdalReadsWhatEachFormatWrites) {
    struct Case {
        const char* name;
        GisFormat format;
        GisCoordinates coordinates;
        const std::vector<TestFeature>* features;
        std::vector<std::string> summary;  // in ogrinfo -al -so
        std::vector<std::string> listing;  // in ogrinfo -al
    };
    const std::vector<std::string> fields = {"筆ID: String",      "地図名: String", "筆界未定構成筆: String",
                                             "縮尺分母: Integer", "面積: Real",     "代表点緯度: Real",
                                             "代表点経度: Real"};
    const std::vector<std::string> geographic_summary = {"Geometry: Multi Polygon", "Feature Count: 4",
                                                         "Extent: (139.003000, 35.003000) - (139.201000, 35.201000)",
                                                         "ID[\"EPSG\",6668]"};
    const std::vector<std::string> geographic_values = {
        "面積 (Real) = 100.25",
        "縮尺分母 (Integer) = 2147483647",
        "地番 (String) = \"引用\"と'単'の番",
        "筆界未定構成筆 (String) = [\"大字\\\"東\\\" 1-2\",\"字'西' 3\"]",
        "MULTIPOLYGON (((139.003 35.003,139.004 35.003,139.004 35.004,139.003 35.004,139.003 35.003)))",
        "MULTIPOLYGON (((139.01 35.01,139.02 35.01,139.02 35.02,139.01 35.02,139.01 35.01),"
        "(139.012 35.012,139.012 35.014,139.014 35.014,139.014 35.012,139.012 35.012)))",
        "MULTIPOLYGON (((139.1 35.1,139.101 35.1,139.101 35.101,139.1 35.101,139.1 35.1)),"
        "((139.2 35.2,139.201 35.2,139.201 35.201,139.2 35.201,139.2 35.2)))",
    };
    const std::vector<std::string> local_summary = {
        "Feature Count: 1", "Extent: (-1500.000000, 2500.000000) - (-1490.000000, 2510.000000)"};
    const std::vector<std::string> local_values = {
        "MULTIPOLYGON (((-1500 2500,-1490 2500,-1490 2510,-1500 2510,-1500 2500)))"};
    const Case cases[] = {
        {"geographic.gpkg", GisFormat::geopackage, GisCoordinates::geographic, &kGeographic, geographic_summary,
         geographic_values},
        {"geographic.fgb", GisFormat::flatgeobuf, GisCoordinates::geographic, &kGeographic, geographic_summary,
         geographic_values},
        {"local.gpkg", GisFormat::geopackage, GisCoordinates::local, &kLocal, local_summary, local_values},
        {"local.fgb", GisFormat::flatgeobuf, GisCoordinates::local, &kLocal, local_summary, local_values},
    };
    const test::TempDir dir;
    const bool gdal =
        test::missing(test::Need::kHostTools).empty() && std::system("ogrinfo --version >/dev/null 2>&1") == 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(c.name);
        std::string error;
        ASSERT_TRUE(write_file(c.format, path, c.coordinates, *c.features, error)) << error;
        EXPECT_EQ(error, "");
        if (!gdal) continue;
        const std::string summary = ogrinfo("-al -so " + path);
        for (const std::string& s : c.summary) EXPECT_NE(summary.find(s), std::string::npos) << s << "\n" << summary;
        for (const std::string& s : fields) EXPECT_NE(summary.find(s), std::string::npos) << s << "\n" << summary;
        // Local coordinates name no system at all.
        if (c.coordinates == GisCoordinates::local) {
            EXPECT_EQ(summary.find("EPSG"), std::string::npos) << summary;
        }
        const std::string listing = ogrinfo("-al " + path);
        for (const std::string& s : c.listing) EXPECT_NE(listing.find(s), std::string::npos) << s << "\n" << listing;
        EXPECT_EQ(listing.find("ERROR"), std::string::npos) << listing;
    }
    // Nothing but the outputs: no journal or spool file is left beside them.
    EXPECT_EQ(test::files_in(dir.path),
              (std::set<std::string>{"geographic.gpkg", "geographic.fgb", "local.gpkg", "local.fgb"}));
    if (!gdal) GTEST_SKIP() << "GDAL's ogrinfo is not here to read the files";
}

// Many small lots on a grid, so that both indexes have three levels or more (FlatGeobuf's nodes
// hold 16, GeoPackage's R-tree 51) and the FlatGeobuf's spool keeps its boxes in several blocks on
// disk; ogrinfo's box queries, which go through the index, must find exactly the lots whose squares
// meet the box. The GeoPackage's R-tree is also checked by SQLite itself and queried directly.
TEST(GisWriters, SpatialIndexesFindTheLotsInABox) {
    if (const std::string why = test::missing(test::Need::kHostTools); !why.empty()) GTEST_SKIP() << why;
    if (std::system("ogrinfo --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "GDAL's ogrinfo is not installed";
    constexpr int kSide = 95;
    std::vector<TestFeature> grid;
    for (int i = 0; i < kSide * kSide; ++i) {
        const double x = 139.0 + 0.01 * (i % kSide);
        const double y = 35.0 + 0.01 * (i / kSide);
        grid.push_back({numbered("G", i), std::to_string(i), 1.0, {{square(x, y, 0.005)}}});
    }
    grid.push_back({"N", "none", 0.0, {}});
    const test::TempDir dir;
    struct Box {
        double min_x, min_y, max_x, max_y;
    };
    const Box boxes[] = {{139.0, 35.0, 139.001, 35.001},   {139.052, 35.113, 139.093, 35.137},
                         {139.2901, 35.2901, 139.4, 35.4}, {139.0051, 35.0, 139.0099, 35.3},
                         {139.5351, 35.5351, 139.6, 35.6}, {138.0, 34.0, 140.0, 36.0}};
    for (const GisFormat format : {GisFormat::flatgeobuf, GisFormat::geopackage}) {
        const std::string path = dir.file(format == GisFormat::flatgeobuf ? "grid.fgb" : "grid.gpkg");
        SCOPED_TRACE(path);
        std::string error;
        ASSERT_TRUE(write_file(format, path, GisCoordinates::geographic, grid, error)) << error;
        if (format == GisFormat::geopackage) {
            const std::string check = ogrinfo("-sql \"SELECT rtreecheck('rtree_parcels_geom') AS r\" " + path);
            EXPECT_NE(check.find("r (String) = ok"), std::string::npos) << check;
        }
        for (const Box& b : boxes) {
            std::set<std::string> expected, expected_fids;
            for (int i = 0; i < kSide * kSide; ++i) {
                const double x = 139.0 + 0.01 * (i % kSide);
                const double y = 35.0 + 0.01 * (i / kSide);
                if (x <= b.max_x && x + 0.005 >= b.min_x && y <= b.max_y && y + 0.005 >= b.min_y) {
                    expected.insert(numbered("G", i));
                    expected_fids.insert(std::to_string(i + 1));
                }
            }
            const std::string min_x = std::to_string(b.min_x), min_y = std::to_string(b.min_y),
                              max_x = std::to_string(b.max_x), max_y = std::to_string(b.max_y);
            const std::string spat = min_x + " " + min_y + " " + max_x + " " + max_y;
            EXPECT_EQ(listed_ids(ogrinfo("-al -spat " + spat + " " + path)), expected) << spat;
            if (format != GisFormat::geopackage) continue;
            const std::string listing =
                ogrinfo("-sql \"SELECT CAST(id AS TEXT) AS n FROM rtree_parcels_geom WHERE maxx >= " + min_x +
                        " AND minx <= " + max_x + " AND maxy >= " + min_y + " AND miny <= " + max_y + "\" " + path);
            std::set<std::string> fids;
            const std::string key = "n (String) = ";
            for (std::size_t at = listing.find(key); at != std::string::npos; at = listing.find(key, at + 1)) {
                const std::size_t from = at + key.size();
                fids.insert(listing.substr(from, listing.find('\n', from) - from));
            }
            EXPECT_EQ(fids, expected_fids) << spat;
        }
    }
    // The FlatGeobuf queries went through the index: with the root's box moved away, a query finds
    // nothing, where a reader scanning every feature would still find them all.
    std::string bytes = test::read_file(dir.file("grid.fgb"));
    std::uint32_t header_size = 0;
    for (std::size_t i = 4; i > 0; --i) header_size = header_size << 8 | static_cast<std::uint8_t>(bytes[7 + i]);
    std::fill_n(bytes.begin() + 12 + header_size, 32, '\0');
    const std::string moved = dir.write("moved.fgb", bytes);
    EXPECT_EQ(listed_ids(ogrinfo("-al -spat 139.05 35.05 139.1 35.1 " + moved)), std::set<std::string>{});
    EXPECT_EQ(listed_ids(ogrinfo("-al " + moved)).size(), grid.size());
}

// The Hilbert curve visits every cell of a 2^k square before leaving it, one neighbour at a time.
TEST(GisWriters, HilbertValuesWalkNeighbouringCells) {
    constexpr std::uint32_t kCorner = 64;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> cells(kCorner * kCorner, {~0u, ~0u});
    for (std::uint32_t x = 0; x < kCorner; ++x) {
        for (std::uint32_t y = 0; y < kCorner; ++y) {
            const std::uint32_t d = hilbert_value(x, y);
            ASSERT_LT(d, kCorner * kCorner);
            cells[d] = {x, y};
        }
    }
    for (std::size_t d = 1; d < cells.size(); ++d) {
        const auto [x0, y0] = cells[d - 1];
        const auto [x1, y1] = cells[d];
        EXPECT_EQ((x0 > x1 ? x0 - x1 : x1 - x0) + (y0 > y1 ? y0 - y1 : y1 - y0), 1u) << d;
    }
}

// A full disk: every call after the failure is false, the error says so, nothing is left beside
// the output but the output itself (the caller removes it).
TEST(GisWriters, FullDiskIsAnErrorInPlainWords) {
    if (const std::string why = test::missing(test::Need::kFileSizeLimit); !why.empty()) GTEST_SKIP() << why;
    std::vector<TestFeature> many;
    for (int i = 0; i < 3000; ++i) {
        many.push_back({numbered("M", i), std::to_string(i), 1.0, {{square(139.0 + i * 1e-4, 35.0, 1e-5)}}});
    }
    for (const GisFormat format : {GisFormat::geopackage, GisFormat::flatgeobuf, GisFormat::geoparquet}) {
        const test::TempDir dir;
        const std::string path = dir.file("full");
        const int result = test::run_with_file_size_limit(64 * 1024, [&] {
            std::string error;
            if (write_file(format, path, GisCoordinates::geographic, many, error)) return 1;
            // SQLite names a refused write an I/O error; the spool's writer guesses a full disk.
            return error.find("I/O error") != std::string::npos || error.find("full") != std::string::npos ? 0 : 2;
        });
        EXPECT_EQ(result, 0);
        EXPECT_EQ(test::files_in(dir.path), std::set<std::string>{"full"});
    }
}

}  // namespace
}  // namespace chizuvec
