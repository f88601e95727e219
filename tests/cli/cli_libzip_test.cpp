// The built program must not ask the dynamic loader for libzip at start-up when it loads libzip on
// demand: plain map files are the common input and should not pay for mapping it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

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
    const std::string command = std::string("readelf -d '") + CHIZUVEC_BINARY + "' 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    const int status = ::pclose(pipe);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127) GTEST_SKIP() << "readelf not installed";
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;

    const std::vector<std::string> needed = needed_libraries(output);
    // The C library at least, so the section was read at all.
    ASSERT_FALSE(needed.empty()) << output;
    for (const auto& name : needed) {
        EXPECT_EQ(name.find("libzip"), std::string::npos) << name;
        EXPECT_NE(name, soname);
    }
}

}  // namespace
}  // namespace chizuvec::test
