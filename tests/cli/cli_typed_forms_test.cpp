// Lots, sheets and files as people type and save them, on the real map files: each typed form draws
// exactly what the form the program has always understood draws, and what cannot be understood
// gets a message saying why.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli_support.hpp"
#include "test_archive.hpp"

namespace chizuvec::test {
namespace {

std::string replaced_all(std::string text, const std::string& from, const std::string& to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// The oracle for a typed form: the same map file drawn with the exact forms; its standard error is
// the typed run's but for `warnings`, which only the typed run prints after it.
TEST(CliTypedForms, TypedLotsAndSheetsDrawWhatTheExactFormsDraw) {
    const std::string two_areas = replaced_all(read_file(sample_map_path()), "<地番>201-1<", "<地番>101-1<");
    struct Case {
        std::string file;  // in tests/data, or "two.xml": the sample with 101-1 in two 地番区域
        std::vector<std::string> typed;
        std::vector<std::string> exact;
        std::string warnings;
    };
    const std::vector<Case> cases = {
        {"46505-3411-1.xml", {"m41", "２７４０－１", "安房 2740ー2"}, {"M   41", "2740-1", "安房2740-2"}, ""},
        {"13113-0110-44.xml",
         // Dashes the Japanese code page holds, so that the Windows program is given them too.
         {"ｍ　４２", "宇田川町　７５－１", "75‐2", "75ｰ4", "75―5"},
         {"M42", "宇田川町75-1", "75-2", "75-4", "75-5"},
         ""},
        {"12103-0400-76.xml", {"all", "１９４ー１"}, {"all", "194-1"}, ""},
        // ー counts as a dash only between digits.
        {"46505-3411-1.xml",
         {"all", "別図ー5", "2740-9"},
         {"all"},
         "**Warning: lot \"別図ー5\" not found in 46505-3411-1.xml\nNearest lots: 別図-5, 2740-1, 2740-2\n"
         "**Warning: lot \"2740-9\" not found in 46505-3411-1.xml\nNearest lots: 2740-1, 2740-2, 別図-5\n"},
        // One lot typed in two forms is warned about once.
        {"46505-3411-1.xml",
         {"all", "２７４０－９", "2740-9"},
         {"all"},
         "**Warning: lot \"２７４０－９\" not found in 46505-3411-1.xml\nNearest lots: 2740-1, 2740-2, 別図-5\n"},
        // A lot of another sheet highlights nothing on this one, and says where it is.
        {"13113-0110-44.xml",
         {"M41", "宇田川町８３－１"},
         {"M41"},
         "**Warning: lot \"宇田川町８３－１\" is on sheet M43, not M41\n"},
        {"two.xml",
         {"all", "101-1", "101-1"},
         {"all", "稲毛一丁目101-1", "稲毛二丁目101-1"},
         "**Warning: lot \"101-1\" is in 2 地番区域: 稲毛一丁目, 稲毛二丁目\n"},
        // Lots as registry documents write them: 番 and 番地 between digits, 丁目 in either numerals.
        {"two.xml",
         {"all", "稲毛1丁目101番1", "稲毛２丁目１０１番地１"},
         {"all", "稲毛一丁目101-1", "稲毛二丁目101-1"},
         ""},
        {"13113-0110-44.xml", {"M42", "75番地1", "宇田川町75番2"}, {"M42", "75-1", "宇田川町75-2"}, ""},
        // A lot not found: the five nearest, by its 地番区域 and lot number apart.
        {"two.xml",
         {"all", "稲毛三丁目101-1"},
         {"all"},
         "**Warning: lot \"稲毛三丁目101-1\" not found in two.xml\nNearest lots: 稲毛一丁目101-1, 稲毛二丁目101-1, "
         "稲毛一丁目101-2, 稲毛一丁目101-3, 稲毛一丁目101-4\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file + " " + testing::PrintToString(c.typed));
        ProgramDir program;
        if (c.file == "two.xml") {
            program.write(c.file, two_areas);
        } else {
            std::filesystem::copy_file(shared_data(c.file), program.file(c.file));
        }
        std::vector<std::string> typed = {c.file, "typed.svg"};
        typed.insert(typed.end(), c.typed.begin(), c.typed.end());
        std::vector<std::string> exact = {c.file, "exact.svg"};
        exact.insert(exact.end(), c.exact.begin(), c.exact.end());
        const RunResult t = program.run(typed);
        const RunResult e = program.run(exact);
        ASSERT_EQ(e.exit_code, 0) << e.err;
        EXPECT_EQ(t.exit_code, 0) << t.err;
        EXPECT_EQ(t.err, e.err + c.warnings);
        EXPECT_TRUE(read_file(program.file("typed.svg")) == read_file(program.file("exact.svg")));
    }
}

// The map numbers of a file as its sheets give them, each once, found without the reader.
std::vector<std::string> sheet_numbers(const std::string& xml) {
    std::vector<std::string> numbers;
    const std::string open = "<地図番号>";
    for (auto at = xml.find(open); at != std::string::npos; at = xml.find(open, at + 1)) {
        const std::string n = xml.substr(at + open.size(), xml.find('<', at + open.size()) - at - open.size());
        if (std::find(numbers.begin(), numbers.end(), n) == numbers.end()) numbers.push_back(n);
    }
    return numbers;
}

TEST(CliTypedForms, SheetsThatMatchNothingAreListed) {
    for (const char* name : {"13113-0110-44.xml", "46505-3411-1.xml"}) {
        SCOPED_TRACE(name);
        ProgramDir program;
        std::filesystem::copy_file(shared_data(name), program.file(name));
        const std::vector<std::string> numbers = sheet_numbers(read_file(program.file(name)));
        std::string sheets;
        for (const std::string& n : numbers) sheets += (sheets.empty() ? "" : ", ") + n;
        // One character off the first sheet: that sheet comes first among the nearest.
        const std::string typo = numbers.front().substr(0, numbers.front().size() - 1) + "9";
        const RunResult r = program.run({name, "out.svg", typo});
        EXPECT_EQ(r.exit_code, 1);
        const std::string tail = "** Error: no map sheet \"" + typo + "\" in " + name +
                                 ": nothing was written\nNearest map sheets: " + numbers.front();
        EXPECT_NE(r.err.find(tail), std::string::npos) << r.err;
        EXPECT_TRUE(r.err.ends_with("\nMap sheets in " + std::string(name) + ": " + sheets + "\n")) << r.err;
        EXPECT_EQ(r.err.find("No polygons"), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(program.file("out.svg")));

        // With more sheets than the message names, empty ones among them: the message says how to
        // see them all, and --sheets lists each with the parcels its 筆参照 name, found without the reader.
        std::string xml = read_file(program.file(name));
        const auto ref_at = xml.find("<筆参照");
        const std::string ref = xml.substr(ref_at, xml.find('>', ref_at) + 1 - ref_at) + "\n";
        std::string extra;
        for (int k = 1; k <= 21; ++k)
            extra += "<図郭>\n<地図番号>S" + std::to_string(k) + "</地図番号>\n" + ref + "</図郭>\n";
        extra += "<図郭>\n<地図番号>E0</地図番号>\n</図郭>\n";
        xml.insert(xml.rfind("</地図>"), extra);
        program.write("more.xml", xml);
        const RunResult more = program.run({"more.xml", "out.svg", typo});
        EXPECT_TRUE(more.err.ends_with(", and " + std::to_string(numbers.size() + 22 - 20) +
                                       " more (Chizuvec --sheets more.xml lists them all)\n"))
            << more.err;
        // A sheet of the file that lists no parcel is no typo: nothing to draw, as the seed says.
        const RunResult empty = program.run({"more.xml", "out.svg", "E0"});
        EXPECT_EQ(empty.exit_code, 0) << empty.err;
        EXPECT_NE(empty.err.find("**Warning: No polygons to draw\n"), std::string::npos) << empty.err;
        EXPECT_EQ(empty.err.find("no map sheet"), std::string::npos) << empty.err;
        const RunResult listed = program.run({"--sheets", "more.xml"});
        ASSERT_EQ(listed.exit_code, 0) << listed.err;
        std::vector<std::string> expected;
        for (auto at = xml.find("<図郭>"); at != std::string::npos; at = xml.find("<図郭>", at + 1)) {
            const std::string block = xml.substr(at, xml.find("</図郭>", at) - at);
            std::size_t refs = 0;
            for (auto f = block.find("<筆参照"); f != std::string::npos; f = block.find("<筆参照", f + 1)) ++refs;
            const auto n = block.find("<地図番号>") + std::string("<地図番号>").size();
            expected.push_back(block.substr(n, block.find('<', n) - n) + " " + std::to_string(refs));
        }
        std::vector<std::string> got;
        const std::vector<std::string> lines = split(listed.out, '\n');
        ASSERT_GT(lines.size(), 2u) << listed.out;
        EXPECT_EQ(lines[1], "地図番号    縮尺分母  筆数 地図分類");
        for (std::size_t l = 2; l + 1 < lines.size(); ++l) {
            // The map number fills a column of 10.
            std::string number = lines[l].substr(0, 10);
            number.erase(number.find_last_not_of(' ') + 1);
            char scale[16] = {};
            unsigned parcels = 0;
            ASSERT_EQ(std::sscanf(lines[l].c_str() + 10, "%15s %u", scale, &parcels), 2) << lines[l];
            got.push_back(number + " " + std::to_string(parcels));
        }
        EXPECT_EQ(got, expected) << listed.out;
        EXPECT_EQ(lines[lines.size() - 2], "E0" + std::string(8 + 9, ' ') + "-     0 -") << listed.out;
    }
}

// A file saved under another name or form draws as the file it is: the oracle is the same map file
// under the name the program has always read, its drawing's title showing the other name.
TEST(CliTypedForms, FilesAsSavedDrawAsTheMapFileTheyHold) {
    const std::string zip_76 = read_file(shared_data("12103-0400-76.zip"));
    const std::string xml_46505 = read_file(shared_data("46505-3411-1.xml"));
    struct Case {
        std::string saved;     // the name the file is saved under
        std::string bytes;     // what it holds
        std::string typed;     // the input argument
        std::string original;  // the map file the oracle draws, from tests/data
        std::string title;     // the name the drawing shows for it
        std::string shown{};   // the name messages give it, when not the title: with its folder
    };
    const std::vector<Case> cases = {
        {"01229-4500-1", xml_46505, "01229-4500-1", "46505-3411-1.xml", "01229-4500-1"},
        {"46505-3411-1.zip", xml_46505, "46505-3411-1.zip", "46505-3411-1.xml", "46505-3411-1.zip"},
        {"12103-0400-76.xml", zip_76, "12103-0400-76.xml", "12103-0400-76.xml", "12103-0400-76.xml"},
        {"12103-0400-76 (1).zip", zip_76, "12103-0400-76 (1).zip", "12103-0400-76.xml", "12103-0400-76.xml"},
        {"download.zip", archive_bytes({{"x/y/46505-3411-1.xml", xml_46505, true}}), "download", "46505-3411-1.xml",
         "46505-3411-1.xml", "x/y/46505-3411-1.xml"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.saved);
        ProgramDir program;
        program.write(c.saved, c.bytes);
        const RunResult r = program.run({c.typed, "out.svg", "all"});
        EXPECT_EQ(r.exit_code, 0) << r.err;
        ProgramDir oracle;
        std::filesystem::copy_file(shared_data(c.original), oracle.file(c.original));
        const RunResult o = oracle.run({c.original, "out.svg", "all"});
        ASSERT_EQ(o.exit_code, 0) << o.err;
        EXPECT_EQ(r.err, replaced_all(o.err, c.original + ":", (c.shown.empty() ? c.title : c.shown) + ":"));
        EXPECT_TRUE(read_file(program.file("out.svg")) ==
                    replaced_all(read_file(oracle.file("out.svg")), c.original, c.title));
    }
}

TEST(CliTypedForms, CutOffFilesAndOptionsAfterTheInputAreTold) {
    ProgramDir program;
    const std::string whole = read_file(shared_data("13113-0110-44.xml"));
    program.write("cut.xml", whole.substr(0, whole.size() / 2));
    const RunResult cut = program.run({"cut.xml"});
    EXPECT_EQ(cut.exit_code, 0);
    EXPECT_EQ(cut.err.substr(0, cut.err.find('\n') + 1),
              "**Warning: \"cut.xml\" ends before </地図>: it may be cut off\n");
    EXPECT_NE(cut.out.find("No"), std::string::npos);

    program.write("map.xml", read_file(sample_map_path()));
    struct Misplaced {
        std::vector<std::string> args;
        std::string option;
    };
    for (const Misplaced& m :
         {Misplaced{{"map.xml", "--frame", "all"}, "--frame"},
          Misplaced{{"map.xml", "out.svg", "M42", "--frame"}, "--frame"},
          Misplaced{{"map.xml", "out.svg", "--paper", "A3"}, "--paper"},
          Misplaced{{"map.xml", "out.pdf", "all", "--scale", "500"}, "--scale"},
          Misplaced{{"map.xml", "-o", "out.svg"}, "-o"}, Misplaced{{"map.xml", "out.svg", "all", "--lots"}, "--lots"},
          Misplaced{{"map.xml", "--out-dir"}, "--out-dir"},
          Misplaced{{"map.xml", "out.svg", "all", "--highlight", "101-1"}, "--highlight"},
          Misplaced{{"map.xml", "--csv", "-"}, "--csv"}}) {
        SCOPED_TRACE(m.option);
        const RunResult r = program.run(m.args);
        EXPECT_EQ(r.exit_code, 1);
        const bool known = m.option != "-o" && m.option != "--lots";
        EXPECT_TRUE(r.err.starts_with(
            known ? "** Error: options come before the input: \"" + m.option + "\" after \"map.xml\""
                  : "** Error: \"" + m.option + "\" after \"map.xml\" is not an option of this program"))
            << r.err;
        EXPECT_EQ(r.out, "");
    }
    for (const auto& entry : std::filesystem::directory_iterator(program.dir.path)) {
        EXPECT_FALSE(entry.path().filename().string().starts_with("--")) << entry.path();
    }

    // The sheet before the output, the output before the input: told, nothing written.
    struct Swapped {
        std::vector<std::string> args;
        std::string told;
    };
    for (const Swapped& w :
         {Swapped{{"map.xml", "M300", "out.svg"},
                  "** Error: \"out.svg\" stands where the map number goes: the output comes before it\n"
                  "Usage: Chizuvec.exe INPUT OUTPUT [MAP_NUMBER [LOT ...]]\n"},
          Swapped{{"out.svg", "map.xml"},
                  "** Error: Input file not found\nlooked for \"out.svg\"\n\"map.xml\" is the map file: the input "
                  "comes first (Chizuvec.exe map.xml out.svg ...)\n"},
          Swapped{{"-x", "map.xml", "out.svg"}, "** Error: \"-x\" is not an option of this program\n"}}) {
        SCOPED_TRACE(testing::PrintToString(w.args));
        const RunResult r = program.run(w.args);
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_TRUE(r.err.starts_with(w.told)) << r.err;
        EXPECT_FALSE(std::filesystem::exists(program.file("out.svg")));
        EXPECT_FALSE(std::filesystem::exists(program.file("M300.svg")));
    }

    const RunResult help = program.run({"--help"});
    for (const char* form : {"Output_filename.svg", "Input_filename.xml   (lists the parcels)", "--out-dir DIR",
                             "--csv OUT.csv|OUT.xlsx|-"}) {
        EXPECT_NE(help.out.find(form), std::string::npos) << form;
    }
}

}  // namespace
}  // namespace chizuvec::test
