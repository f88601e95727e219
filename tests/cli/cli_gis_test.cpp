// GIS output end to end: the real map file against what another converter wrote for it (through
// PROJ), a hand-made map of every awkward shape against cs2cs and our own plain reading of it, and
// every output read back by GDAL's ogrinfo.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "cli_support.hpp"
#include "gen_hostile_core.hpp"
#include "gen_map_core.hpp"
#include "gis/feature_writer.hpp"
#include "test_os.hpp"

namespace chizuvec::test {
namespace {

namespace fs = std::filesystem;

// A small JSON reader, enough for the outputs read back here.
struct Json {
    enum Kind { null, boolean, number, text, array, object } kind = null;
    double value = 0.0;
    std::string string;
    std::vector<Json> items;
    std::vector<std::string> keys;  // an object's member names, beside their values in items

    const Json& operator[](const std::string& key) const {
        for (std::size_t i = 0; i < keys.size(); ++i) {
            if (keys[i] == key) return items[i];
        }
        static const Json kMissing;
        ADD_FAILURE() << "no member " << key;
        return kMissing;
    }
};

class JsonParser {
  public:
    explicit JsonParser(const std::string& text) : s_(text) {}
    bool parse(Json& out) {
        ok_ = true;
        out = value();
        space();
        return ok_ && at_ == s_.size();
    }

  private:
    void space() {
        while (at_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[at_]))) ++at_;
    }
    bool eat(char c) {
        space();
        if (at_ < s_.size() && s_[at_] == c) return ++at_, true;
        return false;
    }
    std::string string_value() {
        std::string out;
        if (!eat('"')) return ok_ = false, out;
        while (at_ < s_.size() && s_[at_] != '"') {
            char c = s_[at_++];
            if (c == '\\' && at_ < s_.size()) {
                c = s_[at_++];
                if (c == 'u') {
                    const unsigned code = static_cast<unsigned>(std::stoul(s_.substr(at_, 4), nullptr, 16));
                    at_ += 4;
                    out += static_cast<char>(code);  // only control characters are escaped so
                    continue;
                }
                c = c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
            }
            out += c;
        }
        if (!eat('"')) ok_ = false;
        return out;
    }
    Json value() {
        Json v;
        space();
        if (at_ >= s_.size()) return ok_ = false, v;
        const char c = s_[at_];
        if (c == '{') {
            ++at_;
            v.kind = Json::object;
            if (eat('}')) return v;
            do {
                v.keys.push_back(string_value());
                if (!eat(':')) ok_ = false;
                v.items.push_back(value());
            } while (ok_ && eat(','));
            if (!eat('}')) ok_ = false;
        } else if (c == '[') {
            ++at_;
            v.kind = Json::array;
            if (eat(']')) return v;
            do v.items.push_back(value());
            while (ok_ && eat(','));
            if (!eat(']')) ok_ = false;
        } else if (c == '"') {
            v.kind = Json::text;
            v.string = string_value();
        } else if (s_.compare(at_, 4, "null") == 0) {
            at_ += 4;
        } else if (s_.compare(at_, 4, "true") == 0 || s_.compare(at_, 5, "false") == 0) {
            v.kind = Json::boolean;
            v.value = s_[at_] == 't';
            at_ += s_[at_] == 't' ? 4 : 5;
        } else {
            std::size_t used = 0;
            v.kind = Json::number;
            v.value = std::stod(s_.substr(at_, 40), &used);
            at_ += used;
        }
        return v;
    }
    const std::string& s_;
    std::size_t at_ = 0;
    bool ok_ = true;
};

Json parse_json(const std::string& text) {
    Json json;
    EXPECT_TRUE(JsonParser(text).parse(json)) << text.substr(0, 200);
    return json;
}

struct Point {
    double x = 0.0;
    double y = 0.0;
};

// Every ring of a MultiPolygon, each as its points.
std::vector<std::vector<Point>> rings_of(const Json& geometry) {
    std::vector<std::vector<Point>> rings;
    if (geometry.kind == Json::null) return rings;
    EXPECT_EQ(geometry["type"].string, "MultiPolygon");
    for (const Json& polygon : geometry["coordinates"].items) {
        for (const Json& ring : polygon.items) {
            rings.emplace_back();
            for (const Json& p : ring.items) rings.back().push_back({p.items[0].value, p.items[1].value});
        }
    }
    return rings;
}

double signed_area(const std::vector<Point>& ring) {
    double sum = 0.0;
    for (std::size_t i = 0; i + 1 < ring.size(); ++i) sum += ring[i].x * ring[i + 1].y - ring[i + 1].x * ring[i].y;
    return sum / 2.0;
}

// RFC 7946's rules for every polygon: closed rings of four points or more, no point repeated next
// to itself, the exterior counter-clockwise and the holes clockwise.
void expect_well_formed(const Json& geometry, const std::string& what) {
    if (geometry.kind == Json::null) return;
    for (const Json& polygon : geometry["coordinates"].items) {
        for (std::size_t r = 0; r < polygon.items.size(); ++r) {
            std::vector<Point> ring;
            for (const Json& p : polygon.items[r].items) ring.push_back({p.items[0].value, p.items[1].value});
            ASSERT_GE(ring.size(), 4u) << what;
            EXPECT_TRUE(ring.front().x == ring.back().x && ring.front().y == ring.back().y) << what;
            for (std::size_t i = 1; i < ring.size(); ++i) {
                EXPECT_FALSE(ring[i].x == ring[i - 1].x && ring[i].y == ring[i - 1].y) << what;
            }
            EXPECT_EQ(signed_area(ring) > 0, r == 0) << what << " ring " << r;
        }
    }
}

bool have_tool(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// What GDAL reads from an output: feature count, extent and fields ("name: Type" lines).
struct OgrSummary {
    long features = -1;
    double extent[4] = {0, 0, 0, 0};
    std::vector<std::string> fields;
    std::string text;
};

OgrSummary ogrinfo(const std::string& path) {
    OgrSummary s;
    EXPECT_EQ(command_output("ogrinfo -ro -al -so '" + path + "' 2>&1", s.text), 0) << s.text;
    std::istringstream in(s.text);
    std::string line;
    bool fields = false;
    while (std::getline(in, line)) {
        if (line.rfind("Feature Count: ", 0) == 0) s.features = std::stol(line.substr(15));
        if (line.rfind("Extent: ", 0) == 0) {
            std::sscanf(line.c_str(), "Extent: (%lf, %lf) - (%lf, %lf)", &s.extent[0], &s.extent[1], &s.extent[2],
                        &s.extent[3]);
        }
        if (fields) s.fields.push_back(line);
        if (line.rfind("Data axis to CRS axis mapping", 0) == 0 || line.rfind("Layer SRS WKT:", 0) == 0) {
            fields = line.rfind("Data axis", 0) == 0;
        }
    }
    return s;
}

// The fields every GIS output has, as ogrinfo lists them for GeoJSON.
const std::vector<std::string> kGeoJsonFields = {
    "筆ID: String (0.0)",           "地図名: String (0.0)",     "市区町村コード: String (0.0)",
    "市区町村名: String (0.0)",     "座標系: String (0.0)",     "測地系判別: String (0.0)",
    "大字コード: String (0.0)",     "丁目コード: String (0.0)", "小字コード: String (0.0)",
    "予備コード: String (0.0)",     "大字名: String (0.0)",     "丁目名: String (0.0)",
    "小字名: String (0.0)",         "予備名: String (0.0)",     "地番: String (0.0)",
    "筆界未定構成筆: String (0.0)", "精度区分: String (0.0)",   "座標値種別: String (0.0)",
    "地図番号: String (0.0)",       "縮尺分母: Integer (0.0)",  "面積: Real (0.0)",
    "代表点緯度: Real (0.0)",       "代表点経度: Real (0.0)",   "地図種類: String (0.0)",
    "地図分類: String (0.0)",       "地図材質: String (0.0)",   "地図作成年月日: String (0.0)",
    "地図ファイル: String (0.0)",   "代表点X: Real (0.0)",      "代表点Y: Real (0.0)",
};

void expect_gdal_reads(const std::string& path, const Json& collection) {
    if (const std::string why = missing(Need::kHostTools); !why.empty()) return;
    if (!have_tool("ogrinfo")) {
        ADD_FAILURE() << "ogrinfo (gdal-bin) is not installed: bash tools/install_deps.sh";
        return;
    }
    const OgrSummary s = ogrinfo(path);
    EXPECT_EQ(s.features, static_cast<long>(collection["features"].items.size())) << s.text;
    double lo_x = 1e300, lo_y = 1e300, hi_x = -1e300, hi_y = -1e300;
    for (const Json& f : collection["features"].items) {
        for (const auto& ring : rings_of(f["geometry"])) {
            for (const Point& p : ring) {
                lo_x = std::min(lo_x, p.x), lo_y = std::min(lo_y, p.y);
                hi_x = std::max(hi_x, p.x), hi_y = std::max(hi_y, p.y);
            }
        }
    }
    if (lo_x <= hi_x) {
        // ogrinfo prints the extent with six decimals.
        EXPECT_NEAR(s.extent[0], lo_x, 1e-6) << s.text;
        EXPECT_NEAR(s.extent[1], lo_y, 1e-6) << s.text;
        EXPECT_NEAR(s.extent[2], hi_x, 1e-6) << s.text;
        EXPECT_NEAR(s.extent[3], hi_y, 1e-6) << s.text;
    }
    // GDAL takes a GeoJSON field whose every value is a whole ISO date for a Date.
    std::vector<std::string> fields = s.fields;
    for (std::string& field : fields) {
        if (field == "地図作成年月日: Date (0.0)") field = "地図作成年月日: String (0.0)";
        // ... and one null in every feature for a String: the plane point of a map in degrees.
        if (field == "代表点X: String (0.0)" || field == "代表点Y: String (0.0)")
            field.replace(field.find("String"), 6, "Real");
    }
    EXPECT_EQ(fields, kGeoJsonFields) << s.text;
}

// The real map file against the output of another converter (through PROJ; its coordinates
// truncated to 9 decimals, its rings from the first point of each curve only): every point it has
// is one of ours, within 1e-8 degrees, and its 18 text columns hold what ours hold (but
// 筆界未定構成筆, which it leaves blank).
TEST(CliGis, RealFileMatchesAnotherConverter) {
    const fs::path peer = fs::path(CHIZUVEC_SHARED_DATA) / "peer-geojson";
    ASSERT_TRUE(fs::exists(peer)) << peer.string();
    const std::string input = shared_data("13113-0110-44.xml");
    ASSERT_FALSE(input.empty());
    ProgramDir program;
    for (const bool outside : {false, true}) {
        std::vector<std::string> args = {"--gis", "out.geojson", input};
        if (outside) args.insert(args.begin() + 2, "--include-outside");
        const RunResult r = program.run(args);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        const Json ours = parse_json(read_file(program.file("out.geojson")));
        const Json theirs = parse_json(
            read_file((peer / (outside ? "13113-0110-44-with-chikugai.geojson" : "13113-0110-44.geojson")).string()));
        ASSERT_EQ(ours["features"].items.size(), theirs["features"].items.size());
        std::map<std::string, const Json*> by_id;
        for (const Json& f : ours["features"].items) by_id[f["properties"]["筆ID"].string] = &f;
        std::size_t points = 0;
        for (const Json& f : theirs["features"].items) {
            const std::string id = f["properties"]["筆ID"].string;
            ASSERT_TRUE(by_id.count(id)) << id;
            const Json& mine = *by_id[id];
            const Json& properties = f["properties"];
            for (std::size_t k = 0; k < properties.keys.size(); ++k) {
                const std::string& key = properties.keys[k];
                const Json& value = properties.items[k];
                if (key == "筆界未定構成筆") continue;
                const Json& v = mine["properties"][key];
                EXPECT_EQ(v.kind, value.kind) << id << " " << key;
                EXPECT_EQ(v.string, value.string) << id << " " << key;
            }
            expect_well_formed(mine["geometry"], id);
            const auto our_rings = rings_of(mine["geometry"]);
            for (const auto& ring : rings_of(f["geometry"])) {
                for (const Point& p : ring) {
                    double nearest = 1e300;
                    for (const auto& our_ring : our_rings) {
                        for (const Point& q : our_ring) {
                            nearest = std::min(nearest, std::max(std::abs(p.x - q.x), std::abs(p.y - q.y)));
                        }
                    }
                    EXPECT_LE(nearest, 1e-8) << id << " " << p.x << " " << p.y;
                    ++points;
                }
            }
        }
        EXPECT_GT(points, 1000u);
        expect_gdal_reads(program.file("out.geojson"), ours);
    }
}

// A hand-made map in plane zone 9: the points are whole metres from the origin, so cs2cs can give
// every expected coordinate.
const char* const kShapesHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<地図>\n<地図名>形</地図名>\n<市区町村コード>13113</市区町村コード>\n"
    "<市区町村名>渋谷区</市区町村名>\n<座標系>公共座標9系</座標系>\n<測地系判別>測量</測地系判別>\n";

std::string xml_point(int id, int x, int y) {
    return "<zmn:GM_Point id=\"P" + std::to_string(id) + "\">\n<zmn:X>" + std::to_string(x) + "</zmn:X>\n<zmn:Y>" +
           std::to_string(y) + "</zmn:Y>\n</zmn:GM_Point>\n";
}

std::string xml_curve(int id, std::initializer_list<int> points, bool reversed = false) {
    std::string s = "<zmn:GM_Curve id=\"C" + std::to_string(id) + "\">\n<zmn:GM_OrientablePrimitive.orientation>" +
                    (reversed ? "-" : "+") + "</zmn:GM_OrientablePrimitive.orientation>\n";
    for (const int p : points) {
        s += "<zmn:GM_Position.indirect>\n<zmn:GM_PointRef.point idref=\"P" + std::to_string(p) +
             "\"/>\n</zmn:GM_Position.indirect>\n";
    }
    return s + "</zmn:GM_Curve>\n";
}

std::string xml_ring(const char* boundary, std::initializer_list<int> curves) {
    std::string s = std::string("<zmn:GM_SurfaceBoundary.") + boundary + ">\n<zmn:GM_Ring>\n";
    for (const int c : curves) s += "<zmn:GM_CompositeCurve.generator idref=\"C" + std::to_string(c) + "\"/>\n";
    return s + "</zmn:GM_Ring>\n</zmn:GM_SurfaceBoundary." + boundary + ">\n";
}

std::string xml_parcel(int id, const std::string& chiban, int shape, const std::string& extra = "") {
    std::string s = "<筆 id=\"H" + std::to_string(id) + "\">\n<大字名>宇田川町</大字名>\n<地番>" + chiban + "</地番>\n";
    if (shape != 0) s += "<形状 idref=\"F" + std::to_string(shape) + "\"/>\n";
    return s + extra + "</筆>\n";
}

// Parcel 1: a 100 m square with a 20 m square hole; its bottom edge is one curve of three points,
// its right edge a curve written from top to bottom and marked "-". Parcel 2: a triangle whose
// boundary is undetermined between two lots. Parcel 3 has no shape; lots 4 and 5 lie outside the
// district or on a separate sheet.
std::string shapes_map(const char* coord_system = "公共座標9系") {
    std::string s = kShapesHead;
    s.replace(s.find("公共座標9系"), std::string("公共座標9系").size(), coord_system);
    s += "<空間属性>\n";
    const int pts[][3] = {{1, 1000, 2000}, {2, 1000, 2050},  {3, 1000, 2100},  {4, 1100, 2100},
                          {5, 1100, 2000}, {6, 1040, 2040},  {7, 1040, 2060},  {8, 1060, 2060},
                          {9, 1060, 2040}, {10, 1200, 2200}, {11, 1200, 2300}, {12, 1300, 2200}};
    for (const auto& p : pts) s += xml_point(p[0], p[1], p[2]);
    s += xml_curve(1, {1, 2, 3}) + xml_curve(2, {4, 3}, true) + xml_curve(3, {4, 5}) + xml_curve(4, {5, 1});
    s += xml_curve(5, {6, 9}) + xml_curve(6, {9, 8, 7}) + xml_curve(7, {7, 6});  // the hole, clockwise already
    s += xml_curve(8, {10, 12}) + xml_curve(9, {12, 11}) + xml_curve(10, {11, 10});
    s += "<zmn:GM_Surface id=\"F1\">\n" + xml_ring("exterior", {1, 2, 3, 4}) + xml_ring("interior", {5, 6, 7}) +
         "</zmn:GM_Surface>\n";
    s += "<zmn:GM_Surface id=\"F2\">\n" + xml_ring("exterior", {8, 9, 10}) + "</zmn:GM_Surface>\n";
    s += "</空間属性>\n<主題属性>\n";
    s += xml_parcel(1, "1-1", 1, "<精度区分>甲二</精度区分>\n<座標値種別>測量成果</座標値種別>\n");
    s += xml_parcel(2, "2", 2,
                    "<筆界未定構成筆>\n<大字名>宇田川町</大字名>\n<地番>2-1</地番>\n</筆界未定構成筆>\n"
                    "<筆界未定構成筆>\n<大字名>宇田川町</大字名>\n<地番>2-2</地番>\n</筆界未定構成筆>\n");
    s += xml_parcel(3, "3", 0);
    s += xml_parcel(4, "地区外-4", 2);
    s += xml_parcel(5, "別図-5", 2);
    // Sheet A1 gives its texts before its parcels, A2 after them and a date without a day.
    s += "</主題属性>\n<図郭>\n<地図番号>A1</地図番号>\n<縮尺分母>500</縮尺分母>\n<地図種類>法務局作成地図</地図種類>\n"
         "<地図分類>法第14条1項地図</地図分類>\n<地図材質>電磁的記録媒体</地図材質>\n"
         "<地図作成年月日>\n<年>2009</年>\n<月>3</月>\n<日>23</日>\n</地図作成年月日>\n<筆参照 idref=\"H1\"/>\n"
         "<筆参照 idref=\"H2\"/>\n</図郭>\n<図郭>\n<地図番号>A2</地図番号>\n<縮尺分母>250</縮尺分母>\n"
         "<筆参照 idref=\"H1\"/>\n<筆参照 "
         "idref=\"H3\"/>\n<地図種類>地籍図</地図種類>\n<地図分類>地図に準ずる図面</地図分類>\n"
         "<地図作成年月日>\n<年>1996</年>\n<月>3</月>\n</地図作成年月日>\n</図郭>\n</地図>\n";
    return s;
}

// The plane points of parcel 1 and 2 in output order: (x, y) = (northing, easting).
const std::vector<std::vector<std::pair<int, int>>> kExpectedRings = {
    {{1000, 2000}, {1000, 2050}, {1000, 2100}, {1100, 2100}, {1100, 2000}, {1000, 2000}},  // exterior, CCW
    {{1040, 2040}, {1060, 2040}, {1060, 2060}, {1040, 2060}, {1040, 2040}},                // hole, CW
    {{1200, 2200}, {1200, 2300}, {1300, 2200}, {1200, 2200}},                              // triangle, CCW
};

constexpr double kSquareLessHoleArea = 100.0 * 100.0 - 20.0 * 20.0;

// GeoPackage and FlatGeobuf hold what the GeoJSON output holds: GDAL's ogr2ogr turns each back into
// GeoJSON, compared feature by feature (GDAL writes the FlatGeobuf features in its index's order).
void expect_same_features(const std::string& converted, const Json& ours) {
    const Json theirs = parse_json(read_file(converted));
    const auto& a = ours["features"].items;
    const auto& b = theirs["features"].items;
    ASSERT_EQ(a.size(), b.size());
    for (const Json& f : a) {
        const Json* match = nullptr;
        for (const Json& g : b) {
            if (g["properties"]["筆ID"].string == f["properties"]["筆ID"].string) match = &g;
        }
        ASSERT_NE(match, nullptr) << f["properties"]["筆ID"].string;
        // GDAL leaves null members out, and writes a text holding a JSON array as that array.
        const auto member = [](const Json& object, const std::string& name) {
            for (std::size_t i = 0; i < object.keys.size(); ++i) {
                if (object.keys[i] == name) return object.items[i];
            }
            return Json{};
        };
        for (const GisField& field : kParcelFields) {
            const std::string name(field.name);
            const Json x = member(f["properties"], name);
            const Json y = member((*match)["properties"], name);
            if (y.kind == Json::array) {
                EXPECT_EQ(parse_json(x.string).items.size(), y.items.size()) << name;
                continue;
            }
            EXPECT_EQ(x.kind, y.kind) << name;
            EXPECT_EQ(x.string, y.string) << name;
            EXPECT_NEAR(x.value, y.value, 1e-9) << name;
        }
        const auto rings = rings_of(f["geometry"]), other = rings_of((*match)["geometry"]);
        ASSERT_EQ(rings.size(), other.size());
        for (std::size_t r = 0; r < rings.size(); ++r) {
            ASSERT_EQ(rings[r].size(), other[r].size());
            for (std::size_t i = 0; i < rings[r].size(); ++i) {
                EXPECT_NEAR(rings[r][i].x, other[r][i].x, 1e-9);
                EXPECT_NEAR(rings[r][i].y, other[r][i].y, 1e-9);
            }
        }
    }
}

// A curve of direct positions and point references: {n, 0} is point n, {x, y} a direct position.
std::string xml_mixed_curve(int id, std::initializer_list<std::pair<int, int>> items, bool reversed = false) {
    std::string s = "<zmn:GM_Curve id=\"C" + std::to_string(id) + "\">\n<zmn:GM_OrientablePrimitive.orientation>" +
                    (reversed ? "-" : "+") + "</zmn:GM_OrientablePrimitive.orientation>\n";
    for (const auto& [a, b] : items) {
        if (b == 0) {
            s += "<zmn:GM_Position.indirect>\n<zmn:GM_PointRef.point idref=\"P" + std::to_string(a) +
                 "\"/>\n</zmn:GM_Position.indirect>\n";
        } else {
            s += "<zmn:GM_Position.direct>\n<zmn:X>" + std::to_string(a) + "</zmn:X>\n<zmn:Y>" + std::to_string(b) +
                 "</zmn:Y>\n</zmn:GM_Position.direct>\n";
        }
    }
    return s + "</zmn:GM_Curve>\n";
}

// The area of every output is that of the shape the outputs draw: every curve point in its
// orientation, direct positions too, and a parcel without shape before it changes nothing. Points
// 1-4 are a 20 m square at (1000, 2000); the expected area is the shoelace of the ring each case
// means, computed here.
TEST(CliGis, AreaFollowsTheShapeInEveryOutput) {
    const std::string square_points =
        xml_point(1, 1000, 2000) + xml_point(2, 1000, 2020) + xml_point(3, 1020, 2020) + xml_point(4, 1020, 2000);
    const std::string tail = xml_curve(3, {3, 4}) + xml_curve(4, {4, 1});
    struct Case {
        const char* name;
        std::string curves;
        std::vector<std::pair<int, int>> ring;
        bool shapeless_before = false;
    };
    const std::vector<std::pair<int, int>> square = {{1000, 2000}, {1000, 2020}, {1020, 2020}, {1020, 2000}};
    const Case cases[] = {
        {"curve marked -", xml_curve(1, {1, 2}) + xml_curve(2, {3, 2}, true) + tail, square},
        {"curve of three points",
         xml_mixed_curve(1, {{1, 0}, {998, 2010}, {2, 0}}) + xml_curve(2, {2, 3}) + tail,
         {{1000, 2000}, {998, 2010}, {1000, 2020}, {1020, 2020}, {1020, 2000}}},
        {"direct and indirect positions",
         xml_mixed_curve(1, {{1, 0}, {1000, 2020}}) + xml_mixed_curve(2, {{1000, 2020}, {3, 0}}) + tail, square},
        {"direct positions only",
         xml_mixed_curve(1, {{1000, 2000}, {1000, 2020}}) + xml_mixed_curve(2, {{1000, 2020}, {1020, 2020}}) +
             xml_mixed_curve(3, {{1020, 2020}, {1020, 2000}}) + xml_mixed_curve(4, {{1020, 2000}, {1000, 2000}}),
         square},
        {"a parcel without shape before it", xml_curve(1, {1, 2}) + xml_curve(2, {2, 3}) + tail, square, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string map = kShapesHead;
        map += "<空間属性>\n" + square_points + c.curves + "<zmn:GM_Surface id=\"F1\">\n" +
               xml_ring("exterior", {1, 2, 3, 4}) + "</zmn:GM_Surface>\n</空間属性>\n<主題属性>\n";
        if (c.shapeless_before) map += xml_parcel(1, "1", 0);
        map += xml_parcel(2, "2", 1) + "</主題属性>\n</地図>\n";
        ProgramDir program;
        program.write("m.xml", map);
        const double area = shoelace(c.ring);
        const RunResult gis = program.run({"--gis", "out.geojson", "m.xml"});
        ASSERT_EQ(gis.exit_code, 0) << gis.err;
        const Json json = parse_json(read_file(program.file("out.geojson")));
        const Json& last = json["features"].items.back();
        ASSERT_NE(last["geometry"].kind, Json::null);
        EXPECT_NEAR(last["properties"]["面積"].value, area, 1e-6);
        const RunResult csv = program.run({"--csv", "-", "m.xml"});
        ASSERT_EQ(csv.exit_code, 0) << csv.err;
        std::smatch m;
        ASSERT_TRUE(std::regex_search(csv.out, m, std::regex("\nm\\.xml,2,宇田川町,2,,公共座標9系,([0-9.]+),")))
            << csv.out;
        EXPECT_NEAR(std::stod(m[1]), area, 0.05);
        if (c.shapeless_before) continue;  // the listing's assembly stops at a parcel without shape
        const RunResult listing = program.run({"m.xml"});
        EXPECT_EQ(listing.err.find("Illegal polygon"), std::string::npos) << listing.err;
    }
}

// A bow-tie (a ring crossing itself, of no signed area) and an outline of three points on one line are
// written as they stand; one of two points has no shape. The label of the one on a line stands at its
// middle point, the mean of its points.
TEST(CliGis, BowTieWrittenAsItStandsAndAnOutlineOnALineLabelledAtItsPoints) {
    std::string map = kShapesHead;
    map += "<空間属性>\n" + xml_point(1, 1000, 2000) + xml_point(2, 1020, 2020) + xml_point(3, 1000, 2020) +
           xml_point(4, 1020, 2000) + xml_point(5, 1000, 2100) + xml_point(6, 1010, 2100) + xml_point(7, 1020, 2100);
    map += xml_curve(1, {1, 2}) + xml_curve(2, {2, 3}) + xml_curve(3, {3, 4}) + xml_curve(4, {4, 1}) +
           xml_curve(5, {5, 6}) + xml_curve(6, {6, 7}) + xml_curve(7, {7, 5}) + xml_curve(8, {5, 7}) +
           xml_curve(9, {7, 5});
    map += "<zmn:GM_Surface id=\"F1\">\n" + xml_ring("exterior", {1, 2, 3, 4}) + "</zmn:GM_Surface>\n";
    map += "<zmn:GM_Surface id=\"F2\">\n" + xml_ring("exterior", {5, 6, 7}) + "</zmn:GM_Surface>\n";
    map += "<zmn:GM_Surface id=\"F3\">\n" + xml_ring("exterior", {8, 9}) + "</zmn:GM_Surface>\n";
    map += "</空間属性>\n<主題属性>\n" + xml_parcel(1, "1", 1) + xml_parcel(2, "2", 2) + xml_parcel(3, "3", 3) +
           "</主題属性>\n</地図>\n";
    ProgramDir program;
    program.write("m.xml", map);
    const RunResult r = program.run({"--gis", "out.geojson", "m.xml"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("Wrote 3 parcels (1 without shape)"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("\nWithout shape: 3 (m.xml)\n"), std::string::npos) << r.err;
    // Ten are named, then how many more.
    std::string many = std::string(kShapesHead) + "<主題属性>\n";
    std::string named;
    for (int i = 1; i <= 12; ++i) {
        many += xml_parcel(i, std::to_string(i), 0);
        if (i <= 10) named += (i > 1 ? ", " : "") + std::to_string(i) + " (n.xml)";
    }
    program.write("n.xml", many + "</主題属性>\n</地図>\n");
    const RunResult n = program.run({"--gis", "n.geojson", "n.xml"});
    ASSERT_EQ(n.exit_code, 0) << n.err;
    EXPECT_NE(n.err.find("\nWithout shape: " + named + " and 2 more\n"), std::string::npos) << n.err;
    const Json json = parse_json(read_file(program.file("out.geojson")));
    const auto& features = json["features"].items;
    ASSERT_EQ(features.size(), 3u);
    const auto rings = rings_of(features[0]["geometry"]);
    ASSERT_EQ(rings.size(), 1u);
    EXPECT_EQ(rings[0].size(), 5u);  // the four corners in the file's order, closed
    EXPECT_EQ(features[0]["properties"]["面積"].value, 0.0);
    EXPECT_NE(features[0]["properties"]["代表点緯度"].kind, Json::null);
    EXPECT_EQ(rings_of(features[1]["geometry"]).size(), 1u);
    EXPECT_EQ(features[2]["geometry"].kind, Json::null);

    const RunResult drawn = program.run({"m.xml", "m.svg", "all", "2"});
    ASSERT_EQ(drawn.exit_code, 0) << drawn.err;
    const std::string doc = read_file(program.file("m.svg"));
    std::smatch m;
    ASSERT_TRUE(
        std::regex_search(doc, m, std::regex("<polygon class=\"ph\" points=\"\\d+,\\d+ (\\d+),(\\d+) \\d+,\\d+\"/>")))
        << doc;
    const int middle_x = std::stoi(m[1]), middle_y = std::stoi(m[2]);
    ASSERT_TRUE(std::regex_search(doc, m, std::regex("<text class=\"c\\d\" x=\"(\\d+)\" y=\"(\\d+)\">2</text>")))
        << doc;
    EXPECT_NEAR(std::stoi(m[1]), middle_x, 1);
    EXPECT_NEAR(std::stoi(m[2]), middle_y, 1);
}

TEST(CliGis, EveryShapeOfAHandMadeMap) {
    ProgramDir program;
    program.write("shapes.xml", shapes_map());
    RunResult r = program.run({"--gis", "out.geojson", "shapes.xml"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("Left out (地区外, 別図; --include-outside writes them): 地区外-4 (shapes.xml), 別図-5 "
                         "(shapes.xml)\n"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("Wrote 3 parcels (1 without shape) of 1 map files, left out 2 (地区外, 別図), skipped 0 "
                         "(任意座標系), failed 0 in "),
              std::string::npos)
        << r.err;
    const Json json = parse_json(read_file(program.file("out.geojson")));
    EXPECT_EQ(json["type"].string, "FeatureCollection");
    for (const std::string& key : json.keys) EXPECT_NE(key, "crs");
    const auto& features = json["features"].items;
    ASSERT_EQ(features.size(), 3u);
    const Json& p1 = features[0]["properties"];
    EXPECT_EQ(p1["筆ID"].string, "H1");
    EXPECT_EQ(p1["市区町村コード"].string, "13113");
    EXPECT_EQ(p1["測地系判別"].string, "測量");
    EXPECT_EQ(p1["地図番号"].string, "A1;A2");
    // A number: the scale of the first sheet that lists the parcel; null where no sheet has one.
    EXPECT_EQ(p1["縮尺分母"].kind, Json::number);
    EXPECT_EQ(p1["縮尺分母"].value, 500.0);
    EXPECT_EQ(features[1]["properties"]["縮尺分母"].value, 500.0);
    EXPECT_EQ(features[2]["properties"]["縮尺分母"].value, 250.0);
    EXPECT_EQ(p1["精度区分"].string, "甲二");
    EXPECT_EQ(p1["座標値種別"].string, "測量成果");
    EXPECT_EQ(p1["丁目名"].kind, Json::null);
    EXPECT_EQ(p1["筆界未定構成筆"].kind, Json::null);
    // The outline less its hole.
    EXPECT_NEAR(p1["面積"].value, kSquareLessHoleArea, 1e-6);
    const Json& p2 = features[1]["properties"];
    const Json members = parse_json(p2["筆界未定構成筆"].string);
    ASSERT_EQ(members.items.size(), 2u);
    EXPECT_EQ(members.items[1]["地番"].string, "2-2");
    EXPECT_EQ(members.items[1]["大字名"].string, "宇田川町");
    EXPECT_EQ(features[2]["properties"]["地番"].string, "3");
    EXPECT_EQ(features[2]["geometry"].kind, Json::null);
    EXPECT_EQ(features[2]["properties"]["代表点緯度"].kind, Json::null);
    // Sheet texts from the first sheet that lists the parcel, whichever comes first in the sheet.
    for (const auto& [f, kind, classification, material, made_on] :
         std::vector<std::tuple<int, const char*, const char*, const char*, const char*>>{
             {0, "法務局作成地図", "法第14条1項地図", "電磁的記録媒体", "2009-03-23"},
             {1, "法務局作成地図", "法第14条1項地図", "電磁的記録媒体", "2009-03-23"},
             {2, "地籍図", "地図に準ずる図面", nullptr, "1996-03"}}) {
        const Json& p = features[static_cast<std::size_t>(f)]["properties"];
        EXPECT_EQ(p["地図種類"].string, kind) << f;
        EXPECT_EQ(p["地図分類"].string, classification) << f;
        if (material == nullptr) {
            EXPECT_EQ(p["地図材質"].kind, Json::null) << f;
        } else {
            EXPECT_EQ(p["地図材質"].string, material) << f;
        }
        EXPECT_EQ(p["地図作成年月日"].string, made_on) << f;
    }

    std::vector<std::vector<Point>> rings = rings_of(features[0]["geometry"]);
    for (const auto& ring : rings_of(features[1]["geometry"])) rings.push_back(ring);
    ASSERT_EQ(rings.size(), kExpectedRings.size());
    for (std::size_t i = 0; i < rings.size(); ++i) ASSERT_EQ(rings[i].size(), kExpectedRings[i].size()) << i;
    expect_well_formed(features[0]["geometry"], "H1");
    expect_well_formed(features[1]["geometry"], "H2");
    // The label point lies inside the square and outside its hole.
    const double label_lon = p1["代表点経度"].value, label_lat = p1["代表点緯度"].value;
    EXPECT_GT(label_lon, rings[0][0].x);
    EXPECT_LT(label_lon, rings[0][2].x);
    EXPECT_GT(label_lat, rings[0][0].y);
    EXPECT_LT(label_lat, rings[0][3].y);
    EXPECT_FALSE(label_lon > rings[1][0].x && label_lon < rings[1][2].x && label_lat > rings[1][0].y &&
                 label_lat < rings[1][2].y);

    if (missing(Need::kHostTools).empty() && have_tool("cs2cs")) {
        std::string points;
        for (const auto& ring : kExpectedRings) {
            for (const auto& [x, y] : ring) points += std::to_string(x) + " " + std::to_string(y) + "\n";
        }
        const std::string input = program.write("points.txt", points);
        std::string output;
        ASSERT_EQ(command_output("cs2cs -f %.12f EPSG:6677 EPSG:6668 < '" + input + "'", output), 0);
        std::istringstream in(output);
        for (const auto& ring : rings) {
            for (const Point& p : ring) {
                double lat = 0.0, lon = 0.0;
                std::string height;
                ASSERT_TRUE(in >> lat >> lon >> height);
                EXPECT_NEAR(p.x, lon, 0.6e-9);  // written with 9 decimals, rounded
                EXPECT_NEAR(p.y, lat, 0.6e-9);
            }
        }
    }
    expect_gdal_reads(program.file("out.geojson"), json);

    for (const char* format : {"gpkg", "fgb"}) {
        SCOPED_TRACE(format);
        const std::string name = std::string("out.") + format;
        r = program.run({"--gis", name, "shapes.xml"});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        ASSERT_TRUE(fs::exists(program.file(name)));
        if (!missing(Need::kHostTools).empty() || !have_tool("ogr2ogr")) continue;
        const std::string back = program.file(std::string("back-") + format + ".geojson");
        std::string log;
        ASSERT_EQ(command_output("ogr2ogr -f GeoJSON '" + back + "' '" + program.file(name) + "' 2>&1", log), 0) << log;
        expect_same_features(back, json);
    }

    // --include-outside keeps lots 4 and 5; standard output gets the same bytes a file does.
    r = program.run({"--gis", "all.geojson", "--include-outside", "shapes.xml"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const Json all = parse_json(read_file(program.file("all.geojson")));
    ASSERT_EQ(all["features"].items.size(), 5u);
    EXPECT_EQ(all["features"].items[4]["properties"]["地番"].string, "別図-5");
    // (On Windows the harness reads standard output as console text in the ANSI code page.)
    if (missing(Need::kHostTools).empty()) {
        ASSERT_EQ(program.run({"--gis", "-", "shapes.xml"}).out, read_file(program.file("out.geojson")));
    }
}

// 任意座標系 maps: skipped and named by default; with --include-arbitrary in local metres (easting,
// northing), and never in one output with longitude and latitude; a failed run leaves the old file.
TEST(CliGis, ArbitraryCoordinatesStayApart) {
    ProgramDir program;
    program.write("plane.xml", shapes_map());
    program.write("local.xml", shapes_map("任意座標系"));
    RunResult r = program.run({"--gis", "out.geojson", "plane.xml", "local.xml"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("local.xml: Skipped: 任意座標系"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("skipped 1 (任意座標系)"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Skipped (任意座標系): local.xml\n"), std::string::npos) << r.err;
    EXPECT_EQ(parse_json(read_file(program.file("out.geojson")))["features"].items.size(), 3u);
    // Nothing but 任意座標系: no empty layer, the option named.
    r = program.run({"--gis", "arb.gpkg", "local.xml"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("** Error: no parcel could be written to \"arb.gpkg\": nothing was written\n1 map file is "
                         "in 任意座標系 (local.xml): --include-arbitrary writes it in local metres\n"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(program.file("arb.gpkg")));

    r = program.run({"--gis", "local.geojson", "--include-arbitrary", "local.xml"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const Json local = parse_json(read_file(program.file("local.geojson")));
    const auto rings = rings_of(local["features"].items[0]["geometry"]);
    ASSERT_FALSE(rings.empty());
    ASSERT_EQ(rings[0].size(), kExpectedRings[0].size());
    for (std::size_t i = 0; i < rings[0].size(); ++i) {
        EXPECT_EQ(rings[0][i].x, kExpectedRings[0][i].second);  // easting
        EXPECT_EQ(rings[0][i].y, kExpectedRings[0][i].first);   // northing
    }
    // The point inside each parcel in the map's X (northing, 1000s) and Y (easting, 2000s), never as
    // degrees; the square's outside its hole, the triangle's inside it.
    const auto& local_features = local["features"].items;
    ASSERT_EQ(local_features.size(), 3u);
    for (std::size_t f = 0; f < 2; ++f) {
        const Json& p = local_features[f]["properties"];
        EXPECT_EQ(p["代表点緯度"].kind, Json::null);
        EXPECT_EQ(p["代表点経度"].kind, Json::null);
        const double x = p["代表点X"].value - (f == 0 ? 1000 : 1200), y = p["代表点Y"].value - (f == 0 ? 2000 : 2200);
        EXPECT_TRUE(x > 0 && x < 100 && y > 0 && y < 100) << f << ": " << x << ", " << y;
        EXPECT_TRUE(f == 0 ? !(x >= 40 && x <= 60 && y >= 40 && y <= 60) : x + y < 100.0) << x << ", " << y;
        EXPECT_EQ(p["地図ファイル"].string, "local.xml");
    }
    // The CSV's rows join the features by map file and 筆ID as the map writes it; 任意座標系 rows say
    // their unit is the map's own.
    r = program.run({"--csv", "-", "plane.xml", "local.xml"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::vector<std::string> csv = split(r.out, '\n');
    // A header, four parcels of each file (別図-5 too, which the features leave out), nothing after
    // the last CR LF.
    ASSERT_EQ(csv.size(), 10u) << r.out;
    for (std::size_t i = 0; i < 8; ++i) {
        const std::vector<std::string> row = split(csv[i + 1], ',');
        ASSERT_EQ(row.size(), 11u) << csv[i + 1];
        EXPECT_EQ(row[10], i < 4 ? "m\r" : "map\r");
        if (i % 4 == 3) continue;
        const Json& p = local_features[i % 4]["properties"];
        EXPECT_EQ(row[0], i < 4 ? "plane.xml" : p["地図ファイル"].string);
        EXPECT_EQ(row[9], p["筆ID"].string);
    }

    const std::string before = read_file(program.file("out.geojson"));
    r = program.run({"--gis", "out.geojson", "--include-arbitrary", "plane.xml", "local.xml"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("cannot share one output: local.xml; plane.xml\n"), std::string::npos) << r.err;
    EXPECT_EQ(read_file(program.file("out.geojson")), before);
    for (const auto& entry : fs::directory_iterator(program.dir.path)) {
        EXPECT_EQ(entry.path().filename().string().find("out.geojson."), std::string::npos) << entry.path();
    }
}

// What a map file should not hold: a point number from 2^31 up, coordinates beyond any zone and
// beyond any double (such shapes become null geometries), bytes that are not UTF-8, a control
// character, quote and backslash. The output stays valid JSON.
TEST(CliGis, HostileInputGivesValidJson) {
    ProgramDir program;
    std::string map = shapes_map();
    const auto replace = [&](const std::string& from, const std::string& to) {
        const std::size_t at = map.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        map.replace(at, from.size(), to);
    };
    replace("idref=\"P6\"", "idref=\"P2147483654\"");        // the hole of parcel 1
    replace("<zmn:X>1200</zmn:X>", "<zmn:X>1e300</zmn:X>");  // the triangle of parcel 2
    replace("<筆 id=\"H3\">", "<筆 id=\"H3\">\n<形状 idref=\"F3\"/>\n<小字名>\xff\x01\"\\</小字名>");
    replace("</空間属性>", xml_point(20, 0, 0) + xml_point(21, 0, 10) + xml_point(22, 9000000, 0) +
                               xml_curve(20, {20, 21, 22, 20}) + "<zmn:GM_Surface id=\"F3\">\n" +
                               xml_ring("exterior", {20}) + "</zmn:GM_Surface>\n</空間属性>");
    program.write("hostile.xml", map);
    const RunResult r = program.run({"--gis", "out.geojson", "hostile.xml"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("Wrote 3 parcels (3 without shape)"), std::string::npos) << r.err;
    const Json json = parse_json(read_file(program.file("out.geojson")));
    for (const Json& f : json["features"].items) EXPECT_EQ(f["geometry"].kind, Json::null);
    // Texts that are not UTF-8 or need escaping arrive as what they stand for, in every format.
    EXPECT_EQ(json["features"].items[2]["properties"]["小字名"].string, "\xEF\xBF\xBD\x01\"\\");
    for (const char* name : {"out.gpkg", "out.fgb"}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(program.run({"--gis", name, "hostile.xml"}).exit_code, 0);
        const std::string bytes = read_file(program.file(name));
        EXPECT_EQ(bytes.find("\xff\x01\"\\"), std::string::npos);
        EXPECT_NE(bytes.find("\xEF\xBF\xBD\x01\"\\"), std::string::npos);
    }
}

// A generated archive of thousands of parcels: every feature well formed, and GDAL agrees.
TEST(CliGis, GeneratedMapsInInputOrder) {
    ProgramDir program;
    genmap::GenMapOptions options;
    genmap::GenMapSummary summaries[2];
    for (int i = 0; i < 2; ++i) {
        options.parcels = i == 0 ? 3000 : 500;
        options.seed = static_cast<std::uint64_t>(7 + i);
        const std::string name = i == 0 ? "m0.zip" : "m1.zip";
        ASSERT_EQ(genmap::generate_map_zip(program.file(name), options, summaries[i]), genmap::kGenOk);
    }
    const RunResult r = program.run({"--gis", "out.json", "--jobs", "2", "m0.zip", "m1.zip"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const Json json = parse_json(read_file(program.file("out.json")));
    const auto& features = json["features"].items;
    std::size_t expected = 0;
    for (const auto& s : summaries) expected += s.parcels - s.outside_parcels;
    std::size_t separate = 0;
    for (const Json& f : features) {
        expect_well_formed(f["geometry"], f["properties"]["筆ID"].string);
        EXPECT_EQ(f["properties"]["地番"].string.find("地区外"), std::string::npos);
        separate += f["properties"]["地番"].string.find("別図") != std::string::npos;
    }
    EXPECT_EQ(separate, 0u);
    EXPECT_LE(features.size(), expected);
    EXPECT_GT(features.size(), expected * 9 / 10);
    // Input order: the first map's parcels, then the second's, each in document order.
    EXPECT_EQ(features.front()["properties"]["筆ID"].string.substr(0, 1), "H");
    EXPECT_NE(features.front()["properties"]["地図名"].string, features.back()["properties"]["地図名"].string);
    expect_gdal_reads(program.file("out.json"), json);
}

// Maps shaped so that each parcel's attributes or points would grow faster than the file: one
// parcel with many 筆界未定構成筆 members or on many sheets of distinct scales keeps every one, in
// order; a ring naming one long curve again and again is refused with the drawing's bound before
// its points are made; a cut-off file says so, as the other batch outputs do.
TEST(CliGis, InputsShapedToGrowStayLinear) {
    using genhostile::Attack;
    ProgramDir program;
    constexpr std::uint32_t kMembers = 20000;
    ASSERT_TRUE(genhostile::write_attack(Attack::undetermined_members, kMembers, program.file("members.xml")));
    ASSERT_TRUE(genhostile::write_attack(Attack::distinct_scales, kMembers, program.file("scales.xml")));
    RunResult r = program.run({"--gis", "out.geojson", "members.xml", "scales.xml"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const Json json = parse_json(read_file(program.file("out.geojson")));
    ASSERT_EQ(json["features"].items.size(), 2u);
    const Json members = parse_json(json["features"].items[0]["properties"]["筆界未定構成筆"].string);
    ASSERT_EQ(members.items.size(), kMembers);
    EXPECT_EQ(members.items.front()["地番"].string, "2");
    EXPECT_EQ(members.items.back()["地番"].string, std::to_string(kMembers + 1));
    // Sheet A1 at 1/500 first, then S0 .. at 1/1, 1/2, ...: the first sheet's scale.
    EXPECT_EQ(json["features"].items[1]["properties"]["縮尺分母"].value, 500.0);

    // 2,000 points named 50,001 times: over 100,000,000 with the closing point.
    ASSERT_TRUE(genhostile::write_attack(Attack::repeated_curve, 50001, program.file("curve.xml")));
    r = program.run({"--gis", "curve.geojson", "curve.xml", "members.xml"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err.substr(0, r.err.find("Nothing written")),
              "curve.xml: ** Error: The drawing would have 100002001 polygon points, more than 100000000\n");
    EXPECT_NE(
        r.err.find("Nothing written: failed 1, so \"curve.geojson\" stays as it was (1 parcels of 1 map files read)"),
        std::string::npos)
        << r.err;
    // Every other output of the same shapes counts them before building any, and refuses them alike.
    ASSERT_TRUE(genhostile::write_attack(Attack::repeated_curve, 60000, program.file("curve.xml")));
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"curve.xml"},
                                               {"curve.xml", "curve.svg"},
                                               {"curve.xml", "curve.dxf"},
                                               {"--check", "curve.csv", "curve.xml"},
                                               {"--diff", "diff.csv", "curve.xml", "curve.xml"}}) {
        SCOPED_TRACE(args.front() + " " + args[1 % args.size()]);
        r = program.run(args);
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_NE(r.err.find("** Error: The drawing would have 1"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("polygon points, more than 100000000\n"), std::string::npos) << r.err;
    }
    // Under the bound the curve is walked as often as it is named.
    ASSERT_TRUE(genhostile::write_attack(Attack::repeated_curve, 3, program.file("curve.xml")));
    r = program.run({"--gis", "curve.geojson", "curve.xml"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const Json curve = parse_json(read_file(program.file("curve.geojson")));
    EXPECT_EQ(curve["features"].items[0]["geometry"]["coordinates"].items[0].items[0].items.size(),
              std::size_t{3} * genhostile::kRepeatedCurvePoints + 1);

    const std::string whole = genhostile::small_map("甲");
    program.write("cut.xml", whole.substr(0, whole.find("<図郭>")));
    r = program.run({"--gis", "cut.geojson", "cut.xml"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err.substr(0, r.err.find("Wrote")),
              "cut.xml: **Warning: \"cut.xml\" ends before </地図>: it may be cut off\n");
}

// The feature lines of a GeoJSON output (one feature a line), without the separating commas.
std::vector<std::string> feature_lines(const std::string& geojson) {
    std::vector<std::string> lines;
    std::istringstream in(geojson);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("{\"type\":\"Feature\"", 0) != 0) continue;
        if (line.back() == ',') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::set<std::string> files_under(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        names.insert(fs::relative(entry.path(), folder).generic_string());
    }
    return names;
}

// Ctrl+C in the middle: the previous output stays as it was and nothing is left beside it.
TEST(CliGis, InterruptedRunKeepsThePreviousOutput) {
    if (const std::string why = missing(Need::kSignals); !why.empty()) GTEST_SKIP() << why;
    ProgramDir program;
    fs::create_directory(program.file("in"));
    genmap::GenMapOptions options;
    genmap::GenMapSummary summary;
    for (int i = 0; i < 6; ++i) {
        options.parcels = 20000;
        options.seed = static_cast<std::uint64_t>(20 + i);
        const std::string name = "in/m" + std::to_string(i) + ".xml";
        ASSERT_EQ(genmap::generate_map_file(program.file(name), options, summary), genmap::kGenOk);
    }
    // One output, and one per prefecture (the generated maps are of 12103).
    struct Case {
        std::vector<std::string> gis;
        const char* kept;
        const char* said;
    };
    const Case cases[] = {
        {{"--gis", "out/parcels.geojson"}, "parcels.geojson", "Interrupted: nothing written ("},
        {{"--gis", "out", "--split", "prefecture", "--format", "geojson"},
         "12.geojson",
         "Interrupted: 0 of 1 files put in \"out\" ("},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kept);
        fs::remove_all(program.file("out"));
        fs::create_directory(program.file("out"));
        program.write(std::string("out/") + c.kept, "previous");
        const std::string err_path = program.file("err.txt");
        std::vector<std::string> args = c.gis;
        args.insert(args.end(), {"--jobs", "2", "in"});
        const long pid = start_in_background(program.exe, args, program.dir.path.string(), err_path);
        // Interrupt once the temporary file has grown, with most files still to come.
        ASSERT_TRUE(wait_for_entry(
            program.file("out"),
            [&](const fs::path& entry) {
                std::error_code ec;
                return entry.filename() != c.kept && fs::file_size(entry, ec) > 0;
            },
            std::chrono::seconds(60)));
        EXPECT_TRUE(signal_and_wait(pid, SIGINT));
        // The file was not written, and the message says so rather than counting what was read.
        EXPECT_EQ(read_file(err_path).rfind(c.said, 0), 0u) << read_file(err_path);
        EXPECT_EQ(read_file(program.file(std::string("out/") + c.kept)), "previous");
        EXPECT_EQ(files_under(program.file("out")), std::set<std::string>{c.kept});
    }
}

// Maps of seven prefectures, their files interleaved, so that some outputs are written as their
// files come and the others wait for the end: each output holds exactly the single output's
// features of its prefecture or municipality, in input order, and nothing else is left in the folder.
TEST(CliGis, SplitOutputsHoldTheSingleOutputsParcels) {
    ProgramDir program;
    const std::vector<std::string> codes = {"13113", "12103", "13101", "01100", "02201",
                                            "03201", "04100", "12204", "47201", "13113"};
    std::vector<std::string> inputs;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        std::string map = shapes_map();
        map.replace(map.find("13113"), 5, codes[i]);
        // A denominator no 32-bit column holds is no scale: the next sheet's, or none.
        const std::string scale = "<縮尺分母>500<";
        if (i == 1) map.replace(map.find(scale), scale.size(), "<縮尺分母>3000000000<");
        inputs.push_back("m" + std::to_string(i) + ".xml");
        program.write(inputs.back(), map);
    }
    program.write("local.xml", shapes_map("任意座標系"));
    std::vector<std::string> args = {"--gis", "all.geojson"};
    args.insert(args.end(), inputs.begin(), inputs.end());
    RunResult r = program.run(args);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::vector<std::string> all = feature_lines(read_file(program.file("all.geojson")));
    ASSERT_EQ(all.size(), codes.size() * 3);
    EXPECT_NE(all[3].find("\"縮尺分母\":250,"), std::string::npos) << all[3];
    EXPECT_NE(all[4].find("\"縮尺分母\":null,"), std::string::npos) << all[4];
    EXPECT_NE(all[0].find("\"縮尺分母\":500,"), std::string::npos) << all[0];

    struct Case {
        const char* split;
        const char* format;
        std::size_t key_digits;
    };
    for (const Case c :
         {Case{"prefecture", "geojson", 2}, Case{"municipality", "geojson", 5}, Case{"prefecture", "fgb", 2},
          Case{"municipality", "gpkg", 5}, Case{"prefecture", "parquet", 2}}) {
        SCOPED_TRACE(std::string(c.split) + " " + c.format);
        const std::string folder = std::string("out-") + c.split + "-" + c.format;
        args = {"--gis", folder + "/", "--split", c.split, "--format", c.format, "--include-arbitrary", "--jobs", "2"};
        args.insert(args.end(), inputs.begin(), inputs.end());
        args.push_back("local.xml");
        r = program.run(args);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        std::map<std::string, std::vector<std::string>> expected;
        for (const std::string& line : all) {
            const std::size_t at = line.find("\"市区町村コード\":\"") + std::string("\"市区町村コード\":\"").size();
            expected[line.substr(at, c.key_digits)].push_back(line);
        }
        const bool parquet = std::string(c.format) == "parquet";
        std::set<std::string> names;
        for (const auto& [key, lines] : expected) {
            const std::string folder_of = parquet ? "prefecture=" + key.substr(0, 2) + "/" : "";
            if (!folder_of.empty()) names.insert(folder_of.substr(0, folder_of.size() - 1));
            names.insert(folder_of + key + "." + c.format);
            const std::string path = program.file(folder + "/" + folder_of + key + "." + c.format);
            if (std::string(c.format) == "geojson") {
                EXPECT_EQ(feature_lines(read_file(path)), lines) << key;
            } else if (!parquet && have_tool("ogrinfo")) {
                EXPECT_EQ(ogrinfo(path).features, static_cast<long>(lines.size())) << key;
            }
        }
        // The 任意座標系 map in its own folder, never beside degrees.
        const std::string local = parquet ? "arbitrary/prefecture=13/13.parquet"
                                          : "arbitrary/13" + std::string(c.key_digits == 5 ? "113." : ".") + c.format;
        names.insert("arbitrary");
        if (parquet) names.insert("arbitrary/prefecture=13");
        names.insert(local);
        EXPECT_EQ(files_under(program.file(folder)), names);
        const auto files = std::count_if(names.begin(), names.end(),
                                         [](const std::string& n) { return n.find('.') != std::string::npos; });
        EXPECT_NE(r.err.find("of 11 map files into " + std::to_string(files) + " files in \"" + folder + "\""),
                  std::string::npos)
            << r.err;
    }

    // A map whose code names no prefecture fails the run: the previous output stays, nothing new
    // is left in the folder.
    std::string odd = shapes_map();
    odd.replace(odd.find("13113"), 5, "13-1");
    program.write("odd.xml", odd);
    fs::create_directory(program.file("kept"));
    program.write("kept/13.fgb", "previous");
    args = {"--gis", "kept", "--split", "prefecture", "--format", "fgb"};
    args.insert(args.end(), inputs.begin(), inputs.end());
    args.push_back("odd.xml");
    r = program.run(args);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("odd.xml: ** Error: 市区町村コード \"13-1\" is not five digits"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Nothing written: failed 1, so the files in \"kept\" stay as they were"), std::string::npos)
        << r.err;
    EXPECT_EQ(read_file(program.file("kept/13.fgb")), "previous");
    EXPECT_EQ(files_under(program.file("kept")), std::set<std::string>{"13.fgb"});

    const struct {
        std::vector<std::string> args;
        const char* message;
    } refused[] = {
        {{"--gis", "d", "--split", "prefecture", "m0.xml"}, "--split writes into a folder: --gis DIR --split"},
        {{"--gis", "-", "--split", "prefecture", "--format", "fgb", "m0.xml"}, "--split writes into a folder"},
        {{"--gis", "d", "--split", "city", "--format", "fgb", "m0.xml"}, "--split is prefecture or municipality"},
        {{"--gis", "d.fgb", "--format", "fgb", "m0.xml"}, "--format fgb is for --split"},
        {{"--gis", "d", "--split", "prefecture", "--format", "shp", "m0.xml"}, "--format is svg"},
    };
    // A folder that is a file: said so, and the file stays.
    program.write("taken", "a file");
    r = program.run({"--gis", "taken", "--split", "prefecture", "--format", "fgb", "m0.xml"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("** Error: Cannot make the folder \"taken\""), std::string::npos) << r.err;
    EXPECT_EQ(read_file(program.file("taken")), "a file");
    for (const auto& c : refused) {
        r = program.run(c.args);
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_NE(r.err.find(std::string("** Error: ") + c.message), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(program.file("d")));
    }
}

}  // namespace
}  // namespace chizuvec::test

namespace chizuvec::test {
namespace {

// Rewritings of a map file in the published layout (one element a line) that XML reads as the same
// document. Each works line by line on the real files' own layout.
std::string each_line(const std::string& map, const std::function<std::string(std::string)>& change) {
    std::string out;
    std::size_t from = 0;
    while (from < map.size()) {
        std::size_t lf = map.find('\n', from);
        if (lf == std::string::npos) lf = map.size();
        std::string line = map.substr(from, lf - from);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out += change(line);
        from = lf + 1;
    }
    return out;
}

std::string strip_indent(std::string line) { return line.substr(std::min(line.find_first_not_of('\t'), line.size())); }

std::string replace_every(std::string text, const std::string& from, const std::string& to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// The text between `open` and the next '<' of a line, changed by `change`.
std::string change_values(const std::string& line, const std::string& open,
                          const std::function<std::string(const std::string&)>& change) {
    const auto at = line.find(open);
    if (at == std::string::npos) return line;
    const auto end = line.find('<', at + open.size());
    if (end == std::string::npos) return line;
    const auto begin = at + open.size();
    return line.substr(0, begin) + change(line.substr(begin, end - begin)) + line.substr(end);
}

std::string decimal_reference(const std::string& text) {
    // The first character, UTF-8 decoded, as &#N; (the files' texts are valid UTF-8).
    if (text.empty()) return text;
    const auto b = static_cast<unsigned char>(text[0]);
    const std::size_t n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    std::uint32_t code = n == 1 ? b : b & (0xFFu >> (n + 1));
    for (std::size_t i = 1; i < n; ++i) code = (code << 6) | (static_cast<unsigned char>(text[i]) & 0x3Fu);
    return "&#" + std::to_string(code) + ";" + text.substr(n);
}

struct Layout {
    const char* name;
    std::function<std::string(const std::string&)> rewrite;
};

const Layout kLayouts[] = {
    {"minified", [](const std::string& map) { return each_line(map, strip_indent); }},
    {"one surface a line",
     [](const std::string& map) {
         bool in_surface = false;
         return each_line(map, [&](std::string line) {
             if (line.find("<zmn:GM_Surface ") != std::string::npos) in_surface = true;
             const bool end = line.find("</zmn:GM_Surface>") != std::string::npos;
             if (end) in_surface = false;
             return in_surface ? strip_indent(line) : line + "\n";
         });
     }},
    {"attributes reordered, single quotes",
     [](const std::string& map) {
         return each_line(map, [](std::string line) {
             static const std::regex attribute(" (id|idref)=\"([^\"]*)\"");
             return std::regex_replace(line, attribute, " a=\"x'y\"\t $1 = '$2' ") + "\r\n";
         });
     }},
    {"CR line ends, tags split over lines",
     [](const std::string& map) {
         return each_line(map, [](std::string line) {
             line = replace_every(line, "<zmn:X>", "<zmn:X\r>");
             line = replace_every(line, "</zmn:Y>", "</zmn:Y\r\r>");
             return line + "\r";
         });
     }},
    {"entities, CDATA and comments in texts",
     [](const std::string& map) {
         return each_line(map, [](std::string line) {
             line = change_values(line, "<地番>", [](const std::string& v) { return "<![CDATA[" + v + "]]>"; });
             line = change_values(line, "<大字名>", decimal_reference);
             line = change_values(line, "<地図名>", [](const std::string& v) { return "<!-- - -->" + v + "<?pi?>"; });
             line = replace_every(line, "<zmn:Y>-", "<zmn:Y>&#x2D;");
             return line + "\n<!DOCTYPE x>\n";
         });
     }},
};

// Each real file rewritten in every layout gives the listing and the GeoJSON of the file itself.
TEST(CliGis, EveryLayoutOfARealFileReadsAlike) {
    for (const char* file : {"12103-0400-76.xml", "13113-0110-44.xml", "46505-3411-1.xml"}) {
        const std::string input = shared_data(file);
        ASSERT_FALSE(input.empty()) << file;
        std::string map = read_file(input);
        map = map.substr(map.find('\n') + 1);  // after the declaration, which a DOCTYPE may not precede
        ProgramDir program;
        const auto outputs = [&](const std::string& text) {
            program.write("m.xml", text);
            const RunResult listing = program.run({"m.xml"});
            EXPECT_EQ(listing.exit_code, 0) << listing.err;
            const RunResult gis = program.run({"--gis", "out.geojson", "m.xml"});
            EXPECT_EQ(gis.exit_code, 0) << gis.err;
            return std::make_pair(listing.out + listing.err, read_file(program.file("out.geojson")));
        };
        const auto original = outputs("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + map);
        for (const Layout& layout : kLayouts) {
            SCOPED_TRACE(std::string(file) + ", " + layout.name);
            const auto rewritten = outputs("<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + layout.rewrite(map));
            EXPECT_EQ(rewritten.first, original.first);
            EXPECT_TRUE(rewritten.second == original.second) << "GeoJSON differs";
        }
    }
}

// Texts are decoded as XML defines them where outputs carry them as data; a line break in a value stays.
TEST(CliGis, MapTextsDecodedAsXmlDefines) {
    std::string map = read_file(sample_map_path());
    const auto at = map.find("<地番>101-3<");
    ASSERT_NE(at, std::string::npos);
    map.replace(at, std::string("<地番>101-3<").size(), "<地番>5&amp;6&quot; &lt; &#x4E00;&#10;<![CDATA[<a>]]>\n7<");
    ProgramDir program;
    program.write("m.xml", map);
    const RunResult gis = program.run({"--gis", "out.geojson", "m.xml"});
    ASSERT_EQ(gis.exit_code, 0) << gis.err;
    EXPECT_NE(read_file(program.file("out.geojson")).find("\"5&6\\\" < 一\\u000a<a>\\u000a7\""), std::string::npos);
    const RunResult csv = program.run({"--csv", "-", "m.xml"});
    ASSERT_EQ(csv.exit_code, 0) << csv.err;
    // The CSV writer shows control bytes, line breaks among them, as '?'.
    EXPECT_NE(csv.out.find("\"5&6\"\" < 一?<a>?7\""), std::string::npos) << csv.out;
}

}  // namespace
}  // namespace chizuvec::test
