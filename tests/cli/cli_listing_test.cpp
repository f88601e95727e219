// The listing mode end to end: every parcel of a map file with its area, checked against areas
// worked out here from the XML by a separate, simpler route (element blocks and regular expressions
// over the whole file, then the shoelace formula over the first point of each curve).
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli_support.hpp"

namespace chizuvec::test {
namespace {

struct Xy {
    double x = 0.0;
    double y = 0.0;
};

// Every block from "<tag " (or "<tag>") to "</tag>", in document order.
std::vector<std::string_view> blocks(std::string_view text, const std::string& tag) {
    std::vector<std::string_view> out;
    const std::string open = "<" + tag, close = "</" + tag + ">";
    std::size_t at = 0;
    while ((at = text.find(open, at)) != std::string_view::npos) {
        const char next = at + open.size() < text.size() ? text[at + open.size()] : '\0';
        if (next != ' ' && next != '>') {
            at += open.size();
            continue;
        }
        const std::size_t end = text.find(close, at);
        if (end == std::string_view::npos) break;
        out.push_back(text.substr(at, end + close.size() - at));
        at = end + close.size();
    }
    return out;
}

std::string first_match(std::string_view block, const std::regex& re) {
    std::cmatch m;
    return std::regex_search(block.data(), block.data() + block.size(), m, re) ? m[1].str() : std::string();
}

unsigned long number(const std::string& s) { return s.empty() ? 0 : std::stoul(s); }

// Area of every kept parcel of a map file, by parcel id number; parcels outside the district
// (lot number starting 地区外) are not kept.
std::map<unsigned long, double> expected_areas(const std::string& xml) {
    const std::regex id_re("id=\"[A-Za-z]*0*([0-9]+)\"");
    const std::regex x_re("<zmn:X>([^<]*)</zmn:X>");
    const std::regex y_re("<zmn:Y>([^<]*)</zmn:Y>");
    const std::regex point_ref_re("GM_PointRef\\.point idref=\"P0*([0-9]+)\"");
    const std::regex curve_ref_re("generator idref=\"C0*([0-9]+)\"");
    const std::regex shape_re("<形状 idref=\"F0*([0-9]+)\"");
    const std::regex chiban_re("<地番>([^<]*)</地番>");

    std::map<unsigned long, Xy> points;
    for (std::string_view b : blocks(xml, "zmn:GM_Point")) {
        points.emplace(number(first_match(b, id_re)),
                       Xy{std::stod(first_match(b, x_re)), std::stod(first_match(b, y_re))});
    }
    // A curve's vertex is its first control point, by reference or given directly.
    std::map<unsigned long, Xy> curve_starts;
    for (std::string_view b : blocks(xml, "zmn:GM_Curve")) {
        const std::string_view column = blocks(b, "zmn:GM_PointArray.column").at(0);
        const std::string ref = first_match(column, point_ref_re);
        const Xy start = ref.empty() ? Xy{std::stod(first_match(column, x_re)), std::stod(first_match(column, y_re))}
                                     : points.at(number(ref));
        curve_starts.emplace(number(first_match(b, id_re)), start);
    }
    // A surface's outline is its last ring.
    std::map<unsigned long, std::vector<Xy>> outlines;
    for (std::string_view b : blocks(xml, "zmn:GM_Surface")) {
        std::vector<Xy> outline;
        const std::string ring(blocks(b, "zmn:GM_Ring").back());
        for (std::sregex_iterator it(ring.begin(), ring.end(), curve_ref_re), end; it != end; ++it) {
            outline.push_back(curve_starts.at(number((*it)[1].str())));
        }
        outlines.emplace(number(first_match(b, id_re)), outline);
    }
    std::map<unsigned long, double> areas;
    for (std::string_view b : blocks(xml, "筆")) {
        if (first_match(b, chiban_re).rfind("地区外", 0) == 0) continue;
        const std::vector<Xy>& ring = outlines.at(number(first_match(b, shape_re)));
        double twice = 0.0;
        for (std::size_t k = 0; k < ring.size(); ++k) {
            const Xy& p = ring[k];
            const Xy& q = ring[(k + 1) % ring.size()];
            twice += p.x * q.y - q.x * p.y;
        }
        areas.emplace(number(first_match(b, id_re)), std::fabs(twice) / 2.0);
    }
    return areas;
}

class CliListing : public ::testing::TestWithParam<const char*> {};

TEST_P(CliListing, ListsEveryParcelWithItsArea) {
    const std::string name = GetParam();
    std::string path = name == "sample.xml" ? sample_map_path() : shared_data(name);
    if (path.empty()) GTEST_SKIP() << name << " is not available";
    const std::string xml_path = path.substr(0, path.size() - 4) + ".xml";
    const std::map<unsigned long, double> expected = expected_areas(read_file(xml_path));
    ASSERT_FALSE(expected.empty());

    ProgramDir program;
    // An archive is unpacked beside itself, so it runs from a writable copy.
    if (name.ends_with(".zip")) {
        std::filesystem::copy_file(path, program.file(name));
        path = program.file(name);
    }
    const RunResult r = program.run({path}, "", {"LC_ALL=C.UTF-8"});
    ASSERT_EQ(r.exit_code, 0) << r.err;

    std::istringstream lines(r.out);
    std::string line;
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(line.rfind(path + " 地図名：", 0), 0u) << line;
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(line.rfind("   No 筆ID 形状ID 地図番号", 0), 0u) << line;

    std::size_t listed = 0;
    while (std::getline(lines, line)) {
        SCOPED_TRACE(line);
        ++listed;
        ASSERT_GT(line.size(), 18u);
        EXPECT_EQ(std::stoul(line.substr(0, 5)), listed);
        const unsigned long id_no = std::stoul(line.substr(5, 5));
        const double area = std::stod(line.substr(line.find_last_of(' ') + 1));
        ASSERT_EQ(expected.count(id_no), 1u);
        EXPECT_NEAR(area, expected.at(id_no), 0.05 + 1e-9);
    }
    EXPECT_EQ(listed, expected.size());
}

INSTANTIATE_TEST_SUITE_P(MapFiles, CliListing,
                         ::testing::Values("sample.xml", "12103-0400-76.xml", "12103-0400-76.zip", "46505-3411-1.xml",
                                           "46505-3411-1.zip"),
                         [](const ::testing::TestParamInfo<const char*>& param_info) {
                             std::string n = param_info.param;
                             for (char& c : n) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return n;
                         });

}  // namespace
}  // namespace chizuvec::test
