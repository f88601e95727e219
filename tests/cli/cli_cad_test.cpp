// DXF and SIMA end to end: every outline and lot number read back by GDAL's DXF driver and audited
// by ezdxf, and the SIMA file read by a reader written from the format's record layout, both
// against the map file's own points and outlines.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <set>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "cli_support.hpp"
#include "common/fixed_text.hpp"
#include "geometry/polygon_assembly.hpp"
#include "mapxml/map_xml_reader.hpp"
#include "platform/platform.hpp"
#include "test_os.hpp"

namespace chizuvec::test {
namespace {

namespace fs = std::filesystem;

// The map as the file has it: each ring of each parcel, outline first and then its holes, with the
// parcel's lot number and the ring's points (northing, easting).
struct Outline {
    std::string chiban;
    std::string lot;  // address and lot number, as the listing shows them
    bool hole = false;
    std::vector<std::pair<double, double>> points;
};
std::vector<Outline> outlines_of(const std::string& path, const std::string& map_no = "") {
    MapDataset dataset;
    MapHeader header;
    EXPECT_EQ(read_map_xml(path, dataset, header).status, ReadStatus::ok);
    BoundingBox bounds;
    assemble_outlines(dataset, map_no, bounds);
    std::vector<Outline> out;
    for (const Parcel& parcel : dataset.parcels) {
        if (!parcel.selected || parcel_outline(dataset, parcel).empty()) continue;
        const std::span<const std::uint32_t> indexes = parcel_outline(dataset, parcel);
        std::size_t at = 0;
        for (const OutlineRing& ring : parcel_rings(dataset, parcel)) {
            Outline o{std::string(field_view(parcel.chiban)),
                      std::string(field_view(parcel.address)) + std::string(field_view(parcel.chiban)),
                      ring.hole,
                      {}};
            for (std::size_t k = 0; k < ring.count; ++k, ++at) {
                o.points.emplace_back(dataset.points[indexes[at]].x, dataset.points[indexes[at]].y);
            }
            out.push_back(std::move(o));
        }
    }
    return out;
}

// Text between `open` and the next `close` if `open` comes before `to`.
std::string between(const std::string& xml, std::size_t from, std::size_t to, const std::string& open,
                    const std::string& close) {
    const std::size_t at = xml.find(open, from);
    if (at == std::string::npos || at >= to) return std::string();
    const std::size_t begin = at + open.size();
    return xml.substr(begin, xml.find(close, begin) - begin);
}

// Each GM_Point of a map file's text by its id: (northing, easting).
std::map<std::string, std::pair<double, double>> points_of(const std::string& xml) {
    std::map<std::string, std::pair<double, double>> points;
    const std::string point_open = "<zmn:GM_Point id=\"";
    for (std::size_t at = xml.find(point_open); at != std::string::npos; at = xml.find(point_open, at + 1)) {
        const std::size_t end = xml.find("</zmn:GM_Point>", at);
        points[between(xml, at, end, point_open, "\"")] = {std::stod(between(xml, at, end, "<zmn:X>", "<")),
                                                           std::stod(between(xml, at, end, "<zmn:Y>", "<"))};
    }
    return points;
}

// The map file's own 筆界点 or 基準点 records, found in its text apart from the reader: each name
// (点番名, 名称) with the (northing, easting) of the point its 形状 names.
std::vector<std::pair<std::string, std::pair<double, double>>> named_points_of(const std::string& path,
                                                                               const std::string& element) {
    const std::string xml = read_file(path);
    const std::map<std::string, std::pair<double, double>> points = points_of(xml);
    const std::string name_tag = element == "筆界点" ? "<点番名>" : "<名称>";
    std::vector<std::pair<std::string, std::pair<double, double>>> out;
    for (std::size_t at = xml.find("<" + element + ">"); at != std::string::npos;
         at = xml.find("<" + element + ">", at + 1)) {
        const std::size_t end = xml.find("</" + element + ">", at);
        const std::string ref = between(xml, at, end, "<形状 idref=\"", "\"");
        if (points.count(ref) != 0) out.emplace_back(between(xml, at, end, name_tag, "<"), points.at(ref));
    }
    return out;
}

// What ogrinfo reads from a DXF: per layer, the closed outlines (x, y pairs, first repeated at the
// end), the points and the texts (UTF-8).
struct DxfContent {
    std::map<std::string, std::vector<std::vector<std::pair<double, double>>>> lines;
    std::map<std::string, std::multiset<std::pair<long long, long long>>> points;  // x, y in mm
    std::map<std::string, std::multiset<std::string>> texts;
};
std::pair<long long, long long> in_mm(double x, double y) { return {std::llround(x * 1000), std::llround(y * 1000)}; }
DxfContent read_dxf(const std::string& path) {
    std::string text;
    EXPECT_EQ(command_output("ogrinfo -ro -al '" + path + "' 2>&1", text), 0) << text;
    DxfContent content;
    std::istringstream lines(text);
    std::string line, layer;
    bool has_text = false;
    while (std::getline(lines, line)) {
        if (line.rfind("OGRFeature", 0) == 0) layer.clear(), has_text = false;
        if (const auto at = line.find("Layer (String) = "); at != std::string::npos) layer = line.substr(at + 17);
        if (const auto at = line.find("Text (String) = "); at != std::string::npos) {
            content.texts[layer].insert(line.substr(at + 16));
            has_text = true;
        }
        if (const auto at = line.find("POINT Z ("); at != std::string::npos && !has_text) {
            std::istringstream xyz(line.substr(at + 9));
            double x = 0, y = 0;
            xyz >> x >> y;
            content.points[layer].insert(in_mm(x, y));
        }
        if (const auto at = line.find("LINESTRING Z ("); at != std::string::npos) {
            std::vector<std::pair<double, double>> ring;
            std::istringstream coords(line.substr(at + 14));
            std::string triple;
            while (std::getline(coords, triple, ',')) {
                std::istringstream xyz(triple);
                double x = 0, y = 0;
                xyz >> x >> y;
                ring.emplace_back(x, y);
            }
            content.lines[layer].push_back(std::move(ring));
        }
    }
    return content;
}

bool have(const std::string& tool) { return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0; }

// The texts of a layer as ezdxf reads them, \U+XXXX decoded by ezdxf as CAD programs decode it.
std::multiset<std::string> ezdxf_texts(const std::string& path, const std::string& layer) {
    std::string text;
    EXPECT_EQ(command_output("/usr/bin/python3 -c 'import ezdxf, sys\n"
                             "from ezdxf.lldxf.encoding import decode_dxf_unicode\n"
                             "for e in ezdxf.readfile(sys.argv[1]).modelspace().query(\"TEXT\"):\n"
                             "    print(e.dxf.layer + \"\\t\" + decode_dxf_unicode(e.dxf.text))' '" +
                                 path + "' 2>&1",
                             text),
              0)
        << text;
    std::multiset<std::string> texts;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(layer + "\t", 0) == 0) texts.insert(line.substr(layer.size() + 1));
    }
    return texts;
}

void expect_ezdxf_clean(const std::string& path) {
    std::string text;
    // Debian's python3-ezdxf, whatever python3 comes first on PATH.
    EXPECT_EQ(command_output("/usr/bin/python3 -m ezdxf audit '" + path + "' 2>&1", text), 0) << text;
    EXPECT_NE(text.find("No errors found"), std::string::npos) << text;
}

// Each vertex within 1 mm of the map point at the same place in the outline; DXF x is the easting.
void expect_outlines(const std::vector<std::vector<std::pair<double, double>>>& rings,
                     const std::vector<Outline>& outlines) {
    ASSERT_EQ(rings.size(), outlines.size());
    for (std::size_t k = 0; k < rings.size(); ++k) {
        const auto& ring = rings[k];
        const auto& want = outlines[k].points;
        ASSERT_EQ(ring.size(), want.size() + 1) << outlines[k].chiban;  // closed: the first again
        for (std::size_t i = 0; i < want.size(); ++i) {
            EXPECT_NEAR(ring[i].first, want[i].second, 0.001);
            EXPECT_NEAR(ring[i].second, want[i].first, 0.001);
        }
    }
}

TEST(CliCad, DxfReadsBackAsTheMap) {
    if (!have("ogrinfo") || !have("/usr/bin/python3")) GTEST_SKIP() << "bash tools/install_deps.sh";
    ProgramDir program;
    struct Case {
        std::string input;
        std::vector<std::string> after;  // map number and lots
        std::string map_no;
        std::set<std::string> highlighted;
    };
    std::vector<Case> cases = {{sample_map_path(), {"all", "101-3", "201-2"}, "", {"101-3", "201-2"}}};
    for (const char* name : {"12103-0400-76.xml", "46505-3411-1.zip", "13113-0110-44.xml"}) {
        const std::string path = shared_data(name);
        if (!path.empty()) cases.push_back({path, {}, "", {}});
    }
    // 任意座標系: the plane is the file's own, written all the same.
    std::string arbitrary = read_file(sample_map_path());
    arbitrary.replace(arbitrary.find("公共座標9系"), std::string("公共座標9系").size(), "任意座標系");
    // A character outside CP932 goes as \U+XXXX and reads back as itself; a CAD code stays text.
    arbitrary.replace(arbitrary.find("<地番>101-1<"), 15, "<地番>101-1ㄅ%%u<");
    cases.push_back({program.write("local.xml", arbitrary), {}, "", {}});
    // Lot 1 with lot 2 as its hole: the hole is a ring of its own.
    cases.push_back({program.write("hole.xml", holed_map()), {"all", "1"}, "", {"1"}});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        std::vector<std::string> args = {c.input, "out.dxf"};
        args.insert(args.end(), c.after.begin(), c.after.end());
        const RunResult r = program.run(args);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        expect_ezdxf_clean(program.file("out.dxf"));
        const std::string xml = c.input.ends_with(".zip") ? c.input.substr(0, c.input.size() - 4) + ".xml" : c.input;
        const std::vector<Outline> outlines = outlines_of(xml, c.map_no);
        const DxfContent dxf = read_dxf(program.file("out.dxf"));
        // Lots outside the district or on a separate sheet have a layer of their own.
        std::vector<Outline> inside, outside;
        for (const Outline& o : outlines) {
            const bool apart =
                o.chiban.find("地区外") != std::string::npos || o.chiban.find("別図") != std::string::npos;
            (apart ? outside : inside).push_back(o);
        }
        const auto layer = [&](const std::string& name) {
            return dxf.lines.count(name) ? dxf.lines.at(name) : decltype(dxf.lines)::mapped_type{};
        };
        expect_outlines(layer("筆界"), inside);
        expect_outlines(layer("筆界_地区外"), outside);
        std::multiset<std::string> lots;
        for (const Outline& o : outlines) {
            if (!o.hole) lots.insert(o.chiban);
        }
        EXPECT_EQ(ezdxf_texts(program.file("out.dxf"), "地番"), lots);
        // GDAL leaves \U+XXXX as it is written; every other text it reads back as UTF-8.
        if (c.input.find("local") == std::string::npos) {
            EXPECT_EQ(dxf.texts.count("地番") ? dxf.texts.at("地番") : std::multiset<std::string>{}, lots);
        }
        std::vector<Outline> named;
        for (const Outline& o : outlines) {
            if (c.highlighted.count(o.chiban) != 0) named.push_back(o);
        }
        expect_outlines(layer("強調"), named);
        EXPECT_EQ(dxf.texts.count("表題"), 1u);

        // Each 筆界点 of the map on a written outline once, with its 点番名; each 基準点 within the
        // outlines and frames written, with its 名称.
        const auto expect_points = [&](const std::string& name, const std::multiset<std::string>& names,
                                       const std::multiset<std::pair<long long, long long>>& points) {
            EXPECT_EQ(dxf.texts.count(name) ? dxf.texts.at(name) : std::multiset<std::string>{}, names) << name;
            EXPECT_EQ(dxf.points.count(name) ? dxf.points.at(name) : decltype(dxf.points)::mapped_type{}, points)
                << name;
        };
        std::set<std::pair<double, double>> used;
        for (const Outline& o : outlines) used.insert(o.points.begin(), o.points.end());
        std::multiset<std::string> names;
        std::multiset<std::pair<long long, long long>> points;
        for (const auto& [name, at] : named_points_of(xml, "筆界点")) {
            if (used.count(at) == 0) continue;
            names.insert(name);
            points.insert(in_mm(at.second, at.first));
        }
        expect_points("筆界点", names, points);
        double min_e = HUGE_VAL, min_n = HUGE_VAL, max_e = -HUGE_VAL, max_n = -HUGE_VAL;
        for (const std::string drawn : {"筆界", "筆界_地区外", "図郭"}) {
            for (const auto& ring : layer(drawn)) {
                for (const auto& [e, n] : ring) {
                    min_e = std::min(min_e, e), max_e = std::max(max_e, e);
                    min_n = std::min(min_n, n), max_n = std::max(max_n, n);
                }
            }
        }
        names.clear();
        points.clear();
        for (const auto& [name, at] : named_points_of(xml, "基準点")) {
            if (at.second < min_e || at.second > max_e || at.first < min_n || at.first > max_n) continue;
            names.insert(name);
            points.insert(in_mm(at.second, at.first));
        }
        expect_points("基準点", names, points);
        // The real files name most of their points.
        const auto names_written = [&](const std::string& name) {
            return dxf.texts.count(name) ? dxf.texts.at(name).size() : 0u;
        };
        if (xml.find("13113") != std::string::npos) {
            EXPECT_GT(names_written("筆界点"), 900u);
        }
        if (xml.find("12103") != std::string::npos) {
            EXPECT_GT(names_written("基準点"), 100u);
        }
    }
}

// --scale N: millimetres on paper at 1:N from the sheet's lower left corner, texts 2.5 mm high.
TEST(CliCad, DxfOnPaperIsTheMapScaled) {
    if (!have("ogrinfo")) GTEST_SKIP() << "bash tools/install_deps.sh";
    ProgramDir program;
    ASSERT_EQ(program.run({sample_map_path(), "metres.dxf", "A01"}).exit_code, 0);
    const RunResult r = program.run({"--scale", "500", sample_map_path(), "paper.dxf", "A01"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    MapDataset dataset;
    MapHeader header;
    ASSERT_EQ(read_map_xml(sample_map_path(), dataset, header).status, ReadStatus::ok);
    const MapSheet* sheet = find_sheet(dataset, "A01");
    ASSERT_TRUE(sheet != nullptr && sheet->has_frame);
    const auto metres = read_dxf(program.file("metres.dxf")).lines.at("筆界");
    const auto paper = read_dxf(program.file("paper.dxf")).lines.at("筆界");
    ASSERT_EQ(paper.size(), metres.size());
    for (std::size_t k = 0; k < paper.size(); ++k) {
        ASSERT_EQ(paper[k].size(), metres[k].size());
        for (std::size_t i = 0; i < paper[k].size(); ++i) {
            EXPECT_NEAR(paper[k][i].first, (metres[k][i].first - sheet->corner_y[0]) * 2.0, 1e-6);
            EXPECT_NEAR(paper[k][i].second, (metres[k][i].second - sheet->corner_x[0]) * 2.0, 1e-6);
        }
    }
    EXPECT_NE(read_file(program.file("paper.dxf")).find("\r\n 40\r\n2.5\r\n"), std::string::npos);
}

// The SIMA file as its record layout describes it: A01 points, then D00 .. D99 blocks of B01.
struct Sima {
    std::map<int, std::pair<double, double>> points;  // number: X (northing), Y (easting)
    std::map<int, std::string> names;
    std::vector<std::pair<std::string, std::vector<int>>> blocks;
    bool well_formed = true;
};
Sima read_sima(const std::string& bytes) {
    Sima sima;
    std::istringstream lines(bytes);
    std::string line;
    bool in_points = false, in_block = false;
    while (std::getline(lines, line)) {
        if (line.empty() || line.back() != '\r') sima.well_formed = false;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, ',');) f.push_back(field);
        if (f.empty()) continue;
        if (f[0] == "A00") in_points = true;
        if (f[0] == "A99") in_points = false;
        if (f[0] == "A01") {
            if (!in_points || f.size() < 5) sima.well_formed = false;
            const int n = std::stoi(f[1]);
            if (sima.points.count(n) != 0) sima.well_formed = false;  // each point once
            sima.points[n] = {std::stod(f[3]), std::stod(f[4])};
            sima.names[n] = f[2];
        }
        if (f[0] == "D00") {
            in_block = true;
            sima.blocks.push_back({f.size() > 2 ? f[2] : "", {}});
        }
        if (f[0] == "B01") {
            if (!in_block) sima.well_formed = false;
            sima.blocks.back().second.push_back(std::stoi(f[1]));
            // A reference names its point as the point's record does.
            if (f.size() < 3 || sima.names.count(std::stoi(f[1])) == 0 || sima.names[std::stoi(f[1])] != f[2]) {
                sima.well_formed = false;
            }
        }
        if (f[0] == "D99") in_block = false;
    }
    return sima;
}

TEST(CliCad, SimaBlocksAreTheMapsOutlines) {
    ProgramDir program;
    std::vector<std::string> inputs = {sample_map_path(), program.write("hole.xml", holed_map())};
    for (const char* name : {"12103-0400-76.xml", "13113-0110-44.xml", "46505-3411-1.xml"}) {
        if (const std::string path = shared_data(name); !path.empty()) inputs.push_back(path);
    }
    for (const std::string& input : inputs) {
        SCOPED_TRACE(input);
        const RunResult r = program.run({input, "out.sim"});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        const std::string bytes = read_file(program.file("out.sim"));
        ASSERT_EQ(bytes.rfind("G00,", 0), 0u);
        const Sima sima =
            read_sima(platform::convert_code_page(bytes, platform::kCodePageShiftJis, platform::kCodePageUtf8));
        EXPECT_TRUE(sima.well_formed);
        const std::vector<Outline> outlines = outlines_of(input);
        ASSERT_EQ(sima.blocks.size(), outlines.size());  // one block per ring
        std::set<std::pair<double, double>> distinct;
        for (std::size_t k = 0; k < outlines.size(); ++k) {
            EXPECT_EQ(sima.blocks[k].first, outlines[k].lot + (outlines[k].hole ? "(穴)" : ""));
            const std::vector<int>& refs = sima.blocks[k].second;
            ASSERT_EQ(refs.size(), outlines[k].points.size());
            for (std::size_t i = 0; i < refs.size(); ++i) {
                ASSERT_EQ(sima.points.count(refs[i]), 1u) << "B01 names an A01";
                EXPECT_EQ(sima.points.at(refs[i]), outlines[k].points[i]);
                distinct.insert(outlines[k].points[i]);
            }
        }
        // Shared points are written once.
        EXPECT_EQ(sima.points.size(), distinct.size());
        // Each point named by the 点番名 of the map's 筆界点 on it, else by its own id's number.
        std::map<std::pair<double, double>, std::string> name_at;
        for (const auto& [id, at] : points_of(read_file(input))) {
            name_at[at] = std::to_string(std::stoul(id.substr(id.find_first_of("0123456789"))));
        }
        std::size_t named = 0;
        for (const auto& [name, at] : named_points_of(input, "筆界点")) {
            if (distinct.count(at) != 0) ++named;
            name_at[at] = name;
        }
        for (const auto& [number, at] : sima.points) EXPECT_EQ(sima.names.at(number), name_at.at(at)) << number;
        if (input.find("13113") != std::string::npos) {
            EXPECT_GT(named, 900u);
        }
    }
}

TEST(CliCad, BatchWritesEverySheetInBothFormats) {
    ProgramDir program;
    for (const std::string format : {"dxf", "sim"}) {
        SCOPED_TRACE(format);
        fs::remove_all(program.file("out"));
        const std::string real = shared_data("13113-0110-44.xml");
        const RunResult r = program.run(
            {"--out-dir", "out", "--format", format, "--per-sheet", "--jobs", "2", sample_map_path(), real});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        std::size_t files = 0;
        std::set<std::string> names;  // the SIMA points' names of the real file's sheets
        for (const auto& entry : fs::directory_iterator(program.file("out"))) {
            EXPECT_EQ(entry.path().extension().string(), "." + format);
            ++files;
            if (format == "sim" && entry.path().filename().string().rfind("13113", 0) == 0) {
                const Sima sima = read_sima(platform::convert_code_page(
                    read_file(entry.path().string()), platform::kCodePageShiftJis, platform::kCodePageUtf8));
                for (const auto& [number, name] : sima.names) names.insert(name);
            }
        }
        EXPECT_GE(files, 6u);
        // The batch reads the point names for these formats as the single-map form does.
        if (format == "sim") {
            std::size_t named = 0;
            for (const auto& [name, at] : named_points_of(real, "筆界点")) named += names.count(name);
            EXPECT_GT(named, 900u);
        }
        EXPECT_GE(files, 2u);
        EXPECT_NE(r.err.find("Drawn " + std::to_string(files) + " sheets, failed 0"), std::string::npos) << r.err;
    }
}

}  // namespace
}  // namespace chizuvec::test
