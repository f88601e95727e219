// Many map files in one run: drawings into a folder (checked file by file against the single-map
// command run on its own), the CSV (checked against the listing), the listing of a folder, and an
// interrupted run.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli_support.hpp"
#include "gen_map_core.hpp"
#include "platform/platform.hpp"
#include "test_archive.hpp"
#include "test_os.hpp"

namespace chizuvec::test {
namespace {

// How the program names a file it finds in the folder "in".
std::string in_folder(const std::string& name) { return std::string("in") + platform::path_separator() + name; }

namespace fs = std::filesystem;

// A generated map of `parcels` in the folder `dir` of the program's directory.
void generate(const ProgramDir& program, const std::string& name, std::uint32_t parcels, std::uint64_t seed) {
    genmap::GenMapOptions options;
    options.parcels = parcels;
    options.seed = seed;
    genmap::GenMapSummary summary;
    const std::string path = program.file(name);
    fs::create_directories(fs::path(path).parent_path());
    const bool zip = path.ends_with(".zip");
    ASSERT_EQ(
        zip ? genmap::generate_map_zip(path, options, summary) : genmap::generate_map_file(path, options, summary),
        genmap::kGenOk);
}

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// The single-map command's drawing of `args`, run as a process of its own.
std::string single_map_drawing(const ProgramDir& program, std::vector<std::string> args, const std::string& out) {
    args.insert(args.begin() + 1, out);
    const RunResult r = program.run(args);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return read_file(program.file(out));
}

// A folder of two plain maps, a zipped one, a map whose sheet numbers collide once made safe
// ("A/1" and "A:1" both give "A_1"), and a damaged archive. Beside it: a larger map of the same
// stem as in/a.xml, slower to read, and a municipality archive (with its search list) of three
// inner maps from the folder's, whose lots are told apart by a prefix: 1-2, 90001-2, 80001-2.
void make_maps(const ProgramDir& program) {
    generate(program, "in/a.xml", 300, 1);
    generate(program, "in/b.xml", 500, 2);
    generate(program, "in/c.zip", 200, 3);
    generate(program, "tmp/d.xml", 300, 4);
    std::string d = read_file(program.file("tmp/d.xml"));
    d = replace_all(d, "<地図番号>V0200-1<", "<地図番号>A/1<");
    d = replace_all(d, "<地図番号>V0200-2<", "<地図番号>A:1<");
    program.write("in/d.xml", d);
    program.write("in/e.zip", "not an archive");
    generate(program, "big/a.xml", 4000, 5);
    const std::string b = replace_all(read_file(program.file("in/b.xml")), "<地番>", "<地番>9000");
    fs::create_directory(program.file("muni"));
    ASSERT_TRUE(write_archive(program.file("muni/m.zip"),
                              {{"m-1.zip", map_zip_bytes("m-1", read_file(program.file("in/a.xml")))},
                               {"m-2.zip", map_zip_bytes("m-2", b), true},
                               {"m-3.zip", map_zip_bytes("m-3", replace_all(d, "<地番>", "<地番>8000"))},
                               {"m-search-list.csv", search_list_bytes({{"m-1.zip", "作草部町", "1-2"},
                                                                        {"m-2.zip", "作草部町", "90001-2"},
                                                                        {"m-3.zip", "作草部町", "80001-2"}},
                                                                       true)}}));
}

TEST(CliBatch, DrawingsEqualTheSingleMapCommandFileByFile) {
    ProgramDir program;
    make_maps(program);
    struct Case {
        std::vector<std::string> options;
        // Each output and the single-map arguments that draw it.
        std::vector<std::pair<std::string, std::vector<std::string>>> outputs;
        std::string summary;
        std::vector<std::string> inputs = {"in"};
    };
    const std::vector<std::pair<std::string, std::vector<std::string>>> files = {
        {"a.svg", {"in/a.xml"}}, {"b.svg", {"in/b.xml"}}, {"c.svg", {"in/c.zip"}}, {"d.svg", {"in/d.xml"}}};
    const std::vector<std::pair<std::string, std::vector<std::string>>> sheets = {
        {"a_V0200-1.svg", {"in/a.xml", "V0200-1"}},
        {"a_V0200-2.svg", {"in/a.xml", "V0200-2"}},
        {"d_A_1.svg", {"in/d.xml", "A/1"}},
        {"d_A_1~2.svg", {"in/d.xml", "A:1"}},
    };
    const std::string per_file = "Drawn 4, failed 1, skipped 0 (no polygons) in ";
    for (const Case& c : {
             Case{{"--jobs", "1"}, files, per_file},
             Case{{"--jobs", "2"}, files, per_file},
             Case{{"--format", "htm", "--highlight", "1-1", "--highlight", "1-3"},
                  {{"a.htm", {"in/a.xml", "all", "1-1", "1-3"}}, {"b.htm", {"in/b.xml", "all", "1-1", "1-3"}}},
                  per_file},
             Case{{"--per-sheet", "--jobs", "2"},
                  sheets,
                  " sheets, failed 0, skipped 0 (no polygons); 4 map files done, failed 1 in "},
             Case{{"--per-sheet", "--jobs", "1"},
                  sheets,
                  " sheets, failed 0, skipped 0 (no polygons); 4 map files done, failed 1 in "},
             // The same names claimed by two files: the first input's keeps the plain name, however
             // much longer it takes to read.
             Case{{"--per-sheet", "--jobs", "2"},
                  {{"a_V0200-1.svg", {"big/a.xml", "V0200-1"}}, {"a_V0200-1~2.svg", {"in/a.xml", "V0200-1"}}},
                  " sheets, failed 0, skipped 0 (no polygons); 2 map files done, failed 0 in ",
                  {"big/a.xml", "in/a.xml"}},
             // Each inner map file of an archive as the single-map command draws it, found by its lot.
             Case{{"--highlight", "1-2", "--highlight", "90001-2", "--highlight", "80001-2"},
                  {{"m-1.svg", {"muni/m.zip", "all", "1-2", "90001-2", "80001-2"}},
                   {"m-2.svg", {"muni/m.zip", "all", "90001-2", "1-2", "80001-2"}},
                   {"m-3.svg", {"muni/m.zip", "all", "80001-2", "1-2", "90001-2"}}},
                  "Drawn 3, failed 0, skipped 0 (no polygons) in ",
                  {"muni/m.zip"}},
         }) {
        fs::remove_all(program.file("out"));
        std::vector<std::string> args = {"--out-dir", "out"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.insert(args.end(), c.inputs.begin(), c.inputs.end());
        const RunResult r = program.run(args);
        const bool damaged = c.inputs == std::vector<std::string>{"in"};
        EXPECT_EQ(r.exit_code, damaged ? 1 : 0) << r.err;
        if (damaged) {
            EXPECT_NE(r.err.find(in_folder("e.zip") + ": ** Error: ZIP error code 19\n" + in_folder("e.zip") +
                                 ": ** Error: code=3\n"),
                      std::string::npos)
                << r.err;
        }
        EXPECT_NE(r.err.find(c.summary), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
        for (const auto& [output, single_args] : c.outputs) {
            const std::string expected =
                single_map_drawing(program, single_args, "single" + output.substr(output.find('.')));
            EXPECT_EQ(read_file(program.file("out/" + output)), expected) << output;
        }
        for (const auto& entry : fs::directory_iterator(program.file("out"))) {
            EXPECT_NE(entry.path().filename().string()[0], '.') << "left behind: " << entry.path();
        }
    }
}

// The listing's rows, as whitespace-separated fields: No, id, shape, map number, address, lot, area.
std::vector<std::vector<std::string>> listing_rows(const std::string& listing) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(listing);
    std::string line;
    for (int i = 0; std::getline(lines, line); ++i) {
        if (line.find("地図名：") != std::string::npos || line.find("筆ID") != std::string::npos) continue;
        std::istringstream fields(line);
        std::vector<std::string> row;
        for (std::string f; fields >> f;) row.push_back(f);
        rows.push_back(row);
    }
    return rows;
}

TEST(CliBatch, CsvAndFolderListingAgreeWithTheListingOfEachFile) {
    ProgramDir program;
    make_maps(program);
    const std::vector<std::string> names = {"a.xml", "b.xml", "c.zip", "d.xml"};
    std::string listings, statistics;
    for (const std::string& name : names) {
        const RunResult r = program.run({in_folder(name)});
        ASSERT_EQ(r.exit_code, 0);
        listings += r.out;
        statistics += r.err;
    }
    // The folder: every file's statistics line and listing in name order; the damaged one reported.
    const RunResult folder = program.run({"in"});
    EXPECT_EQ(folder.exit_code, 1);
    EXPECT_EQ(folder.out, listings);
    EXPECT_EQ(folder.err, statistics + in_folder("e.zip") + ": ** Error: ZIP error code 19\n" + in_folder("e.zip") +
                              ": ** Error: code=3\n");

    const std::vector<std::vector<std::string>> expected = listing_rows(listings);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--csv", "out.csv", "--jobs", "2", "in"}, {"--csv", "-", "--jobs", "1", "in"}}) {
        const RunResult r = program.run(args);
        EXPECT_EQ(r.exit_code, 1);
        // Every parcel the files hold (their largest ids, numbered from 1), the rest outside the district.
        std::size_t held = 0;
        const std::regex kept(" H=[0-9]+\\(([0-9]+)\\)\n");
        for (auto it = std::sregex_iterator(statistics.begin(), statistics.end(), kept); it != std::sregex_iterator();
             ++it) {
            held += std::stoul((*it)[1].str());
        }
        ASSERT_GT(held, expected.size());
        EXPECT_NE(
            r.err.find("Listed " + std::to_string(expected.size()) + " of " + std::to_string(held) + " parcels (" +
                       std::to_string(held - expected.size()) + " outside the district) of 4 map files, failed 1"),
            std::string::npos)
            << r.err;
        std::string csv = args[1] == "-" ? r.out : read_file(program.file("out.csv"));
        ASSERT_EQ(csv.rfind(args[1] == "-" ? "map_file," : "\xEF\xBB\xBFmap_file,", 0), 0u);
        const std::vector<std::string> lines = split(csv, '\n');
        ASSERT_EQ(lines.size(), expected.size() + 2);  // header, rows, nothing after the last CR LF
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const std::string& line = lines[i + 1];
            ASSERT_TRUE(line.ends_with("\r"));
            const std::vector<std::string> f = split(line.substr(0, line.size() - 1), ',');
            ASSERT_EQ(f.size(), 11u) << line;
            const std::vector<std::string>& row = expected[i];
            EXPECT_EQ(f[1], row[1]);
            EXPECT_EQ(f[2], row[4]);
            EXPECT_EQ(f[3], row[5]);
            // The listing shows the last sheet that lists the parcel; the CSV has every one.
            EXPECT_NE((";" + f[4] + ";").find(";" + row[3] + ";"), std::string::npos) << line;
            EXPECT_EQ(f[6], row[6]);
            EXPECT_FALSE(f[7].empty() || f[8].empty()) << line;
            // The 筆ID as the map writes it, of the listing's number.
            EXPECT_TRUE(f[9].starts_with('H') && std::stoul(f[9].substr(1)) == std::stoul(row[1])) << line;
            EXPECT_EQ(f[10], "m") << line;
        }
    }
}

// A --highlight lot that no map file of the run holds is told once, at the end, however many files.
TEST(CliBatch, HighlightFoundNowhereIsToldOnce) {
    ProgramDir program;
    fs::create_directory(program.file("in"));
    program.write("in/a.xml", read_file(sample_map_path()));
    program.write("in/b.xml", read_file(sample_map_path()));
    const RunResult r = program.run({"--out-dir", "out", "--highlight", "101-3", "--highlight", "999-9", "--highlight",
                                     "999-9", "--highlight", "９９９－９", "in"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err,
              "**Warning: --highlight lot \"999-9\" is in none of the 2 map files\n"
              "Drawn 2, failed 0, skipped 0 (no polygons) in " +
                  r.err.substr(r.err.rfind(" in ") + 4));
}

TEST(CliBatch, InterruptedRunLeavesOnlyCompleteDrawings) {
    if (const std::string why = missing(Need::kSignals); !why.empty()) GTEST_SKIP() << why;
    ProgramDir program;
    constexpr int kFiles = 8;
    for (int i = 0; i < kFiles; ++i)
        generate(program, "in/m" + std::to_string(i) + ".xml", 20000, static_cast<std::uint64_t>(10 + i));
    fs::create_directory(program.file("out"));
    for (const int signal_number : {SIGINT, SIGTERM}) {
        fs::remove_all(program.file("out"));
        const std::string err_path = program.file("err.txt");
        const long pid = start_in_background(program.exe, {"--out-dir", "out", "--jobs", "2", "in"},
                                             program.dir.path.string(), err_path);
        // Interrupt as soon as the first drawing is in place, with most files still to come.
        ASSERT_TRUE(wait_for_entry(
            program.file("out"), [](const fs::path& entry) { return entry.extension() == ".svg"; },
            std::chrono::seconds(60)));
        EXPECT_TRUE(signal_and_wait(pid, signal_number));
        EXPECT_EQ(read_file(err_path).rfind("Interrupted: drawn ", 0), 0u) << read_file(err_path);
        int drawn = 0;
        for (const auto& entry : fs::directory_iterator(program.file("out"))) {
            const std::string name = entry.path().filename().string();
            EXPECT_NE(name[0], '.') << "left behind: " << name;
            EXPECT_TRUE(read_file(entry.path().string()).ends_with("</svg>\r\n")) << name;
            ++drawn;
        }
        EXPECT_LT(drawn, kFiles);
    }
}

}  // namespace
}  // namespace chizuvec::test
