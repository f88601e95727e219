#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <utility>

#include "geometry/plane_projection.hpp"
#include "test_os.hpp"
#include "test_support.hpp"

namespace chizuvec {
namespace {

using test::missing;
using test::Need;

TEST(PlaneProjection, ZoneOfCoordinateSystem) {
    const struct {
        const char* text;
        int zone;
    } rows[] = {
        {"公共座標1系", 1},  {"公共座標9系", 9},  {"公共座標19系", 19}, {"公共座標１０系", 10}, {"公共座標0系", 0},
        {"公共座標20系", 0}, {"公共座標系", 0},   {"公共座標009系", 0}, {"任意座標系", 0},      {"", 0},
        {"公共座標9", 0},    {"公共座標9系 ", 0},
    };
    for (const auto& row : rows) EXPECT_EQ(plane_zone_of(row.text), row.zone) << row.text;
}

TEST(PlaneProjection, PointsBeyondReachAreNotNumbers) {
    const PlaneToGeographic zone9(9);
    EXPECT_FALSE(std::isnan(zone9.convert(-900000.0, 999000.0).latitude));
    for (const auto& [x, y] : {std::pair{0.0, 1.01e6}, {0.0, -1e300}, {1e300, 0.0}, {9.1e6, 0.0}, {-1.4e7, 0.0}}) {
        const GeoPoint g = zone9.convert(x, y);
        EXPECT_TRUE(std::isnan(g.latitude) && std::isnan(g.longitude)) << x << " " << y;
    }
}

// PROJ is the oracle: every zone (EPSG:6669 .. 6687) over a grid that reaches well beyond the
// zone's usual extent, against cs2cs to JGD2011 geographic (EPSG:6668).
TEST(PlaneProjection, MatchesProjInEveryZone) {
    if (const std::string why = missing(Need::kHostTools); !why.empty()) GTEST_SKIP() << why;
    std::string probe;
    if (test::command_output("cs2cs 2>&1", probe) == 127) GTEST_SKIP() << "cs2cs (proj-bin) is not installed";
    constexpr double kTolerance = 1e-11;  // degrees: about a micrometre
    test::TempDir dir;
    std::string points;
    for (int i = -4; i <= 4; ++i) {
        for (int j = -4; j <= 4; ++j) {
            char line[64];
            std::snprintf(line, sizeof line, "%.3f %.3f\n", i * 75000.0 + 123.456, j * 62500.0 - 78.9);
            points += line;
        }
    }
    const std::string input = dir.write("points.txt", points);
    int compared = 0;
    for (int zone = 1; zone <= kPlaneZoneCount; ++zone) {
        std::string output;
        const std::string command =
            "cs2cs -f %.13f EPSG:" + std::to_string(6668 + zone) + " EPSG:6668 < '" + input + "'";
        ASSERT_EQ(test::command_output(command, output), 0) << command;
        const PlaneToGeographic projection(zone);
        std::istringstream in_points(points);
        std::istringstream in_proj(output);
        double x = 0.0, y = 0.0, lat = 0.0, lon = 0.0;
        std::string height;
        while (in_points >> x >> y) {
            ASSERT_TRUE(in_proj >> lat >> lon >> height) << "zone " << zone;
            const GeoPoint g = projection.convert(x, y);
            EXPECT_NEAR(g.latitude, lat, kTolerance) << "zone " << zone << " x " << x << " y " << y;
            EXPECT_NEAR(g.longitude, lon, kTolerance) << "zone " << zone << " x " << x << " y " << y;
            ++compared;
        }
    }
    EXPECT_EQ(compared, 19 * 81);
}

}  // namespace
}  // namespace chizuvec
