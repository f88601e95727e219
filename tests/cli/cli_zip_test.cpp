// Zipped map files end to end: an archive must read exactly like the map file it holds, and no run,
// successful or not, may leave its temporary file beside the archive.
#include <gtest/gtest.h>
#include <zip.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli_support.hpp"
#include "test_archive.hpp"

namespace chizuvec::test {
namespace {

// Names of the temporary map files left in a folder.
std::vector<std::string> leftover_temp_files(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        if (name.rfind("_tmp", 0) == 0) names.push_back(name);
    }
    return names;
}

// Standard error with the first occurrence of `from` replaced by `to`.
std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const auto at = text.find(from);
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

// Two points, nothing else: enough for the reader to count.
constexpr const char* kTinyMap =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<地図>\r\n"
    "<地図名>小さな地図</地図名>\r\n"
    "<座標系>公共座標9系</座標系>\r\n"
    "<空間属性>\r\n"
    "<zmn:GM_Point id=\"P1\">\r\n<zmn:X>10.5</zmn:X>\r\n<zmn:Y>20.5</zmn:Y>\r\n</zmn:GM_Point>\r\n"
    "<zmn:GM_Point id=\"P7\">\r\n<zmn:X>11.5</zmn:X>\r\n<zmn:Y>21.5</zmn:Y>\r\n</zmn:GM_Point>\r\n"
    "</空間属性>\r\n"
    "</地図>\r\n";

TEST(CliZip, RealArchivesReadLikeTheirMapFiles) {
    for (const char* base : {"12103-0400-76", "46505-3411-1"}) {
        SCOPED_TRACE(base);
        const std::string zip = shared_data(std::string(base) + ".zip");
        const std::string xml = shared_data(std::string(base) + ".xml");
        if (zip.empty() || xml.empty()) GTEST_SKIP() << "shared map data not present";
        ProgramDir zipped, plain;
        std::filesystem::copy_file(zip, zipped.file(std::string(base) + ".zip"));
        std::filesystem::copy_file(xml, plain.file(std::string(base) + ".xml"));
        // No extension: the archive is taken when there is no map file of that name.
        const RunResult from_zip = zipped.run({base});
        const RunResult from_xml = plain.run({base});
        EXPECT_EQ(from_zip.exit_code, 0) << from_zip.err;
        EXPECT_EQ(from_xml.exit_code, 0) << from_xml.err;
        EXPECT_EQ(from_zip.err.rfind(std::string(base) + ".zip: P=", 0), 0u) << from_zip.err;
        EXPECT_EQ(replaced(from_zip.err, ".zip: ", ".xml: "), from_xml.err);
        const std::string zip_name = std::string(base) + ".zip", xml_name = std::string(base) + ".xml";
        EXPECT_TRUE(replaced(from_zip.out, zip_name, xml_name) == from_xml.out);
        EXPECT_EQ(leftover_temp_files(zipped.dir.path), std::vector<std::string>{});
    }
}

TEST(CliZip, ArchiveInAnotherFolderIsReadThereAndLeavesNothing) {
    ProgramDir program;
    const auto maps = program.dir.path / "maps";
    std::filesystem::create_directory(maps);
    ASSERT_TRUE(write_archive((maps / "tiny.ZIP").string(), "tiny.xml", kTinyMap));
    program.write("tiny.xml", kTinyMap);
    const RunResult zipped = program.run({(maps / "tiny.ZIP").string()});
    const RunResult plain = program.run({"tiny.xml"});
    EXPECT_EQ(zipped.exit_code, 0) << zipped.err;
    EXPECT_EQ(zipped.err, (maps / "tiny.ZIP").string() + ": P=2(max=7) C=0(0) C-F=0 F=0(0) H=0(0)\n");
    EXPECT_EQ(plain.err, "tiny.xml: P=2(max=7) C=0(0) C-F=0 F=0(0) H=0(0)\n");
    EXPECT_EQ(leftover_temp_files(maps), std::vector<std::string>{});
    EXPECT_EQ(leftover_temp_files(program.dir.path), std::vector<std::string>{});
}

TEST(CliZip, FailedExtractionsAreReportedAndLeaveNothing) {
    // A stored entry with one payload byte changed: the CRC no longer fits.
    TempDir scratch;
    const std::string good = scratch.file("good.zip");
    ASSERT_TRUE(write_archive(good, "map.xml", kTinyMap));
    std::string damaged = read_file(good);
    const auto payload = damaged.find("P7");
    ASSERT_NE(payload, std::string::npos);
    damaged[payload] = 'Q';

    struct Case {
        const char* what;
        std::string bytes;
        const char* expected_err;
    };
    const std::vector<Case> cases = {
        {"not an archive", "not a zip, and not XML either", "** Error: ZIP error code 19\n** Error: code=3\n"},
        {"damaged entry data", damaged, "** Error: ZIP error code 7\n** Error: code=3\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ProgramDir program;
        program.write("map.zip", c.bytes);
        const RunResult r = program.run({"map.zip"});
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.err, c.expected_err);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(leftover_temp_files(program.dir.path), std::vector<std::string>{});
    }

    // The same damage to inner archives of a municipality archive is told in words, once each.
    const std::string inner = scratch.file("m-2.zip");
    ASSERT_TRUE(write_archive(inner, "m-2.xml", kTinyMap));
    std::string damaged_inner = read_file(inner);
    damaged_inner[damaged_inner.find("P7")] = 'Q';
    ProgramDir program;
    ASSERT_TRUE(write_archive(program.file("muni.zip"), {{"m-1.zip", "not a zip, and not XML either", false},
                                                         {"m-2.zip", damaged_inner, false}}));
    const RunResult r = program.run({"muni.zip"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err,
              "m-1.xml: ** Error: the inner archive m-1.zip is damaged (not a zip archive): download the "
              "municipality again\n"
              "m-2.xml: ** Error: the inner archive m-2.zip is damaged (CRC error in m-2.xml): download the "
              "municipality again\n");
}

TEST(CliZip, ArchiveWithoutTheMapFileIsInputNotFound) {
    ProgramDir program;
    // Only an entry that is no map file, in a folder.
    ASSERT_TRUE(write_archive(program.file("map.zip"), "data/notes.txt", kTinyMap));
    for (const char* arg : {"map.zip", "map"}) {
        SCOPED_TRACE(arg);
        const RunResult r = program.run({arg});
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.err, "** Error: Input file not found\n");
        EXPECT_EQ(leftover_temp_files(program.dir.path), std::vector<std::string>{});
    }
    // A map file in a folder of the archive is read, and named with its folder.
    ASSERT_TRUE(write_archive(program.file("map.zip"), "data/map.xml", kTinyMap));
    const RunResult r = program.run({"map.zip"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err.rfind("data/map.xml: P=", 0), 0u) << r.err;
}

}  // namespace
}  // namespace chizuvec::test
