// The built program must not ask the dynamic loader for libzip at start-up when it loads libzip on
// demand: plain map files are the common input and should not pay for mapping it. An archive read
// without a usable libzip must then fail as any other extraction failure does.
#include <gtest/gtest.h>
#include <zip.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli_support.hpp"
#include "mapxml/map_xml_reader.hpp"
#include "mapxml/zip_library.hpp"
#include "test_archive.hpp"
#include "test_os.hpp"

namespace chizuvec::test {
namespace {

// The DT_NEEDED names in `readelf -d` output ("... (NEEDED)  Shared library: [libc.so.6]").
std::vector<std::string> needed_libraries(const std::string& dynamic_section) {
    std::vector<std::string> names;
    std::size_t at = 0;
    while ((at = dynamic_section.find("(NEEDED)", at)) != std::string::npos) {
        const auto open = dynamic_section.find('[', at);
        const auto close = dynamic_section.find(']', open);
        const auto line_end = dynamic_section.find('\n', at);
        at += 8;
        if (open == std::string::npos || close == std::string::npos || close > line_end) continue;
        names.push_back(dynamic_section.substr(open + 1, close - open - 1));
    }
    return names;
}

TEST(CliLibzip, ProgramDoesNotNeedLibzipAtStartUp) {
    const std::string soname = CHIZUVEC_LIBZIP_SONAME;
    if (soname.empty()) GTEST_SKIP() << "this build links libzip directly";
    std::string output;
    const int status = command_output(std::string("readelf -d '") + CHIZUVEC_BINARY + "' 2>/dev/null", output);
    if (status == 127) GTEST_SKIP() << "readelf not installed";
    ASSERT_EQ(status, 0) << output;

    const std::vector<std::string> needed = needed_libraries(output);
    // The C library at least, so the section was read at all.
    ASSERT_FALSE(needed.empty()) << output;
    for (const auto& name : needed) {
        EXPECT_EQ(name.find("libzip"), std::string::npos) << name;
        EXPECT_NE(name, soname);
    }
}

TEST(CliLibzip, ArchiveWithoutAUsableLibzipFailsWithItsReasonAndNoTemporaryFile) {
    const std::string soname = CHIZUVEC_LIBZIP_SONAME;
    if (soname.empty()) GTEST_SKIP() << "this build links libzip directly";
    ProgramDir program;
    const std::string map = read_file(sample_map_path());
    ASSERT_TRUE(write_archive(program.file("sample.zip"), "sample.xml", map));
    // The control run: the archive itself is sound.
    const RunResult good = program.run({"sample.zip"});
    ASSERT_EQ(good.exit_code, 0) << good.err;

    // A file of the library's name that is no library, found first through the search path.
    std::filesystem::create_directory(program.file("fake"));
    program.write("fake/" + soname, "not a shared library\n");
    const RunResult bad = program.run({"sample.zip"}, "", {"LD_LIBRARY_PATH=" + program.file("fake")});
    EXPECT_EQ(bad.exit_code, 1);
    EXPECT_EQ(bad.out, "");
    const std::string first_line = "** Error: cannot load " + soname + ": ";
    ASSERT_EQ(bad.err.rfind(first_line, 0), 0u) << bad.err;
    const auto first_end = bad.err.find('\n');
    ASSERT_NE(first_end, std::string::npos);
    EXPECT_GT(first_end, first_line.size()) << "no reason given: " << bad.err;
    EXPECT_EQ(bad.err.substr(first_end + 1),
              "** Error: ZIP error code " + std::to_string(kZipLibraryMissing) + "\n** Error: code=" + "3" + "\n");
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(program.dir.path)) {
        const std::string name = e.path().filename().string();
        if (name.rfind("_tmp", 0) == 0) left.push_back(name);
    }
    EXPECT_TRUE(left.empty());
}

}  // namespace
}  // namespace chizuvec::test
