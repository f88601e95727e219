#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <map>
#include <vector>

#include "common/fixed_text.hpp"
#include "driver/map_output.hpp"
#include "geometry/parcel_measures.hpp"
#include "mapxml/map_xml_reader.hpp"
#include "render/page_builder.hpp"
#include "render/parcel_style.hpp"
#include "render/svg_layout.hpp"
#include "render/svg_writer.hpp"
#include "test_os.hpp"
#include "test_support.hpp"

namespace chizuvec {
namespace {

RenderSettings layout_settings(std::uint32_t option, std::uint32_t length, std::uint32_t mx, std::uint32_t my,
                               std::uint32_t dpi = 72) {
    RenderSettings s;
    s.svg_viewbox_side_option = option;
    s.svg_viewbox_length = length;
    s.svg_viewbox_marginx = mx;
    s.svg_viewbox_marginy = my;
    s.svg_dpi = dpi;
    return s;
}

BoundingBox box(double extent_x, double extent_y) {
    return BoundingBox{1000.0, 1000.0 + extent_x, -50.0, -50.0 + extent_y};
}

TEST(SvgLayout, SidesScalesAndPageSizes) {
    struct Case {
        const char* what;
        std::uint32_t option, length, mx, my, dpi;
        double extent_x, extent_y;
        double scale;
        std::int32_t width, height;
        std::uint32_t page_width, page_height;
    };
    const Case cases[] = {
        {"worked example", 3, 2000, 40, 40, 96, 240, 480, 4.0, 2000, 1040, 1500, 780},
        {"option 0 fixes the height", 0, 1000, 50, 50, 72, 100, 200, 9.0, 1900, 1000, 1900, 1000},
        {"option 1 fixes the width", 1, 1000, 50, 50, 72, 100, 200, 4.5, 1000, 550, 1000, 550},
        {"option 2 fixes the height", 2, 1000, 50, 50, 72, 100, 200, 9.0, 1900, 1000, 1900, 1000},
        {"option 3 on a wide map: width", 3, 1000, 50, 50, 72, 100, 200, 4.5, 1000, 550, 1000, 550},
        {"option 3 on a tall map: height", 3, 1000, 50, 50, 72, 200, 100, 4.5, 550, 1000, 550, 1000},
        {"option 4 on a wide map: height", 4, 1000, 50, 50, 72, 100, 200, 9.0, 1900, 1000, 1900, 1000},
        {"option 4 on a tall map: width", 4, 1000, 50, 50, 72, 200, 100, 9.0, 1000, 1900, 1000, 1900},
        {"option 5 fixes the height", 5, 1000, 50, 50, 72, 100, 200, 9.0, 1900, 1000, 1900, 1000},
        {"option 3 on a square map: width", 3, 1000, 50, 20, 72, 100, 100, 9.0, 1000, 940, 1000, 940},
        {"option 4 on a square map: width", 4, 1000, 50, 20, 72, 100, 100, 9.0, 1000, 940, 1000, 940},
        {"margins differ per side", 1, 1000, 100, 7, 72, 100, 200, 4.0, 1000, 414, 1000, 414},
        {"truncated, not rounded", 1, 1000, 0, 0, 72, 2, 3, 1000.0 / 3.0, 1000, 666, 1000, 666},
        {"dpi 96 drops remainders", 1, 1001, 0, 0, 96, 10, 1001, 1.0, 1001, 10, 750, 7},
        {"dpi 144 halves", 1, 1001, 0, 0, 144, 10, 1001, 1.0, 1001, 10, 500, 5},
        {"no extent on the fixed side: the other side", 2, 1000, 50, 50, 72, 0, 200, 4.5, 1000, 100, 1000, 100},
        {"no extent at all: scale 1", 2, 1000, 50, 60, 72, 0, 0, 1.0, 100, 1000, 100, 1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const SvgLayout layout =
            compute_layout(box(c.extent_x, c.extent_y), layout_settings(c.option, c.length, c.mx, c.my, c.dpi));
        EXPECT_DOUBLE_EQ(layout.scale, c.scale);
        EXPECT_EQ(layout.viewbox_width, c.width);
        EXPECT_EQ(layout.viewbox_height, c.height);
        EXPECT_EQ(layout.page_width, c.page_width);
        EXPECT_EQ(layout.page_height, c.page_height);
    }
}

TEST(SvgLayout, UnboundedExtentsStayFinite) {
    const double inf = std::numeric_limits<double>::infinity();
    const BoundingBox boxes[] = {
        {0.0, 100.0, 0.0, inf},    {-inf, inf, 0.0, 10.0},     {0.0, std::nan(""), 0.0, std::nan("")},
        {0.0, 1e-300, 0.0, 1e300}, {0.0, 1e-320, 0.0, 1e-320},
    };
    for (const BoundingBox& b : boxes) {
        for (std::uint32_t option = 0; option <= 4; ++option) {
            const SvgLayout layout = compute_layout(b, layout_settings(option, 1000, 10, 10));
            EXPECT_TRUE(std::isfinite(layout.scale));
            EXPECT_GE(layout.viewbox_width, 0);
            EXPECT_GE(layout.viewbox_height, 0);
        }
    }
}

TEST(SvgLayout, DrawingCoordinatesTruncateTowardZeroAndSaturate) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(drawing_coordinate(2.99, 1.0, 10), 12);
    EXPECT_EQ(drawing_coordinate(-2.99, 1.0, 10), 8);
    EXPECT_EQ(drawing_coordinate(std::nan(""), 4.0, 10), 10);
    EXPECT_EQ(drawing_coordinate(inf, 4.0, 10), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(drawing_coordinate(-inf, 4.0, 10), std::numeric_limits<std::int32_t>::min() + 10);
    EXPECT_EQ(drawing_coordinate(3e9, 1.0, 4000000000u), std::numeric_limits<std::int32_t>::max());
}

TEST(SvgLayout, InvalidSettingsAreNamed) {
    struct Case {
        std::uint32_t option, length, mx, my, dpi;
        std::string_view key;
    };
    const Case cases[] = {
        {3, 2000, 40, 40, 0, "svg_dpi"},
        {3, 0, 0, 0, 96, "svg_viewbox_length"},
        {3, 2000, 40, 40, 96, ""},
        {1, 80, 40, 1000, 96, "svg_viewbox_marginx"},
        {1, 81, 40, 1000, 96, ""},
        {2, 80, 1000, 40, 96, "svg_viewbox_marginy"},
        {0, 81, 1000, 40, 96, ""},
        {7, 100, 0, 50, 96, "svg_viewbox_marginy"},
        {3, 100, 10, 50, 96, "svg_viewbox_marginy"},
        {4, 100, 50, 10, 96, "svg_viewbox_marginx"},
        {4, 100, 49, 49, 96, ""},
        {2, 4000000000u, 0, 2100000000u, 96, "svg_viewbox_marginy"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "option " << c.option << " L " << c.length << " mx " << c.mx << " my "
                                        << c.my);
        EXPECT_EQ(find_invalid_layout_setting(layout_settings(c.option, c.length, c.mx, c.my, c.dpi)), c.key);
    }
}

TEST(PolygonClass, HighlightThenPrefixesInOrder) {
    RenderSettings s;
    copy_text(s.svg_chiban_sp1, "1");
    copy_text(s.svg_chiban_sp2, "12");
    copy_text(s.svg_chiban_sp3, "別図");
    struct Case {
        const char* chiban;
        std::int32_t hilite;
        std::string_view cls;
    };
    const Case cases[] = {
        {"1", 0, "p1"},     {"12", 0, "p1"}, {"1-5", 0, "p1"}, {"2", 0, "p0"},     {"", 0, "p0"},
        {"別図3", 0, "p3"}, {"別", 0, "p0"}, {"1", 1, "ph"},   {"別図3", 2, "ph"}, {"21", 0, "p0"},
    };
    for (const Case& c : cases) {
        Parcel p;
        copy_text(p.chiban, c.chiban);
        p.hilite = c.hilite;
        EXPECT_EQ(polygon_class(p, s), c.cls) << c.chiban << " hilite " << c.hilite;
    }
    // An empty first prefix takes every parcel that is not highlighted.
    copy_text(s.svg_chiban_sp1, "");
    for (const char* chiban : {"2", "12", "別図3", ""}) {
        Parcel p;
        copy_text(p.chiban, chiban);
        EXPECT_EQ(polygon_class(p, s), "p1") << chiban;
    }
}

// Two squares and a triangle on a 200 m by 100 m map, drawn at 1 unit per metre.
struct SmallMap {
    MapDataset dataset;
    MapHeader header;
    BoundingBox bounds{1000.0, 1100.0, 0.0, 200.0};
    RenderSettings settings;

    SmallMap() {
        const double xy[][2] = {{1100, 0}, {1100, 100}, {1100, 200}, {1000, 0}, {1000, 100}, {1000, 200}, {5000, -900}};
        for (const auto& p : xy) dataset.points.push_back(MapPoint{0, p[0], p[1]});
        dataset.vertex_index_list = {0, 1, 4, 3, 1, 2, 5, 4, 0, 2, 5};
        add("1", 0, 4, 10000.0, 1050.0, 50.0, 0);
        add("道2", 4, 4, 10000.0, 1050.0, 150.0, 0);
        add("3", 8, 0, 0.0, 0.0, 0.0, 0).has_centroid = false;  // empty outline
        add("4", 8, 3, 5000.0, 1066.6666666666667, 133.33333333333334, 1);

        copy_text(header.municipality_name, "町");
        copy_text(header.map_name, "図");
        copy_text(header.coord_system, "公共座標9系");

        settings = layout_settings(1, 240, 20, 10);
        settings.svg_boundary_line_width = 1;
        copy_text(settings.svg_boundary_line_color, "#000");
        copy_text(settings.svg_fill_color_viewbox, "#eee");
        copy_text(settings.svg_chiban_sp1, "別図");
        copy_text(settings.svg_chiban_sp2, "道");
        copy_text(settings.svg_chiban_sp3, "水");
        copy_text(settings.svg_fill_color_common, "#c0");
        copy_text(settings.svg_fill_color_sp1, "#c1");
        copy_text(settings.svg_fill_color_sp2, "#c2");
        copy_text(settings.svg_fill_color_sp3, "#c3");
        copy_text(settings.svg_fill_color_hilite, "#ch");
        settings.svg_area_gt_c1 = 6000;
        settings.svg_area_gt_c2 = 5000;
        copy_text(settings.svg_font_c, "F");
        settings.svg_font_size_c1 = 16;
        settings.svg_font_size_c2 = 10;
        copy_text(settings.svg_font_title, "T");
        settings.svg_font_size_title = 8;  // the title fits the page at this size
        copy_text(settings.svg_font_source, "S");
        settings.svg_font_size_source = 14;
    }

    Parcel& add(const char* chiban, std::uint32_t first_vertex, std::uint32_t vertex_count, double area, double cx,
                double cy, std::int32_t hilite) {
        Parcel p;
        copy_text(p.chiban, chiban);
        p.first_vertex = first_vertex;
        p.vertex_count = vertex_count;
        if (vertex_count != 0) {
            p.first_ring = static_cast<std::uint32_t>(dataset.outline_rings.size());
            p.ring_count = 1;
            dataset.outline_rings.push_back(OutlineRing{vertex_count, false});
        }
        p.selected = true;
        p.has_outline = true;
        p.has_centroid = true;
        p.area = area;
        p.centroid_x = cx;
        p.centroid_y = cy;
        p.hilite = hilite;
        dataset.parcels.push_back(p);
        return dataset.parcels.back();
    }
};

constexpr std::string_view kSmallMapSvg =
    "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"240pt\" height=\"120pt\" viewBox=\"0,0,240,120\">\r\n"
    "<rect width=\"240\" height=\"120\" fill=\"#eee\" stroke=\"none\"/>\r\n"
    "<style><![CDATA[polygon.p0 {fill:#c0;stroke:#000;stroke-width:1;}]]></style>\r\n"
    "<style><![CDATA[polygon.p1 {fill:#c1;stroke:#000;stroke-width:1;}]]></style>\r\n"
    "<style><![CDATA[polygon.p2 {fill:#c2;stroke:#000;stroke-width:1;}]]></style>\r\n"
    "<style><![CDATA[polygon.p3 {fill:#c3;stroke:#000;stroke-width:1;}]]></style>\r\n"
    "<style><![CDATA[polygon.ph {fill:#ch;stroke:#000;stroke-width:1;}]]></style>\r\n"
    "<polygon class=\"p0\" points=\"20,10 120,10 120,110 20,110\"/>\r\n"
    "<polygon class=\"p2\" points=\"120,10 220,10 220,110 120,110\"/>\r\n"
    "<polygon class=\"ph\" points=\"20,10 220,10 220,110\"/>\r\n"
    "<style><![CDATA[text.c1 {text-anchor:middle;font-family:\"F\",sans-serif;font-style:normal;font-size:16px;}]]>"
    "</style>\r\n"
    "<style><![CDATA[text.c2 {text-anchor:middle;font-family:\"F\",sans-serif;font-style:normal;font-size:10px;}]]>"
    "</style>\r\n"
    "<text class=\"c1\" x=\"70\" y=\"60\">1</text>\r\n"
    "<text class=\"c2\" x=\"153\" y=\"43\">4</text>\r\n"
    "<text x=\"20\" y=\"8\" text-anchor=\"start\" font-family=\"T,sans-serif\" font-size=\"8\">"
    "【町】　〔図〕　&quot;a&amp;b.xml&quot;　＜公共座標9系＞</text>\r\n"
    "<text x=\"220\" y=\"117\" text-anchor=\"end\" font-family=\"S,sans-serif\" font-size=\"14\"></text>\r\n"
    "<path d=\"M20,106v+10h100v-10\" stroke=\"#000000\" stroke-width=\"4\" fill=\"none\"/>\r\n"
    "<text x=\"70\" y=\"106\" text-anchor=\"middle\" font-family=\"Arial,sans-serif\" font-size=\"10\">100 m</text>\r\n"
    "</svg>\r\n";

bool xml_well_formed(const std::string& path) {
    if (std::system("command -v xmllint >/dev/null 2>&1") != 0) return true;  // nothing to check with
    return std::system(("xmllint --noout '" + path + "' 2>/dev/null").c_str()) == 0;
}

TEST(WriteSvg, WholeSvgDocument) {
    test::TempDir dir;
    SmallMap map;
    const std::string out = dir.file("map.svg");
    ASSERT_EQ(write_map_output(out, "/data/in/a&b.xml", "", map.header, map.bounds, map.settings, map.dataset).status,
              WriteStatus::ok);
    EXPECT_EQ(test::read_file(out), "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n" + std::string(kSmallMapSvg));
    EXPECT_TRUE(xml_well_formed(out));
}

TEST(WriteSvg, WholeHtmlPage) {
    test::TempDir dir;
    SmallMap map;
    const std::string out = dir.file("map.htm");
    ASSERT_EQ(write_map_output(out, "a&b.xml", "", map.header, map.bounds, map.settings, map.dataset).status,
              WriteStatus::ok);
    EXPECT_EQ(test::read_file(out),
              "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
              "<html xmlns=\"http://www.w3.org/1999/xhtml\">\r\n<head>\r\n"
              "<!-- <meta content=\"text/html; charset=utf-8\" http-equiv=\"Content-Type\" /> -->\r\n"
              "<title>図</title>\r\n"
              // The window shows the whole drawing; paper gets its printed size.
              "<style>html,body{margin:0;padding:0;width:100%;height:100%;overflow:hidden}"
              "svg{display:block;width:100%;height:100%}@media print{html,body{width:auto;height:auto;"
              "overflow:visible}svg{width:240pt;height:120pt}@page{margin:0;size:240pt 120pt}}</style>\r\n"
              "</head>\r\n<body>\r\n" +
                  std::string(kSmallMapSvg) + "</body>\r\n</html>\r\n");
    EXPECT_TRUE(xml_well_formed(out));
}

TEST(WriteSvg, EmptyAndUnassembledOutlinesDrawNothing) {
    test::TempDir dir;
    SmallMap map;
    // An empty outline; a parcel assembly never reached has none.
    Parcel empty_first;
    copy_text(empty_first.chiban, "1");
    empty_first.vertex_count = 0;
    empty_first.has_outline = true;
    empty_first.area = 1e9;
    Parcel unassembled = empty_first;
    unassembled.has_outline = false;
    unassembled.has_centroid = true;
    unassembled.vertex_count = 3;
    map.dataset.parcels.insert(map.dataset.parcels.begin(), empty_first);
    map.dataset.parcels.insert(map.dataset.parcels.begin() + 2, unassembled);
    const std::string out = dir.file("map.svg");
    ASSERT_EQ(write_map_output(out, "/data/in/a&b.xml", "", map.header, map.bounds, map.settings, map.dataset).status,
              WriteStatus::ok);
    EXPECT_EQ(test::read_file(out), "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n" + std::string(kSmallMapSvg));
}

TEST(WriteSvg, MapNumberDrawsTheParcelsAssemblyOutlined) {
    test::TempDir dir;
    SmallMap map;
    // Assembly for map 12 lays out only the second and fourth outlines.
    map.dataset.vertex_index_list = {1, 2, 5, 4, 0, 2, 5};
    for (const std::size_t j : {std::size_t{0}, std::size_t{2}})
        map.dataset.parcels[j].selected = map.dataset.parcels[j].has_outline = false;
    map.dataset.parcels[1].first_vertex = 0;
    map.dataset.parcels[3].first_vertex = 4;
    const std::string out = dir.file("map.svg");
    ASSERT_EQ(write_map_output(out, "a.xml", "12", map.header, map.bounds, map.settings, map.dataset).status,
              WriteStatus::ok);
    const std::string doc = test::read_file(out);
    EXPECT_NE(doc.find("<polygon class=\"p2\" points=\"120,10 220,10 220,110 120,110\"/>\r\n"
                       "<polygon class=\"ph\" points=\"20,10 220,10 220,110\"/>\r\n<style>"),
              std::string::npos);
    EXPECT_EQ(doc.find("class=\"p0\" points"), std::string::npos);
    EXPECT_EQ(doc.find("class=\"c1\" x"), std::string::npos);
    EXPECT_NE(doc.find("&quot;a.xml&quot;　（12）　＜"), std::string::npos);
}

TEST(WriteSvg, NonFiniteCoordinatesNeverReachTheDocument) {
    test::TempDir dir;
    SmallMap map;
    const double inf = std::numeric_limits<double>::infinity();
    map.dataset.points[0].x = inf;
    map.dataset.points[1].y = -inf;
    map.dataset.parcels[3].centroid_x = std::nan("");
    map.dataset.parcels[3].area = std::nan("");
    const std::string out = dir.file("map.svg");
    ASSERT_EQ(write_map_output(out, "a.xml", "", map.header, map.bounds, map.settings, map.dataset).status,
              WriteStatus::ok);
    const std::string doc = test::read_file(out);
    EXPECT_EQ(doc.find("nan"), std::string::npos);
    EXPECT_EQ(doc.find("inf"), std::string::npos);
    // The highlighted parcel keeps its label; a NaN position lands on the margin.
    EXPECT_NE(doc.find("<text class=\"c2\" x=\"153\" y=\"10\">4</text>"), std::string::npos);
    // With a NaN centroid but an outline of finite points, it stands at the pole of inaccessibility:
    // the centre of the triangle's inscribed circle, (181.8, 48.2), within a quarter of the label size.
    map.dataset.points[0].x = 1100;
    map.dataset.points[1].y = 100;
    ASSERT_EQ(write_map_output(out, "a.xml", "", map.header, map.bounds, map.settings, map.dataset).status,
              WriteStatus::ok);
    const std::string again = test::read_file(out);
    const std::size_t at = again.find("<text class=\"c2\" x=\"");
    ASSERT_NE(at, std::string::npos);
    int x = 0, y = 0;
    ASSERT_EQ(std::sscanf(again.c_str() + at, "<text class=\"c2\" x=\"%d\" y=\"%d\"", &x, &y), 2);
    EXPECT_NEAR(x, 181.8, 3.5);
    EXPECT_NEAR(y, 48.2, 3.5);
    EXPECT_TRUE(xml_well_formed(out));
}

TEST(WriteSvg, ExtensionChoosesTheDocumentOrRefuses) {
    test::TempDir dir;
    struct Case {
        const char* name;
        WriteStatus result;
        bool html;
    };
    const Case cases[] = {
        {"a.svg", WriteStatus::ok, false},
        {"b.SVG", WriteStatus::ok, false},
        {"c.htm", WriteStatus::ok, true},
        {"d.HTML", WriteStatus::ok, true},
        {"e.htmx", WriteStatus::ok, true},
        {"f.x.Svg", WriteStatus::ok, false},
        {"g.svgz", WriteStatus::unsupported_type, false},
        {"h.png", WriteStatus::unsupported_type, false},
        {"i", WriteStatus::unsupported_type, false},
        {"j.ht", WriteStatus::unsupported_type, false},
        {"k.svg.png", WriteStatus::unsupported_type, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SmallMap map;
        const std::string out = dir.file(c.name);
        EXPECT_EQ(write_map_output(out, "a.xml", "", map.header, map.bounds, map.settings, map.dataset).status,
                  c.result);
        if (c.result != WriteStatus::ok) {
            EXPECT_FALSE(std::filesystem::exists(out));
            continue;
        }
        EXPECT_EQ(test::read_file(out).find("<html xmlns") != std::string::npos, c.html);
    }
    // The extension belongs to the last path component only.
    std::filesystem::create_directory(dir.path / "dir.svg");
    SmallMap map;
    EXPECT_EQ(
        write_map_output(dir.file("dir.svg/plain"), "a.xml", "", map.header, map.bounds, map.settings, map.dataset)
            .status,
        WriteStatus::unsupported_type);
    EXPECT_FALSE(std::filesystem::exists(dir.path / "dir.svg" / "plain"));
}

TEST(WriteSvg, FailuresReportMinusTwo) {
    test::TempDir dir;
    SmallMap map;
    EXPECT_EQ(
        write_map_output(dir.file("missing/map.svg"), "a.xml", "", map.header, map.bounds, map.settings, map.dataset)
            .status,
        WriteStatus::failed);
    if (std::filesystem::exists("/dev/full")) {
        // A full device behind a drawing name: the failure is reported and the device left alone.
        const std::string full = dir.file("full.svg");
        std::filesystem::create_symlink("/dev/full", full);
        EXPECT_EQ(write_map_output(full, "a.xml", "", map.header, map.bounds, map.settings, map.dataset).status,
                  WriteStatus::failed);
        EXPECT_TRUE(std::filesystem::is_symlink(full));
        EXPECT_TRUE(std::filesystem::exists("/dev/full"));
    }
}

TEST(WriteSvg, IncompleteFileIsRemoved) {
    // A file size limit makes the writes fail part way, as a full disk does; done in a child so the
    // limit stays there.
    if (const std::string why = test::missing(test::Need::kFileSizeLimit); !why.empty()) GTEST_SKIP() << why;
    test::TempDir dir;
    const std::string out = dir.file("map.svg");
    const auto write_under_limit = [&] {
        SmallMap map;
        const WriteStatus result =
            write_map_output(out, "a.xml", "", map.header, map.bounds, map.settings, map.dataset).status;
        return result == WriteStatus::failed ? 0 : 1;
    };
    EXPECT_EQ(test::run_with_file_size_limit(100, write_under_limit), 0);
    EXPECT_FALSE(std::filesystem::exists(out));
}

// Is (x, y) inside the polygon, or within `slack` of its outline? Plain crossing count and the
// distance to each edge, apart from the program's own code.
bool inside_or_near(const std::vector<DrawPoint>& polygon, double x, double y, double slack) {
    bool inside = false;
    double nearest = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0, j = polygon.size() - 1; i < polygon.size(); j = i++) {
        const double ax = polygon[i].x, ay = polygon[i].y, bx = polygon[j].x, by = polygon[j].y;
        if ((ay > y) != (by > y) && x < (bx - ax) * (y - ay) / (by - ay) + ax) inside = !inside;
        const double dx = bx - ax, dy = by - ay, length2 = dx * dx + dy * dy;
        const double t = length2 == 0 ? 0 : std::clamp(((x - ax) * dx + (y - ay) * dy) / length2, 0.0, 1.0);
        nearest = std::min(nearest, std::hypot(x - ax - t * dx, y - ay - t * dy));
    }
    return inside || nearest <= slack;
}

// On every sheet of the real map files, and on the whole of each: every lot-number label stands in
// a parcel of its own lot number, and the scale bar and its label stay on the page.
TEST(WriteSvg, RealSheetsKeepLabelsInTheirParcelsAndTheBarOnThePage) {
    RenderSettings settings;
    ASSERT_EQ(read_render_settings(CHIZUVEC_SOURCE_DIR "/Chizuvec.ini", settings), SettingsStatus::read);
    int labels_checked = 0;
    for (const char* name : {"12103-0400-76.xml", "13113-0110-44.xml", "46505-3411-1.xml"}) {
        const std::string path = test::shared_data(name);
        if (path.empty()) continue;
        MapDataset dataset;
        MapHeader header;
        ASSERT_EQ(read_map_xml(path, dataset, header).status, ReadStatus::ok);
        std::vector<std::string> sheets = {""};
        for (const MapNumber& number : dataset.sheet_map_nos) sheets.emplace_back(number.text);
        for (const std::string& sheet : sheets) {
            SCOPED_TRACE(std::string(name) + " " + sheet);
            BoundingBox bounds;
            if (assemble_outlines(dataset, sheet, bounds).entry_count == 0) continue;
            measure_parcels(dataset);
            const Drawing drawing = build_drawing(path, sheet, header, bounds, settings, dataset, 300);
            // The polygons are the outlined parcels' in parcel order.
            std::multimap<std::string, std::vector<DrawPoint>> parcels;
            std::size_t polygon_at = 0;
            for (const Parcel& parcel : dataset.parcels) {
                if (parcel_outline(dataset, parcel).empty()) continue;
                ASSERT_LT(polygon_at, drawing.polygons.size());
                const std::uint32_t begin = polygon_at == 0 ? 0 : drawing.polygons[polygon_at - 1].end;
                parcels.emplace(parcel.chiban,
                                std::vector<DrawPoint>(drawing.vertices.begin() + begin,
                                                       drawing.vertices.begin() + drawing.polygons[polygon_at].end));
                ++polygon_at;
            }
            for (const DrawMark& mark : drawing.marks) {
                const auto* text = std::get_if<DrawText>(&mark);
                if (text == nullptr) continue;
                if (text->label_class == 0) {
                    // Every other text but the title and source line stays on the page too.
                    if (text->anchor != TextAnchor::middle) continue;
                    const double half = 0.33 * text->size * static_cast<double>(text->text.size());
                    EXPECT_GE(text->x - half, 0) << text->text;
                    EXPECT_LE(text->x + half, drawing.width) << text->text;
                    continue;
                }
                bool found = false;
                const auto [first, last] = parcels.equal_range(text->text);
                for (auto it = first; it != last && !found; ++it) {
                    // Drawing coordinates are truncated: a label may sit on the outline of a thin strip.
                    found = inside_or_near(it->second, text->x, text->y, 1.5);
                }
                EXPECT_TRUE(found) << text->text << " at " << text->x << "," << text->y;
                ++labels_checked;
            }
            for (const DrawMark& mark : drawing.marks) {
                const auto* bar = std::get_if<DrawLine>(&mark);
                if (bar == nullptr) continue;
                EXPECT_GE(bar->points[0].x, 0);
                EXPECT_LE(bar->points[2].x - bar->points[0].x, drawing.width / 2);
            }
        }
    }
    if (labels_checked == 0) GTEST_SKIP() << "shared map data not present";
}

}  // namespace
}  // namespace chizuvec
