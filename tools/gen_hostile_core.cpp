#include "gen_hostile_core.hpp"

#include <zip.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace chizuvec::genhostile {
namespace {

constexpr const char* kNames[] = {"empty-inner-zips", "undetermined-members", "search-list-areas", "repeated-curve",
                                  "distinct-scales"};

std::string id(char kind, std::uint32_t n) { return std::string(1, kind) + std::to_string(n); }

std::string head() {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
           "<地図 xmlns=\"http://www.moj.go.jp/MINJI/tizuxml\" xmlns:zmn=\"http://www.moj.go.jp/MINJI/tizuzumen\">\r\n"
           "\t<地図名>攻撃</地図名>\r\n"
           "\t<市区町村コード>12103</市区町村コード>\r\n"
           "\t<市区町村名>千葉市稲毛区</市区町村名>\r\n"
           "\t<座標系>公共座標9系</座標系>\r\n"
           "\t<測地系判別>測量</測地系判別>\r\n";
}

std::string point(std::uint32_t n, double x, double y) {
    char xy[96];
    std::snprintf(xy, sizeof xy, "<zmn:X>%.3f</zmn:X>\r\n<zmn:Y>%.3f</zmn:Y>\r\n", x, y);
    return "<zmn:GM_Point id=\"" + id('P', n) + "\">\r\n<zmn:GM_Point.position>\r\n<zmn:DirectPosition>\r\n" + xy +
           "</zmn:DirectPosition>\r\n</zmn:GM_Point.position>\r\n</zmn:GM_Point>\r\n";
}

// A curve through the points first .. last.
std::string curve(std::uint32_t n, std::uint32_t first, std::uint32_t last) {
    std::string text = "<zmn:GM_Curve id=\"" + id('C', n) +
                       "\">\r\n<zmn:GM_Curve.segment>\r\n<zmn:GM_LineString>\r\n<zmn:GM_LineString.controlPoint>\r\n";
    for (std::uint32_t p = first; p <= last; ++p) {
        text += "<zmn:GM_PointArray.column>\r\n<zmn:GM_Position.indirect>\r\n<zmn:GM_PointRef.point idref=\"" +
                id('P', p) + "\"/>\r\n</zmn:GM_Position.indirect>\r\n</zmn:GM_PointArray.column>\r\n";
    }
    return text +
           "</zmn:GM_LineString.controlPoint>\r\n</zmn:GM_LineString>\r\n"
           "</zmn:GM_Curve.segment>\r\n</zmn:GM_Curve>\r\n";
}

// A surface of one exterior ring naming `curves` in order.
std::string surface(std::uint32_t n, const std::vector<std::uint32_t>& curves) {
    std::string text = "<zmn:GM_Surface id=\"" + id('F', n) +
                       "\">\r\n<zmn:GM_Surface.patch>\r\n<zmn:GM_Polygon>\r\n<zmn:GM_Polygon.boundary>\r\n"
                       "<zmn:GM_SurfaceBoundary>\r\n<zmn:GM_SurfaceBoundary.exterior>\r\n<zmn:GM_Ring>\r\n";
    for (const std::uint32_t c : curves) text += "<zmn:GM_CompositeCurve.generator idref=\"" + id('C', c) + "\"/>\r\n";
    return text +
           "</zmn:GM_Ring>\r\n</zmn:GM_SurfaceBoundary.exterior>\r\n</zmn:GM_SurfaceBoundary>\r\n"
           "</zmn:GM_Polygon.boundary>\r\n</zmn:GM_Polygon>\r\n</zmn:GM_Surface.patch>\r\n</zmn:GM_Surface>\r\n";
}

std::string parcel(const std::string& area, const std::string& lot, const std::string& extra) {
    return "<筆 id=\"H1\">\r\n<大字名>" + area + "</大字名>\r\n<地番>" + lot + "</地番>\r\n" + extra +
           "<形状 idref=\"F1\"/>\r\n</筆>\r\n";
}

std::string sheet(const std::string& number, std::uint32_t scale) {
    return "<図郭>\r\n<地図番号>" + number + "</地図番号>\r\n<縮尺分母>" + std::to_string(scale) +
           "</縮尺分母>\r\n<筆参照 idref=\"H1\"/>\r\n</図郭>\r\n";
}

std::string map_of_lot(const std::string& area, const std::string& lot, const std::string& extra_parcel,
                       const std::string& extra_sheets) {
    std::string text = head() + "<空間属性>\r\n";
    text += point(1, 0, 0) + point(2, 0, 10) + point(3, 10, 10) + point(4, 10, 0);
    text += curve(1, 1, 2) + curve(2, 2, 3) + curve(3, 3, 4);
    text +=
        "<zmn:GM_Curve id=\"C4\">\r\n<zmn:GM_Curve.segment>\r\n<zmn:GM_LineString>\r\n"
        "<zmn:GM_LineString.controlPoint>\r\n";
    for (const std::uint32_t p : {4u, 1u}) {
        text += "<zmn:GM_PointArray.column>\r\n<zmn:GM_Position.indirect>\r\n<zmn:GM_PointRef.point idref=\"" +
                id('P', p) + "\"/>\r\n</zmn:GM_Position.indirect>\r\n</zmn:GM_PointArray.column>\r\n";
    }
    text +=
        "</zmn:GM_LineString.controlPoint>\r\n</zmn:GM_LineString>\r\n</zmn:GM_Curve.segment>\r\n</zmn:GM_Curve>\r\n";
    text += surface(1, {1, 2, 3, 4}) + "</空間属性>\r\n<主題属性>\r\n" + parcel(area, lot, extra_parcel) +
            "</主題属性>\r\n";
    return text + sheet("A1", 500) + extra_sheets + "</地図>\r\n";
}

// A map whose one ring names a long curve `n` times.
std::string repeated_curve_map(std::uint32_t n) {
    std::string text = head() + "<空間属性>\r\n";
    for (std::uint32_t p = 1; p <= kRepeatedCurvePoints; ++p) {
        const double angle = 2 * 3.141592653589793 * p / kRepeatedCurvePoints;
        text += point(p, 100 * std::cos(angle), 100 * std::sin(angle));
    }
    text += curve(1, 1, kRepeatedCurvePoints);
    text += surface(1, std::vector<std::uint32_t>(n, 1)) + "</空間属性>\r\n<主題属性>\r\n" + parcel("甲", "1", "") +
            "</主題属性>\r\n";
    return text + sheet("A1", 500) + "</地図>\r\n";
}

bool write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

// An archive of `entries` (name, bytes), stored, into `path`. The bytes must outlive the call.
bool write_zip(const std::string& path, const std::vector<std::pair<std::string, const std::string*>>& entries) {
    std::filesystem::remove(path);
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (archive == nullptr) return false;
    for (const auto& [name, bytes] : entries) {
        zip_source_t* source = zip_source_buffer(archive, bytes->data(), bytes->size(), 0);
        const zip_int64_t index =
            source == nullptr ? -1 : zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            if (source != nullptr) zip_source_free(source);
            zip_discard(archive);
            return false;
        }
        zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0);
        zip_file_set_mtime(archive, static_cast<zip_uint64_t>(index), 1700000000, 0);
    }
    return zip_close(archive) == 0;
}

// The bytes of an archive of `entries`, made beside `path` and read back.
std::string zip_bytes(const std::string& path, const std::vector<std::pair<std::string, const std::string*>>& entries) {
    const std::string temp = path + ".inner.zip";
    if (!write_zip(temp, entries)) return {};
    std::ifstream in(temp, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    std::filesystem::remove(temp);
    return bytes;
}

std::string stem_of(const std::string& path) { return std::filesystem::path(path).stem().string(); }

}  // namespace

const char* attack_name(Attack attack) { return kNames[static_cast<int>(attack)]; }

bool attack_from_name(const std::string& name, Attack& attack) {
    for (int i = 0; i < static_cast<int>(std::size(kNames)); ++i) {
        if (name == kNames[i]) {
            attack = static_cast<Attack>(i);
            return true;
        }
    }
    return false;
}

std::string small_map(const std::string& area, const std::string& extra_parcel, const std::string& extra_sheets) {
    return map_of_lot(area, "1", extra_parcel, extra_sheets);
}

bool write_attack(Attack attack, std::uint32_t n, const std::string& path) {
    switch (attack) {
        case Attack::undetermined_members: {
            std::string members;
            for (std::uint32_t k = 0; k < n; ++k) {
                members += "<筆界未定構成筆>\r\n<大字名>甲</大字名>\r\n<地番>" + std::to_string(k + 2) +
                           "</地番>\r\n</筆界未定構成筆>\r\n";
            }
            return write_file(path, small_map("甲", members));
        }
        case Attack::distinct_scales: {
            std::string sheets;
            for (std::uint32_t k = 0; k < n; ++k) sheets += sheet(std::string("S").append(std::to_string(k)), k + 1);
            return write_file(path, small_map("甲", "", sheets));
        }
        case Attack::repeated_curve:
            return write_file(path, repeated_curve_map(n));
        case Attack::empty_inner_zips: {
            const std::string stem = stem_of(path);
            const std::string readme = "no map here\r\n";
            const std::string empty = zip_bytes(path, {{"readme.txt", &readme}});
            const std::string map = small_map("甲");
            const std::string last_name = stem + "-last.xml";
            const std::string last = zip_bytes(path, {{last_name, &map}});
            if (empty.empty() || last.empty()) return false;
            std::vector<std::pair<std::string, const std::string*>> entries;
            for (std::uint32_t k = 0; k < n; ++k) entries.emplace_back(stem + "-" + std::to_string(k) + ".zip", &empty);
            entries.emplace_back(stem + "-last.zip", &last);
            return write_zip(path, entries);
        }
        case Attack::search_list_areas: {
            const std::string stem = stem_of(path);
            const std::string first_map = small_map("甲");
            const std::string second_map = map_of_lot("乙", "2", "", "");
            const std::string first = zip_bytes(path, {{stem + "-1.xml", &first_map}});
            const std::string second = zip_bytes(path, {{stem + "-2.xml", &second_map}});
            if (first.empty() || second.empty()) return false;
            // UTF-8 with its byte order mark, which the list reader takes as well as Shift_JIS.
            std::string list = "\xEF\xBB\xBF";
            for (std::uint32_t k = 0; k < n; ++k) {
                list.append(stem).append("-1.zip,2024/01/15 09:00:00,区域").append(std::to_string(k)).append(",1\r\n");
            }
            list += stem + "-2.zip,2024/01/15 09:00:00,乙,2\r\n";
            return write_zip(
                path, {{stem + "-1.zip", &first}, {stem + "-2.zip", &second}, {stem + "-search-list.csv", &list}});
        }
    }
    return false;
}

}  // namespace chizuvec::genhostile
