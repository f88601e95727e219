#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "dataset_builder.hpp"
#include "driver/highlights.hpp"
#include "geometry/parcel_measures.hpp"
#include "geometry/polygon_assembly.hpp"

namespace chizuvec {
namespace {

using test::add_parcel;
using test::add_point;
using test::add_ring;
using test::add_surface;

constexpr double kUnwritten = -555.0;

// Outlines as the program builds them, then the measures.
void assemble_and_measure(MapDataset& ds, std::string_view map_no) {
    for (Parcel& p : ds.parcels) p.area = p.centroid_x = p.centroid_y = kUnwritten;
    BoundingBox b;
    assemble_outlines(ds, map_no, b);
    measure_parcels(ds);
}

// A square of side 10 with its corner at (1000, 2000), points 1-4 counter-clockwise in (x, y).
void add_square_points(MapDataset& ds) {
    add_point(ds, 1, 1000.0, 2000.0);
    add_point(ds, 2, 1010.0, 2000.0);
    add_point(ds, 3, 1010.0, 2010.0);
    add_point(ds, 4, 1000.0, 2010.0);
}

TEST(ParcelMeasures, SquareOfSideTenInEitherDirection) {
    MapDataset ds;
    add_square_points(ds);
    add_ring(ds, 1, 1, {1, 2, 3, 4});
    add_ring(ds, 2, 11, {4, 3, 2, 1});
    add_parcel(ds, 1, 1);
    add_parcel(ds, 2, 2);
    add_parcel(ds, 3, 1);  // shares the first outline and its figures
    assemble_and_measure(ds, "");
    for (const Parcel& p : ds.parcels) {
        SCOPED_TRACE(p.id_no);
        EXPECT_NEAR(p.area, 100.0, 1e-6);
        EXPECT_TRUE(p.has_centroid);
        EXPECT_NEAR(p.centroid_x, 1005.0, 1e-6);
        EXPECT_NEAR(p.centroid_y, 2005.0, 1e-6);
    }
}

// A 10 m square (points 1-4) and a second ring of four points; the second ring, a hole, takes its
// area away only when it lies within the outline's box and is no larger: never a negative area.
TEST(ParcelMeasures, HolesTakeTheirAreaOnlyFromWithinTheirOutline) {
    struct Case {
        const char* name;
        double x0, y0, side;  // the second ring's corner and side
        bool interior;        // in an interior boundary
        double area, cx, cy;
    };
    const Case cases[] = {
        // 100 - 4 = 96; the centroid moves away from the hole at (1001..1003, 2001..2003).
        {"hole", 1001.0, 2001.0, 2.0, true, 96.0, (100 * 1005.0 - 4 * 1002.0) / 96, (100 * 2005.0 - 4 * 2002.0) / 96},
        {"hole equal to its outline", 1000.0, 2000.0, 10.0, true, 0.0, 1005.0, 2005.0},
        {"hole larger than its outline", 995.0, 1995.0, 20.0, true, 100.0, 1005.0, 2005.0},
        {"hole outside its outline", 1020.0, 2000.0, 2.0, true, 100.0, 1005.0, 2005.0},
        // A second exterior ring adds its area.
        {"second outline", 1020.0, 2000.0, 2.0, false, 104.0, (100 * 1005.0 + 4 * 1021.0) / 104,
         (100 * 2005.0 + 4 * 2001.0) / 104},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MapDataset ds;
        add_square_points(ds);
        // The second ring runs the other way round, as holes do in the files.
        add_point(ds, 5, c.x0, c.y0);
        add_point(ds, 6, c.x0, c.y0 + c.side);
        add_point(ds, 7, c.x0 + c.side, c.y0 + c.side);
        add_point(ds, 8, c.x0 + c.side, c.y0);
        for (std::uint32_t k = 0; k < 8; ++k) test::add_curve(ds, k + 1, k + 1, k % 4 == 3 ? k - 2 : k + 2);
        test::add_surface_rings(ds, 1, {{1, 2, 3, 4}, {5, 6, 7, 8}});
        ds.rings.back().interior = c.interior;
        add_parcel(ds, 1, 1);
        assemble_and_measure(ds, "");
        const Parcel& p = ds.parcels[0];
        EXPECT_NEAR(p.area, c.area, 1e-9);
        EXPECT_TRUE(p.has_centroid);
        EXPECT_NEAR(p.centroid_x, c.cx, 1e-9);
        EXPECT_NEAR(p.centroid_y, c.cy, 1e-9);
    }
}

TEST(ParcelMeasures, OutlinesWithoutAreaTakeTheMeanOfTheirPoints) {
    struct Case {
        const char* name;
        std::vector<std::uint32_t> points;
        bool has_centroid;
        double cx, cy;
    };
    const Case cases[] = {
        {"no point", {}, false, 0.0, 0.0},
        {"one point", {2}, true, 1010.0, 2000.0},
        {"two points", {1, 3}, true, 1005.0, 2005.0},
        {"collinear", {1, 5, 3}, true, 1005.0, 2005.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MapDataset ds;
        add_square_points(ds);
        add_point(ds, 5, 1005.0, 2005.0);
        // Curve k of the ring starts at the k-th listed point.
        std::vector<std::uint32_t> curve_nos;
        for (std::size_t k = 0; k < c.points.size(); ++k) {
            test::add_curve(ds, static_cast<std::uint32_t>(k + 1), c.points[k], c.points[(k + 1) % c.points.size()]);
            curve_nos.push_back(static_cast<std::uint32_t>(k + 1));
        }
        add_surface(ds, 1, curve_nos);
        add_parcel(ds, 1, 1);
        assemble_and_measure(ds, "");
        const Parcel& p = ds.parcels[0];
        EXPECT_EQ(p.area, 0.0);
        EXPECT_EQ(p.has_centroid, c.has_centroid);
        EXPECT_FALSE(std::isnan(p.centroid_x));
        EXPECT_FALSE(std::isnan(p.centroid_y));
        if (c.has_centroid) {
            EXPECT_NEAR(p.centroid_x, c.cx, 1e-9);
            EXPECT_NEAR(p.centroid_y, c.cy, 1e-9);
        }
    }
}

TEST(ParcelMeasures, EmptyOutlinesLeaveTheCursorForTheNextParcel) {
    MapDataset ds;
    add_square_points(ds);
    add_point(ds, 6, 0.0, 0.0);
    add_point(ds, 7, 6.0, 0.0);
    add_point(ds, 8, 0.0, 4.0);
    add_surface(ds, 9, {});
    add_ring(ds, 1, 1, {1, 2, 3, 4});
    add_ring(ds, 2, 11, {6, 7, 8});
    add_parcel(ds, 1, 9);  // empty before any entry
    add_parcel(ds, 2, 1);
    add_parcel(ds, 3, 9);  // empty after a measured parcel
    add_parcel(ds, 4, 2);
    assemble_and_measure(ds, "");
    EXPECT_EQ(ds.parcels[0].area, 0.0);
    EXPECT_FALSE(ds.parcels[0].has_centroid);
    EXPECT_NEAR(ds.parcels[1].area, 100.0, 1e-6);
    EXPECT_EQ(ds.parcels[2].area, 0.0);
    EXPECT_FALSE(ds.parcels[2].has_centroid);
    EXPECT_NEAR(ds.parcels[3].area, 12.0, 1e-9);
    EXPECT_NEAR(ds.parcels[3].centroid_x, 2.0, 1e-9);
    EXPECT_NEAR(ds.parcels[3].centroid_y, 4.0 / 3.0, 1e-9);
}

TEST(ParcelMeasures, SelectedParcelsAreMeasuredAcrossUnselectedOnes) {
    MapDataset ds;
    add_square_points(ds);
    add_point(ds, 6, 0.0, 0.0);
    add_point(ds, 7, 6.0, 0.0);
    add_point(ds, 8, 0.0, 4.0);
    add_ring(ds, 1, 1, {1, 2, 3, 4});
    add_ring(ds, 2, 11, {6, 7, 8});
    add_parcel(ds, 1, 2, "B");
    add_parcel(ds, 2, 1, "A");
    add_parcel(ds, 3, 1, "B");
    add_parcel(ds, 4, 2, "A");
    assemble_and_measure(ds, "A");
    EXPECT_EQ(ds.parcels[0].area, kUnwritten);
    EXPECT_EQ(ds.parcels[2].area, kUnwritten);
    EXPECT_EQ(ds.parcels[2].centroid_x, kUnwritten);
    EXPECT_NEAR(ds.parcels[1].area, 100.0, 1e-6);
    EXPECT_NEAR(ds.parcels[1].centroid_x, 1005.0, 1e-6);
    EXPECT_NEAR(ds.parcels[3].area, 12.0, 1e-9);
    EXPECT_NEAR(ds.parcels[3].centroid_y, 4.0 / 3.0, 1e-9);
}

TEST(ParcelMeasures, ParcelsAfterAnAssemblyErrorStayUnmeasured) {
    MapDataset ds;
    add_square_points(ds);
    add_ring(ds, 1, 1, {1, 2, 3, 4});
    add_parcel(ds, 1, 1);
    add_parcel(ds, 2, 42);  // no such surface: assembly stops here
    add_parcel(ds, 3, 1);
    assemble_and_measure(ds, "");
    EXPECT_NEAR(ds.parcels[0].area, 100.0, 1e-6);
    EXPECT_TRUE(ds.parcels[0].has_centroid);
    for (std::size_t j = 1; j < 3; ++j) {
        EXPECT_EQ(ds.parcels[j].area, 0.0) << j;
        EXPECT_FALSE(ds.parcels[j].has_centroid) << j;
        EXPECT_EQ(ds.parcels[j].centroid_x, 0.0) << j;
    }
}

TEST(SelectHighlights, MarksParcelsByLotNumberOrAddressAndLotNumber) {
    struct Case {
        const char* name;
        std::vector<std::string> keys;
        std::vector<std::int32_t> hilite;
    };
    const Case cases[] = {
        {"no key clears every flag", {}, {0, 0, 0, 0, 0}},
        {"lot number alone", {"5-2"}, {1, 0, 1, 0, 0}},
        {"address and lot number", {"大字X5-2"}, {1, 0, 0, 0, 0}},
        {"typed forms: a space between, full-width digits and dash", {"大字X\u3000５－２"}, {1, 0, 0, 0, 0}},
        {"address alone is no match", {"大字X"}, {0, 0, 0, 0, 0}},
        {"case matters", {"大字x5-2"}, {0, 0, 0, 0, 0}},
        {"several keys, a later one never clears", {"12", "大字Y5-2", "nothing"}, {0, 1, 1, 1, 0}},
        {"the longest address and lot number", {std::string(158, 'Z')}, {0, 0, 0, 0, 1}},
        {"one byte more", {std::string(159, 'Z')}, {0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MapDataset ds;
        add_parcel(ds, 1, 1, "A1", "5-2", "大字X");
        add_parcel(ds, 2, 2, "A1", "12", "大字X");
        add_parcel(ds, 3, 3, "B7", "5-2", "大字Y");  // outside the selected sheet still counts
        add_parcel(ds, 4, 4, "", "12", "");
        add_parcel(ds, 5, 5, "", std::string(31, 'Z'), std::string(127, 'Z'));
        for (Parcel& p : ds.parcels) p.hilite = 1;
        select_highlights(ds, c.keys);
        for (std::size_t j = 0; j < c.hilite.size(); ++j) EXPECT_EQ(ds.parcels[j].hilite, c.hilite[j]) << j;
    }
}

}  // namespace
}  // namespace chizuvec
