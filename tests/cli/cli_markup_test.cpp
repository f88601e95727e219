// Map texts that try to become markup or to break the document: the sample map with one hostile
// text in its name, municipality, coordinate system, a lot number and a sheet number, drawn with
// that sheet selected and that lot highlighted. xmllint must accept the drawing, and a browser must
// show it without a script element and without any effect of one; the listing must not pass control
// bytes to the terminal.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "cli_support.hpp"
#include "test_os.hpp"

namespace chizuvec::test {
namespace {

// What a script in the map would leave behind; the map text holds it only in two pieces.
constexpr std::string_view kMarker = "PWNED";

struct HostileMap {
    const char* what;
    std::string head;   // map name, municipality and coordinate system (at most 63 bytes)
    std::string lot;    // a lot number (no "<": the reader ends it there)
    std::string sheet;  // a sheet number (at most 15 bytes), also the map number selected
};

const HostileMap kHostileMaps[] = {
    {"script", "X</text><script>document.title='PW'+'NED'</script><text>", "1\"'>", "</text><script>"},
    // Balanced markup in the texts only: the drawing was well-formed before, and the script ran.
    {"script with a plain sheet", "X</text><script>document.title='PW'+'NED'</script><text>", "1", "A01"},
    {"undeclared entity", "A&nbsp;B", "1&nbsp;2", "S&nbsp;"},
    {"Shift_JIS", "\x92\x6E\x90\x7D", "\x92\x6E\x94\xD4", "\x82\xA0"},
    {"ESC", "A\x1B[2JB", "1\x1B[31m2", "S\x1B"},
    {"lone ampersand", "A & B", "1&2", "&"},
    {"U+FFFE",
     "A\xEF\xBF\xBE"
     "B",
     "1\xEF\xBF\xBE", "\xEF\xBF\xBF"},
};

std::string replace_once(std::string text, const std::string& from, const std::string& to) {
    const auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

// A text as the map file writes it: its markup characters escaped, so that the reader's decoded
// text is the hostile one ('&' stays, for the entities no reader may expand).
std::string in_file(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        if (c == '<') {
            escaped += "&lt;";
        } else if (c == '>') {
            escaped += "&gt;";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

std::string hostile_map(const HostileMap& raw) {
    const HostileMap m{raw.what, in_file(raw.head), in_file(raw.lot), in_file(raw.sheet)};
    std::string map = read_file(sample_map_path());
    map = replace_once(map, "<地図名>サンプル地図<", "<地図名>" + m.head + "<");
    map = replace_once(map, "<市区町村名>千葉市稲毛区<", "<市区町村名>" + m.head + "<");
    map = replace_once(map, "<座標系>公共座標9系<", "<座標系>" + m.head + "<");
    map = replace_once(map, "<地番>101-3<", "<地番>" + m.lot + "<");
    return replace_once(map, "<地図番号>A01<", "<地図番号>" + m.sheet + "<");
}

bool have_chromium() { return std::filesystem::exists("/usr/bin/chromium"); }

// The document as headless Chromium holds it once its scripts (if any) have run.
std::string dumped_dom(const ProgramDir& program, const std::string& name) {
    const std::string dom = program.file(name + ".dom");
    const std::string command =
        "timeout 120 /usr/bin/chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
        " --disable-background-networking --disable-component-update --disable-sync --user-data-dir='" +
        program.file(name + ".profile") + "' --dump-dom 'file://" + program.file(name) + "' >'" + dom + "' 2>/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0) << name;
    std::filesystem::remove_all(program.file(name + ".profile"));
    return read_file(dom);
}

std::string lower(std::string text) {
    for (char& c : text) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return text;
}

TEST(CliMarkup, HostileMapTextsStayText) {
    if (const std::string why = missing(Need::kHostTools); !why.empty()) GTEST_SKIP() << why;
    if (std::system("command -v xmllint >/dev/null 2>&1") != 0) GTEST_SKIP() << "xmllint is not installed";
    for (const HostileMap& m : kHostileMaps) {
        ProgramDir program;
        program.write("map.xml", hostile_map(m));
        for (const char* name : {"out.svg", "out.htm"}) {
            SCOPED_TRACE(std::string(m.what) + " " + name);
            const RunResult r = program.run({"map.xml", name, m.sheet, m.lot});
            ASSERT_EQ(r.exit_code, 0) << r.err;
            ASSERT_NE(r.out.find("created successfully"), std::string::npos) << r.out << r.err;
            EXPECT_TRUE(xml_well_formed(program.file(name)));
            if (!have_chromium()) continue;
            const std::string dom = lower(dumped_dom(program, name));
            EXPECT_NE(dom.find("<svg"), std::string::npos) << dom;
            EXPECT_EQ(dom.find("<script"), std::string::npos) << dom;
            EXPECT_EQ(dom.find(lower(std::string(kMarker))), std::string::npos) << dom;
        }
    }
    if (!have_chromium()) GTEST_SKIP() << "chromium is not installed; only xmllint checked";
}

TEST(CliMarkup, ListingShowsControlBytesAsQuestionMarks) {
    for (const HostileMap& m : kHostileMaps) {
        SCOPED_TRACE(m.what);
        ProgramDir program;
        program.write("map.xml", hostile_map(m));
        const RunResult r = program.run({"map.xml"});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        for (const char c : r.out) {
            const auto b = static_cast<unsigned char>(c);
            EXPECT_TRUE(b >= 0x20 ? b != 0x7F : b == '\n' || b == '\t') << "byte " << int{b};
        }
    }
    ProgramDir program;
    program.write("map.xml", hostile_map(kHostileMaps[4]));
    const RunResult r = program.run({"map.xml"});
    EXPECT_NE(r.out.find(" 地図名：A?[2JB（A?[2JB）\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" S?        "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" 1?[31m2  "), std::string::npos) << r.out;
}

}  // namespace
}  // namespace chizuvec::test
