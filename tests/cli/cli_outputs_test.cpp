// Every output of every form is as safe as the single drawing: failed writes (a file-size limit, a
// full device) keep the previous file and fail the run, no output replaces any file the run reads,
// the output folder's links are replaced rather than followed, names stay portable, and every name
// in a message is shown without the bytes that would steer a terminal. Archives packed again with
// a top folder read as the published ones do.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli_support.hpp"
#include "gen_map_core.hpp"
#include "platform/platform.hpp"
#include "test_archive.hpp"
#include "test_os.hpp"

namespace chizuvec::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPrevious = "the previous file\n";

std::string generated_map(std::uint32_t parcels, std::uint64_t seed) {
    TempDir dir;
    genmap::GenMapOptions options;
    options.parcels = parcels;
    options.seed = seed;
    genmap::GenMapSummary summary;
    EXPECT_EQ(genmap::generate_map_file(dir.file("m.xml"), options, summary), genmap::kGenOk);
    return read_file(dir.file("m.xml"));
}

// A municipality archive "muni.zip" of two inner map files, m-1 and m-2, each in its own zip.
void make_municipality(const ProgramDir& program) {
    ASSERT_TRUE(write_archive(program.file("muni.zip"), {{"m-1.zip", map_zip_bytes("m-1", generated_map(60, 1))},
                                                         {"m-2.zip", map_zip_bytes("m-2", generated_map(60, 2))}}));
}

RunResult run_to(const ProgramDir& program, const std::vector<std::string>& args, const std::string& out_path,
                 const ChildSettings& settings = {}) {
    const std::string err_path = program.file(".err");
    RunResult r;
    r.exit_code =
        wait_process(start_process(program.exe, args, program.dir.path.string(), out_path, err_path, settings));
    r.err = console_text(read_file(err_path));
    fs::remove(err_path);
    return r;
}

std::set<std::string> names_in(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

TEST(CliOutputs, FailedWritesFailTheRunAndKeepThePreviousFile) {
    ProgramDir program;
    make_municipality(program);
    struct Case {
        const char* what;
        std::vector<std::string> args;
        bool to_full_device;  // standard output is a device every write to fails on; else a size limit
        const char* message;
    };
    const Case cases[] = {
        {"CSV file", {"--csv", "out.csv", "muni.zip"}, false, "** Error: Cannot write output file \"out.csv\"\n"},
        {"CSV on standard output", {"--csv", "-", "muni.zip"}, true, "** Error: Cannot write standard output\n"},
        {"listing", {sample_map_path()}, true, "** Error: Cannot write standard output\n"},
        {"listing of an archive's map files", {"muni.zip"}, true, "** Error: Cannot write standard output\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string why = missing(c.to_full_device ? Need::kFullDevice : Need::kFileSizeLimit);
        if (!why.empty()) {
            std::printf("skipped: %s\n", why.c_str());
            continue;
        }
        program.write("out.csv", kPrevious);
        const std::set<std::string> before = names_in(program.dir.path);
        ChildSettings settings;
        if (!c.to_full_device) settings.file_size_limit = 2000;
        const RunResult r = run_to(program, c.args, c.to_full_device ? full_device() : program.file(".out"), settings);
        fs::remove(program.file(".out"));
        EXPECT_EQ(r.exit_code, 1) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(read_file(program.file("out.csv")), kPrevious);
        EXPECT_EQ(names_in(program.dir.path), before) << "no temporary file stays";
    }
}

TEST(CliOutputs, NoOutputReplacesAnArchiveTheRunReads) {
    if (const std::string why = missing(Need::kSymbolicLinks); !why.empty()) GTEST_SKIP() << why;
    ProgramDir program;
    make_municipality(program);
    const std::string archive = read_file(program.file("muni.zip"));
    struct Case {
        const char* what;
        std::vector<std::string> args;
        const char* output;  // made a link to the archive
        bool symbolic;       // else a hard link
        int exit_code;
    };
    // The single-map form reads the inner map file holding lot 1-1 (m-1.xml) out of the archive.
    const Case cases[] = {
        {"single map, symbolic link", {"muni.zip", "out.svg", "all", "1-1"}, "out.svg", true, 1},
        {"single map, hard link", {"muni.zip", "out.svg", "all", "1-1"}, "out.svg", false, 1},
        {"folder of drawings, hard link", {"--out-dir", "out", "muni.zip"}, "out/m-1.svg", false, 1},
        {"CSV, symbolic link", {"--csv", "out.csv", "muni.zip"}, "out.csv", true, 1},
        {"GIS, symbolic link", {"--gis", "out.gpkg", "muni.zip"}, "out.gpkg", true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(program.file("out"));
        fs::remove(program.file("out.svg"));
        fs::remove(program.file("out.csv"));
        fs::remove(program.file("out.gpkg"));
        fs::create_directory(program.file("out"));
        if (c.symbolic) {
            fs::create_symlink(program.file("muni.zip"), program.file(c.output));
        } else {
            fs::create_hard_link(program.file("muni.zip"), program.file(c.output));
        }
        const RunResult r = program.run(c.args);
        EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
        EXPECT_NE(r.err.find("is the input file\n"), std::string::npos) << r.err;
        EXPECT_TRUE(read_file(program.file("muni.zip")) == archive);
        // In a run of many, the other drawing is still made.
        if (std::string(c.output) == "out/m-1.svg") {
            EXPECT_TRUE(fs::is_regular_file(program.file("out/m-2.svg")));
        }
    }
}

TEST(CliOutputs, LinkPlantedInTheOutputFolderIsReplacedNotFollowed) {
    if (const std::string why = missing(Need::kSymbolicLinks); !why.empty()) GTEST_SKIP() << why;
    ProgramDir program;
    make_municipality(program);
    program.write("outside.svg", kPrevious);
    fs::create_directory(program.file("out"));
    fs::create_symlink(program.file("outside.svg"), program.file("out/m-1.svg"));
    const RunResult r = program.run({"--out-dir", "out", "muni.zip"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(read_file(program.file("outside.svg")), kPrevious);
    EXPECT_FALSE(fs::is_symlink(program.file("out/m-1.svg")));
    EXPECT_TRUE(xml_well_formed(program.file("out/m-1.svg")));
}

// A file the user names is written through a link to it, whatever the format; a run of many inputs
// that fails on one keeps the previous file rather than a partial one.
TEST(CliOutputs, NamedOutputsFollowLinksAndStayWholeOnFailure) {
    if (const std::string why = missing(Need::kSymbolicLinks); !why.empty()) GTEST_SKIP() << why;
    ProgramDir program;
    make_municipality(program);
    for (const std::string name : {"out.csv", "out.geojson", "out.gpkg"}) {
        SCOPED_TRACE(name);
        const std::string option = name == "out.csv" ? "--csv" : "--gis";
        program.write("target_" + name, kPrevious);
        fs::create_symlink(program.file("target_" + name), program.file(name));
        RunResult r = program.run({option, name, "muni.zip"});
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_TRUE(fs::is_symlink(program.file(name)));
        EXPECT_NE(read_file(program.file("target_" + name)), kPrevious);
        if (option == "--gis") {
            program.write("target_" + name, kPrevious);
            r = program.run({option, name, "muni.zip", "missing.xml"});
            EXPECT_EQ(r.exit_code, 1) << r.err;
            EXPECT_NE(r.err.find("Nothing written: failed 1, so \"" + name + "\" stays as it was"), std::string::npos)
                << r.err;
            EXPECT_EQ(read_file(program.file("target_" + name)), kPrevious);
        }
    }
}

TEST(CliOutputs, OutputNamesArePortable) {
    // The input names CON.xml, ａ.xml and Ａ.xml side by side exist only where names are POSIX's.
    if (file_names_ignore_case()) GTEST_SKIP() << "input names that Windows cannot hold";
    ProgramDir program;
    const std::string map = generated_map(600, 3);
    const std::string long_stem(250, 'x');
    fs::create_directory(program.file("in"));
    // Ａ and ａ (full-width) are one name on NTFS; CON and NUL name devices on Windows.
    for (const std::string name : {"CON.xml", "ａ.xml", "Ａ.xml", "nul.tar.xml"}) program.write("in/" + name, map);
    program.write("in/" + long_stem + ".xml", map);
    const RunResult r = program.run({"--out-dir", "out", "in"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(names_in(program.file("out")),
              (std::set<std::string>{"CON_.svg", "Ａ.svg", "ａ~2.svg", "nul_.tar.svg", long_stem + ".svg"}));
    // Per sheet, the long stem and its sheet numbers pass the limit of a name: they are cut and kept
    // apart, and the full-width pair still collides.
    const RunResult sheets = program.run({"--out-dir", "sheets", "--per-sheet", "in"});
    EXPECT_EQ(sheets.exit_code, 0) << sheets.err;
    std::set<std::string> folded;
    std::size_t long_names = 0;
    for (const std::string& name : names_in(program.file("sheets"))) {
        EXPECT_LE(name.size(), 255u) << name;
        EXPECT_TRUE(xml_well_formed(program.file("sheets/" + name))) << name;
        long_names += name.starts_with(long_stem.substr(0, 200)) ? 1 : 0;
        std::string lower = name;
        // Full-width Ａ (EF BC A1) folds to ａ (EF BD 81); ASCII letters to lower case.
        for (std::size_t at = lower.find("\xEF\xBC\xA1"); at != std::string::npos; at = lower.find("\xEF\xBC\xA1"))
            lower.replace(at, 3, "\xEF\xBD\x81");
        for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        EXPECT_TRUE(folded.insert(lower).second) << "collides on NTFS: " << name;
    }
    EXPECT_EQ(long_names, names_in(program.file("sheets")).size() / 5);
    EXPECT_GE(long_names, 2u);
}

TEST(CliOutputs, InterruptStopsAFileBetweenSheets) {
    if (const std::string why = missing(Need::kSignals); !why.empty()) GTEST_SKIP() << why;
    ProgramDir program;
    constexpr std::uint32_t kSheets = 20000;
    genmap::GenMapOptions options;
    options.parcels = 200;
    options.one_parcel_sheets = kSheets;
    genmap::GenMapSummary summary;
    ASSERT_EQ(genmap::generate_map_file(program.file("m.xml"), options, summary), genmap::kGenOk);
    fs::create_directory(program.file("out"));
    const long pid = start_process(program.exe, {"--out-dir", "out", "--per-sheet", "--jobs", "1", "m.xml"},
                                   program.dir.path.string(), program.file(".out"), program.file(".err"), {});
    ASSERT_GT(pid, 0);
    // Interrupted once the file's sheets are being drawn.
    for (int i = 0; i < 6000 && names_in(program.file("out")).size() < 20; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    send_signal(pid, SIGINT);
    const int code = wait_process(pid);
    EXPECT_EQ(code, 128 + SIGINT) << read_file(program.file(".err"));
    const std::set<std::string> drawn = names_in(program.file("out"));
    EXPECT_GE(drawn.size(), 20u);
    // Stopped between two sheets, not after all of them.
    EXPECT_LT(drawn.size(), kSheets / 2);
    for (const std::string& name : drawn) EXPECT_NE(name[0], '.') << "no temporary file stays";
    // The file is told as stopped, with the sheets it drew; files and sheets are counted apart.
    const std::string err = read_file(program.file(".err"));
    const std::string sheets = std::to_string(drawn.size());
    std::smatch stopped;
    ASSERT_TRUE(std::regex_search(err, stopped, std::regex("stopped: m\\.xml, ([0-9]+) of ([0-9]+) sheets drawn\n")))
        << err;
    EXPECT_EQ(stopped[1].str(), sheets);
    EXPECT_GT(std::stoul(stopped[2].str()), kSheets / 2);
    EXPECT_NE(
        err.find("Interrupted: drawn " + sheets +
                 " sheets, failed 0, skipped 0 (no polygons); 0 map files done, 1 stopped, failed 0, 0 not done, in "),
        std::string::npos)
        << err;
    EXPECT_EQ(err.find("No polygons"), std::string::npos) << err;
}

TEST(CliOutputs, NamesInMessagesAreShownSafely) {
    ProgramDir program;
    // An entry name with a line end and an escape sequence, and one in Shift_JIS (テスト).
    ASSERT_TRUE(write_archive(program.file("muni.zip"), {{"a\n\x1b[2Jb.zip", "not a zip"},
                                                         {"\x83\x65\x83\x58\x83\x67.zip", "not a zip"},
                                                         {"m-1.zip", map_zip_bytes("m-1", generated_map(20, 1))}}));
    const RunResult r = program.run({"--csv", "-", "muni.zip"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("a??[2Jb.xml: ** Error: the inner archive a??[2Jb.zip is damaged"), std::string::npos)
        << r.err;
    // Shown as UTF-8, unless the code page of messages lacks the characters.
    const std::uint32_t code_page = platform::ansi_code_page();
    if (code_page == platform::kCodePageUtf8 || code_page == platform::kCodePageShiftJis) {
        EXPECT_NE(r.err.find("テスト.xml: ** Error: the inner archive テスト.zip is damaged"), std::string::npos)
            << r.err;
    }
    EXPECT_EQ(r.err.find('\x1b'), std::string::npos);
}

TEST(CliOutputs, MapFilesInFoldersOfAnArchiveAreRead) {
    ProgramDir program;
    const std::string m1 = generated_map(30, 1);
    const std::string m2 = generated_map(30, 2);
    ASSERT_TRUE(write_archive(program.file("top.zip"), {{"14103-0200/", ""},
                                                        {"14103-0200/m-1.zip", map_zip_bytes("m-1", m1)},
                                                        {"14103-0200/m-2.xml", m2},
                                                        {"14103-0200/m-3.zip", archive_bytes({{"readme.txt", "x"}})}}));
    const RunResult r = program.run({"--csv", "-", "top.zip"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err.substr(0, r.err.find("Listed")), "14103-0200/m-3.xml: ** Error: holds no map file\n");
    EXPECT_NE(r.out.find("m-1.xml,"), std::string::npos);
    EXPECT_NE(r.out.find("m-2.xml,"), std::string::npos);
    EXPECT_NE(r.err.find("of 2 map files, failed 1"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace chizuvec::test
