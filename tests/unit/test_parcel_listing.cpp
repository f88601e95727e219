#include <gtest/gtest.h>

#include <string>

#include "dataset_builder.hpp"
#include "driver/parcel_listing.hpp"
#include "platform/platform.hpp"

namespace chizuvec {
namespace {

using test::add_parcel;
using test::CapturedFile;

constexpr std::uint32_t kUtf8 = platform::kCodePageUtf8;
constexpr std::uint32_t kSjis = platform::kCodePageShiftJis;

std::string sjis(const std::string& utf8) { return platform::convert_code_page(utf8, kUtf8, kSjis); }

std::string listing(const MapDataset& ds, std::uint32_t code_page, std::string_view input_path,
                    std::string_view map_name, std::string_view coord_system) {
    CapturedFile out;
    print_parcel_listing(ds, code_page, code_page, input_path, map_name, coord_system, out.file);
    return out.text();
}

const std::string kColumnTitles = "   No 筆ID 形状ID 地図番号  大字名・丁目名  地番      ";

// Three parcels: the plain case, one that no sheet names with wide characters overflowing the lot
// number column, and one whose map number holds a fullwidth letter.
MapDataset crafted() {
    MapDataset ds;
    add_parcel(ds, 12, 34, "A1", "5-2", "大字X").area = 123.456;
    add_parcel(ds, 7, 8, "", "１２３４５６７８９", "大字Ｙ１丁目").area = 0.04;
    add_parcel(ds, 4000000000u, 9, "Ａ1", "1-1", "").area = 98765.43;
    return ds;
}

TEST(ParcelListing, Utf8PadsByDisplayWidth) {
    const std::string expected = "in/map.xml 地図名：地図A（公共座標9系）\n" + kColumnTitles + "　　　　　面積\n" +
                                 "    1   12     34 A1        大字X           5-2                123.5\n"
                                 "    2    7      8           大字Ｙ１丁目    １２３４５６７８９     0.0\n"
                                 "    3-294967296      9 Ａ1       " +
                                 std::string(16, ' ') + "1-1              98765.4\n";
    EXPECT_EQ(listing(crafted(), kUtf8, "in/map.xml", "地図A", "公共座標9系"), expected);
}

TEST(ParcelListing, ShiftJisPadsByBytesAndKeepsMapNumberBytes) {
    // The input path is already in the ANSI code page; the map number keeps its stored UTF-8 bytes
    // (four of them), so it is padded by six spaces.
    const std::string path = sjis("地図/map.xml");
    const std::string expected = path + sjis(" 地図名：地図A（公共座標9系）\n" + kColumnTitles + "　　　　　面積\n") +
                                 sjis("    1   12     34 A1        大字X           5-2                123.5\n") +
                                 sjis("    2    7      8           大字Ｙ１丁目    １２３４５６７８９     0.0\n") +
                                 "    3-294967296      9 \xEF\xBC\xA1"
                                 "1      " +
                                 std::string(16, ' ') + "1-1              98765.4\n";
    const std::string text = listing(crafted(), kSjis, path, "地図A", "公共座標9系");
    EXPECT_EQ(text, expected);
    // The column title 地番 as Shift_JIS bytes.
    EXPECT_NE(text.find("\x92\x6e\x94\xd4"), std::string::npos);
}

TEST(ParcelListing, ArbitraryCoordinateSystemMarksTheUnitAndEmptyMapPrintsOnlyTheHeader) {
    struct Case {
        const char* coord_system;
        const char* ending;
    };
    const Case cases[] = {
        {"任意座標系", "面積(単位不明)\n"},
        {"任意座標系2", "　　　　　面積\n"},
        {"", "　　　　　面積\n"},
    };
    const MapDataset empty;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.coord_system);
        const std::string head = std::string("m.xml 地図名：N（") + c.coord_system + "）\n" + kColumnTitles;
        EXPECT_EQ(listing(empty, kUtf8, "m.xml", "N", c.coord_system), head + c.ending);
        EXPECT_EQ(listing(empty, kSjis, "m.xml", "N", c.coord_system), sjis(head + c.ending));
    }
}

TEST(ParcelListing, LongLinesAreNotCut) {
    MapDataset ds;
    add_parcel(ds, 1, 1, "A", "1", std::string(42, 'a') + "字").area = 1e20;
    const std::string path(300, 'p');
    const std::string text = listing(ds, kUtf8, path, std::string(255, 'n'), "");
    EXPECT_EQ(text.substr(0, 300), path);
    EXPECT_NE(text.find(std::string(255, 'n') + "（）\n"), std::string::npos);
    EXPECT_NE(text.find(std::string(42, 'a') + "字1               100000000000000000000.0\n"), std::string::npos);
}

TEST(ParcelListing, Utf8ConsoleGetsShiftJisLinesReencoded) {
    MapDataset ds;
    add_parcel(ds, 1, 2, "A1", "5", "大字X").area = 1.0;
    CapturedFile out;
    print_parcel_listing(ds, kUtf8, kSjis, "f.xml", "名", "系", out.file);
    EXPECT_EQ(out.text(), "f.xml 地図名：名（系）\n" + kColumnTitles + "　　　　　面積\n" +
                              "    1    1      2 A1        大字X           5                    1.0\n");
}

}  // namespace
}  // namespace chizuvec
