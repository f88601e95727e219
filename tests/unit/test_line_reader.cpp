#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "mapxml/line_reader.hpp"
#include "test_support.hpp"

namespace chizuvec {
namespace {

using Lines = std::vector<std::string>;

// Bytes handed out a few at a time, as an archive entry's stream may give them.
struct ShortReads final : ByteSource {
    std::string bytes;
    std::size_t at = 0;
    std::size_t most = 0;
    std::int64_t read(char* buffer, std::size_t size) override {
        const std::size_t n = std::min({size, most, bytes.size() - at});
        bytes.copy(buffer, n, at);
        at += n;
        return static_cast<std::int64_t>(n);
    }
};

Lines read_from(LineReader& reader) {
    Lines lines;
    Line line;
    while (reader.read_line(line)) lines.emplace_back(line.text);
    // End of input stays the end.
    EXPECT_FALSE(reader.read_line(line));
    return lines;
}

Lines read_all(const std::string& bytes, std::size_t chunk_size) {
    test::TempDir dir;
    LineReader reader(chunk_size, LineReader::kRawLines);
    EXPECT_TRUE(reader.open_file(dir.write("in.xml", bytes)));
    const Lines lines = read_from(reader);
    // A source that gives fewer bytes than asked reads the same.
    ShortReads source;
    source.bytes = bytes;
    source.most = 3;
    LineReader from_source(chunk_size, LineReader::kRawLines);
    from_source.open_source(source);
    EXPECT_EQ(read_from(from_source), lines);
    return lines;
}

struct LineCase {
    const char* what;
    std::string input;
    Lines expected;
};

std::string repeat(char c, std::size_t n) { return std::string(n, c); }

std::vector<LineCase> line_cases() {
    using namespace std::string_literals;
    const std::string a1023 = repeat('a', 1023);
    return {
        {"LF and CR LF alike", "one\r\ntwo\nthree", {"one", "two", "three"}},
        {"lone CR is text", "a\rb\r\nc\r\r\n", {"a\rb", "c\r"}},
        {"CR at the end of input stays", "ab\r", {"ab\r"}},
        {"empty lines are skipped", "\n\r\n\nx\n\n\r\n", {"x"}},
        {"line of exactly 1023 bytes", a1023 + "\nz\n", {a1023, "z"}},
        {"line of 1023 bytes with CR LF", a1023 + "\r\nz", {a1023, "z"}},
        {"line of 1024 bytes", a1023 + "b\n", {a1023, "b"}},
        {"long line in pieces", repeat('c', 2500) + "\n", {repeat('c', 1023), repeat('c', 1023), repeat('c', 454)}},
        {"a piece boundary cuts a comment opening",
         repeat('d', 1021) + "<!-- x -->\n",
         {repeat('d', 1021) + "<!", "-- x -->"}},
        {"text ends at a NUL", "ab\0cd\n\0skipped\nef"s, {"ab", "ef"}},
        {"whole-line comments vanish", "<!-- one -->\n  \n<!-- two\nthree -->\nx", {"  ", "x"}},
        {"comment inside a line", "a<!-- c -->b\n", {"ab"}},
        {"multi-line comment joins before and after", "a<!-- x\nmid\ny -->b\nz\n", {"ab", "z"}},
        {"comment opening with > closes itself", "<!-->x\n", {"x"}},
        {"only the first comment of a line goes", "a<!--1-->b<!--2-->c\n", {"ab<!--2-->c"}},
        {"comment closing on a later line leaves the rest", "p<!--\n\n-->\nq\n", {"p", "q"}},
        {"closing after a NUL in a comment line is not seen", "a<!--\nx\0-->\n-->b\n"s, {"ab"}},
        {"unclosed comment ends the input", "a\n<!-- open\nmore\n", {"a"}},
        // NULs and comment openings are looked up ahead of the line being read; each line must
        // still see only its own.
        {"bangs that open no comment", "x!<!y<!-z!<!--c-->w\n!\n<!\n--\n", {"x!<!y<!-z!w", "!", "<!", "--"}},
        {"comment after a NUL is not seen", "a\0<!--\nb\n"s, {"a", "b"}},
        {"NUL and comment on later lines", "a\0b\nc<!--d-->e\nf\0\ng\n"s, {"a", "ce", "f", "g"}},
        {"comment opening split by CR LF", "a<!-\r\n-b<!--\r\n-->\r\n", {"a<!-", "-b"}},
    };
}

// Every case must read the same whatever the buffer size, so CR LF pairs and pieces that straddle
// a refill are covered by the tiny sizes.
TEST(LineReader, LinesAsTextModeFgetsGivesThem) {
    for (const std::size_t chunk_size :
         {std::size_t{2}, std::size_t{3}, std::size_t{7}, std::size_t{1024}, kDefaultChunkSize}) {
        for (const auto& c : line_cases()) {
            EXPECT_EQ(read_all(c.input, chunk_size), c.expected) << c.what << ", chunk " << chunk_size;
        }
    }
}

// The '<' positions a line must report: the first kKept of them, and whether there are more.
LineTags naive_tags(std::string_view line) {
    LineTags tags;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] != '<') continue;
        if (tags.count == LineTags::kKept) {
            tags.more = true;
            break;
        }
        tags.at[tags.count++] = static_cast<std::uint32_t>(i);
    }
    return tags;
}

// Lines and their '<' positions come out the same whether a line takes the scanning path or the
// full one (comments, NULs, long lines, lines cut by a refill). Read in any layout, the published
// lines (a batch's worth and more) come out the same whatever the refills, and so do those after
// the switch to the rewriter.
TEST(LineReader, TagPositionsMatchTheLinesRead) {
    using namespace std::string_literals;
    std::string published;
    for (int i = 0; i < 150; ++i) {
        const std::string id = std::to_string(i);
        published += "\t<p id=\"P" + id + "\">\n\t\t<q>\n\t\t\t<x>" + id + "</x>\r\n\t\t\t<r idref=\"P" + id +
                     "\"/>\n\t\t</q>\n\t</p>\n";
    }
    std::string input = published + "\t<a>1</a>\r\n<<<<<<<<x\n<b c=\"<\">\n"s;
    input += "x<!-- <c> -->y<d>\r\n" + repeat('<', 3) + "\0<e>\n"s + repeat('e', 1020) + "<f><g>\n";
    for (int i = 0; i < 60; ++i)
        input += repeat('\t', static_cast<std::size_t>(i % 9)) + "<h i=\"" + std::to_string(i) + "\"/>\r\n";
    input += "<last>";
    const Lines raw_published = read_all(published, kDefaultChunkSize);
    test::TempDir any_dir;
    LineReader any_reader(kDefaultChunkSize, !LineReader::kRawLines);
    ASSERT_TRUE(any_reader.open_file(any_dir.write("in.xml", input)));
    const Lines any_layout = read_from(any_reader);
    ASSERT_GT(any_layout.size(), raw_published.size());
    EXPECT_TRUE(std::equal(raw_published.begin(), raw_published.end(), any_layout.begin()));
    for (const std::size_t chunk_size : {std::size_t{1}, std::size_t{5}, std::size_t{64}, kDefaultChunkSize})
        for (const bool layout : {LineReader::kRawLines, !LineReader::kRawLines}) {
            const Lines expected = layout ? any_layout : read_all(input, chunk_size);
            test::TempDir dir;
            LineReader reader(chunk_size, layout);
            ASSERT_TRUE(reader.open_file(dir.write("in.xml", input)));
            Line read;
            std::size_t n = 0;
            while (reader.read_line(read)) {
                const std::string_view line = read.text;
                const LineTags& tags = read.tags;
                ASSERT_LT(n, expected.size());
                EXPECT_EQ(line, expected[n]) << "line " << n << ", chunk " << chunk_size;
                const LineTags want = naive_tags(line);
                EXPECT_EQ(tags.count, want.count) << "line " << n << ", chunk " << chunk_size;
                EXPECT_EQ(tags.more, want.more) << "line " << n << ", chunk " << chunk_size;
                for (std::uint32_t k = 0; k < want.count && k < tags.count; ++k) EXPECT_EQ(tags.at[k], want.at[k]);
                ++n;
            }
            EXPECT_EQ(n, expected.size()) << "chunk " << chunk_size;
        }
}

TEST(LineReader, JoinedCommentLineIsCutToOneLine) {
    const std::string before = repeat('b', 1000);
    const std::string after = repeat('e', 1000);
    const Lines lines = read_all(before + "<!--\n-->" + after + "\nnext\n", 64);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], before + repeat('e', kMaxLineBytes - before.size()));
    EXPECT_EQ(lines[1], "next");
}

TEST(LineReader, CrLfSplitAtEveryChunkBoundary) {
    // Lines of varying length so that the CR of some CR LF falls last in a refill for each size.
    std::string input;
    Lines expected;
    for (int i = 1; i <= 40; ++i) {
        expected.push_back(repeat(static_cast<char>('a' + i % 26), static_cast<std::size_t>(i)));
        input += expected.back() + "\r\n";
    }
    for (std::size_t chunk_size = 2; chunk_size < 50; ++chunk_size) {
        EXPECT_EQ(read_all(input, chunk_size), expected) << "chunk " << chunk_size;
    }
}

TEST(LineReader, MissingFileDoesNotOpen) {
    test::TempDir dir;
    LineReader reader(kDefaultChunkSize, LineReader::kRawLines);
    EXPECT_FALSE(reader.open_file(dir.file("absent.xml")));
    Line line;
    EXPECT_FALSE(reader.read_line(line));
}

}  // namespace
}  // namespace chizuvec
