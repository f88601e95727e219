// The drawing as a user meets it: well-formed documents from the sample and the real map files,
// the picture a renderer and a browser make of it, the success line, and the viewer.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli_support.hpp"
#include "gen_map_core.hpp"
#include "platform/platform.hpp"
#include "test_os.hpp"

namespace chizuvec::test {
namespace {

bool have_tool(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// The value of a key in the settings text.
std::string setting(const std::string& ini, const std::string& key) {
    const std::regex line("(^|\n)" + key + "=([^\r\n;]*)");
    std::smatch m;
    return std::regex_search(ini, m, line) ? m[2].str() : std::string();
}

// ---- A small PNG reader: 8-bit RGB or RGBA, not interlaced -----------------------------------------

struct Image {
    std::uint32_t width = 0, height = 0, channels = 0;
    std::vector<unsigned char> pixels;  // rows without filter bytes
    std::uint32_t rgb(std::uint32_t x, std::uint32_t y) const {
        const unsigned char* p = &pixels[(std::size_t{y} * width + x) * channels];
        return (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
    }
};

std::uint32_t be32(const std::string& s, std::size_t at) {
    return (std::uint32_t{static_cast<unsigned char>(s[at])} << 24) |
           (std::uint32_t{static_cast<unsigned char>(s[at + 1])} << 16) |
           (std::uint32_t{static_cast<unsigned char>(s[at + 2])} << 8) | static_cast<unsigned char>(s[at + 3]);
}

int paeth(int a, int b, int c) {
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

bool read_png(const std::string& path, Image& image) {
    const std::string png = read_file(path);
    if (png.size() < 8 || png.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return false;
    std::string idat;
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const std::uint32_t length = be32(png, at);
        const std::string type = png.substr(at + 4, 4);
        if (at + 12 + length > png.size()) return false;
        if (type == "IHDR") {
            image.width = be32(png, at + 8);
            image.height = be32(png, at + 12);
            const int depth = png[at + 16], colour = png[at + 17], interlace = png[at + 20];
            if (depth != 8 || interlace != 0 || (colour != 2 && colour != 6)) return false;
            image.channels = colour == 6 ? 4 : 3;
        } else if (type == "IDAT") {
            idat.append(png, at + 8, length);
        }
        at += 12 + length;
    }
    const std::size_t stride = std::size_t{image.width} * image.channels;
    std::vector<unsigned char> raw((stride + 1) * image.height);
    uLongf raw_size = static_cast<uLongf>(raw.size());
    if (image.channels == 0 || uncompress(raw.data(), &raw_size, reinterpret_cast<const Bytef*>(idat.data()),
                                          static_cast<uLong>(idat.size())) != Z_OK) {
        return false;
    }
    image.pixels.assign(stride * image.height, 0);
    for (std::size_t y = 0; y < image.height; ++y) {
        const unsigned char filter = raw[y * (stride + 1)];
        const unsigned char* in = &raw[y * (stride + 1) + 1];
        unsigned char* row = &image.pixels[y * stride];
        const unsigned char* up = y > 0 ? row - stride : nullptr;
        for (std::size_t i = 0; i < stride; ++i) {
            const int a = i >= image.channels ? row[i - image.channels] : 0;
            const int b = up != nullptr ? up[i] : 0;
            const int c = up != nullptr && i >= image.channels ? up[i - image.channels] : 0;
            int predictor = 0;
            switch (filter) {
                case 0:
                    break;
                case 1:
                    predictor = a;
                    break;
                case 2:
                    predictor = b;
                    break;
                case 3:
                    predictor = (a + b) / 2;
                    break;
                case 4:
                    predictor = paeth(a, b, c);
                    break;
                default:
                    return false;
            }
            row[i] = static_cast<unsigned char>(in[i] + predictor);
        }
    }
    return true;
}

// ---- Reading the drawing back -----------------------------------------------------------------------

struct Drawing {
    double page_width = 0, page_height = 0;  // points
    double viewbox_width = 0, viewbox_height = 0;
};

bool read_drawing(const std::string& doc, Drawing& d) {
    std::smatch m;
    if (!std::regex_search(
            doc, m, std::regex("<svg [^>]*width=\"(\\d+)pt\" height=\"(\\d+)pt\" viewBox=\"0,0,(\\d+),(\\d+)\""))) {
        return false;
    }
    d = {std::stod(m[1]), std::stod(m[2]), std::stod(m[3]), std::stod(m[4])};
    return true;
}

struct Spot {
    double x = 0, y = 0;  // drawing units
};

// A point inside the first polygon of a class, a fifth of the way in from its corner: inside the
// rectangular parcels of the sample, and clear of the label at the centroid.
bool spot_in_polygon(const std::string& doc, const std::string& cls, Spot& spot) {
    std::smatch m;
    if (!std::regex_search(doc, m, std::regex("<polygon class=\"" + cls + "\" points=\"([^\"]*)\""))) return false;
    double min_x = 1e18, max_x = -1e18, min_y = 1e18, max_y = -1e18;
    const std::string points = m[1];
    const std::regex pair("(-?\\d+),(-?\\d+)");
    for (auto it = std::sregex_iterator(points.begin(), points.end(), pair); it != std::sregex_iterator(); ++it) {
        const double x = std::stod((*it)[1]), y = std::stod((*it)[2]);
        min_x = std::min(min_x, x), max_x = std::max(max_x, x), min_y = std::min(min_y, y), max_y = std::max(max_y, y);
    }
    spot = {min_x + (max_x - min_x) / 5, min_y + (max_y - min_y) / 5};
    return max_x > min_x && max_y > min_y;
}

std::uint32_t colour(const std::string& hex) {
    return static_cast<std::uint32_t>(std::stoul(hex.substr(1), nullptr, 16));
}

std::string hex(std::uint32_t rgb) {
    char text[8];
    std::snprintf(text, sizeof text, "#%06X", rgb);
    return text;
}

// The three colours the sample drawing must show, and where.
struct Expectation {
    std::string what;
    Spot spot;
    std::uint32_t rgb;
};

std::vector<Expectation> sample_expectations(const std::string& doc, const std::string& ini, const Drawing& d) {
    std::vector<Expectation> list;
    Spot common, hilite;
    EXPECT_TRUE(spot_in_polygon(doc, "p0", common));
    EXPECT_TRUE(spot_in_polygon(doc, "ph", hilite));
    // The middle of the right margin holds nothing but the background.
    const double mx = std::stod(setting(ini, "svg_viewbox_marginx"));
    list.push_back({"background",
                    {d.viewbox_width - mx / 2, d.viewbox_height / 2},
                    colour(setting(ini, "svg_fill_color_viewbox"))});
    list.push_back({"common parcel", common, colour(setting(ini, "svg_fill_color_common"))});
    list.push_back({"highlighted parcel", hilite, colour(setting(ini, "svg_fill_color_hilite"))});
    return list;
}

// Draws the sample with 101-3 highlighted into `name` and returns the document.
std::string draw_sample(const ProgramDir& program, const std::string& name) {
    program.write("sample.xml", read_file(sample_map_path()));
    const RunResult r = program.run({"sample.xml", name, "all", "101-3"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return read_file(program.file(name));
}

TEST(CliDrawing, SampleAndRealMapsGiveWellFormedDrawings) {
    if (const std::string why = missing(Need::kHostTools); !why.empty()) GTEST_SKIP() << why;
    if (!have_tool("xmllint")) GTEST_SKIP() << "xmllint is not installed";
    ProgramDir program;
    std::vector<std::pair<std::string, std::string>> inputs = {{"sample.xml", sample_map_path()}};
    for (const char* name : {"12103-0400-76.xml", "12103-0400-76.zip", "46505-3411-1.xml", "46505-3411-1.zip"}) {
        const std::string path = shared_data(name);
        if (!path.empty()) inputs.emplace_back(name, path);
    }
    for (const auto& [name, path] : inputs) {
        // A copy beside the program: an archive is unpacked next to itself.
        program.write(name, read_file(path));
        for (const char* extension : {".svg", ".htm"}) {
            SCOPED_TRACE(name + extension);
            const std::string output = name + extension;
            const RunResult r = program.run({name, output});
            ASSERT_EQ(r.exit_code, 0) << r.err;
            ASSERT_TRUE(std::filesystem::exists(program.file(output))) << r.err;
            EXPECT_TRUE(xml_well_formed(program.file(output)));
            const std::string doc = read_file(program.file(output));
            EXPECT_EQ(doc.find("nan"), std::string::npos);
            EXPECT_EQ(doc.find("inf"), std::string::npos);
            EXPECT_NE(doc.find("<polygon class="), std::string::npos);
        }
    }
}

TEST(CliDrawing, SuccessLineGivesTheFileSize) {
    ProgramDir program;
    for (const char* name : {"out.svg", "out.html"}) {
        program.write("sample.xml", read_file(sample_map_path()));
        const RunResult r = program.run({"sample.xml", name});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        std::smatch m;
        ASSERT_TRUE(std::regex_match(r.out, m,
                                     std::regex("Output file \"(.*)\" created successfully\\. \\((\\d+) bytes\\) "
                                                "\\(\\d+\\.\\d{6}s\\)\n")))
            << r.out;
        EXPECT_EQ(m[1].str(), name);
        EXPECT_EQ(std::stoull(m[2].str()), std::filesystem::file_size(program.file(name)));
    }
}

TEST(CliDrawing, RendererShowsBackgroundAndParcelFills) {
    if (const std::string why = missing(Need::kHostTools); !why.empty()) GTEST_SKIP() << why;
    if (!have_tool("rsvg-convert")) GTEST_SKIP() << "rsvg-convert is not installed";
    ProgramDir program;
    const std::string doc = draw_sample(program, "sample.svg");
    Drawing d;
    ASSERT_TRUE(read_drawing(doc, d));
    const std::string png = program.file("sample.png");
    ASSERT_EQ(
        std::system(("rsvg-convert -f png -w 1000 -o '" + png + "' '" + program.file("sample.svg") + "'").c_str()), 0);
    Image image;
    ASSERT_TRUE(read_png(png, image));
    ASSERT_EQ(image.width, 1000u);
    for (const Expectation& e : sample_expectations(doc, default_ini(), d)) {
        const auto x = static_cast<std::uint32_t>(e.spot.x * image.width / d.viewbox_width);
        const auto y = static_cast<std::uint32_t>(e.spot.y * image.height / d.viewbox_height);
        ASSERT_LT(x, image.width);
        ASSERT_LT(y, image.height);
        EXPECT_EQ(hex(image.rgb(x, y)), hex(e.rgb)) << e.what << " at " << x << "," << y;
    }
}

// Where a drawing lands in a window: scaled to fit it whole, centred (the viewBox's default).
struct Fitted {
    double x0 = 0, y0 = 0, scale = 1;
};
Fitted fitted_in(const Drawing& d, int width, int height) {
    const double scale = std::min(width / d.viewbox_width, height / d.viewbox_height);
    return {(width - d.viewbox_width * scale) / 2, (height - d.viewbox_height * scale) / 2, scale};
}

// A screenshot of the page in a window of the given size, scroll bars shown if the page has any.
bool screenshot(const ProgramDir& program, const std::string& page, int width, int height, Image& image) {
    const std::string png = program.file(page + ".png");
    const std::string command =
        "timeout 120 /usr/bin/chromium --headless --no-sandbox --disable-gpu --no-first-run"
        " --disable-background-networking --disable-component-update --disable-sync --force-device-scale-factor=1"
        " --user-data-dir='" +
        program.file("profile") + "' --screenshot='" + png + "' --window-size=" + std::to_string(width) + "," +
        std::to_string(height) + " 'file://" + program.file(page) + "' >/dev/null 2>&1";
    return std::system(command.c_str()) == 0 && read_png(png, image);
}

TEST(CliDrawing, BrowserShowsTheHtmlPage) {
    const std::string chromium = "/usr/bin/chromium";
    if (const std::string why = missing(Need::kHostTools); !why.empty()) GTEST_SKIP() << why;
    if (!std::filesystem::exists(chromium)) GTEST_SKIP() << "chromium is not installed";
    ProgramDir program;
    const std::string doc = draw_sample(program, "sample.htm");
    Drawing d;
    ASSERT_TRUE(read_drawing(doc, d));
    // Windows narrower and wider than the drawing, both far smaller than its printed size: the
    // whole drawing shows, scaled to the window, with no scroll bar over its edges.
    for (const auto& [width, height] : {std::pair{640, 900}, std::pair{1000, 500}}) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        Image image;
        ASSERT_TRUE(screenshot(program, "sample.htm", width, height, image));
        ASSERT_EQ(image.width, static_cast<std::uint32_t>(width));
        const Fitted fit = fitted_in(d, width, height);
        for (const Expectation& e : sample_expectations(doc, default_ini(), d)) {
            const auto x = static_cast<std::uint32_t>(fit.x0 + e.spot.x * fit.scale);
            const auto y = static_cast<std::uint32_t>(fit.y0 + e.spot.y * fit.scale);
            ASSERT_LT(x, image.width);
            ASSERT_LT(y, image.height);
            EXPECT_EQ(hex(image.rgb(x, y)), hex(e.rgb)) << e.what << " at " << x << "," << y;
        }
    }
    // Printed, the drawing keeps its size: the title's letters are as high as its font size in
    // points, and not the few points that fitting a sheet of paper would leave.
    if (!have_tool("pdftotext")) GTEST_SKIP() << "pdftotext is not installed";
    const std::string pdf = program.file("printed.pdf");
    const std::string print = "timeout 120 " + chromium +
                              " --headless --no-sandbox --disable-gpu --no-first-run --disable-background-networking"
                              " --disable-component-update --disable-sync --no-pdf-header-footer --user-data-dir='" +
                              program.file("profile") + "' --print-to-pdf='" + pdf + "' 'file://" +
                              program.file("sample.htm") + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(print.c_str()), 0);
    const std::string boxes = program.file("printed.html");
    ASSERT_EQ(std::system(("pdftotext -bbox -f 1 -l 1 '" + pdf + "' '" + boxes + "'").c_str()), 0);
    std::smatch m;
    const std::string words = read_file(boxes);
    ASSERT_TRUE(std::regex_search(words, m,
                                  std::regex("<word xMin=\"[0-9.]+\" yMin=\"([0-9.]+)\" xMax=\"[0-9.]+\" "
                                             "yMax=\"([0-9.]+)\">【")))
        << words;
    const double title_points = 24.0 * d.page_width / d.viewbox_width;
    const double letters = std::stod(m[2]) - std::stod(m[1]);
    EXPECT_NEAR(letters, title_points, title_points * 0.25) << words;
}

TEST(CliDrawing, ViewerOpensTheDrawingOnlyWhenAsked) {
    if (const std::string why = missing(Need::kStandInViewer); !why.empty()) GTEST_SKIP() << why;
    for (const bool open : {true, false}) {
        SCOPED_TRACE(open ? "yes" : "no");
        std::string ini = default_ini();
        const std::string key = "shell_open_svg=no";
        ASSERT_NE(ini.find(key), std::string::npos);
        ini.replace(ini.find(key), key.size(), open ? "shell_open_svg=yes" : key);
        ProgramDir program(ini);
        // A stand-in viewer first on the search path records what it was given.
        std::filesystem::create_directory(program.file("bin"));
        const std::string record = program.file("opened.txt");
        const std::string viewer =
            program.write("bin/xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > '" + record + ".part' && mv '" + record +
                                              ".part' '" + record + "'\n");
        std::filesystem::permissions(viewer, std::filesystem::perms::owner_all);
        program.write("sample.xml", read_file(sample_map_path()));
        const char* path = std::getenv("PATH");
        const RunResult r =
            program.run({"sample.xml", "drawing.svg"}, "",
                        {"PATH=" + program.file("bin") + ":" + (path != nullptr ? path : "/usr/bin:/bin")});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(open ? 10 : 1);
        while (!std::filesystem::exists(record) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (open) {
            ASSERT_TRUE(std::filesystem::exists(record));
            EXPECT_EQ(read_file(record), "drawing.svg");
        } else {
            EXPECT_FALSE(std::filesystem::exists(record));
        }
    }
}

// ---- A parcel with a hole -----------------------------------------------------------------------------

// The box of a ring in the drawing.
struct Box {
    double x_lo = 1e18, x_hi = -1e18, y_lo = 1e18, y_hi = -1e18;
};

// The colours at the middle of the hole and at the middle of each side of the parcel's band, on a
// picture whose point (x, y) of the drawing is at (x0 + x * scale, y0 + y * scale), `outline` the
// parcel's box. Labels stand nearer the corners.
void expect_hole_unfilled(const Image& image, double x0, double y0, double scale, const Box& outline,
                          const std::string& what) {
    const auto along = [](double lo, double hi, double share) { return lo + (hi - lo) * share; };
    const double mx = along(outline.x_lo, outline.x_hi, 0.5), my = along(outline.y_lo, outline.y_hi, 0.5);
    const auto at = [&](double x, double y) {
        return image.rgb(static_cast<std::uint32_t>(x0 + x * scale), static_cast<std::uint32_t>(y0 + y * scale));
    };
    EXPECT_EQ(hex(at(mx, my)), hex(colour("#FF8080"))) << what << ": the hole shows the lot inside it";
    const std::pair<double, double> band[] = {{mx, along(outline.y_lo, outline.y_hi, 0.15)},
                                              {mx, along(outline.y_lo, outline.y_hi, 0.85)},
                                              {along(outline.x_lo, outline.x_hi, 0.15), my},
                                              {along(outline.x_lo, outline.x_hi, 0.85), my}};
    for (const auto& [x, y] : band) {
        EXPECT_EQ(hex(at(x, y)), hex(colour("#FFFFD8"))) << what << ": the parcel around it at " << x << "," << y;
    }
}

TEST(CliDrawing, ParcelWithHoleIsDrawnListedAndMeasuredAsItsShape) {
    ProgramDir program;
    program.write("hole.xml", holed_map());
    const double area = shoelace(kOuterRing) - shoelace(kInnerRing);

    // The listing and the CSV give the area less the hole.
    const RunResult listing = program.run({"hole.xml"});
    ASSERT_EQ(listing.exit_code, 0) << listing.err;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(listing.out, m, std::regex("\n +2 +2 +1 A +町 +1 +([0-9.]+)\n"))) << listing.out;
    EXPECT_DOUBLE_EQ(std::stod(m[1]), area);
    const RunResult csv = program.run({"--csv", "-", "hole.xml"});
    ASSERT_EQ(csv.exit_code, 0) << csv.err;
    ASSERT_TRUE(std::regex_search(csv.out, m, std::regex("\nhole\\.xml,2,町,1,A,公共座標9系,([0-9.]+),"))) << csv.out;
    EXPECT_DOUBLE_EQ(std::stod(m[1]), area);
    // To a file: the harness reads standard output in the console's code page under Wine.
    const RunResult gis = program.run({"--gis", "hole.geojson", "hole.xml"});
    ASSERT_EQ(gis.exit_code, 0) << gis.err;
    const std::string features = read_file(program.file("hole.geojson"));
    ASSERT_TRUE(std::regex_search(features, m, std::regex("\"地番\":\"1\"[^\n]*\"面積\":([0-9.]+),"))) << features;
    EXPECT_DOUBLE_EQ(std::stod(m[1]), area);

    // One shape of two rings with the parcel's class; lot 2 highlighted, its own polygon as before.
    const RunResult drawn = program.run({"hole.xml", "hole.svg", "all", "2"});
    ASSERT_EQ(drawn.exit_code, 0) << drawn.err;
    const std::string doc = read_file(program.file("hole.svg"));
    EXPECT_NE(doc.find("<style><![CDATA[polygon.p0,path.p0 {"), std::string::npos);
    ASSERT_TRUE(
        std::regex_search(doc, m,
                          std::regex("<path class=\"p0\" fill-rule=\"evenodd\" d=\"M(\\d+,\\d+) L(\\d+,\\d+) "
                                     "(\\d+,\\d+) (\\d+,\\d+) Z M\\d+,\\d+ L\\d+,\\d+ \\d+,\\d+ \\d+,\\d+ Z\"/>")))
        << doc;
    Box outline;
    for (std::size_t i = 1; i <= 4; ++i) {
        double x = 0, y = 0;
        ASSERT_EQ(std::sscanf(m[i].str().c_str(), "%lf,%lf", &x, &y), 2);
        outline = {std::min(outline.x_lo, x), std::max(outline.x_hi, x), std::min(outline.y_lo, y),
                   std::max(outline.y_hi, y)};
    }
    EXPECT_NE(doc.find("<polygon class=\"ph\" points=\""), std::string::npos);
    // The shape's centroid lies in the hole: the label stands in the parcel, clear of the hole.
    ASSERT_TRUE(std::regex_search(doc, m, std::regex("<text class=\"c1\" x=\"(\\d+)\" y=\"(\\d+)\">1</text>"))) << doc;
    const double label_x = std::stod(m[1]), label_y = std::stod(m[2]);
    const auto share_x = (label_x - outline.x_lo) / (outline.x_hi - outline.x_lo);
    const auto share_y = (label_y - outline.y_lo) / (outline.y_hi - outline.y_lo);
    EXPECT_TRUE(share_x > 0 && share_x < 1 && share_y > 0 && share_y < 1) << label_x << "," << label_y;
    EXPECT_FALSE(share_x > 0.4 && share_x < 0.6 && share_y > 0.4 && share_y < 0.6) << label_x << "," << label_y;

    if (const std::string why = missing(Need::kHostTools); !why.empty()) GTEST_SKIP() << why;
    EXPECT_TRUE(xml_well_formed(program.file("hole.svg")));
    Drawing d;
    ASSERT_TRUE(read_drawing(doc, d));
    if (have_tool("rsvg-convert")) {
        const std::string png = program.file("hole.png");
        ASSERT_EQ(
            std::system(("rsvg-convert -f png -w 1000 -o '" + png + "' '" + program.file("hole.svg") + "'").c_str()),
            0);
        Image image;
        ASSERT_TRUE(read_png(png, image));
        expect_hole_unfilled(image, 0, 0, image.width / d.viewbox_width, outline, "rsvg-convert");
    } else {
        ADD_FAILURE() << "rsvg-convert is not installed";
    }
    if (std::filesystem::exists("/usr/bin/chromium")) {
        ASSERT_EQ(program.run({"hole.xml", "hole.htm", "all", "2"}).exit_code, 0);
        // The page fills a window of any shape with the whole drawing.
        Image image;
        ASSERT_TRUE(screenshot(program, "hole.htm", 700, 500, image));
        const Fitted fit = fitted_in(d, 700, 500);
        expect_hole_unfilled(image, fit.x0, fit.y0, fit.scale, outline, "Chromium");
    }
    // The PDF page: A4 upright at 1/600, the map centred in its room (7 mm margins, 15 mm above,
    // 19 mm below), one point a pixel at 72 dpi.
    if (have_tool("pdftoppm")) {
        const RunResult pdf = program.run({"--paper", "A4", "hole.xml", "hole.pdf", "all", "2"});
        ASSERT_EQ(pdf.exit_code, 0) << pdf.err;
        ASSERT_EQ(std::system(("pdftoppm -png -r 72 -singlefile '" + program.file("hole.pdf") + "' '" +
                               program.file("pdf") + "'")
                                  .c_str()),
                  0);
        Image image;
        ASSERT_TRUE(read_png(program.file("pdf.png"), image));
        const double point = 72.0 / 25.4;            // pixels per millimetre
        const double side = 100.0 * 1000.0 / 600.0;  // the parcel's side on paper, mm
        const double cx = 105.0, cy = (15.0 + 297.0 - 19.0) / 2;
        expect_hole_unfilled(image, (cx - side / 2) * point, (cy - side / 2) * point, point, Box{0, side, 0, side},
                             "PDF");
    }
}

// --label-all on a whole real file: every lot of the map file (but the one outside the district,
// which is not drawn) is named on the drawing or in its key, and no two labels overprint, judged
// by boxes measured here from each label's position, size and whole text in the label font.
TEST(CliDrawing, LabelAllNamesEveryLotAndNoLabelOverprintsAnother) {
    ProgramDir program;
    const std::string xml = read_file(shared_data("13113-0110-44.xml"));
    program.write("map.xml", xml);
    ASSERT_EQ(program.run({"--label-all", "map.xml", "all.svg"}).exit_code, 0);
    const std::string doc = read_file(program.file("all.svg"));
    std::multiset<std::string> lots;
    const std::regex lot_tag("<地番>([^<]*)</地番>");
    for (std::sregex_iterator it(xml.begin(), xml.end(), lot_tag), end; it != end; ++it) {
        if ((*it)[1].str().rfind("地区外", 0) != 0) lots.insert((*it)[1].str());
    }
    ASSERT_EQ(lots.size(), 327u);

    std::map<std::string, double> sizes;
    const std::regex rule("text\\.(c[123]) \\{[^}]*font-size:(\\d+)px");
    for (std::sregex_iterator it(doc.begin(), doc.end(), rule), end; it != end; ++it) {
        sizes[(*it)[1].str()] = std::stod((*it)[2].str());
    }
    ASSERT_EQ(sizes.size(), 3u) << doc.substr(0, 2000);
    struct TextBox {
        double left, top, right, bottom;
        std::string text;
    };
    std::vector<TextBox> boxes;
    std::multiset<std::string> named;
    const std::regex label(
        "<text class=\"(c[123])\" x=\"(-?\\d+)\" y=\"(-?\\d+)\"(?: transform=\"rotate\\((-?\\d+) "
        "[^)]*\\)\")?>([^<]*)</text>");
    for (std::sregex_iterator it(doc.begin(), doc.end(), label), end; it != end; ++it) {
        const std::string text = (*it)[5].str();
        const double size = sizes[(*it)[1].str()];
        platform::TextExtent extent;
        ASSERT_TRUE(platform::measure_text(text, "IPAexGothic", 100, extent));
        ASSERT_GT(extent.ascent_plus_descent, 0);
        const double width =
            size * static_cast<double>(extent.advance) / static_cast<double>(extent.ascent_plus_descent);
        const double x = std::stod((*it)[2].str()), y = std::stod((*it)[3].str());
        // A turned label: the bounds of its box turned about the anchor.
        const double turn = (*it)[4].matched ? std::stod((*it)[4].str()) * 3.14159265358979 / 180 : 0.0;
        TextBox box{x, y, x, y, text};
        for (const double u : {-width / 2, width / 2}) {
            for (const double v : {-0.88 * size, 0.12 * size}) {
                const double px = x + u * std::cos(turn) - v * std::sin(turn);
                const double py = y + u * std::sin(turn) + v * std::cos(turn);
                box = {std::min(box.left, px), std::min(box.top, py), std::max(box.right, px), std::max(box.bottom, py),
                       text};
            }
        }
        boxes.push_back(box);
        if (text.front() != '(') named.insert(text);
    }
    // The key: rows in the label font, a lot number after its reference, if any.
    const std::regex key_row(
        "<text x=\"\\d+\" y=\"\\d+\" text-anchor=\"start\" font-family=\"IPAexGothic,"
        "sans-serif\" font-size=\"\\d+\">(?:\\(\\d+\\) )?([^<]*)</text>");
    for (std::sregex_iterator it(doc.begin(), doc.end(), key_row), end; it != end; ++it) {
        if ((*it)[1].str().find("】") == std::string::npos && (*it)[1].str().find("出典") == std::string::npos) {
            named.insert((*it)[1].str());
        }
    }
    EXPECT_EQ(named, lots);
    std::sort(boxes.begin(), boxes.end(), [](const TextBox& a, const TextBox& b) { return a.left < b.left; });
    std::size_t overlaps = 0;
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        for (std::size_t j = i + 1; j < boxes.size() && boxes[j].left < boxes[i].right; ++j) {
            if (boxes[i].top < boxes[j].bottom && boxes[j].top < boxes[i].bottom) {
                ++overlaps;
                ADD_FAILURE() << boxes[i].text << " overprints " << boxes[j].text;
            }
        }
    }
    EXPECT_EQ(overlaps, 0u);
    // Without the option the small lots stay unlabelled, as the settings say.
    ASSERT_EQ(program.run({"map.xml", "default.svg"}).exit_code, 0);
    const std::string plain = read_file(program.file("default.svg"));
    EXPECT_LT(std::count(plain.begin(), plain.end(), '\n'), std::count(doc.begin(), doc.end(), '\n'));

    // On paper, whose size and scale are fixed, the key stands beside the sheet's frame: every lot of
    // sheet M40 (from its <図郭>) is named, and poppler finds every word on the page and none over
    // another. At 1/50000 the sheet is too small for most labels, so the key is used.
    std::map<std::string, std::string> lot_of;
    for (std::size_t at = xml.find("<筆 id=\""); at != std::string::npos; at = xml.find("<筆 id=\"", at + 1)) {
        const std::size_t id = at + std::string("<筆 id=\"").size();
        const std::size_t lot = xml.find("<地番>", id) + std::string("<地番>").size();
        lot_of[xml.substr(id, xml.find('"', id) - id)] = xml.substr(lot, xml.find("</地番>", lot) - lot);
    }
    const std::size_t sheet_at = xml.find("<地図番号>M40</地図番号>");
    ASSERT_NE(sheet_at, std::string::npos);
    const std::string sheet = xml.substr(sheet_at, xml.find("</図郭>", sheet_at) - sheet_at);
    std::multiset<std::string> sheet_lots;
    const std::regex reference("<筆参照 idref=\"([^\"]+)\"");
    for (std::sregex_iterator it(sheet.begin(), sheet.end(), reference), end; it != end; ++it) {
        ASSERT_EQ(lot_of.count((*it)[1].str()), 1u) << (*it)[1].str();
        sheet_lots.insert(lot_of[(*it)[1].str()]);
    }
    ASSERT_GT(sheet_lots.size(), 20u);
    if (!have_tool("pdftotext")) GTEST_SKIP() << "pdftotext is not installed";
    // A crowded generated map fitted to A4 leaves the key short of room: the warning counts the
    // lots left unnamed, and those the page names make up the rest.
    genmap::GenMapOptions options;
    options.parcels = 4000;
    options.seed = 1;
    genmap::GenMapSummary summary;
    ASSERT_EQ(genmap::generate_map_file(program.file("crowded.xml"), options, summary), genmap::kGenOk);
    const std::string crowded = read_file(program.file("crowded.xml"));
    std::multiset<std::string> crowded_lots;
    for (std::sregex_iterator it(crowded.begin(), crowded.end(), lot_tag), end; it != end; ++it) {
        if ((*it)[1].str().rfind("地区外", 0) != 0) crowded_lots.insert((*it)[1].str());
    }
    struct PaperCase {
        std::vector<std::string> args;
        const std::multiset<std::string>* lots;   // every one drawn
        const std::multiset<std::string>* named;  // null: all but those the warning counts
    };
    const PaperCase paper_cases[] = {
        {{"--label-all", "--paper", "A4", "--scale", "50000", "map.xml", "a4.pdf", "M40"}, &lots, &sheet_lots},
        {{"--label-all", "--paper", "A4", "crowded.xml", "a4.pdf"}, &crowded_lots, nullptr},
    };
    for (const PaperCase& c : paper_cases) {
        SCOPED_TRACE(c.args[c.args.size() - 2]);
        const RunResult printed = program.run(c.args);
        ASSERT_EQ(printed.exit_code, 0) << printed.err;
        std::size_t unnamed = 0;
        std::smatch warning;
        if (std::regex_search(printed.err, warning,
                              std::regex("No room on the paper for (\\d+) lots? in the key of --label-all, left "
                                         "unnamed: ([^,\n]+)"))) {
            unnamed = std::stoul(warning[1]);
        }
        EXPECT_EQ(unnamed != 0, c.named == nullptr) << printed.err;
        ASSERT_EQ(std::system(
                      ("pdftotext -bbox -enc UTF-8 '" + program.file("a4.pdf") + "' '" + program.file("a4.html") + "'")
                          .c_str()),
                  0);
        const std::string words = read_file(program.file("a4.html"));
        std::smatch page;
        ASSERT_TRUE(std::regex_search(words, page, std::regex("<page width=\"([0-9.]+)\" height=\"([0-9.]+)\"")));
        const double page_width = std::stod(page[1]), page_height = std::stod(page[2]);
        std::vector<TextBox> printed_boxes;
        std::multiset<std::string> printed_named;
        const std::regex word(
            "<word xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\" xMax=\"([0-9.]+)\" yMax=\"([0-9.]+)\">([^<]*)</word>");
        for (std::sregex_iterator it(words.begin(), words.end(), word), end; it != end; ++it) {
            const TextBox box{std::stod((*it)[1]), std::stod((*it)[2]), std::stod((*it)[3]), std::stod((*it)[4]),
                              (*it)[5].str()};
            EXPECT_TRUE(box.left >= 0 && box.top >= 0 && box.right <= page_width && box.bottom <= page_height)
                << box.text << " off the page";
            printed_boxes.push_back(box);
            if (c.lots->count(box.text) != 0) printed_named.insert(box.text);
        }
        std::sort(printed_boxes.begin(), printed_boxes.end(),
                  [](const TextBox& a, const TextBox& b) { return a.left < b.left; });
        std::size_t overprinted = 0;
        for (std::size_t i = 0; i < printed_boxes.size(); ++i) {
            for (std::size_t j = i + 1; j < printed_boxes.size() && printed_boxes[j].left < printed_boxes[i].right;
                 ++j) {
                if (printed_boxes[i].top < printed_boxes[j].bottom && printed_boxes[j].top < printed_boxes[i].bottom) {
                    if (++overprinted <= 5)
                        ADD_FAILURE() << printed_boxes[i].text << " overprints " << printed_boxes[j].text;
                }
            }
        }
        EXPECT_EQ(overprinted, 0u);
        if (c.named != nullptr) {
            EXPECT_EQ(printed_named, *c.named);
        } else {
            EXPECT_EQ(printed_named.size() + unnamed, c.lots->size());
            EXPECT_EQ(printed_named.count(warning[2].str()), 0u) << warning[2];
        }
    }
}

// A long thin lot crossing the drawing on the slant: across the strip its label runs over both
// edges, so --label-all turns it along the strip, and the turned box (from the label's place, turn
// and width measured here) lies inside the strip's outline as the drawing gives it.
TEST(CliDrawing, LabelAllTurnsTheLabelOfANarrowStripAlongIt) {
    ProgramDir program;
    // A 40 m square, and a strip 8.5 m wide running 45 degrees away from it.
    const std::vector<std::pair<int, int>> points = {{0, 0},   {0, 40},  {40, 40},   {40, 0},
                                                     {60, 66}, {66, 60}, {280, 274}, {274, 280}};
    std::string s = square_rings_head("帯", points);
    const auto surface = [](const std::string& id, int first) {
        std::string r = "<zmn:GM_Surface id=\"" + id + "\">\n<zmn:GM_SurfaceBoundary.exterior>\n<zmn:GM_Ring>\n";
        for (int c = first; c < first + 4; ++c) {
            r += "<zmn:GM_CompositeCurve.generator idref=\"C" + std::to_string(c) + "\"/>\n";
        }
        return r + "</zmn:GM_Ring>\n</zmn:GM_SurfaceBoundary.exterior>\n</zmn:GM_Surface>\n";
    };
    s += surface("F1", 1) + surface("F2", 5) + "</空間属性>\n<主題属性>\n";
    s += "<筆 id=\"H1\">\n<大字名>町</大字名>\n<地番>1</地番>\n<形状 idref=\"F1\"/>\n</筆>\n";
    s += "<筆 id=\"H2\">\n<大字名>町</大字名>\n<地番>1234-5678</地番>\n<形状 idref=\"F2\"/>\n</筆>\n";
    s += "</主題属性>\n</地図>\n";
    program.write("strip.xml", s);
    ASSERT_EQ(program.run({"--label-all", "strip.xml", "strip.svg"}).exit_code, 0);
    const std::string doc = read_file(program.file("strip.svg"));
    std::smatch m;
    ASSERT_TRUE(std::regex_search(
        doc, m, std::regex("<polygon class=\"p0\" points=\"[^\"]*\"/>\\s*<polygon class=\"p0\" points=\"([^\"]*)\"")))
        << doc;
    std::vector<std::pair<double, double>> strip;
    for (const std::string& pair : split(m[1].str(), ' ')) {
        double x = 0, y = 0;
        if (std::sscanf(pair.c_str(), "%lf,%lf", &x, &y) == 2) strip.emplace_back(x, y);
    }
    ASSERT_EQ(strip.size(), 4u) << m[1];
    ASSERT_TRUE(std::regex_search(
        doc, m,
        std::regex("<text class=\"(c[123])\" x=\"(-?[0-9.]+)\" y=\"(-?[0-9.]+)\" transform=\"rotate\\((-?\\d+) "
                   "(-?[0-9.]+) (-?[0-9.]+)\\)\">1234-5678</text>")))
        << doc;
    EXPECT_EQ(m[2].str(), m[5].str());
    EXPECT_EQ(m[3].str(), m[6].str());
    const int degrees = std::stoi(m[4].str());
    EXPECT_TRUE(degrees > -90 && degrees <= 90) << degrees;
    // The strip runs at 45 degrees on the page, whichever way it leans.
    EXPECT_EQ(std::abs(degrees), 45) << degrees;
    std::smatch rule;
    ASSERT_TRUE(std::regex_search(doc, rule, std::regex("text\\." + m[1].str() + " \\{[^}]*font-size:(\\d+)px")));
    const double size = std::stod(rule[1]);
    platform::TextExtent extent;
    ASSERT_TRUE(platform::measure_text("1234-5678", "IPAexGothic", 100, extent));
    const double width = size * static_cast<double>(extent.advance) / static_cast<double>(extent.ascent_plus_descent);
    const double x = std::stod(m[2]), y = std::stod(m[3]);
    const double c = std::cos(degrees * 3.14159265358979 / 180), sn = std::sin(degrees * 3.14159265358979 / 180);
    const auto inside_strip = [&](double px, double py) {
        bool in = false;
        for (std::size_t i = 0; i < strip.size(); ++i) {
            const auto [ax, ay] = strip[i];
            const auto [bx, by] = strip[(i + 1) % strip.size()];
            if ((ay > py) != (by > py) && ax + (py - ay) * (bx - ax) / (by - ay) > px) in = !in;
        }
        return in;
    };
    // The text's box in its own frame: from the anchor half the width each way, 0.88 em up, 0.12 down.
    for (const double u : {-width / 2, width / 2}) {
        for (const double v : {-0.88 * size, 0.12 * size}) {
            EXPECT_TRUE(inside_strip(x + u * c - v * sn, y + u * sn + v * c)) << u << "," << v;
        }
    }
    // Level, it would run over the strip's edges.
    EXPECT_FALSE(inside_strip(x - width / 2, y - 0.88 * size) && inside_strip(x + width / 2, y + 0.12 * size));
}

}  // namespace
}  // namespace chizuvec::test
