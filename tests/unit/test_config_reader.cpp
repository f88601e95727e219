#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/fixed_text.hpp"
#include "config/render_settings.hpp"
#include "test_support.hpp"

namespace chizuvec {
namespace {

// Every field as text, so one table can check any key: numbers in their shortest form, texts as
// their bytes.
struct FieldProbe {
    std::string key;
    std::function<std::string(const RenderSettings&)> show;
};

template <typename T>
std::string number_text(T value) {
    std::ostringstream out;
    out << value;
    return out.str();
}

// clang-format off
#define NUMBER_FIELD(name) \
    FieldProbe { #name, [](const RenderSettings& s) { return number_text(s.name); } }
#define TEXT_FIELD(name) \
    FieldProbe { #name, [](const RenderSettings& s) { return std::string(field_view(s.name)); } }

const std::vector<FieldProbe>& all_fields() {
    static const std::vector<FieldProbe> fields = {
        NUMBER_FIELD(shell_open_svg),         NUMBER_FIELD(svg_dpi),
        NUMBER_FIELD(svg_viewbox_side_option), NUMBER_FIELD(svg_viewbox_length),
        NUMBER_FIELD(svg_viewbox_marginx),    NUMBER_FIELD(svg_viewbox_marginy),
        NUMBER_FIELD(svg_boundary_line_width), TEXT_FIELD(svg_boundary_line_color),
        TEXT_FIELD(svg_chiban_sp1),           TEXT_FIELD(svg_chiban_sp2),
        TEXT_FIELD(svg_chiban_sp3),           TEXT_FIELD(svg_fill_color_viewbox),
        TEXT_FIELD(svg_fill_color_sp1),       TEXT_FIELD(svg_fill_color_sp2),
        TEXT_FIELD(svg_fill_color_sp3),       TEXT_FIELD(svg_fill_color_hilite),
        TEXT_FIELD(svg_fill_color_common),    NUMBER_FIELD(svg_area_gt_c1),
        NUMBER_FIELD(svg_area_gt_c2),         TEXT_FIELD(svg_font_c),
        TEXT_FIELD(svg_font_title),           TEXT_FIELD(svg_font_source),
        NUMBER_FIELD(svg_font_size_c1),       NUMBER_FIELD(svg_font_size_c2),
        NUMBER_FIELD(svg_font_size_title),    NUMBER_FIELD(svg_font_size_source),
        TEXT_FIELD(svg_text_source),
    };
    return fields;
}
// clang-format on

const FieldProbe& field(const std::string& key) {
    for (const auto& probe : all_fields()) {
        if (probe.key == key) return probe;
    }
    throw std::invalid_argument("no field " + key);
}

bool is_cleared(const FieldProbe& probe, const RenderSettings& settings) {
    const std::string shown = probe.show(settings);
    return shown.empty() || shown == "0";
}

// Writes `bytes` as a settings file and reads it into a cleared record.
RenderSettings read_bytes(std::string_view bytes, SettingsStatus* result = nullptr) {
    test::TempDir dir;
    RenderSettings settings;
    const SettingsStatus code = read_render_settings(dir.write("Chizuvec.ini", bytes), settings);
    if (result != nullptr) *result = code;
    return settings;
}

TEST(ConfigReader, FileThatCannotBeOpenedGivesOneAndLeavesSettingsCleared) {
    test::TempDir dir;
    for (const std::string& path : {dir.file("missing.ini"), dir.path.string()}) {
        RenderSettings settings;
        EXPECT_EQ(read_render_settings(path, settings), SettingsStatus::not_found) << path;
        for (const auto& probe : all_fields()) EXPECT_TRUE(is_cleared(probe, settings)) << probe.key;
    }
}

TEST(ConfigReader, CommentsSectionsAndBlankLinesLeaveEverythingCleared) {
    SettingsStatus result = SettingsStatus::not_found;
    const RenderSettings settings =
        read_bytes("; svg_dpi=96\n[svg_dpi=96]\n\n\r\n[drawing]\n;svg_font_c=x\nnot a setting\n   \n", &result);
    EXPECT_EQ(result, SettingsStatus::read);
    for (const auto& probe : all_fields()) EXPECT_TRUE(is_cleared(probe, settings)) << probe.key;
}

// Each key reaches its own field and no other, whatever the letter case of the key.
TEST(ConfigReader, EveryKeySetsOnlyItsOwnField) {
    for (const auto& target : all_fields()) {
        std::string key = target.key;
        for (auto& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        const bool flag = target.key == "shell_open_svg";
        const RenderSettings settings = read_bytes(key + (flag ? "=Yes\n" : "=4\n"));
        EXPECT_EQ(target.show(settings), flag ? "1" : "4") << key;
        for (const auto& other : all_fields()) {
            if (other.key != target.key) {
                EXPECT_TRUE(is_cleared(other, settings)) << key << " set " << other.key;
            }
        }
    }
}

struct LineCase {
    std::string_view file;
    std::string key;
    std::string expected;
};

void expect_cases(const std::vector<LineCase>& cases) {
    for (const auto& c : cases) {
        SettingsStatus result = SettingsStatus::not_found;
        const RenderSettings settings = read_bytes(c.file, &result);
        EXPECT_EQ(result, SettingsStatus::read) << c.file;
        EXPECT_EQ(field(c.key).show(settings), c.expected) << "file: " << c.file;
    }
}

TEST(ConfigReader, KeysAndValuesAreSplitAsWritten) {
    expect_cases({
        {"SVG_DPI=96\n", "svg_dpi", "96"},
        {"svg_dpi =96\n", "svg_dpi", "0"},
        {" svg_dpi=96\n", "svg_dpi", "0"},
        {"\tsvg_dpi=96\n", "svg_dpi", "0"},
        {"svg_dpi\n", "svg_dpi", "0"},
        {"svg_dpi= 96\n", "svg_dpi", "96"},
        {"svg_font_c= Meiryo\n", "svg_font_c", " Meiryo"},
        {"svg_text_source=a=b\n", "svg_text_source", "a=b"},
        {"svg_text_source=\n", "svg_text_source", ""},
        {"svg_dpi=1\nsvg_dpi=2\n", "svg_dpi", "2"},
        {"svg_font_c=Gothic\nsvg_font_c=\n", "svg_font_c", ""},
        {"[a]\nsvg_dpi=72\n[b]\n", "svg_dpi", "72"},
    });
}

TEST(ConfigReader, CommentsQuotesAndTrailingSpaces) {
    expect_cases({
        {"svg_text_source=A;B\n", "svg_text_source", "A"},
        {"svg_text_source=\"A;B\"\n", "svg_text_source", "\"A;B\""},
        {"svg_text_source=\"A\";B\n", "svg_text_source", "\"A\""},
        {"svg_text_source=\"A;B ;C  \n", "svg_text_source", "\"A;B ;C"},
        {"svg_text_source=\"A\" \"B;C\" ;D\n", "svg_text_source", "\"A\" \"B;C\""},
        {"svg_fill_color_common=#FFFFFF ; comment\n", "svg_fill_color_common", "#FFFFFF"},
        {"svg_font_c=Meiryo\t \n", "svg_font_c", "Meiryo\t"},
        {"svg_font_c=Meiryo\r\n", "svg_font_c", "Meiryo"},
        {"svg_font_c=Mei\rryo\n", "svg_font_c", "Mei"},
        {"svg_dpi=96;comment\n", "svg_dpi", "96"},
    });
}

TEST(ConfigReader, ByteOrderMarkAndLastLineWithoutLineFeed) {
    expect_cases({
        {"\xEF\xBB\xBFsvg_dpi=96\n", "svg_dpi", "96"},
        {"\xEF\xBB\xBF;svg_dpi=96\nsvg_font_c=x\n", "svg_dpi", "0"},
        {"\xEF\xBB\xBF[a]\nsvg_dpi=96\n", "svg_dpi", "96"},
        // Only the very start of the file may carry the mark.
        {"svg_font_c=x\n\xEF\xBB\xBFsvg_dpi=96\n", "svg_dpi", "0"},
        {"svg_dpi=96", "svg_dpi", "96"},
        {"svg_dpi=1\nsvg_dpi=96\r", "svg_dpi", "96"},
        {"\xEF\xBB\xBFsvg_dpi=96", "svg_dpi", "96"},
    });
}

TEST(ConfigReader, NumberConversions) {
    expect_cases({
        {"svg_viewbox_side_option=0\n", "svg_viewbox_side_option", "3"},
        {"svg_viewbox_side_option=5\n", "svg_viewbox_side_option", "3"},
        {"svg_viewbox_side_option=-1\n", "svg_viewbox_side_option", "3"},
        {"svg_viewbox_side_option=x\n", "svg_viewbox_side_option", "3"},
        {"svg_viewbox_side_option=1\n", "svg_viewbox_side_option", "1"},
        {"svg_viewbox_side_option=4\n", "svg_viewbox_side_option", "4"},
        {"svg_dpi=96\n", "svg_viewbox_side_option", "0"},
        {"shell_open_svg=YES\n", "shell_open_svg", "1"},
        {"shell_open_svg=yes  \n", "shell_open_svg", "1"},
        {"shell_open_svg=1\n", "shell_open_svg", "0"},
        {"shell_open_svg=true\n", "shell_open_svg", "0"},
        {"shell_open_svg=yess\n", "shell_open_svg", "0"},
        {"shell_open_svg=yes\nshell_open_svg=no\n", "shell_open_svg", "0"},
        {"svg_area_gt_c1=250.5\n", "svg_area_gt_c1", "250.5"},
        {"svg_area_gt_c1=abc\n", "svg_area_gt_c1", "0"},
        {"svg_area_gt_c1=1,5\n", "svg_area_gt_c1", "1"},
        {"svg_area_gt_c2= -2e3px\n", "svg_area_gt_c2", "-2000"},
        {"svg_dpi=96dpi\n", "svg_dpi", "96"},
        {"svg_dpi=-1\n", "svg_dpi", "4294967295"},
        {"svg_dpi=99999999999\n", "svg_dpi", "4294967295"},
    });
}

TEST(ConfigReader, LongTextsAreCutToTheirFieldAtACharacterBoundary) {
    const std::string long_color(40, 'c');
    const std::string long_source(5000, 's');
    // "a" and six 3-byte characters: 19 bytes, of which 15 would end inside the fifth character.
    const std::string kanji = "a\xE5\x88\xA5\xE5\x88\xA5\xE5\x88\xA5\xE5\x88\xA5\xE5\x88\xA5\xE5\x88\xA5";
    const std::string files[] = {
        "svg_chiban_sp1=ABCDEFGHIJKLMNOPQRST\n",
        "svg_boundary_line_color=" + long_color + "\n",
        "svg_text_source=" + long_source + "\n",
        "svg_chiban_sp2=" + kanji + "\n",
    };
    expect_cases({
        {files[0], "svg_chiban_sp1", "ABCDEFGHIJKLMNO"},
        {files[1], "svg_boundary_line_color", long_color.substr(0, 31)},
        {files[2], "svg_text_source", long_source.substr(0, 255)},
        {files[3], "svg_chiban_sp2", kanji.substr(0, 13)},
    });
}

// A long line is one line: no piece of it may be read as a setting of its own.
TEST(ConfigReader, LongLinesAreReadWhole) {
    for (const std::size_t filler : {1022u, 1023u, 2045u, 100000u}) {
        std::string file(1, ';');
        file.append(filler, 'x').append("svg_dpi=7\nsvg_font_size_c1=12");
        const RenderSettings settings = read_bytes(file);
        EXPECT_EQ(settings.svg_dpi, 0u) << filler;
        EXPECT_EQ(settings.svg_font_size_c1, 12u) << filler;
    }
}

TEST(ConfigReader, ShippedFileSetsEveryKey) {
    const std::string path = std::string(CHIZUVEC_SOURCE_DIR) + "/Chizuvec.ini";
    RenderSettings settings;
    ASSERT_EQ(read_render_settings(path, settings), SettingsStatus::read);
    for (const auto& probe : all_fields()) {
        if (probe.key == "shell_open_svg") {
            EXPECT_EQ(probe.show(settings), "0");
        } else {
            EXPECT_FALSE(is_cleared(probe, settings)) << probe.key << " missing from " << path;
        }
    }
    EXPECT_EQ(field_view(settings.svg_chiban_sp1), "\xE5\x88\xA5\xE5\x9B\xB3");  // 別図
}

}  // namespace
}  // namespace chizuvec
