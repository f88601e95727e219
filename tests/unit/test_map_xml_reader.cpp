#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "common/fixed_text.hpp"
#include "mapxml/map_xml_reader.hpp"
#include "test_support.hpp"

namespace chizuvec {
namespace {

struct Loaded {
    ReadStatus result = ReadStatus::no_memory;
    MapDataset dataset;
    MapHeader header;
};

Loaded load(const std::string& text) {
    test::TempDir dir;
    Loaded loaded;
    loaded.result = read_map_xml(dir.write("map.xml", text), loaded.dataset, loaded.header).status;
    return loaded;
}

const std::string kHead = "<地図名>名</地図名>\n<座標系>公共座標9系</座標系>\n";

std::string point(int id, const std::string& x, const std::string& y) {
    return "<zmn:GM_Point id=\"P" + std::to_string(id) + "\">\n<zmn:X>" + x + "</zmn:X>\n<zmn:Y>" + y +
           "</zmn:Y>\n</zmn:GM_Point>\n";
}

std::string parcel(int id, const std::string& chiban, const std::string& extra = "") {
    return "<筆 id=\"H" + std::to_string(id) + "\">\n<地番>" + chiban + "</地番>\n" + extra + "</筆>\n";
}

std::string thematic(const std::string& body) { return "<主題属性>\n" + body + "</主題属性>\n"; }
std::string spatial(const std::string& body) { return "<空間属性>\n" + body + "</空間属性>\n"; }

std::string chiban(const Parcel& p) { return std::string(field_view(p.chiban)); }
std::string address(const Parcel& p) { return std::string(field_view(p.address)); }
std::string map_no(const Parcel& p) { return std::string(field_view(p.map_no)); }

TEST(MapXmlReader, HeadRules) {
    struct Case {
        const char* what;
        std::string text;
        const char* map_name;
        const char* municipality;
        const char* coord_system;
        std::uint32_t points;
    };
    const std::string pt = spatial(point(1, "1", "2"));
    const Case cases[] = {
        {"all three", "<地図名>A</地図名>\n<市区町村名>B</市区町村名>\n<座標系>C</座標系>\n" + pt, "A", "B", "C", 1},
        {"coordinate system over two lines keeps its line break", "<座標系>\nC</座標系>\n" + pt, "", "", "\nC", 1},
        {"map name without end tag is empty", "<地図名>A\n<座標系>C</座標系>\n", "", "", "C", 0},
        {"sections before the head are skipped", pt + "<座標系>C</座標系>\n", "", "", "C", 0},
        {"names after the head are not read", "<座標系>C</座標系>\n<地図名>A</地図名>\n" + pt, "", "", "C", 1},
        {"no coordinate system: nothing read", "<地図名>A</地図名>\n" + pt, "A", "", "", 0},
    };
    for (const auto& c : cases) {
        const Loaded m = load(c.text);
        EXPECT_EQ(m.result, ReadStatus::ok) << c.what;
        EXPECT_STREQ(m.header.map_name, c.map_name) << c.what;
        EXPECT_STREQ(m.header.municipality_name, c.municipality) << c.what;
        EXPECT_STREQ(m.header.coord_system, c.coord_system) << c.what;
        EXPECT_EQ(m.dataset.point_count(), c.points) << c.what;
    }
}

TEST(MapXmlReader, InputThatCannotBeReadIsNotFound) {
    test::TempDir dir;
    MapDataset dataset;
    MapHeader header;
    EXPECT_EQ(read_map_xml(dir.file("absent.xml"), dataset, header).status, ReadStatus::not_found);
    EXPECT_EQ(read_map_xml(dir.file("absent.ZIP"), dataset, header).status, ReadStatus::not_found);
    EXPECT_EQ(read_map_xml(dir.path.string(), dataset, header).status, ReadStatus::not_found);
}

TEST(MapXmlReader, CurveKeepsFirstAndLastIndirectReference) {
    const std::string curve =
        "<zmn:GM_Curve id=\"C7\">\n"
        "<zmn:GM_PointRef.point idref=\"P9\"/>\n"  // outside a block: ignored
        "<zmn:GM_Position.indirect>\n<zmn:GM_PointRef.point idref=\"P1\"/>\n"
        "<zmn:GM_PointRef.point idref=\"P2\"/>\n</zmn:GM_Position.indirect>\n"
        "<zmn:GM_Position.indirect>\n<zmn:GM_PointRef.point idref=\"P3\"/>\n</zmn:GM_Position.indirect>\n"
        "</zmn:GM_Curve>\n"
        "<zmn:GM_Curve id=\"C8\">\n<zmn:GM_Position.indirect>\n<zmn:GM_PointRef.point idref=\"P4\"/>\n"
        "</zmn:GM_Position.indirect>\n</zmn:GM_Curve>\n";
    const Loaded m = load(kHead + spatial(curve));
    ASSERT_EQ(m.dataset.curve_count(), 2u);
    EXPECT_EQ(m.dataset.curves[0].id_no, 7u);
    EXPECT_EQ(m.dataset.curves[0].start_point_no, 1u);
    EXPECT_EQ(m.dataset.curves[0].end_point_no, 3u);
    EXPECT_EQ(m.dataset.curves[1].start_point_no, 4u);
    EXPECT_EQ(m.dataset.curves[1].end_point_no, 0u);
    EXPECT_EQ(m.dataset.max_curve_no, 8u);
}

// The parcel texts GIS outputs ask for come on top of what the drawing reads, which stays the same.
TEST(MapXmlReader, GisDetailKeepsEveryCurvePointRingAndParcelText) {
    const std::string head =
        "<地図名>名</地図名>\n<市区町村コード>13113</市区町村コード>\n<座標系>公共座標9系</座標系>\n"
        "<測地系判別>測量</測地系判別>\n";
    const std::string curves =
        "<zmn:GM_Curve id=\"C1\">\n"
        "<zmn:GM_OrientablePrimitive.orientation>-</zmn:GM_OrientablePrimitive.orientation>\n"
        "<zmn:GM_Position.indirect>\n<zmn:GM_PointRef.point idref=\"P1\"/>\n</zmn:GM_Position.indirect>\n"
        "<zmn:GM_Position.direct>\n<zmn:X>5.5</zmn:X>\n<zmn:Y>-6.25</zmn:Y>\n</zmn:GM_Position.direct>\n"
        "<zmn:GM_Position.indirect>\n<zmn:GM_PointRef.point idref=\"P2\"/>\n</zmn:GM_Position.indirect>\n"
        "<zmn:GM_Position.indirect>\n<zmn:GM_PointRef.point idref=\"P3\"/>\n</zmn:GM_Position.indirect>\n"
        "</zmn:GM_Curve>\n"
        "<zmn:GM_Curve id=\"C2\">\n"
        "<zmn:GM_OrientablePrimitive.orientation>+</zmn:GM_OrientablePrimitive.orientation>\n"
        "<zmn:GM_Position.indirect>\n<zmn:GM_PointRef.point idref=\"P3\"/>\n</zmn:GM_Position.indirect>\n"
        "</zmn:GM_Curve>\n";
    const std::string surface =
        "<zmn:GM_Surface id=\"F1\">\n<zmn:GM_SurfaceBoundary.exterior>\n<zmn:GM_Ring>\n"
        "<zmn:GM_CompositeCurve.generator idref=\"C1\"/>\n<zmn:GM_CompositeCurve.generator idref=\"C2\"/>\n"
        "</zmn:GM_Ring>\n</zmn:GM_SurfaceBoundary.exterior>\n<zmn:GM_SurfaceBoundary.interior>\n<zmn:GM_Ring>\n"
        "<zmn:GM_CompositeCurve.generator idref=\"C2\"/>\n</zmn:GM_Ring>\n</zmn:GM_SurfaceBoundary.interior>\n"
        "</zmn:GM_Surface>\n";
    const std::string parcels =
        parcel(1, "地区外-1") +
        "<筆 id=\"H0002\">\n<大字コード>049</大字コード>\n<大字名>宇田川町</大字名>\n"
        "<小字名>北</小字名>\n<地番>75-1</地番>\n<筆界未定構成筆>\n<大字コード>049</大字コード>\n"
        "<丁目コード>001</丁目コード>\n<大字名>宇田川町</大字名>\n<小字名>南</小字名>\n"
        "<地番>7\"5</地番>\n</筆界未定構成筆>\n<筆界未定構成筆>\n<地番>76</地番>\n"
        "</筆界未定構成筆>\n<精度区分>甲二</精度区分>\n<形状 idref=\"F1\"/>\n"
        "<座標値種別>図上測量</座標値種別>\n</筆>\n";
    const std::string text = head + spatial(curves + surface) + thematic(parcels);

    test::TempDir dir;
    const std::string path = dir.write("map.xml", text);
    Loaded plain;
    ASSERT_EQ(read_map_xml(path, plain.dataset, plain.header).status, ReadStatus::ok);
    EXPECT_TRUE(plain.dataset.gis.parcels.empty());
    // Every curve point is read for the outlines too; a direct position becomes a point after the
    // file's own, with no number.
    EXPECT_EQ(plain.dataset.gis.curve_points, (LargeArray<std::uint32_t>{1, kDirectPosition, 2, 3, 3}));
    EXPECT_EQ(plain.dataset.point_count(), 0u);
    ASSERT_EQ(plain.dataset.points.size(), 1u);
    EXPECT_EQ(plain.dataset.points[0].x, 5.5);
    EXPECT_EQ(plain.dataset.points[0].y, -6.25);
    Loaded gis;
    ReadOptions options;
    options.gis_detail = true;
    options.keep_outside = true;
    ASSERT_EQ(read_map_xml(path, gis.dataset, gis.header, options).status, ReadStatus::ok);
    const MapDataset& d = gis.dataset;

    // The drawing's view is unchanged, but for the lot outside the district that was asked for.
    ASSERT_EQ(d.curve_count(), plain.dataset.curve_count());
    EXPECT_EQ(d.curves[0].start_point_no, plain.dataset.curves[0].start_point_no);
    EXPECT_EQ(d.curves[0].end_point_no, plain.dataset.curves[0].end_point_no);
    EXPECT_EQ(d.rings.size(), plain.dataset.rings.size());
    EXPECT_EQ(d.ring_curves, plain.dataset.ring_curves);
    EXPECT_EQ(plain.dataset.parcel_count(), 1u);
    ASSERT_EQ(d.parcel_count(), 2u);
    EXPECT_EQ(std::string(field_view(gis.header.municipality_code)), "13113");
    EXPECT_EQ(std::string(field_view(gis.header.geodetic_kind)), "測量");
    EXPECT_EQ(std::string(field_view(plain.header.geodetic_kind)), "");

    ASSERT_EQ(d.gis.curves.size(), 2u);
    EXPECT_TRUE(d.gis.curves[0].reversed);
    EXPECT_FALSE(d.gis.curves[1].reversed);
    ASSERT_EQ(d.gis.curves[0].count, 4u);
    const std::uint32_t* refs = &d.gis.curve_points[d.gis.curves[0].first];
    EXPECT_EQ(refs[0], 1u);
    EXPECT_EQ(refs[1], kDirectPosition | 0u);
    EXPECT_EQ(refs[2], 2u);
    EXPECT_EQ(refs[3], 3u);
    ASSERT_EQ(d.gis.direct_positions.size(), 1u);
    EXPECT_EQ(d.gis.direct_positions[0].x, 5.5);
    EXPECT_EQ(d.gis.direct_positions[0].y, -6.25);

    ASSERT_EQ(d.surfaces.size(), 1u);
    ASSERT_EQ(d.surfaces[0].ring_count, 2u);
    const RingRun& exterior = d.rings[d.surfaces[0].first_ring];
    const RingRun& hole = d.rings[d.surfaces[0].first_ring + 1];
    EXPECT_FALSE(exterior.interior);
    EXPECT_EQ(exterior.count, 2u);
    EXPECT_TRUE(hole.interior);
    EXPECT_EQ(hole.first_ref, 2u);

    ASSERT_EQ(d.gis.parcels.size(), 2u);
    EXPECT_EQ(d.gis.parcels[0].text(ParcelText::chiban), "地区外-1");
    const ParcelDetail& p = d.gis.parcels[1];
    EXPECT_EQ(p.text(ParcelText::parcel_id), "H0002");
    EXPECT_EQ(p.text(ParcelText::oaza_code), "049");
    EXPECT_FALSE(p.has(ParcelText::chome_code));
    EXPECT_EQ(p.text(ParcelText::oaza), "宇田川町");  // not the undetermined parcel's
    EXPECT_EQ(p.text(ParcelText::koaza), "北");
    EXPECT_FALSE(p.has(ParcelText::chome));
    EXPECT_EQ(p.text(ParcelText::chiban), "75-1");
    EXPECT_EQ(p.text(ParcelText::undetermined),
              "[{\"大字コード\":\"049\",\"丁目コード\":\"001\",\"小字コード\":null,\"予備コード\":null,"
              "\"大字名\":\"宇田川町\",\"丁目名\":null,\"小字名\":\"南\",\"予備名\":null,\"地番\":\"7\\\"5\"},"
              "{\"大字コード\":null,\"丁目コード\":null,\"小字コード\":null,\"予備コード\":null,\"大字名\":null,"
              "\"丁目名\":null,\"小字名\":null,\"予備名\":null,\"地番\":\"76\"}]");
    EXPECT_EQ(p.text(ParcelText::accuracy), "甲二");
    EXPECT_EQ(p.text(ParcelText::position_kind), "図上測量");
    EXPECT_EQ(address(d.parcels[1]), "宇田川町北");
}

// A parcel takes the texts of the first sheet that lists it; a date cut short by the sheet's end,
// or out of range, gives no date and never takes the next sheet's lines.
TEST(MapXmlReader, SheetTextsOfTheFirstSheetThatListsAParcel) {
    const std::string sheets =
        "<図郭>\n<地図番号>S1</地図番号>\n<筆参照 idref=\"H1\"/>\n<地図種類>法務局作成地図</地図種類>\n"
        "<地図作成年月日>\n<年>2009</年>\n<月>3</月>\n</図郭>\n"
        "<図郭>\n<地図番号>S2</地図番号>\n<地図材質>P-F</地図材質>\n<筆参照 idref=\"H1\"/>\n<筆参照 idref=\"H2\"/>\n"
        "<地図作成年月日>\n<年>1996</年>\n<月>13</月>\n<日>2</日>\n</地図作成年月日>\n</図郭>\n"
        "<図郭>\n<地図番号>S3</地図番号>\n<筆参照 idref=\"H3\"/>\n"
        "<地図作成年月日>\n<年>2021</年>\n<月>1</月>\n<日>5</日>\n</地図作成年月日>\n</図郭>\n";
    const std::string text = kHead + thematic(parcel(1, "1") + parcel(2, "2") + parcel(3, "3")) + sheets;
    test::TempDir dir;
    Loaded m;
    ReadOptions options;
    options.gis_detail = true;
    ASSERT_EQ(read_map_xml(dir.write("map.xml", text), m.dataset, m.header, options).status, ReadStatus::ok);
    const MapDataset& d = m.dataset;
    ASSERT_EQ(d.gis.sheets.size(), 3u);
    ASSERT_EQ(d.gis.parcels.size(), 3u);
    EXPECT_EQ(d.gis.parcels[0].first_sheet, 0u);
    EXPECT_EQ(d.gis.parcels[1].first_sheet, 1u);
    EXPECT_EQ(d.gis.parcels[2].first_sheet, 2u);
    EXPECT_EQ(map_no(d.parcels[1]), "S2");
    EXPECT_EQ(d.gis.sheets[0].text(SheetText::kind), "法務局作成地図");
    EXPECT_FALSE(d.gis.sheets[0].has(SheetText::made_on));
    EXPECT_FALSE(d.gis.sheets[0].has(SheetText::material));
    EXPECT_EQ(d.gis.sheets[1].text(SheetText::material), "P-F");
    EXPECT_EQ(d.gis.sheets[1].text(SheetText::made_on), "1996");
    EXPECT_EQ(d.gis.sheets[2].text(SheetText::made_on), "2021-01-05");
}

TEST(MapXmlReader, SurfaceKeepsEveryRing) {
    auto ring = [](std::initializer_list<int> curves) {
        std::string s = "<zmn:GM_Ring>\n";
        for (int c : curves) s += "<zmn:GM_CompositeCurve.generator idref=\"C" + std::to_string(c) + "\"/>\n";
        return s + "</zmn:GM_Ring>\n";
    };
    const std::string surfaces = "<zmn:GM_Surface id=\"F2\">\n" + ring({1, 2, 3, 4}) +
                                 "<zmn:GM_SurfaceBoundary.interior>\n" + ring({5, 6, 7}) +
                                 "</zmn:GM_SurfaceBoundary.interior>\n"
                                 "</zmn:GM_Surface>\n<zmn:GM_Surface id=\"F3\">\n</zmn:GM_Surface>\n";
    const Loaded m = load(kHead + spatial(surfaces));
    ASSERT_EQ(m.dataset.surface_count(), 2u);
    EXPECT_EQ(m.dataset.ring_curves, (LargeArray<std::uint32_t>{1, 2, 3, 4, 5, 6, 7}));
    ASSERT_EQ(m.dataset.surfaces[0].ring_count, 2u);
    const RingRun& outline = m.dataset.rings[m.dataset.surfaces[0].first_ring];
    const RingRun& hole = m.dataset.rings[m.dataset.surfaces[0].first_ring + 1];
    EXPECT_EQ(outline.first_ref, 0u);
    EXPECT_EQ(outline.count, 4u);
    EXPECT_FALSE(outline.interior);
    EXPECT_EQ(hole.first_ref, 4u);
    EXPECT_EQ(hole.count, 3u);
    EXPECT_TRUE(hole.interior);
    EXPECT_EQ(m.dataset.surfaces[1].ring_count, 0u);  // no ring
    EXPECT_EQ(m.dataset.max_ring_curves, 4u);
    EXPECT_EQ(m.dataset.max_surface_no, 3u);
}

TEST(MapXmlReader, PointIsStoredByItsYLine) {
    const std::string points =
        point(1, " 1.5", "-2.25e1") +
        "<zmn:GM_Point id=\"P2\">\n<zmn:X>5</zmn:X><zmn:Y>6</zmn:Y>\n</zmn:GM_Point>\n"          // one line: stored too
        "<zmn:GM_Point id=\"P3\">\n<zmn:Y>7</zmn:Y>\n<zmn:Y>8</zmn:Y>\n</zmn:GM_Point>\n"        // x carried, Y twice
        "<zmn:GM_Point id=\"P4\">\n<zmn:X>9.5\n</zmn:X>\n<zmn:Y>10</zmn:Y>\n</zmn:GM_Point>\n";  // end tag apart
    const Loaded m = load(kHead + spatial(points));
    struct Expected {
        std::uint32_t id_no;
        double x, y;
    };
    const Expected expected[] = {{1, 1.5, -22.5}, {2, 5, 6}, {3, 5, 7}, {3, 5, 8}, {4, 9.5, 10}};
    ASSERT_EQ(m.dataset.point_count(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(m.dataset.points[i].id_no, expected[i].id_no) << i;
        EXPECT_DOUBLE_EQ(m.dataset.points[i].x, expected[i].x) << i;
        EXPECT_DOUBLE_EQ(m.dataset.points[i].y, expected[i].y) << i;
    }
    EXPECT_EQ(m.dataset.max_point_no, 4u);
}

TEST(MapXmlReader, ParcelsKeptAndDropped) {
    const std::string parcels =
        parcel(5, "地区外-1") +                          // dropped, but counts for the maximum
        parcel(0, "0番", "<大字名>X</大字名>\n") +       // number 0: not stored
        "<筆 id=\"Hxx\">\n<地番>none</地番>\n</筆>\n" +  // no digit: not stored
        parcel(2, "2番",
               "<大字名>大</大字名>\n<丁目名>丁</丁目名>\n<小字名>小</小字名>\n<予備名>予</予備名>\n"
               "<形状 idref=\"F000000012\"/>\n") +
        parcel(3, "3番",
               "<大字名>旧</大字名>\n<丁目名>丁</丁目名>\n<大字名>新</大字名>\n<地番>no end tag\n"
               "<筆界未定構成筆>\n<地番>99</地番>\n<大字名>内</大字名>\n</筆界未定構成筆>\n") +
        parcel(4, "地区外");
    const Loaded m = load(kHead + thematic(parcels));
    ASSERT_EQ(m.dataset.parcel_count(), 2u);
    const Parcel& p2 = m.dataset.parcels[0];
    EXPECT_EQ(p2.id_no, 2u);
    EXPECT_EQ(chiban(p2), "2番");
    EXPECT_EQ(address(p2), "大丁小予");
    EXPECT_EQ(p2.shape_no, 12u);
    const Parcel& p3 = m.dataset.parcels[1];
    EXPECT_EQ(p3.id_no, 3u);
    EXPECT_EQ(chiban(p3), "3番");
    EXPECT_EQ(address(p3), "新");
    EXPECT_EQ(p3.shape_no, 0u);
    EXPECT_EQ(m.dataset.max_parcel_no, 5u);
}

TEST(MapXmlReader, LongTextsAreCutAtACharacterBoundary) {
    std::string long_chiban;
    for (int i = 0; i < 11; ++i) long_chiban += "番";  // 33 bytes for a 31-byte field
    std::string long_oaza;
    for (int i = 0; i < 43; ++i) long_oaza += "字";  // 129 bytes for a 127-byte field
    const Loaded m =
        load(kHead + thematic(parcel(1, long_chiban, "<大字名>" + long_oaza + "</大字名>\n<丁目名>丁</丁目名>\n")));
    ASSERT_EQ(m.dataset.parcel_count(), 1u);
    EXPECT_EQ(chiban(m.dataset.parcels[0]), long_chiban.substr(0, 30));
    EXPECT_EQ(address(m.dataset.parcels[0]), long_oaza.substr(0, 126));
}

TEST(MapXmlReader, MapSheetsGiveTheirNumbers) {
    const std::string early_sheet = "<図郭>\n<地図番号>E</地図番号>\n<筆参照 idref=\"H4\"/>\n</図郭>\n";
    const std::string parcels = parcel(1, "1") + parcel(9, "地区外") + parcel(2, "2") + parcel(3, "3") +
                                parcel(4, "4") + parcel(1, "1 again") + parcel(5, "5") + parcel(6, "6");
    const std::string sheets =
        "<図郭>\n<地図番号>M1</地図番号>\n<筆参照 idref=\"H1\"/>\n"
        "<筆参照 idref=\"H9\"/>\n<筆参照 idref=\"H77\"/>\n</図郭>\n"  // 9 was dropped: its slot is parcel 2's
        "<図郭>\n<筆参照 idref=\"H3\"/>\n</図郭>\n"                   // no number of its own: carries M1
        "<図郭>\n<地図番号>M3</地図番号>\n<筆参照 idref=\"H4\" />\n<筆参照 idref=\"H5\"/>\n</図郭>\n"
        "<図郭>\n<地図番号>M4\n<筆参照 idref=\"H6\"/>\n</図郭>\n";
    const Loaded m = load(kHead + early_sheet + thematic(parcels) + sheets);
    ASSERT_EQ(m.dataset.parcel_count(), 7u);
    // A blank before "/>" is XML's own: H4 and H5 take M3; M4 never closes and ends its sheet.
    const std::vector<std::string> expected = {"M1", "", "M1", "M3", "", "M3", ""};
    std::vector<std::string> got;
    for (const auto& p : m.dataset.parcels) got.push_back(map_no(p));
    EXPECT_EQ(got, expected);  // parcels 1, 2, 3, 4, 1 again, 5, 6
}

// Curves and surfaces are recorded at their start tag, so input that ends inside one still counts it.
TEST(MapXmlReader, InputEndingInsideAnElement) {
    const Loaded curve = load(kHead +
                              "<空間属性>\n<zmn:GM_Curve id=\"C4\">\n<zmn:GM_Position.indirect>\n"
                              "<zmn:GM_PointRef.point idref=\"P2\"/>\n");
    ASSERT_EQ(curve.dataset.curve_count(), 1u);
    EXPECT_EQ(curve.dataset.curves[0].start_point_no, 2u);

    const Loaded surface = load(kHead +
                                "<空間属性>\n<zmn:GM_Surface id=\"F4\">\n<zmn:GM_Ring>\n"
                                "<zmn:GM_CompositeCurve.generator idref=\"C1\"/>\n"
                                "<zmn:GM_CompositeCurve.generator idref=\"C2\"/>\n");
    ASSERT_EQ(surface.dataset.surface_count(), 1u);
    ASSERT_EQ(surface.dataset.surfaces[0].ring_count, 1u);
    EXPECT_EQ(surface.dataset.rings[0].first_ref, 0u);
    EXPECT_EQ(surface.dataset.rings[0].count, 2u);
    EXPECT_EQ(surface.dataset.max_ring_curves, 2u);

    const Loaded parcel_cut = load(kHead + "<主題属性>\n<筆 id=\"H3\">\n<地番>3</地番>\n");
    ASSERT_EQ(parcel_cut.dataset.parcel_count(), 1u);
    EXPECT_EQ(chiban(parcel_cut.dataset.parcels[0]), "3");

    const Loaded point_cut = load(kHead + "<空間属性>\n<zmn:GM_Point id=\"P8\">\n<zmn:X>1</zmn:X>\n");
    EXPECT_EQ(point_cut.dataset.point_count(), 0u);
    EXPECT_EQ(point_cut.dataset.max_point_no, 8u);
}

TEST(MapXmlReader, SectionsRepeatInAnyOrder) {
    const std::string text = kHead + thematic(parcel(1, "1")) +
                             "<図郭>\n<地図番号>A</地図番号>\n<筆参照 idref=\"H1\"/>\n</図郭>\n" +
                             spatial(point(1, "1", "1")) + thematic(parcel(2, "2")) + spatial(point(2, "2", "2"));
    const Loaded m = load(text);
    ASSERT_EQ(m.dataset.parcel_count(), 2u);
    EXPECT_EQ(map_no(m.dataset.parcels[0]), "A");
    ASSERT_EQ(m.dataset.point_count(), 2u);
    EXPECT_EQ(m.dataset.points[1].id_no, 2u);
}

TEST(MapXmlReader, ArraysGrowAndKeepDocumentOrder) {
    std::string body;
    for (int i = 1; i <= 1500; ++i) body += point(i, std::to_string(i), "0");
    for (int i = 1; i <= 5200; ++i) body += "<zmn:GM_Curve id=\"C" + std::to_string(i) + "\">\n</zmn:GM_Curve>\n";
    for (int i = 1; i <= 700; ++i) {
        body += "<zmn:GM_Surface id=\"F" + std::to_string(i) + "\">\n<zmn:GM_Ring>\n";
        for (int k = 0; k < 8; ++k) body += "<zmn:GM_CompositeCurve.generator idref=\"C" + std::to_string(i) + "\"/>\n";
        body += "</zmn:GM_Ring>\n</zmn:GM_Surface>\n";
    }
    std::string parcels;
    for (int i = 1; i <= 650; ++i) parcels += parcel(i, std::to_string(i));
    const Loaded m = load(kHead + spatial(body) + thematic(parcels));
    ASSERT_EQ(m.result, ReadStatus::ok);
    ASSERT_EQ(m.dataset.point_count(), 1500u);
    ASSERT_EQ(m.dataset.curve_count(), 5200u);
    ASSERT_EQ(m.dataset.surface_count(), 700u);
    ASSERT_EQ(m.dataset.ring_curve_count(), 5600u);
    ASSERT_EQ(m.dataset.parcel_count(), 650u);
    for (std::uint32_t i = 0; i < 1500; ++i) ASSERT_EQ(m.dataset.points[i].x, i + 1.0);
    for (std::uint32_t i = 0; i < 5200; ++i) ASSERT_EQ(m.dataset.curves[i].id_no, i + 1);
    for (std::uint32_t i = 0; i < 700; ++i) {
        ASSERT_EQ(m.dataset.rings[m.dataset.surfaces[i].first_ring].first_ref, 8 * i);
        ASSERT_EQ(m.dataset.ring_curves[8 * i + 7], i + 1);
    }
    for (std::uint32_t i = 0; i < 650; ++i) ASSERT_EQ(m.dataset.parcels[i].id_no, i + 1);
}

// Every prefix of a small complete map file is read without harm, and never yields more than the
// whole file does.
TEST(MapXmlReader, EveryPrefixOfAFileIsRead) {
    const std::string full =
        "<?xml version=\"1.0\"?>\r\n<地図>\r\n<地図名>T</地図名>\r\n<!-- a\r\ncomment -->\r\n" + kHead +
        spatial(point(1, "1", "2") + point(2, "3", "4") +
                "<zmn:GM_Curve id=\"C1\">\n<zmn:GM_Position.indirect>\n<zmn:GM_PointRef.point idref=\"P1\"/>\n"
                "<zmn:GM_PointRef.point idref=\"P2\"/>\n</zmn:GM_Position.indirect>\n</zmn:GM_Curve>\n"
                "<zmn:GM_Surface id=\"F1\">\n<zmn:GM_Ring>\n<zmn:GM_CompositeCurve.generator idref=\"C1\"/>\n"
                "</zmn:GM_Ring>\n</zmn:GM_Surface>\n") +
        thematic(
            "<基準点>\n<名称>K1</名称>\n<形状 idref=\"P1\"/>\n<基準点種別>節点</基準点種別>\n</基準点>\n"
            "<筆界点>\n<点番名>101</点番名>\n<形状 idref=\"P2\"/>\n</筆界点>\n" +
            parcel(1, "1", "<大字名>字</大字名>\n<形状 idref=\"F1\"/>\n<筆界未定構成筆>\n</筆界未定構成筆>\n")) +
        "<図郭>\n<地図番号>A</地図番号>\n<筆参照 idref=\"H1\"/>\n</図郭>\n</地図>\n";
    const Loaded whole = load(full);
    ASSERT_EQ(whole.dataset.parcel_count(), 1u);
    ASSERT_EQ(map_no(whole.dataset.parcels[0]), "A");
    test::TempDir dir;
    for (std::size_t n = 0; n <= full.size(); ++n) {
        MapDataset dataset;
        MapHeader header;
        // With the named points read and without, by turns.
        ReadOptions options;
        options.survey_points = n % 2 == 1 || n == full.size();
        const ReadResult read = read_map_xml(dir.write("prefix.xml", full.substr(0, n)), dataset, header, options);
        ASSERT_LE(dataset.boundary_points.size(), options.survey_points ? 1u : 0u) << n;
        ASSERT_LE(dataset.control_points.size(), options.survey_points ? 1u : 0u) << n;
        if (n == full.size()) {
            ASSERT_EQ(dataset.boundary_points.size(), 1u);
            EXPECT_EQ(dataset.boundary_points[0].point_no, 2u);
            EXPECT_EQ(field_view(dataset.boundary_points[0].name), "101");
            ASSERT_EQ(dataset.control_points.size(), 1u);
            EXPECT_EQ(dataset.control_points[0].point_no, 1u);
            EXPECT_EQ(field_view(dataset.control_points[0].name), "K1");
            EXPECT_EQ(field_view(dataset.control_points[0].kind), "節点");
        }
        // Before the root element only nothing is known; after it, only the whole file is complete.
        const std::size_t root = full.find("<地図>");
        ASSERT_EQ(read.status, n < root + 8 ? ReadStatus::not_map_xml : ReadStatus::ok) << n;
        ASSERT_EQ(read.cut_off, n >= root + 8 && n < full.size() - 1) << n;
        ASSERT_LE(dataset.point_count(), whole.dataset.point_count()) << n;
        ASSERT_LE(dataset.curve_count(), whole.dataset.curve_count()) << n;
        ASSERT_LE(dataset.surface_count(), whole.dataset.surface_count()) << n;
        ASSERT_LE(dataset.parcel_count(), whole.dataset.parcel_count()) << n;
    }
}

// Counts of the real files made the simple way: whole file in memory, literal occurrences, and the
// largest digit run after each id literal.
struct SimpleCount {
    std::uint32_t occurrences = 0;
    std::uint32_t max_no = 0;
};

SimpleCount count_ids(const std::string& text, const std::string& literal) {
    SimpleCount count;
    for (std::size_t pos = text.find(literal); pos != std::string::npos; pos = text.find(literal, pos + 1)) {
        ++count.occurrences;
        std::size_t i = pos + literal.size();
        while (i < text.size() && (text[i] < '0' || text[i] > '9')) ++i;
        std::uint32_t value = 0;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
            value = value * 10 + static_cast<std::uint32_t>(text[i] - '0');
        count.max_no = std::max(count.max_no, value);
    }
    return count;
}

class RealMapFile : public ::testing::TestWithParam<const char*> {};

TEST_P(RealMapFile, StatisticsMatchASimpleCount) {
    const std::string path = test::shared_data(GetParam());
    if (path.empty()) GTEST_SKIP() << "shared map data not present";
    const std::string text = test::read_file(path);
    MapDataset dataset;
    MapHeader header;
    ReadOptions options;
    options.survey_points = true;
    ASSERT_EQ(read_map_xml(path, dataset, header, options).status, ReadStatus::ok);
    EXPECT_EQ(dataset.boundary_points.size(), count_ids(text, "<筆界点>").occurrences);
    EXPECT_EQ(dataset.control_points.size(), count_ids(text, "<基準点>").occurrences);

    const SimpleCount points = count_ids(text, "<zmn:GM_Point id=\"");
    const SimpleCount curves = count_ids(text, "<zmn:GM_Curve id=\"");
    const SimpleCount surfaces = count_ids(text, "<zmn:GM_Surface id=\"");
    const SimpleCount parcels = count_ids(text, "<筆 id=\"");
    const SimpleCount outside = count_ids(text, "<地番>地区外");
    const SimpleCount refs = count_ids(text, "<zmn:GM_CompositeCurve.generator idref=\"");
    EXPECT_EQ(dataset.point_count(), points.occurrences);
    EXPECT_EQ(dataset.max_point_no, points.max_no);
    EXPECT_EQ(dataset.curve_count(), curves.occurrences);
    EXPECT_EQ(dataset.max_curve_no, curves.max_no);
    EXPECT_EQ(dataset.surface_count(), surfaces.occurrences);
    EXPECT_EQ(dataset.max_surface_no, surfaces.max_no);
    EXPECT_EQ(dataset.ring_curve_count(), refs.occurrences);
    EXPECT_EQ(dataset.parcel_count(), parcels.occurrences - outside.occurrences);
    EXPECT_EQ(dataset.max_parcel_no, parcels.max_no);

    const std::size_t cs = text.find("<座標系>") + std::string("<座標系>").size();
    EXPECT_EQ(std::string(header.coord_system), text.substr(cs, text.find("</座標系>") - cs));
    // Every sheet, with the scale and the upper right corner its text gives.
    ASSERT_EQ(dataset.sheets.size(), count_ids(text, "<図郭>").occurrences);
    std::size_t at = 0;
    for (const MapSheet& sheet : dataset.sheets) {
        at = text.find("<図郭>", at) + 1;
        const auto value = [&](const std::string& open, std::size_t from) {
            const std::size_t b = text.find(open, from) + open.size();
            return text.substr(b, text.find('<', b) - b);
        };
        EXPECT_EQ(std::to_string(sheet.scale_denominator), value("<縮尺分母>", at));
        EXPECT_FALSE(sheet.orientation_unknown);
        ASSERT_TRUE(sheet.has_frame);
        const std::size_t corner = text.find("<右上座標>", at);
        EXPECT_EQ(sheet.corner_x[3], std::stod(value("<zmn:X>", corner)));
        EXPECT_EQ(sheet.corner_y[3], std::stod(value("<zmn:Y>", corner)));
    }
    // Every kept parcel that a map sheet lists has a map number.
    for (const auto& p : dataset.parcels) {
        const bool listed = text.find("<筆参照 idref=\"H" + std::string(9 - std::to_string(p.id_no).size(), '0') +
                                      std::to_string(p.id_no) + "\"/>") != std::string::npos;
        EXPECT_EQ(listed, map_no(p) != "") << p.id_no;
    }
}

// The archive is read in place: nothing is written beside it.
TEST(MapXmlReader, ArchiveReadsLikeItsEntryAndLeavesNoTemporaryFile) {
    const std::string xml_path = test::shared_data("46505-3411-1.xml");
    const std::string zip_path = test::shared_data("46505-3411-1.zip");
    if (xml_path.empty() || zip_path.empty()) GTEST_SKIP() << "shared map data not present";
    MapDataset plain;
    MapHeader plain_header;
    ASSERT_EQ(read_map_xml(xml_path, plain, plain_header).status, ReadStatus::ok);

    test::TempDir dir;
    const std::string bytes = test::read_file(zip_path);
    const std::string upper = dir.write("46505-3411-1.ZIP", bytes);
    const std::string renamed = dir.write("renamed.zip", bytes);
    MapDataset dataset;
    MapHeader header;
    ASSERT_EQ(read_map_xml(upper, dataset, header).status, ReadStatus::ok);
    EXPECT_EQ(dataset.point_count(), plain.point_count());
    EXPECT_EQ(dataset.ring_curves, plain.ring_curves);
    ASSERT_EQ(dataset.parcel_count(), plain.parcel_count());
    for (std::size_t i = 0; i < plain.parcels.size(); ++i) {
        EXPECT_EQ(chiban(dataset.parcels[i]), chiban(plain.parcels[i]));
        EXPECT_EQ(map_no(dataset.parcels[i]), map_no(plain.parcels[i]));
    }
    EXPECT_STREQ(header.coord_system, plain_header.coord_system);

    MapDataset missing;
    MapHeader missing_header;
    EXPECT_EQ(read_map_xml(renamed, missing, missing_header).status, ReadStatus::not_found);  // no renamed.xml inside

    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"46505-3411-1.ZIP", "renamed.zip"}));
}

INSTANTIATE_TEST_SUITE_P(SharedData, RealMapFile, ::testing::Values("12103-0400-76.xml", "46505-3411-1.xml"));

}  // namespace
}  // namespace chizuvec
