#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "dataset_builder.hpp"
#include "driver/assembly_report.hpp"
#include "geometry/polygon_assembly.hpp"

namespace chizuvec {
namespace {

using test::add_curve;
using test::add_parcel;
using test::add_point;
using test::add_ring;
using test::add_surface;

constexpr double kMax = 1.7976931348623157e308;
constexpr std::uint32_t kUntouched = 777;

using Entries = LargeArray<std::uint32_t>;

// Points numbered 100 + k and stored in reverse, so a point's array position never equals its
// number: entries must hold positions.
void add_points_reversed(MapDataset& ds, int count) {
    for (int k = count - 1; k >= 0; --k) add_point(ds, static_cast<std::uint32_t>(100 + k), 10.0 * k, -5.0 * k);
}
std::uint32_t position_of(const MapDataset& ds, std::uint32_t point_no) {
    for (std::uint32_t i = 0; i < ds.point_count(); ++i)
        if (ds.points[i].id_no == point_no) return i;
    return 0xFFFFFFFFu;
}

void expect_range(const Parcel& p, std::uint32_t first, std::uint32_t count) {
    EXPECT_TRUE(p.has_outline);
    EXPECT_EQ(p.first_vertex, first);
    EXPECT_EQ(p.vertex_count, count);
}

void expect_initial_bounds(const BoundingBox& b) {
    EXPECT_EQ(b.min_x, kMax);
    EXPECT_EQ(b.max_x, -kMax);
    EXPECT_EQ(b.min_y, kMax);
    EXPECT_EQ(b.max_y, -kMax);
}

// Three parcels over two sheets: surface 1 a triangle, surface 2 a square, surface 3 a triangle.
MapDataset three_parcels() {
    MapDataset ds;
    add_points_reversed(ds, 10);
    add_ring(ds, 1, 1, {100, 101, 102});
    add_ring(ds, 2, 11, {103, 104, 105, 106});
    add_ring(ds, 3, 21, {107, 108, 109});
    add_parcel(ds, 1, 1, "12").first_vertex = kUntouched;
    add_parcel(ds, 2, 2, "12A").first_vertex = kUntouched;
    add_parcel(ds, 3, 3, "12").first_vertex = kUntouched;
    return ds;
}

TEST(PolygonAssembly, NoParcelsReturnsZeroWithInitialBoundsAndNoMessage) {
    MapDataset ds;
    add_points_reversed(ds, 3);
    add_ring(ds, 1, 1, {100, 101, 102});
    BoundingBox b;
    const AssemblyResult r = assemble_outlines(ds, "", b);
    EXPECT_EQ(r.entry_count, 0u);
    expect_initial_bounds(b);
    EXPECT_EQ(assembly_messages_text(r), "");
    EXPECT_TRUE(ds.vertex_index_list.empty());
}

TEST(PolygonAssembly, EmptyMapNumberOutlinesEveryParcelEndToEnd) {
    MapDataset ds = three_parcels();
    ds.vertex_index_list = {9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9};  // stale entries from elsewhere
    BoundingBox b;
    const AssemblyResult r = assemble_outlines(ds, "", b);
    ASSERT_EQ(r.entry_count, 10u);
    EXPECT_EQ(r.drawn_points, 10u);
    EXPECT_EQ(assembly_messages_text(r), "");
    Entries expected;
    for (std::uint32_t no = 100; no < 110; ++no) expected.push_back(position_of(ds, no));
    EXPECT_EQ(ds.vertex_index_list, expected);
    expect_range(ds.parcels[0], 0, 3);
    expect_range(ds.parcels[1], 3, 4);
    expect_range(ds.parcels[2], 7, 3);
    for (const Parcel& p : ds.parcels) EXPECT_TRUE(p.has_outline);
    EXPECT_EQ(b.min_x, 0.0);
    EXPECT_EQ(b.max_x, 90.0);
    EXPECT_EQ(b.min_y, -45.0);
    EXPECT_EQ(b.max_y, 0.0);
}

TEST(PolygonAssembly, MapNumberSelectsByExactBytes) {
    struct Case {
        const char* map_no;
        bool second_listed_by_12;  // a sheet 12 lists the second parcel too, before sheet 12A does
        std::uint32_t result;
        std::vector<bool> outlined;
    };
    const Case cases[] = {
        {"12", false, 6, {true, false, true}},    {"12A", false, 4, {false, true, false}},
        {"012", false, 0, {false, false, false}}, {"1", false, 0, {false, false, false}},
        {"12a", false, 0, {false, false, false}}, {"12", true, 10, {true, true, true}},
        {"12A", true, 4, {false, true, false}},   {"1", true, 0, {false, false, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.map_no);
        MapDataset ds = three_parcels();
        if (c.second_listed_by_12) {
            add_sheet_listing(ds, 0, "12");
            add_sheet_listing(ds, 1, "12");
            add_sheet_listing(ds, 1, "12A");
            add_sheet_listing(ds, 2, "12");
        }
        BoundingBox b;
        const AssemblyResult r = assemble_outlines(ds, c.map_no, b);
        EXPECT_EQ(r.entry_count, c.result);
        EXPECT_EQ(assembly_messages_text(r), "");
        for (std::size_t j = 0; j < 3; ++j) {
            EXPECT_EQ(ds.parcels[j].has_outline, c.outlined[j]) << j;
            EXPECT_EQ(ds.parcels[j].selected, c.outlined[j]) << j;
            if (!c.outlined[j]) {
                EXPECT_EQ(ds.parcels[j].first_vertex, kUntouched) << j;
            }
        }
        if (c.result == 0) expect_initial_bounds(b);
    }
}

TEST(PolygonAssembly, SecondSelectedOutlineFollowsTheFirstAcrossUnselectedParcels) {
    MapDataset ds = three_parcels();
    BoundingBox b;
    ASSERT_EQ(assemble_outlines(ds, "12", b).entry_count, 6u);
    expect_range(ds.parcels[0], 0, 3);
    expect_range(ds.parcels[2], 3, 3);
    EXPECT_EQ(ds.vertex_index_list, (Entries{position_of(ds, 100), position_of(ds, 101), position_of(ds, 102),
                                             position_of(ds, 107), position_of(ds, 108), position_of(ds, 109)}));
    // Only the selected vertices count for the bounds.
    EXPECT_EQ(b.min_x, 0.0);
    EXPECT_EQ(b.max_x, 90.0);
    EXPECT_EQ(b.min_y, -45.0);
    EXPECT_EQ(b.max_y, 0.0);
}

TEST(PolygonAssembly, BrokenContinuityIsReportedAndEveryCurveStillGivesOneVertex) {
    MapDataset ds;
    for (std::uint32_t no = 10; no <= 15; ++no) add_point(ds, no, no, no);
    add_curve(ds, 1, 10, 11);
    add_curve(ds, 2, 12, 13);
    add_curve(ds, 3, 13, 14);  // continues
    add_curve(ds, 4, 14, 10);
    add_curve(ds, 5, 11, 14);  // ends where the previous one ended: not reversed
    add_curve(ds, 6, 11, 15);
    add_surface(ds, 7, {1, 2, 3, 4, 5});
    add_surface(ds, 8, {1, 6});  // an open ring: its end is never checked against its start
    add_parcel(ds, 1, 7);
    add_parcel(ds, 2, 8);
    add_parcel(ds, 3, 7);  // shares the first surface: its messages are not repeated
    BoundingBox b;
    const AssemblyResult r = assemble_outlines(ds, "", b);
    ASSERT_EQ(r.entry_count, 7u);
    EXPECT_EQ(r.status, AssemblyStatus::ok);
    EXPECT_EQ(assembly_messages_text(r), "Illegal polygon 10 11 12 13\nIllegal polygon 14 10 11 14\n");
    EXPECT_EQ(ds.vertex_index_list, (Entries{0, 2, 3, 4, 1, 0, 1}));
    expect_range(ds.parcels[0], 0, 5);
    expect_range(ds.parcels[1], 5, 2);
    expect_range(ds.parcels[2], 0, 5);
}

TEST(PolygonAssembly, StoppingErrorsKeepWhatWasWrittenBefore) {
    struct Case {
        const char* name;
        std::uint32_t bad_shape;  // shape of the failing parcel
        const char* message;
        AssemblyStatus status;
    };
    // The failing parcel sits at position 2, behind an outlined parcel and an unselected one.
    const Case cases[] = {
        {"missing surface", 99, "** Error idref=F99 not found in H5\n", AssemblyStatus::surface_not_found},
        {"number shown as %d", 4294967295u, "** Error idref=F-1 not found in H5\n", AssemblyStatus::surface_not_found},
        {"missing curve", 2, "** Error n_curv i=2\n", AssemblyStatus::curve_not_found},
        {"missing point", 3, "** Error npos\n", AssemblyStatus::point_not_found},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MapDataset ds;
        for (std::uint32_t no = 1; no <= 4; ++no) add_point(ds, no, no * 2.0, no * 3.0);
        add_ring(ds, 1, 1, {1, 2, 3});
        add_curve(ds, 10, 4, 1);
        add_curve(ds, 30, 66, 1);
        add_surface(ds, 2, {10, 55});  // curve 55 does not exist
        add_surface(ds, 3, {30});      // point 66 does not exist
        add_parcel(ds, 1, 1, "A");
        add_parcel(ds, 2, 99, "B");  // unselected: its missing surface is never looked up
        add_parcel(ds, 5, c.bad_shape, "A");
        add_parcel(ds, 6, 1, "A");
        BoundingBox b;
        const AssemblyResult r = assemble_outlines(ds, "A", b);
        EXPECT_EQ(r.entry_count, 0u);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(assembly_messages_text(r), c.message);
        ASSERT_GE(ds.vertex_index_list.size(), 3u);
        EXPECT_EQ((Entries(ds.vertex_index_list.begin(), ds.vertex_index_list.begin() + 3)), (Entries{0, 1, 2}));
        expect_range(ds.parcels[0], 0, 3);
        EXPECT_FALSE(ds.parcels[2].has_outline);
        EXPECT_FALSE(ds.parcels[3].has_outline);
        // Bounds as widened so far (the failing parcel's first vertex, point 4, may be in).
        EXPECT_EQ(b.min_x, 2.0);
        EXPECT_EQ(b.min_y, 3.0);
    }
}

TEST(PolygonAssembly, EmptyOutlinesEndOneBeforeTheirStart) {
    MapDataset ds;
    for (std::uint32_t no = 1; no <= 3; ++no) add_point(ds, no, no, no);
    add_surface(ds, 1, {});
    add_ring(ds, 2, 1, {1, 2, 3});
    add_parcel(ds, 1, 1);
    add_parcel(ds, 2, 2);
    add_parcel(ds, 3, 1);
    BoundingBox b;
    const AssemblyResult r = assemble_outlines(ds, "", b);
    EXPECT_EQ(r.entry_count, 3u);
    EXPECT_EQ(assembly_messages_text(r), "");
    expect_range(ds.parcels[0], 0, 0);
    expect_range(ds.parcels[1], 0, 3);
    expect_range(ds.parcels[2], 0, 0);

    // Only empty outlines: nothing to draw, bounds untouched.
    MapDataset empty;
    add_surface(empty, 1, {});
    add_parcel(empty, 1, 1);
    EXPECT_EQ(assemble_outlines(empty, "", b).entry_count, 0u);
    EXPECT_TRUE(empty.parcels[0].has_outline);
    expect_initial_bounds(b);
}

TEST(PolygonAssembly, ParcelsSharingASurfaceShareItsOneOutline) {
    MapDataset ds;
    add_points_reversed(ds, 4);
    add_ring(ds, 1, 1, {100, 101, 102, 103});
    for (std::uint32_t id = 1; id <= 3; ++id) add_parcel(ds, id, 1);
    BoundingBox b;
    const AssemblyResult r = assemble_outlines(ds, "", b);
    ASSERT_EQ(r.entry_count, 4u);
    EXPECT_EQ(r.drawn_points, 12u);  // each parcel draws the outline
    EXPECT_EQ(ds.vertex_index_list, (Entries{3, 2, 1, 0}));
    for (const Parcel& p : ds.parcels) {
        expect_range(p, 0, 4);
        EXPECT_EQ(parcel_outline(ds, p).size(), 4u);
    }
}

TEST(PolygonAssembly, SingleTriangleInDecreasingXSetsMaxFromItsFirstVertex) {
    MapDataset ds;
    add_point(ds, 1, 30.0, 5.0);
    add_point(ds, 2, 20.0, 7.0);
    add_point(ds, 3, 10.0, 6.0);
    add_ring(ds, 1, 1, {1, 2, 3});
    add_parcel(ds, 1, 1);
    BoundingBox b;
    ASSERT_EQ(assemble_outlines(ds, "", b).entry_count, 3u);
    EXPECT_EQ(b.max_x, 30.0);
    EXPECT_EQ(b.min_x, 10.0);
    EXPECT_EQ(b.min_y, 5.0);
    EXPECT_EQ(b.max_y, 7.0);
}

TEST(PolygonAssembly, DuplicateNumbersResolveToTheFirstRecord) {
    MapDataset ds;
    add_point(ds, 1, 0.0, 0.0);
    add_point(ds, 2, 1.0, 0.0);
    add_point(ds, 1, 50.0, 50.0);  // a second point 1 is never used
    add_point(ds, 3, 1.0, 1.0);
    add_curve(ds, 8, 1, 2);
    add_curve(ds, 9, 2, 3);
    add_curve(ds, 8, 3, 1);  // a second curve 8 is never used
    add_curve(ds, 7, 3, 1);
    add_surface(ds, 4, {8, 9, 7});
    add_surface(ds, 4, {7});  // a second surface 4 is never used
    add_parcel(ds, 1, 4);
    BoundingBox b;
    const AssemblyResult r = assemble_outlines(ds, "", b);
    ASSERT_EQ(r.entry_count, 3u);
    EXPECT_EQ(assembly_messages_text(r), "");
    EXPECT_EQ(ds.vertex_index_list, (Entries{0, 1, 3}));
    EXPECT_EQ(b.max_x, 1.0);
}

}  // namespace
}  // namespace chizuvec
