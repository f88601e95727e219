// The quality report end to end where the GEOS oracle cannot run (the Windows build under Wine runs
// these too): a municipality archive of real map files and a damaged entry, every output form.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "cli_support.hpp"
#include "test_archive.hpp"

namespace chizuvec::test {
namespace {

TEST(CliQuality, RealFilesAndADamagedEntry) {
    const ProgramDir program;
    const std::string real = read_file(std::string(CHIZUVEC_SHARED_DATA) + "/13113-0110-44.xml");
    const std::string cut = real.substr(0, real.find("<図郭>"));
    ASSERT_TRUE(
        write_archive(program.file("13113-0110.zip"), {{"13113-0110-44.zip", map_zip_bytes("13113-0110-44", real)},
                                                       {"13113-0110-45.zip", ""},
                                                       {"13113-0110-46.zip", map_zip_bytes("13113-0110-46", cut)}}));
    const std::string header = "file,筆ID,地番,kind,detail,x,y\r\n";
    const std::string rows =
        "13113-0110-45.xml,,,damaged_file,cannot be read: holds no map file,,\r\n"
        "13113-0110-46.xml,,,damaged_file,ends before </地図>: it may be cut off,,\r\n";

    RunResult r = program.run({"--check", "report.csv", "--jobs", "2", "13113-0110.zip"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(read_file(program.file("report.csv")), "\xEF\xBB\xBF" + header + rows);
    EXPECT_NE(r.err.find("Checked 3 map files (failed 0): 2 findings in "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("\n  damaged_file: 2\n"), std::string::npos) << r.err;

    // Standard output: the same rows, without the byte order mark that spreadsheets want.
    r = program.run({"--check", "-", "13113-0110.zip"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
#ifndef _WIN32
    // The Windows harness reads standard output in the console's code page, not as bytes.
    EXPECT_EQ(r.out, header + rows);
#endif

    // A missing input is an error, the others still reported; a type the report has not is refused
    // before anything is read.
    r = program.run({"--check", "report.csv", "13113-0110.zip", "nothing.zip"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("nothing.zip: ** Error: Input file not found\n"), std::string::npos) << r.err;
    EXPECT_EQ(read_file(program.file("report.csv")), "\xEF\xBB\xBF" + header + rows);
    r = program.run({"--check", "report.txt", "13113-0110.zip"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "** Error: Unsupported output file type \"report.txt\" (.csv or .geojson)\n");
}

// Two releases of a real file: every 筆ID renumbered, which alone is no change, and one parcel's
// 座標値種別 changed.
TEST(CliQuality, DiffOfTwoReleases) {
    const ProgramDir program;
    const std::string real = read_file(std::string(CHIZUVEC_SHARED_DATA) + "/13113-0110-44.xml");
    std::string next = real;
    for (std::size_t at = next.find("\"H000"); at != std::string::npos; at = next.find("\"H000", at)) {
        next.replace(at + 2, 3, "777");
    }
    const std::size_t lot = next.find("<地番>75-5</地番>");
    const std::size_t kind = next.find("図上測量", lot);
    ASSERT_NE(kind, std::string::npos);
    next.replace(kind, std::string("図上測量").size(), "現地測量");
    program.write("old.xml", real);
    program.write("new.xml", next);

    RunResult r = program.run({"--diff", "diff.csv", "old.xml", "new.xml"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    const std::string csv = read_file(program.file("diff.csv"));
    EXPECT_NE(csv.find("\r\nattributes,13113,049,000,0000,00,宇田川町,75-5,H000000005,H777000005,"), std::string::npos)
        << csv;
    EXPECT_NE(csv.find(",1148.043,1148.043,,\"座標値種別 \"\"図上測量\"\" to \"\"現地測量\"\"\"\r\n"),
              std::string::npos)
        << csv;
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 2) << csv;
    EXPECT_NE(r.err.find("added 0, removed 0, reshaped 0, attributes 1 in "), std::string::npos) << r.err;

    // Every format a diff can write is named.
    r = program.run({"--diff", "diff.txt", "old.xml", "new.xml"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err,
              "** Error: Unsupported output file type \"diff.txt\" (.svg, .htm (.html), .pdf, .csv, .geojson, .gpkg, "
              ".fgb or .parquet)\n");

    r = program.run({"--diff", "diff.csv", "old.xml"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("** Error: --diff FILE takes two inputs, OLD and NEW\n"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace chizuvec::test
