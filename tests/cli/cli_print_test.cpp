// Printing at scale: a sheet's frame on paper is the sheet's size at its scale, the PDF carries the
// title and its fonts, and every sheet of a file prints at its own scale in one run. Checked against
// the corners in the map file and against poppler's reading of the PDF.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli_support.hpp"
#include "test_os.hpp"

namespace chizuvec::test {
namespace {

constexpr const char* kMap = "13113-0110-44.xml";
constexpr const char* kNotAvailable = "** Error: PDF output is not available in this build\n";

bool have_tool(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// What a command prints on its standard output.
std::string output_of(const ProgramDir& program, const std::string& command) {
    const std::string out = program.file("tool.txt");
    std::system((command + " >'" + out + "' 2>/dev/null").c_str());
    return read_file(out);
}

struct Corner {
    double x = 0.0;  // northing
    double y = 0.0;  // easting
};

// The four corners of sheet `map_no` as the map file gives them: lower left, upper left, lower
// right, upper right.
std::vector<Corner> sheet_corners(const std::string& xml, const std::string& map_no) {
    const std::size_t sheet = xml.find("<地図番号>" + map_no + "</地図番号>");
    std::vector<Corner> corners;
    for (const char* tag : {"<左下座標>", "<左上座標>", "<右下座標>", "<右上座標>"}) {
        const std::size_t at = xml.find(tag, sheet);
        std::smatch m;
        const std::string part = xml.substr(at, 200);
        if (!std::regex_search(part, m, std::regex("<zmn:X>([-0-9.]+)</zmn:X>\\s*<zmn:Y>([-0-9.]+)</zmn:Y>"))) {
            return {};
        }
        corners.push_back({std::stod(m[1].str()), std::stod(m[2].str())});
    }
    return corners;
}

// The corners of the one closed path of the document (the frame), in user units.
std::vector<Corner> frame_path(const std::string& svg) {
    std::smatch m;
    if (!std::regex_search(svg, m, std::regex("<path d=\"M([^\"]*)z\""))) return {};
    std::vector<Corner> points;
    std::istringstream steps(std::regex_replace(m[1].str(), std::regex("([lhv,])"), " $1 "));
    Corner at;
    char comma = 0;
    steps >> at.x >> comma >> at.y;
    points.push_back(at);
    for (std::string step; steps >> step;) {
        double a = 0, b = 0;
        if (step == "l") {
            steps >> a >> comma >> b;
            at = {at.x + a, at.y + b};
        } else if (step == "h") {
            steps >> a;
            at.x += a;
        } else if (step == "v") {
            steps >> a;
            at.y += a;
        }
        points.push_back(at);
    }
    return points;
}

double distance(const Corner& a, const Corner& b) { return std::hypot(a.x - b.x, a.y - b.y); }

TEST(CliPrint, SheetFrameIsTheSheetAtItsScaleOnThePaper) {
    const std::string map = shared_data(kMap);
    if (map.empty()) GTEST_SKIP() << "shared map data not present";
    ProgramDir program;
    const RunResult r = program.run({"--paper", "A1", map, "m42.svg", "M42"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    // A 1:500 sheet fits A1.
    EXPECT_EQ(r.err.find("Warning"), std::string::npos) << r.err;
    const std::string svg = read_file(program.file("m42.svg"));
    if (missing(Need::kHostTools).empty()) {
        EXPECT_TRUE(xml_well_formed(program.file("m42.svg")));
    }
    // A1 across, as the sheet is wider than tall; one user unit is one millimetre.
    EXPECT_NE(svg.find("width=\"841mm\" height=\"594mm\" viewBox=\"0,0,841,594\""), std::string::npos);
    EXPECT_NE(svg.find(">縮尺 1/500</text>"), std::string::npos);

    const std::vector<Corner> sheet = sheet_corners(read_file(map), "M42");
    const std::vector<Corner> frame = frame_path(svg);
    ASSERT_EQ(sheet.size(), 4u);
    ASSERT_EQ(frame.size(), 4u) << svg.substr(0, 2000);
    // Drawn lower left, upper left, upper right, lower right; at 1:500 a metre is 2 mm.
    const Corner corners[] = {sheet[0], sheet[1], sheet[3], sheet[2]};
    for (std::size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const double on_paper = distance(frame[i], frame[(i + 1) % 4]);
        EXPECT_NEAR(on_paper, distance(corners[i], corners[(i + 1) % 4]) * 2.0, 0.2);
    }
    // North up: the upper left corner (largest northing) is drawn above the lower left.
    EXPECT_LT(frame[1].y, frame[0].y);
}

// Each word of a PDF as poppler reads it, its box in millimetres from the top left of the page.
struct PdfWord {
    std::string text;
    double left = 0, top = 0, right = 0, bottom = 0;
};

std::vector<PdfWord> pdf_words(const ProgramDir& program, const std::string& pdf) {
    std::vector<PdfWord> words;
    const std::string xml = output_of(program, "pdftotext -bbox -enc UTF-8 '" + pdf + "' -");
    const std::regex word("<word xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\" xMax=\"([0-9.]+)\" yMax=\"([0-9.]+)\">([^<]*)<");
    constexpr double kMmPerPoint = 25.4 / 72;
    for (auto it = std::sregex_iterator(xml.begin(), xml.end(), word); it != std::sregex_iterator(); ++it) {
        const std::smatch& m = *it;
        words.push_back({m[5].str(), std::stod(m[1].str()) * kMmPerPoint, std::stod(m[2].str()) * kMmPerPoint,
                         std::stod(m[3].str()) * kMmPerPoint, std::stod(m[4].str()) * kMmPerPoint});
    }
    return words;
}

// A sheet is printed as a sheet: the page upright because its frame is taller than wide, though the
// neighbours it lists make the parcels wider than tall; the frame in the middle of the paper; the
// title above it and the scale and source lines below it, inside the 7 mm margins; the neighbours
// cut at the margin, where a line shows the cut.
TEST(CliPrint, SheetIsCentredOnItsFrameWithTheTextsAroundIt) {
    ProgramDir program;
    // Sheet B01 (42 m across, 102 m high) lists parcels 1 to 10 too, which lie west of it.
    std::string xml = read_file(sample_map_path());
    const std::size_t sheet = xml.find("<地図番号>B01</地図番号>");
    std::string neighbours;
    for (const char* k : {"01", "02", "03", "04", "05", "06", "07", "08", "09", "10"}) {
        neighbours += std::string("<筆参照 idref=\"H0000000") + k + "\"/>\n";
    }
    xml.insert(xml.find("<筆参照 idref=\"H000000011\"/>", sheet), neighbours);
    program.write("wide.xml", xml);

    ASSERT_EQ(program.run({"--paper", "A4", "wide.xml", "b01.svg", "B01"}).exit_code, 0);
    const std::string svg = read_file(program.file("b01.svg"));
    EXPECT_NE(svg.find("width=\"210mm\" height=\"297mm\""), std::string::npos) << svg.substr(0, 300);
    const std::vector<Corner> frame = frame_path(svg);
    ASSERT_EQ(frame.size(), 4u) << svg;
    double left = 1e9, right = -1e9, top = 1e9, bottom = -1e9;
    for (const Corner& c : frame) {
        left = std::min(left, c.x);
        right = std::max(right, c.x);
        top = std::min(top, c.y);
        bottom = std::max(bottom, c.y);
    }
    // 42 m by 102 m at 1:500, in the middle across.
    EXPECT_NEAR(right - left, 84.0, 0.02);
    EXPECT_NEAR(bottom - top, 204.0, 0.02);
    EXPECT_NEAR((left + right) / 2, 105.0, 0.02);
    // The parcels are cut at the margins, not at the page's edge, and the cut is drawn.
    EXPECT_NE(svg.find("<clipPath id=\"map\"><rect x=\"7\""), std::string::npos);
    std::smatch cut;
    ASSERT_TRUE(std::regex_search(svg, cut, std::regex("<path d=\"M7,([0-9.]+)h196v")));

    const RunResult r = program.run({"--paper", "A4", "wide.xml", "b01.pdf", "B01"});
    if (r.err.ends_with(kNotAvailable)) GTEST_SKIP() << "this build writes no PDF";
    ASSERT_EQ(r.exit_code, 0) << r.err;
    if (!have_tool("pdftotext")) GTEST_SKIP() << "poppler-utils are not installed";
    const std::vector<PdfWord> words = pdf_words(program, program.file("b01.pdf"));
    int title = 0, below = 0;
    for (const PdfWord& w : words) {
        SCOPED_TRACE(w.text);
        EXPECT_GE(w.left, 7.0 - 0.1);
        EXPECT_LE(w.right, 210.0 - 7.0 + 0.1);
        EXPECT_GE(w.top, 7.0 - 0.1);
        EXPECT_LE(w.bottom, 297.0 - 7.0 + 0.1);
        if (w.text == "【千葉市稲毛区】" || w.text == "（B01）") {
            ++title;
            EXPECT_LT(w.bottom, top);
        }
        if (w.text == "縮尺" || w.text == "1/500" || w.text.starts_with("出典")) {
            ++below;
            EXPECT_GT(w.top, bottom);
        }
    }
    EXPECT_EQ(title, 2);
    EXPECT_EQ(below, 3);
}

// A sheet that does not fit its paper at its scale says what would: the smallest paper at that
// scale (in the orientation asked for) and the round scale for the paper given. A batch says it once.
TEST(CliPrint, SheetThatDoesNotFitSaysWhatWould) {
    const std::string map = shared_data(kMap);
    if (map.empty()) GTEST_SKIP() << "shared map data not present";
    ProgramDir program;
    // M42's frame is 324 m across and 279 m high: at 1:500 it needs A1; A3 across holds it at
    // 1:1061, A3 upright at 1:1144, so 1:1500.
    const struct {
        const char* paper;
        const char* warning;
    } cases[] = {
        {"A3", "**Warning: The drawing does not fit the paper at 1/500: try --paper A1, or --scale 1500\n"},
        {"A3-portrait",
         "**Warning: The drawing does not fit the paper at 1/500: try --paper A0-portrait, or --scale 1500\n"},
        {"A1", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.paper);
        const RunResult r = program.run({"--paper", c.paper, map, "m42.svg", "M42"});
        EXPECT_EQ(r.exit_code, 0);
        if (c.warning == nullptr) {
            EXPECT_EQ(r.err.find("Warning"), std::string::npos) << r.err;
        } else {
            EXPECT_TRUE(r.err.ends_with(c.warning)) << r.err;
        }
    }
    const RunResult batch = program.run({"--out-dir", "out", "--per-sheet", "--paper", "A3", map});
    EXPECT_EQ(batch.exit_code, 0);
    const std::string once =
        "**Warning: 4 of 4 drawings do not fit the paper at their scale (the first: 13113-0110-44_M40.svg): try "
        "--paper A1, or --scale 1500\nDrawn 4 sheets, failed 0";
    EXPECT_NE(batch.err.find(once), std::string::npos) << batch.err;
    EXPECT_EQ(batch.err.find("Warning"), batch.err.rfind("Warning")) << batch.err;
}

TEST(CliPrint, PdfHoldsThePageTheTitleAndEmbeddedFontSubsets) {
    const std::string map = shared_data(kMap);
    if (map.empty()) GTEST_SKIP() << "shared map data not present";
    ProgramDir program;
    const RunResult r = program.run({"--paper", "A1", map, "m42.pdf", "M42"});
    if (r.err.ends_with(kNotAvailable)) {
        // The build without PDF output says so and writes nothing.
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_FALSE(std::filesystem::exists(program.file("m42.pdf")));
        GTEST_SKIP() << "this build writes no PDF";
    }
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(read_file(program.file("m42.pdf")).substr(0, 5), "%PDF-");
    if (!have_tool("pdfinfo") || !have_tool("pdftotext") || !have_tool("pdffonts")) {
        GTEST_SKIP() << "poppler-utils are not installed";
    }
    // Quoted for the shell (built up in steps: GCC 12 warns wrongly of "literal" + temporary).
    std::string pdf = "'";
    pdf += program.file("m42.pdf");
    pdf += "'";
    // 841 by 594 mm in points.
    std::smatch m;
    const std::string info = output_of(program, "pdfinfo " + pdf);
    ASSERT_TRUE(std::regex_search(info, m, std::regex("Page size:\\s+([0-9.]+) x ([0-9.]+) pts")));
    EXPECT_NEAR(std::stod(m[1].str()), 841 / 25.4 * 72, 0.6);
    EXPECT_NEAR(std::stod(m[2].str()), 594 / 25.4 * 72, 0.6);
    const std::string text = output_of(program, "pdftotext -enc UTF-8 " + pdf + " -");
    for (const char* expected : {"【渋谷区】", "13113-0110-44.xml", "（M42）", "縮尺 1/500", "出典"}) {
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text.substr(0, 500);
    }
    // Every font embedded as a subset: "yes yes" in the emb and sub columns.
    const std::string fonts = output_of(program, "pdffonts " + pdf);
    std::istringstream lines(fonts);
    int font_count = 0;
    std::string line;
    std::getline(lines, line);
    std::getline(lines, line);
    while (std::getline(lines, line)) {
        ++font_count;
        EXPECT_TRUE(std::regex_search(line, std::regex(" yes +yes ")) && line.find('+') == 6) << line;
    }
    EXPECT_GE(font_count, 1) << fonts;
}

// The moment an output was made is its only field that differs between runs; SOURCE_DATE_EPOCH
// gives it, so two runs give the same bytes (1700000000 is 2023-11-14 22:13:20 UTC).
TEST(CliPrint, SourceDateEpochMakesPdfAndGeoPackageReproducible) {
    ProgramDir program;
    const std::vector<std::string> epoch = {"SOURCE_DATE_EPOCH=1700000000"};
    for (const char* name : {"a", "b"}) {
        const std::string stem = name;
        const RunResult pdf = program.run({"--paper", "A4", sample_map_path(), stem + ".pdf"}, "", epoch);
        if (pdf.err.ends_with(kNotAvailable)) GTEST_SKIP() << "this build writes no PDF";
        ASSERT_EQ(pdf.exit_code, 0) << pdf.err;
        ASSERT_EQ(program.run({"--gis", stem + ".gpkg", sample_map_path()}, "", epoch).exit_code, 0);
        // A second apart at least, so the present moment would show.
        if (stem == "a") std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    }
    const std::string pdf = read_file(program.file("a.pdf"));
    EXPECT_EQ(pdf, read_file(program.file("b.pdf")));
    EXPECT_NE(pdf.find("/CreationDate (20231114221320Z)"), std::string::npos);
    const std::string gpkg = read_file(program.file("a.gpkg"));
    EXPECT_EQ(gpkg, read_file(program.file("b.gpkg")));
    EXPECT_NE(gpkg.find("2023-11-14T22:13:20.000Z"), std::string::npos);
}

// A cairo that cannot be loaded is named with the reason, as libzip is, and nothing is written.
TEST(CliPrint, CairoThatCannotBeLoadedIsNamedWithTheReason) {
    ProgramDir program;
    if (program.run({"--paper", "A4", sample_map_path(), "probe.pdf"}).err.ends_with(kNotAvailable)) {
        GTEST_SKIP() << "this build writes no PDF";
    }
    std::filesystem::create_directory(program.file("fake"));
    program.write("fake/libcairo.so.2", "not a shared library\n");
    const RunResult r =
        program.run({"--paper", "A4", sample_map_path(), "out.pdf"}, "", {"LD_LIBRARY_PATH=" + program.file("fake")});
    EXPECT_EQ(r.exit_code, 1);
    const std::string first = "** Error: cannot load libcairo.so.2: ";
    const std::size_t at = r.err.find(first);
    ASSERT_NE(at, std::string::npos) << r.err;
    EXPECT_GT(r.err.find('\n', at), at + first.size()) << "no reason given: " << r.err;
    EXPECT_FALSE(std::filesystem::exists(program.file("out.pdf")));
}

TEST(CliPrint, EverySheetPrintsAtItsOwnScaleInOneRun) {
    const std::string map = shared_data(kMap);
    if (map.empty()) GTEST_SKIP() << "shared map data not present";
    ProgramDir program;
    const RunResult r = program.run({"--out-dir", "out", "--format", "svg", "--per-sheet", "--paper", "A1", map});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::string xml = read_file(map);
    int sheets = 0;
    for (const std::string sheet : {"M40", "M41", "M42", "M43"}) {
        SCOPED_TRACE(sheet);
        const std::string svg = read_file(program.file("out/13113-0110-44_" + sheet + ".svg"));
        const std::size_t at = xml.find("<地図番号>" + sheet + "</地図番号>");
        std::smatch m;
        const std::string part = xml.substr(at, 300);
        ASSERT_TRUE(std::regex_search(part, m, std::regex("<縮尺分母>([0-9]+)</縮尺分母>")));
        EXPECT_NE(svg.find(">縮尺 1/" + m[1].str() + "</text>"), std::string::npos);
        ++sheets;
    }
    EXPECT_EQ(sheets, 4);
}

// A map of axis-parallel rectangles, each its own parcel with its own points, all listed by sheet
// "A": the test knows every coordinate it draws. X is the northing, Y the easting, in metres.
struct Lot {
    double x0, y0, x1, y1;
    std::string chiban;
};

std::string lots_map(const std::vector<Lot>& lots, const std::string& coord_system) {
    std::string s =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<地図>\n<地図名>格子</地図名>\n<市区町村名>町</市区町村名>\n"
        "<座標系>" +
        coord_system + "</座標系>\n<空間属性>\n";
    std::string surfaces;
    std::string parcels;
    std::string listing;
    for (std::size_t i = 0; i < lots.size(); ++i) {
        const Lot& lot = lots[i];
        const double corners[4][2] = {{lot.x0, lot.y0}, {lot.x1, lot.y0}, {lot.x1, lot.y1}, {lot.x0, lot.y1}};
        // Identifiers count by their digits: point and curve k of lot i are number 4i + k + 1.
        const std::string n = std::to_string(i + 1);
        const auto id = [&](int k) { return std::to_string(4 * i + static_cast<std::size_t>(k) + 1); };
        for (int k = 0; k < 4; ++k) {
            s += "<zmn:GM_Point id=\"P" + id(k) + "\">\n<zmn:X>" + std::to_string(corners[k][0]) + "</zmn:X>\n<zmn:Y>" +
                 std::to_string(corners[k][1]) + "</zmn:Y>\n</zmn:GM_Point>\n";
        }
        surfaces += "<zmn:GM_Surface id=\"F" + n + "\">\n<zmn:GM_SurfaceBoundary.exterior>\n<zmn:GM_Ring>\n";
        for (int k = 0; k < 4; ++k) {
            s += "<zmn:GM_Curve id=\"C" + id(k) + "\">\n";
            for (const int p : {k, (k + 1) % 4}) {
                s += "<zmn:GM_Position.indirect>\n<zmn:GM_PointRef.point idref=\"P" + id(p) +
                     "\"/>\n</zmn:GM_Position.indirect>\n";
            }
            s += "</zmn:GM_Curve>\n";
            surfaces += "<zmn:GM_CompositeCurve.generator idref=\"C" + id(k) + "\"/>\n";
        }
        surfaces += "</zmn:GM_Ring>\n</zmn:GM_SurfaceBoundary.exterior>\n</zmn:GM_Surface>\n";
        parcels += "<筆 id=\"H" + n + "\">\n<大字名>町</大字名>\n<地番>" + lot.chiban + "</地番>\n<形状 idref=\"F" + n +
                   "\"/>\n</筆>\n";
        listing += "<筆参照 idref=\"H" + n + "\"/>\n";
    }
    return s + surfaces + "</空間属性>\n<主題属性>\n" + parcels + "</主題属性>\n<図郭>\n<地図番号>A</地図番号>\n" +
           listing + "</図郭>\n</地図>\n";
}

// Nine by nine 20 m squares from (1000, 2000), numbered row by row from the south west: lot 41
// is the middle one, its box 1080..1100 north and 2080..2100 east.
std::vector<Lot> grid_lots() {
    std::vector<Lot> lots;
    for (int row = 0; row < 9; ++row) {
        for (int col = 0; col < 9; ++col) {
            lots.push_back({1000.0 + 20 * row, 2000.0 + 20 * col, 1020.0 + 20 * row, 2020.0 + 20 * col,
                            std::to_string(row * 9 + col + 1)});
        }
    }
    return lots;
}

// The x, y, width and height of the document's clip rectangle (the map's cut).
std::vector<double> clip_rect(const std::string& svg) {
    std::smatch m;
    if (!std::regex_search(svg, m,
                           std::regex("<clipPath id=\"map\"><rect x=\"([0-9.]+)\" y=\"([0-9.]+)\" width=\"([0-9.]+)\" "
                                      "height=\"([0-9.]+)\""))) {
        return {};
    }
    return {std::stod(m[1].str()), std::stod(m[2].str()), std::stod(m[3].str()), std::stod(m[4].str())};
}

std::size_t count_of(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// --around: the lot's box grown by the margin is the drawing, the parcels meeting it drawn and cut at
// its edge, the lot highlighted and named in the title; on paper at the largest usual scale that
// holds the crop in the 196 by 263 mm room of an upright A4.
TEST(CliPrint, AroundDrawsTheLotWithItsNeighboursAtTheScaleThatFits) {
    ProgramDir program;
    program.write("grid.xml", lots_map(grid_lots(), "公共座標9系"));
    // 30 m around lot 41: 1050..1130 by 2050..2130, which rows and columns 2 to 6 meet.
    RunResult r = program.run({"--around", "41", "grid.xml", "a.svg"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::string svg = read_file(program.file("a.svg"));
    EXPECT_EQ(count_of(svg, "<polygon "), 25u);
    EXPECT_EQ(count_of(svg, "<polygon class=\"ph\""), 1u);
    EXPECT_NE(svg.find("（地番 41 周辺　図郭 A）"), std::string::npos);
    // 80 m over the 1920 units between the side margins: 24 units a metre; lot 41's label at its centre.
    EXPECT_EQ(clip_rect(svg), (std::vector<double>{40, 100, 1920, 1920}));
    EXPECT_NE(svg.find("x=\"1000\" y=\"1060\""), std::string::npos);
    EXPECT_EQ(svg.find(">11<"), std::string::npos);  // row 1 ends 10 m short of the crop

    const struct {
        const char* margin;
        double crop;  // metres across
        int scale;
    } cases[] = {{"5", 30, 250}, {"38", 96, 500}, {"40", 100, 600}, {"100.5", 221, 2500}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.margin);
        r = program.run({"--around", "41", "--margin", c.margin, "--paper", "A4", "grid.xml", "p.svg"});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        svg = read_file(program.file("p.svg"));
        EXPECT_NE(svg.find(">縮尺 1/" + std::to_string(c.scale) + "</text>"), std::string::npos);
        const std::vector<double> clip = clip_rect(svg);
        ASSERT_EQ(clip.size(), 4u) << svg.substr(0, 1500);
        // The crop at that scale, in millimetres, centred across the page.
        const double side = c.crop * 1000.0 / c.scale;
        EXPECT_NEAR(clip[2], side, 0.02);
        EXPECT_NEAR(clip[3], side, 0.02);
        EXPECT_NEAR(clip[0] + clip[2] / 2, 105.0, 0.02);
    }

    r = program.run({"--around", "41", "--margin", "40", "--paper", "A4", "grid.xml", "a.pdf"});
    if (r.err.ends_with(kNotAvailable)) GTEST_SKIP() << "this build writes no PDF";
    ASSERT_EQ(r.exit_code, 0) << r.err;
    if (!have_tool("pdftotext")) GTEST_SKIP() << "poppler-utils are not installed";
    // Lots 41 and 42 are 20 m apart east to west: 33.3 mm at 1:600.
    double at_41 = 0, at_42 = 0;
    int scale = 0;
    for (const PdfWord& w : pdf_words(program, program.file("a.pdf"))) {
        if (w.text == "41") at_41 = (w.left + w.right) / 2;
        if (w.text == "42") at_42 = (w.left + w.right) / 2;
        if (w.text == "1/600") ++scale;
    }
    EXPECT_EQ(scale, 1);
    EXPECT_NEAR(at_42 - at_41, 20000.0 / 600, 0.3);
    EXPECT_NEAR(at_41, 105.0, 0.3);
}

// A map whose few parcels lie far from the rest says so, naming them, and --fit-core draws the rest.
TEST(CliPrint, ParcelsFarFromTheRestAreNamedAndFitCoreDrawsTheRest) {
    ProgramDir program;
    // Five by five 20 m squares (lots 1 to 25), and thin strips 5 km to the north east.
    std::vector<Lot> lots;
    for (int i = 0; i < 25; ++i)
        lots.push_back(
            {20.0 * (i / 5), 20.0 * (i % 5), 20.0 * (i / 5) + 20, 20.0 * (i % 5) + 20, std::to_string(i + 1)});
    const auto with_strips = [&](int strips) {
        std::vector<Lot> all = lots;
        for (int k = 0; k < strips; ++k)
            all.push_back(
                {5000.0, 5000.0 + 3 * k, 5060.0, 5002.0 + 3 * k, std::string(1, 's').append(std::to_string(k + 1))});
        return lots_map(all, "任意座標系");
    };
    const struct {
        int strips;
        bool fit_core;
        const char* warning;
    } cases[] = {
        {2, false,
         "**Warning: 2 parcels lie more than 10x the median distance from the rest of the map (s1, s2); --fit-core "
         "draws the rest\n"},
        {2, true,
         "**Warning: 2 parcels lie more than 10x the median distance from the rest of the map (s1, s2); drawn without "
         "them\n"},
        {12, false,
         "**Warning: 12 parcels lie more than 10x the median distance from the rest of the map (s1, s2, s3, s4, s5, "
         "s6, s7, s8, s9, s10, and 2 more); --fit-core draws the rest\n"},
        {0, true, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.strips);
        program.write("far.xml", with_strips(c.strips));
        std::vector<std::string> args = {"far.xml", "far.svg"};
        if (c.fit_core) args.insert(args.begin(), "--fit-core");
        const RunResult r = program.run(args);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        const std::string svg = read_file(program.file("far.svg"));
        if (c.warning == nullptr) {
            EXPECT_EQ(r.err.find("median"), std::string::npos) << r.err;
        } else {
            EXPECT_TRUE(r.err.ends_with(c.warning)) << r.err;
        }
        // The rest is 100 m square: 19.2 units a metre, the whole page; with the strips 5 km away
        // the squares shrink to a corner.
        const std::size_t squares = svg.find("<polygon class=\"p0\" points=\"");
        ASSERT_NE(squares, std::string::npos);
        if (c.fit_core && c.strips > 0) {
            EXPECT_EQ(clip_rect(svg), (std::vector<double>{40, 100, 1920, 1920}));
            EXPECT_EQ(count_of(svg, "<polygon "), 25u);
            EXPECT_NE(svg.find("viewBox=\"0,0,2000,2120\""), std::string::npos);
        } else {
            EXPECT_EQ(count_of(svg, "<polygon "), 25u + static_cast<std::size_t>(c.strips));
            EXPECT_TRUE(clip_rect(svg).empty());
        }
    }
    // The real maps have no parcel so far from the rest.
    for (const char* name : {"12103-0400-76.xml", "46505-3411-1.xml", "13113-0110-44.xml"}) {
        const std::string map = shared_data(name);
        if (map.empty()) continue;
        const RunResult r = program.run({map, "real.svg"});
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_EQ(r.err.find("median"), std::string::npos) << name << r.err;
    }
}

TEST(CliPrint, PrintingOptionsRefusedWhereTheyMeanNothing) {
    ProgramDir program;
    program.write("sample.xml", read_file(sample_map_path()));
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {{"--paper", "B4", "sample.xml", "out.pdf"}, "--paper is A4, A3, A2, A1 or A0, with -landscape or -portrait"},
        {{"--paper", "A4-sideways", "sample.xml", "out.pdf"}, "--paper is A4"},
        {{"--scale", "500", "sample.xml", "out.svg"}, "--scale is for --paper"},
        {{"--paper", "A4", "--scale", "0", "sample.xml", "out.svg"}, "--scale needs a number"},
        {{"--paper", "A4", "sample.xml"}, "--paper, --scale, --frame and --label-all are for drawings"},
        {{"--csv", "-", "--frame", "sample.xml"}, "--paper, --scale, --frame and --label-all are for drawings"},
        {{"--paper"}, "--paper needs a value"},
        {{"--around", "101-1", "--margin", "0", "sample.xml", "out.pdf"}, "--margin needs a number of metres above 0"},
        {{"--around", "101-1", "--margin", "-5", "sample.xml", "out.pdf"}, "--margin needs a number of metres above 0"},
        {{"--around", "101-1", "--margin", "1e3", "sample.xml", "out.pdf"},
         "--margin needs a number of metres above 0"},
        {{"--around", "101-1", "--margin", "nan", "sample.xml", "out.pdf"},
         "--margin needs a number of metres above 0"},
        {{"--margin", "5", "sample.xml", "out.pdf"}, "--margin is for --around"},
        {{"--around", "101-1", "sample.xml"}, "--around and --fit-core are for drawings"},
        {{"--fit-core", "--csv", "-", "sample.xml"}, "--around and --fit-core are for drawings"},
        {{"--out-dir", "o", "--around", "101-1", "sample.xml"}, "--around and --margin are for one map file"},
        {{"--around", "101-1", "--fit-core", "sample.xml", "out.pdf"}, "--fit-core is for drawings of a whole map"},
        {{"--around", "101-1", "sample.xml", "out.pdf", "B01"}, "--around draws the lot with its neighbours"},
        {{"--around", "no-such-lot", "sample.xml", "out.pdf"}, "lot \"no-such-lot\" not found in sample.xml"},
        {{"--label-all", "--paper", "A4", "sample.xml"}, "--paper, --scale, --frame and --label-all are for drawings"},
        {{"--label-all", "--scale", "500", "sample.xml", "out.svg"}, "--scale is for --paper"},
        {{"--csv", "-", "--label-all", "sample.xml"}, "--paper, --scale, --frame and --label-all are for drawings"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        const RunResult r = program.run(c.args);
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_NE(r.err.find(std::string("** Error: ") + c.message), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(program.file("out.pdf")));
    }
    // A4 upright on request, at the scale asked for, the whole sample on it.
    const RunResult r = program.run({"--paper", "a4-portrait", "--scale", "1000", "sample.xml", "out.svg"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::string svg = read_file(program.file("out.svg"));
    EXPECT_NE(svg.find("width=\"210mm\" height=\"297mm\""), std::string::npos);
    EXPECT_NE(svg.find(">縮尺 1/1000</text>"), std::string::npos);
    EXPECT_EQ(r.err.find("Warning"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace chizuvec::test
