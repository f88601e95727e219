// GeoParquet read back by two readers that share no code with the writer, DuckDB and hyparquet
// (check_geoparquet.mjs), against the GeoJSON of the same features: the real map files through the
// program, and made-up features through the writers with small row groups, so that several groups,
// nulls, holes, several polygons and null shapes are all seen.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "gis/feature_writer.hpp"
#include "test_os.hpp"
#include "test_support.hpp"

namespace chizuvec {
namespace {

using test::command_output;
using test::run_process;
using test::TempDir;

// The columns the readers must find typed INTEGER, as the field table types them; the rest of the
// types follow from the GeoJSON values.
std::string integer_columns() {
    std::string names;
    for (const GisField& field : kParcelFields) {
        if (field.type != GisFieldType::integer) continue;
        if (!names.empty()) names += ',';
        names += field.name;
    }
    return names;
}

std::string check(const std::string& parquet, const std::string& geojson, std::size_t rows_per_group,
                  const char* coordinates) {
    std::string output;
    const int code =
        command_output("node '" CHIZUVEC_ORACLE_DIR "/check_geoparquet.mjs' '" + parquet + "' '" + geojson + "' " +
                           std::to_string(rows_per_group) + " " + coordinates + " '" + integer_columns() + "' 2>&1",
                       output);
    return code == 0 ? std::string() : "exit code " + std::to_string(code) + ":\n" + output;
}

TEST(GeoParquetOracle, RealMapFilesAsTheGeoJsonHasThem) {
    TempDir dir;
    const std::vector<std::string> inputs = {test::shared_data("12103-0400-76.xml"),
                                             test::shared_data("13113-0110-44.xml"),
                                             test::shared_data("46505-3411-1.xml")};
    for (const char* name : {"out.parquet", "out.geojson"}) {
        std::vector<std::string> args = {"--gis", dir.file(name), "--include-outside"};
        args.insert(args.end(), inputs.begin(), inputs.end());
        ASSERT_EQ(run_process(CHIZUVEC_BINARY, args, dir.path.string(), {}, dir.file("stdout"), dir.file("stderr")), 0)
            << test::read_file(dir.file("stderr"));
    }
    EXPECT_EQ(check(dir.file("out.parquet"), dir.file("out.geojson"), 100000, "geographic"), "");
}

// A folder split by prefecture, and by municipality, read by DuckDB as one Hive-partitioned dataset:
// the rows of the single GeoJSON output of the same inputs.
TEST(GeoParquetOracle, SplitFolderReadsAsTheSingleOutput) {
    TempDir dir;
    const std::vector<std::string> inputs = {test::shared_data("12103-0400-76.xml"),
                                             test::shared_data("13113-0110-44.xml"),
                                             test::shared_data("46505-3411-1.xml")};
    const std::vector<std::vector<std::string>> runs = {
        {"--gis", dir.file("out.geojson")},
        {"--gis", dir.file("by-prefecture"), "--split", "prefecture", "--format", "parquet"},
        {"--gis", dir.file("by-municipality"), "--split", "municipality", "--format", "parquet"},
    };
    for (std::vector<std::string> args : runs) {
        args.push_back("--include-outside");
        args.insert(args.end(), inputs.begin(), inputs.end());
        ASSERT_EQ(run_process(CHIZUVEC_BINARY, args, dir.path.string(), {}, dir.file("stdout"), dir.file("stderr")), 0)
            << test::read_file(dir.file("stderr"));
    }
    for (const char* folder : {"by-prefecture", "by-municipality"}) {
        SCOPED_TRACE(folder);
        std::string output;
        const int code = command_output("node '" CHIZUVEC_ORACLE_DIR "/check_split.mjs' '" + dir.file(folder) + "' '" +
                                            dir.file("out.geojson") + "' 2>&1",
                                        output);
        EXPECT_EQ(code, 0) << output;
        EXPECT_NE(output.find("in 3 partitions"), std::string::npos) << output;
    }
}

// Feature k of a grid: a square, every third with a square hole, every fifth with a second square,
// every seventh without shape; texts null in turn, one text repeated in every row.
struct MadeFeature {
    std::vector<std::string> texts;
    std::vector<GisValue> values;
    std::vector<double> xy;
    std::vector<std::uint32_t> ring_ends;
    std::vector<std::uint32_t> polygon_ends;

    MadeFeature(std::size_t k, double origin_x, double origin_y, double cell) : texts(kParcelFieldCount) {
        values.resize(kParcelFieldCount);
        for (std::size_t i = 0; i < kParcelFieldCount; ++i) {
            GisValue& v = values[i];
            if (kParcelFields[i].type != GisFieldType::text) {
                v.null = (k + i) % 4 == 0;
                v.number = static_cast<double>(k) * 1.25 + static_cast<double>(i) / 3.0;
                // Negative and beyond 16 bits, so that a narrow or unsigned column shows.
                v.integer = static_cast<std::int32_t>(k * 70001) - 1000000;
                continue;
            }
            const std::string_view name = kParcelFields[i].name;
            if (name == "筆ID") {
                texts[i].append("H").append(std::to_string(k));
            } else if (name == "座標系") {
                texts[i] = "公共座標9系";
            } else if ((k + i) % 3 != 0) {
                texts[i].append(name).append(" ").append(std::to_string(k % 5)).append(" \"引用\"");
            }
            v.null = texts[i].empty();
            v.text = texts[i];
        }
        if (k % 7 == 3) return;
        // Cells along rows, so the Hilbert order differs from the input order.
        const double x = origin_x + static_cast<double>(k % 10) * cell;
        const double y = origin_y + static_cast<double>(k / 10) * cell;
        add_ring(x, y, cell * 0.8, false);
        if (k % 3 == 0) add_ring(x + cell * 0.2, y + cell * 0.2, cell * 0.3, true);
        polygon_ends.push_back(static_cast<std::uint32_t>(ring_ends.size()));
        if (k % 5 == 0) {
            add_ring(x + cell * 0.85, y + cell * 0.85, cell * 0.1, false);
            polygon_ends.push_back(static_cast<std::uint32_t>(ring_ends.size()));
        }
    }
    void add_ring(double x, double y, double side, bool clockwise) {
        const double a[5][2] = {{x, y}, {x + side, y}, {x + side, y + side}, {x, y + side}, {x, y}};
        for (int p = 0; p < 5; ++p) {
            const int q = clockwise ? 4 - p : p;
            xy.push_back(a[q][0]);
            xy.push_back(a[q][1]);
        }
        ring_ends.push_back(static_cast<std::uint32_t>(xy.size() / 2));
    }
    GisFeature feature() const { return {values, xy, ring_ends, polygon_ends}; }
};

TEST(GeoParquetOracle, MadeFeaturesInSmallRowGroups) {
    struct Case {
        GisCoordinates coordinates;
        std::size_t features;
        std::size_t rows_per_group;
        double origin_x, origin_y, cell;
        const char* name;
    };
    const Case cases[] = {
        {GisCoordinates::geographic, 83, 10, 139.7, 35.6, 0.0001, "geographic"},
        {GisCoordinates::local, 20, 7, -1500.0, 2500.0, 10.0, "local"},
        {GisCoordinates::geographic, 1, 100000, 139.7, 35.6, 0.0001, "geographic"},
        // Past the spool's blocks of boxes on disk, so the order is read back from them.
        {GisCoordinates::geographic, 20000, 4096, 139.7, 35.6, 0.0001, "geographic"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.features));
        TempDir dir;
        const auto parquet = make_geoparquet_writer(dir.file("out.parquet"), c.rows_per_group);
        const auto geojson = make_geojson_writer(dir.file("out.geojson"));
        GisSchema schema;
        schema.fields = kParcelFields;
        schema.coordinates = c.coordinates;
        ASSERT_TRUE(parquet->begin(schema) && geojson->begin(schema)) << parquet->error() << geojson->error();
        for (std::size_t k = 0; k < c.features; ++k) {
            const MadeFeature made(k, c.origin_x, c.origin_y, c.cell);
            ASSERT_TRUE(parquet->write(made.feature()) && geojson->write(made.feature()))
                << parquet->error() << geojson->error();
        }
        ASSERT_TRUE(parquet->finish() && geojson->finish()) << parquet->error() << geojson->error();
        EXPECT_EQ(check(dir.file("out.parquet"), dir.file("out.geojson"), c.rows_per_group, c.name), "");
    }
}

}  // namespace
}  // namespace chizuvec
