#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "common/sanitizer.hpp"
#include "model/large_array.hpp"
#include "platform/platform.hpp"
#include "test_os.hpp"
#include "test_support.hpp"

namespace chizuvec {
namespace {

using namespace platform;

constexpr std::string_view kChibanUtf8 = "\xE5\x9C\xB0\xE7\x95\xAA";  // 地番
constexpr std::string_view kChibanCp932 = "\x92\x6E\x94\xD4";
constexpr std::string_view kChibanEucJp = "\xC3\xCF\xC8\xD6";

// Asking for the code page must not leave the user's locale in force: printed numbers would then
// use the locale's decimal separator. First in the file, before the answer is cached.
TEST(Platform, CodePageLookupKeepsTheCLocaleForNumbers) {
    test::set_environment("LC_ALL", "C.UTF-8");
    if (test::code_page_follows_environment()) {
        EXPECT_EQ(ansi_code_page(), kCodePageUtf8);
    }
    EXPECT_EQ(console_code_page(), ansi_code_page());
    EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    char text[16];
    std::snprintf(text, sizeof text, "%.1f", 1.5);
    EXPECT_STREQ(text, "1.5");
    test::unset_environment("LC_ALL");
}

TEST(Platform, ConvertsBetweenUtf8AndTheJapaneseCodePages) {
    struct ConversionCase {
        std::string_view text;
        std::uint32_t from;
        std::uint32_t to;
        std::string_view expected;
    };
    const ConversionCase cases[] = {
        {kChibanUtf8, kCodePageUtf8, kCodePageShiftJis, kChibanCp932},
        {kChibanCp932, kCodePageShiftJis, kCodePageUtf8, kChibanUtf8},
        {kChibanUtf8, kCodePageUtf8, kCodePageEucJp, kChibanEucJp},
        {kChibanEucJp, kCodePageEucJp, kCodePageShiftJis, kChibanCp932},
        {"abc", kCodePageUtf8, kCodePageShiftJis, "abc"},
        {"", kCodePageUtf8, kCodePageShiftJis, ""},
        {kChibanUtf8, kCodePageUtf8, kCodePageUtf8, kChibanUtf8},
        // Characters CP932 lacks (a CJK extension B ideograph, a Hangul syllable) become "?".
        {"a\xF0\xA0\xAE\xB7z", kCodePageUtf8, kCodePageShiftJis, "a?z"},
        {"\xED\x95\x9C\xE5\x9C\xB0", kCodePageUtf8, kCodePageShiftJis, "?\x92\x6E"},
        // Invalid input: a stray byte, a character cut off at the end.
        {"a\xFFz", kCodePageUtf8, kCodePageShiftJis, "a?z"},
        {"a\xE5\x9C", kCodePageUtf8, kCodePageShiftJis, "a?"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(convert_code_page(c.text, c.from, c.to), c.expected) << c.text << " " << c.from << "->" << c.to;
    }
}

TEST(Platform, LongTextsSurviveARoundTrip) {
    std::string text;
    for (int i = 0; i < 2000; ++i) text += std::string(kChibanUtf8) + "12-3 ";
    const std::string cp932 = convert_code_page(text, kCodePageUtf8, kCodePageShiftJis);
    EXPECT_EQ(cp932.size(), 2000u * 9u);
    EXPECT_EQ(convert_code_page(cp932, kCodePageShiftJis, kCodePageUtf8), text);
}

TEST(Platform, ExecutableDirectoryHoldsThisTestProgram) {
    const std::string dir = executable_directory();
    EXPECT_TRUE(is_directory(dir)) << dir;
    EXPECT_NE(dir.back(), '/');
    EXPECT_TRUE(path_exists(dir + path_separator() + test::executable_name("test_platform"))) << dir;
}

TEST(Platform, PathParts) {
    struct PathCase {
        std::string_view path;
        std::string_view file_name;
        std::string_view extension;
        std::string_view directory;
    };
    const PathCase cases[] = {
        {"/data/13101-0101-1.xml", "13101-0101-1.xml", ".xml", "/data"},
        {"map.v2.zip", "map.v2.zip", ".zip", ""},
        {"dir.d/map", "map", "", "dir.d"},
        {"/map", "map", "", "/"},
        {"a/b/", "", "", "a/b"},
        {"", "", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(path_file_name(c.path), c.file_name) << c.path;
        EXPECT_EQ(path_extension(c.path), c.extension) << c.path;
        EXPECT_EQ(path_directory(c.path), c.directory) << c.path;
    }
}

TEST(Platform, FileQueries) {
    test::TempDir dir;
    const std::string file = dir.write("a.xml", "12345");
    const std::string missing = dir.file("missing.xml");
    const std::string folder = dir.path.string();

    EXPECT_TRUE(path_exists(file));
    EXPECT_FALSE(is_directory(file));
    EXPECT_EQ(file_size(file), 5);
    EXPECT_TRUE(path_exists(folder));
    EXPECT_TRUE(is_directory(folder));
    EXPECT_EQ(file_size(folder), -1);
    EXPECT_FALSE(path_exists(missing));
    EXPECT_FALSE(is_directory(missing));
    EXPECT_EQ(file_size(missing), -1);
}

TEST(Platform, ClocksNeverGoBackwards) {
    const double start_seconds = monotonic_seconds();
    double last_seconds = start_seconds;
    for (int i = 0; i < 10000; ++i) {
        const double now = monotonic_seconds();
        ASSERT_GE(now, last_seconds);
        last_seconds = now;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_GE(monotonic_seconds() - start_seconds, 0.025);
}

// With a pipe that stays open as standard input, a pause that waited for a key would block; it must
// return at once instead.
// Large blocks start on a 2 MiB boundary and every byte of them is usable; arrays of them keep
// their contents when they grow from ordinary memory into blocks and from block to block.
TEST(Platform, LargeBlocksAreAlignedWritableAndHoldGrowingArrays) {
    constexpr std::size_t kBytes = (std::size_t{5} << 20) + 123;
    auto* block = static_cast<unsigned char*>(allocate_large_block(kBytes));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % (std::size_t{2} << 20), 0u);
    std::memset(block, 0xA5, kBytes);
    EXPECT_EQ(block[0], 0xA5);
    EXPECT_EQ(block[kBytes - 1], 0xA5);
    free_large_block(block, kBytes);
    EXPECT_EQ(allocate_large_block(0), nullptr);
    EXPECT_EQ(allocate_large_block(static_cast<std::size_t>(-1)), nullptr);

    LargeArray<std::uint32_t> numbers;
    for (std::uint32_t i = 0; i < 3000000; ++i) numbers.push_back(i * 7u);
    for (std::uint32_t i = 0; i < 3000000; i += 99991) EXPECT_EQ(numbers[i], i * 7u) << i;
    LargeArray<std::uint32_t> copy = numbers;
    numbers.clear();
    numbers.shrink_to_fit();
    EXPECT_EQ(copy.back(), 2999999u * 7u);

#if !defined(CHIZUVEC_ADDRESS_CHECKED)
    // Where the system has no aligned mapping to give (here a limit on address space that leaves room
    // for the 1 MiB asked but not for the huge pages around it), the block comes from operator new
    // and goes back there.
    const auto grow = [] {
        try {
            for (int round = 0; round < 4; ++round) {
                LargeArray<char> bytes(std::size_t{1} << 20, 'x');
                if (bytes.back() != 'x') return 3;
            }
        } catch (const std::bad_alloc&) {
            return 4;
        }
        return 0;
    };
    if (test::missing(test::Need::kAddressSpaceLimit).empty()) {
        EXPECT_EQ(test::run_with_address_space_headroom(std::uint64_t{3} << 20, grow), 0);
    }
#endif
}

TEST(Platform, PauseReturnsAtOnceWhenInputIsNotATerminal) {
    int pipe_ends[2];
    ASSERT_TRUE(test::make_pipe(pipe_ends));
    const int saved_stdin = ::dup(STDIN_FILENO);
    ASSERT_GE(saved_stdin, 0);
    ASSERT_GE(::dup2(pipe_ends[0], STDIN_FILENO), 0);

    std::atomic<bool> returned{false};
    std::thread pauser([&] {
        pause_for_key();
        returned = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!returned && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const bool returned_in_time = returned;
    // Release a pause that did wait, so the test ends either way.
    if (!returned_in_time) (void)::write(pipe_ends[1], "\n", 1);
    pauser.join();

    ::dup2(saved_stdin, STDIN_FILENO);
    ::close(saved_stdin);
    ::close(pipe_ends[0]);
    ::close(pipe_ends[1]);
    EXPECT_TRUE(returned_in_time);
}

}  // namespace
}  // namespace chizuvec
