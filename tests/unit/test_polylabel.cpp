#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "geometry/polylabel.hpp"

namespace chizuvec {
namespace {

struct Shape {
    const char* name;
    std::vector<PlanePoint> points;
    std::vector<std::uint32_t> ring_ends;
};

// The oracle: the distance to the nearest edge, by brute force over every segment, and even-odd
// containment, evaluated on a fine grid.
double distance_inside(const Shape& s, double x, double y) {
    bool inside = false;
    double best = INFINITY;
    std::size_t begin = 0;
    for (std::uint32_t end : s.ring_ends) {
        for (std::size_t i = begin; i < end; ++i) {
            const PlanePoint a = s.points[i], b = s.points[i + 1 < end ? i + 1 : begin];
            if ((a.y > y) != (b.y > y) && x < a.x + (b.x - a.x) * (y - a.y) / (b.y - a.y)) inside = !inside;
            const double dx = b.x - a.x, dy = b.y - a.y;
            const double t = std::clamp(((x - a.x) * dx + (y - a.y) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
            best = std::min(best, std::hypot(x - a.x - t * dx, y - a.y - t * dy));
        }
        begin = end;
    }
    return inside ? best : -best;
}

double grid_best(const Shape& s) {
    double min_x = INFINITY, max_x = -INFINITY, min_y = INFINITY, max_y = -INFINITY;
    for (const PlanePoint& p : s.points) {
        min_x = std::min(min_x, p.x), max_x = std::max(max_x, p.x);
        min_y = std::min(min_y, p.y), max_y = std::max(max_y, p.y);
    }
    double best = 0.0;
    constexpr int kSteps = 400;
    for (int i = 0; i <= kSteps; ++i) {
        for (int j = 0; j <= kSteps; ++j) {
            best = std::max(
                best, distance_inside(s, min_x + (max_x - min_x) * i / kSteps, min_y + (max_y - min_y) * j / kSteps));
        }
    }
    return best;
}

TEST(PoleOfInaccessibility, StandsInsideAtTheFarthestPointFromTheOutline) {
    const std::vector<Shape> shapes = {
        {"square", {{0, 0}, {10, 0}, {10, 10}, {0, 10}}, {4}},
        {"triangle", {{0, 0}, {12, 0}, {0, 9}}, {3}},
        // The centroid of an L lies in its notch.
        {"L", {{0, 0}, {10, 0}, {10, 1}, {1, 1}, {1, 10}, {0, 10}}, {6}},
        // A square ring: the centre is in the hole.
        {"ring", {{0, 0}, {10, 0}, {10, 10}, {0, 10}, {3, 3}, {3, 7}, {7, 7}, {7, 3}}, {4, 8}},
        // A road strip 400 times longer than wide, bent, closed with its first point repeated.
        {"thin strip", {{0, 0}, {200, 0}, {200, 0.5}, {0.5, 0.5}, {0.5, 100}, {0, 100}, {0, 0}}, {7}},
        // Rings of odd and even edge counts, one closed with its first point repeated.
        {"two holes",
         {{0, 0},
          {20, 0},
          {20, 10},
          {0, 10},
          {0, 0},
          {2, 2},
          {2, 8},
          {8, 8},
          {8, 2},
          {2, 2},
          {12, 2},
          {12, 8},
          {18, 5}},
         {5, 10, 13}},
        {"plane coordinates", {{-37445.784, -12128.591}, {-37440.1, -12128.0}, {-37441.0, -12120.3}}, {3}},
    };
    PoleScratch reused;  // one room for every search, as the GIS path keeps it
    for (const Shape& s : shapes) {
        SCOPED_TRACE(s.name);
        const double precision = 0.01;
        const LabelPoint p = pole_of_inaccessibility(s.points, s.ring_ends, precision);
        const LabelPoint again = pole_of_inaccessibility(s.points, s.ring_ends, precision, reused);
        EXPECT_EQ(again.x, p.x);
        EXPECT_EQ(again.y, p.y);
        const double d = distance_inside(s, p.x, p.y);
        EXPECT_GT(d, 0.0);
        EXPECT_NEAR(p.distance, d, 1e-9);
        // The grid's step bounds how far its best point can be from the true best.
        EXPECT_GE(d, grid_best(s) - precision);
    }
}

TEST(PoleOfInaccessibility, DegenerateInputGivesABoundedAnswer) {
    const std::vector<PlanePoint> line = {{0, 0}, {5, 0}, {10, 0}};
    const std::vector<std::uint32_t> one_ring = {3};
    const LabelPoint p = pole_of_inaccessibility(line, one_ring, 0.1);
    EXPECT_DOUBLE_EQ(p.x, 5.0);
    EXPECT_DOUBLE_EQ(p.distance, 0.0);
    // Ring ends past the points are not read.
    const std::vector<std::uint32_t> too_long = {9};
    EXPECT_DOUBLE_EQ(pole_of_inaccessibility(line, too_long, 0.1).distance, 0.0);
    const std::vector<PlanePoint> none;
    EXPECT_DOUBLE_EQ(pole_of_inaccessibility(none, {}, 0.1).distance, 0.0);
}

}  // namespace
}  // namespace chizuvec
