// Municipality archives (a zip of map-file zips, with or without a search list) and folders given to
// the single-map command: the map file holding the first named lot is drawn exactly as the
// single-map command draws that map file unpacked, which is the oracle here.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli_support.hpp"
#include "platform/platform.hpp"
#include "test_archive.hpp"

namespace chizuvec::test {
namespace {

// How the program names a file it finds in the folder "maps".
std::string in_maps(const std::string& name) { return std::string("maps") + platform::path_separator() + name; }

std::string replaced_all(std::string text, const std::string& from, const std::string& to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// Three map files from the sample: m-1 and m-3 hold its lots (101-1 to 101-6, 201-1 to 201-3 and
// others), m-2 holds them with a 9 in front (9101-1).
// m-4 holds the lots of m-1 in 稲毛三丁目 instead of 稲毛一丁目.
struct Maps {
    std::string m1 = read_file(sample_map_path());
    std::string m2 = replaced_all(m1, "<地番>", "<地番>9");
    std::string m3 = m1;
    std::string m4 = replaced_all(m1, "<丁目名>一丁目<", "<丁目名>三丁目<");
    const std::string& xml(const std::string& stem) const {
        return stem == "m-2" ? m2 : stem == "m-3" ? m3 : stem == "m-4" ? m4 : m1;
    }
};

std::vector<SearchListRow> list_rows() {
    std::vector<SearchListRow> rows;
    for (const char* file : {"m-1.zip", "m-2.zip", "m-3.zip"}) {
        const std::string nine = std::string(file) == "m-2.zip" ? "9" : "";
        for (int i = 1; i <= 6; ++i) rows.push_back({file, "稲毛一丁目", nine + "101-" + std::to_string(i)});
        for (int i = 1; i <= 3; ++i) rows.push_back({file, "稲毛二丁目", nine + "201-" + std::to_string(i)});
    }
    return rows;
}

enum class Layout {
    listed,    // stored inner zips and a search list
    unlisted,  // deflated inner zips, no search list: found by reading
    broken,    // no search list; a damaged inner zip and one without its map file come first
    misled,    // the search list names the damaged inner zip
    folder,    // a folder of the inner zips and one plain map file
    areas,     // m-1 and m-4: the same lot numbers in two 地番区域, with a search list
};

std::vector<ArchiveEntry> entries(const Maps& maps, Layout layout) {
    std::vector<ArchiveEntry> e;
    if (layout == Layout::areas) {
        return {{"m-1.zip", map_zip_bytes("m-1", maps.m1), false},
                {"m-4.zip", map_zip_bytes("m-4", maps.m4), false},
                {"m-search-list.csv",
                 search_list_bytes({{"m-1.zip", "稲毛一丁目", "101-1"}, {"m-4.zip", "稲毛三丁目", "101-1"}}, false),
                 false}};
    }
    if (layout == Layout::broken || layout == Layout::misled) {
        e.push_back({"m-0.zip", "PK not a zip at all", false});
        e.push_back({"m-9.zip", map_zip_bytes("other", maps.m1), false});
    }
    for (const char* stem : {"m-1", "m-2", "m-3"}) {
        e.push_back({std::string(stem) + ".zip", map_zip_bytes(stem, maps.xml(stem)), layout == Layout::unlisted});
    }
    if (layout == Layout::listed) e.push_back({"m-search-list.csv", search_list_bytes(list_rows(), true), true});
    if (layout == Layout::misled) {
        e.push_back({"m-search-list.csv",
                     search_list_bytes({{"m-0.zip", "稲毛二丁目", "9201-3"}, {"m-0.zip", "稲毛二丁目", "7-7"}}, false),
                     false});
    }
    return e;
}

TEST(CliMunicipality, DrawsTheMapFileOfTheFirstNamedLot) {
    const Maps maps;
    const auto no_lot = [](int count) {
        return "** Error: \"m.zip\" holds " + std::to_string(count) +
               " map files; name a lot number to draw, or use --out-dir\n";
    };
    const auto nowhere = [](const std::string& lot, int count) {
        return "** Error: lot \"" + lot + "\" is in none of the " + std::to_string(count) + " map files of \"m.zip\"\n";
    };
    const std::string failures =
        "m-0.xml: ** Error: the inner archive m-0.zip is damaged (not a zip archive): download the municipality "
        "again\n"
        "m-9.xml: ** Error: holds no map file\n";
    struct Case {
        Layout layout;
        std::vector<std::string> args;  // after the output name
        std::string drawn;              // the map file drawn; empty when the run fails
        std::string err_before;         // standard error before the statistics line (or all of it)
    };
    const std::vector<Case> cases = {
        {Layout::listed,
         {"all", "9201-3", "稲毛一丁目9101-4", "101-1"},
         "m-2",
         "**Warning: lot \"101-1\" is in m-1.xml, not drawn\n"},
        {Layout::unlisted,
         {"all", "9201-3", "稲毛一丁目101-1"},
         "m-2",
         "**Warning: lot \"稲毛一丁目101-1\" is in m-1.xml, not drawn\n"},
        // A lot in two map files is in the first of them; an unknown lot is passed over.
        {Layout::listed,
         {"all", "9-9", "101-2", "9201-1"},
         "m-1",
         "**Warning: lot \"9201-1\" is in m-2.xml, not drawn\n"},
        {Layout::unlisted, {"0", "101-2", "稲毛二丁目201-1"}, "m-1", ""},
        {Layout::listed, {"A01", "9101-2", "9201-2"}, "m-2", ""},
        {Layout::broken, {"all", "9201-3"}, "m-2", failures},
        {Layout::folder,
         {"ALL", "9201-3", "101-5"},
         "m-2",
         "**Warning: lot \"101-5\" is in " + in_maps("m-1.zip") + ", not drawn\n"},
        // Lots as typed, looked up in the search list in their normal form.
        {Layout::listed,
         {"all", "９２０１－３", "稲毛一丁目　１０１ー１"},
         "m-2",
         "**Warning: lot \"稲毛一丁目　１０１ー１\" is in m-1.xml, not drawn\n"},
        // A lot the list does not know is looked for in the map files.
        {Layout::listed,
         {"all", "水-3"},
         "m-1",
         "**Warning: the search list of \"m.zip\" does not match its map files\n"},
        {Layout::areas,
         {"all", "101-1"},
         "",
         "** Error: lot \"101-1\" is in 2 地番区域 of \"m.zip\": 稲毛一丁目 (m-1.xml), 稲毛三丁目 (m-4.xml); name one, "
         "as 稲毛一丁目101-1\n"},
        {Layout::areas, {"all", "稲毛三丁目101-1"}, "m-4", ""},
        {Layout::listed, {"all"}, "", no_lot(3)},
        {Layout::listed, {}, "", no_lot(3)},
        {Layout::listed, {"all", "稲毛9201-1"}, "", nowhere("稲毛9201-1", 3)},
        {Layout::broken,
         {"all", "7-7"},
         "",
         failures + "** Error: lot \"7-7\" is in none of the 5 map files of \"m.zip\"; 2 of them cannot be read\n"},
        // The search list names a file that cannot be read: the map files themselves are searched, and
        // a lot found elsewhere is drawn from there; the damage is told, not blamed on the list.
        {Layout::misled,
         {"all", "9201-3", "7-7"},
         "m-2",
         failures + "**Warning: lot \"7-7\" is listed in m-0.zip, which cannot be read\n"},
        {Layout::misled,
         {"all", "7-7"},
         "",
         failures + "** Error: lot \"7-7\" is listed in m-0.zip, which cannot be read\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args) + " layout " + std::to_string(static_cast<int>(c.layout)));
        ProgramDir program;
        std::string input = "m.zip";
        if (c.layout == Layout::folder) {
            input = "maps";
            std::filesystem::create_directory(program.file("maps"));
            ASSERT_TRUE(write_archive(program.file("maps/m-1.zip"), {{"m-1.xml", maps.m1, true}}));
            program.write("maps/m-2.xml", maps.m2);
        } else {
            ASSERT_TRUE(write_archive(program.file(input), entries(maps, c.layout)));
        }
        std::vector<std::string> args = {input, "out.svg"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const RunResult r = program.run(args);
        if (c.drawn.empty()) {
            EXPECT_EQ(r.exit_code, 1);
            EXPECT_EQ(r.err, c.err_before);
            EXPECT_EQ(r.out, "");
            EXPECT_FALSE(std::filesystem::exists(program.file("out.svg")));
            continue;
        }
        // The oracle: the map file unpacked, drawn by the single-map command, without the lots that
        // the run already told are in other map files (they are not in this one either).
        ProgramDir oracle;
        oracle.write(c.drawn + ".xml", maps.xml(c.drawn));
        std::vector<std::string> oracle_args = {c.drawn + ".xml", "out.svg"};
        for (const std::string& arg : c.args) {
            if (c.err_before.find("lot \"" + arg + "\" is ") == std::string::npos) oracle_args.push_back(arg);
        }
        const RunResult expected = oracle.run(oracle_args);
        ASSERT_EQ(expected.exit_code, 0) << expected.err;
        EXPECT_EQ(r.exit_code, 0) << r.err;
        const std::string stats =
            c.layout == Layout::folder ? replaced_all(expected.err, "m-2.xml: ", in_maps("m-2.xml: ")) : expected.err;
        EXPECT_EQ(r.err, c.err_before + stats);
        EXPECT_TRUE(read_file(program.file("out.svg")) == read_file(oracle.file("out.svg")));
    }
}

TEST(CliMunicipality, InputsWithoutMapFiles) {
    ProgramDir program;
    std::filesystem::create_directory(program.file("empty"));
    program.write("empty/notes.txt", "no maps here");
    // A zip of neither its own map file nor inner ones reads as the single-map command always read it.
    ASSERT_TRUE(write_archive(program.file("m.zip"), {{"readme.txt", "x", false}, {"data/notes.txt", "x", false}}));
    const RunResult folder = program.run({"empty", "out.svg", "all", "101-1"});
    EXPECT_EQ(folder.exit_code, 1);
    EXPECT_EQ(folder.err, "** Error: \"empty\" holds no map file\n");
    const RunResult zip = program.run({"m.zip", "out.svg", "all", "101-1"});
    EXPECT_EQ(zip.exit_code, 1);
    EXPECT_EQ(zip.err, "** Error: Input file not found\n");
}

}  // namespace
}  // namespace chizuvec::test
