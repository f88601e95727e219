#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mapxml/search_list.hpp"
#include "platform/platform.hpp"

namespace chizuvec {
namespace {

std::string sjis(const std::string& utf8) {
    return platform::convert_code_page(utf8, platform::kCodePageUtf8, platform::kCodePageShiftJis);
}

TEST(SearchList, ParsesRowsWithOrWithoutHeaderAndSkipsMalformedOnes) {
    struct Case {
        const char* what;
        std::string stored;
        std::string key;
        std::vector<std::string_view> files;
        std::size_t rows;
        std::size_t skipped;
    };
    const std::vector<Case> cases = {
        {"header row",
         sjis("ファイル名,出力日時,地番区域,地番\r\na-1.zip,2024/04/01,稲毛一丁目,101-1\r\n"),
         "101-1",
         {"a-1.zip"},
         1,
         1},
        {"no header, address joined to the lot",
         sjis("a-1.zip,2024/04/01,稲毛一丁目,101-1\na-2.zip,t,稲毛,7\n"),
         "稲毛一丁目101-1",
         {"a-1.zip"},
         2,
         0},
        {"lot in two files, list order",
         sjis("a-2.ZIP,t,x,5\na-1.zip,t,y,5\na-2.ZIP,t,z,5"),
         "5",
         {"a-2.ZIP", "a-1.zip", "a-2.ZIP"},
         3,
         0},
        {"quoted fields with commas, quotes and line ends",
         sjis("\"a-1.zip\",\"2024/04/01, 9:00\",\"稲\"\"毛\",\"1\n2\"\r\n"),
         "稲\"毛1\n2",
         {"a-1.zip"},
         1,
         0},
        {"Shift_JIS lot number", sjis("a-1.zip,t,大字X,十二番-3\n"), "十二番-3", {"a-1.zip"}, 1, 0},
        {"UTF-8 with byte order mark",
         "\xEF\xBB\xBF"
         "a-1.zip,t,稲毛,1-1\n",
         "稲毛1-1",
         {"a-1.zip"},
         1,
         0},
        {"malformed rows",
         sjis("a-1.zip,t,x\n.zip,t,x,1\na-1.txt,t,x,1\na-1.zip,t,x,\n\n\"a-1.zip,t,x,1"),
         "1",
         {},
         0,
         5},
        {"unknown key", sjis("a-1.zip,t,x,1\n"), "2", {}, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SearchList list;
        list.parse(c.stored);
        EXPECT_EQ(list.files_of(c.key), c.files);
        EXPECT_EQ(list.rows(), c.rows);
        EXPECT_EQ(list.skipped_rows(), c.skipped);
    }
}

}  // namespace
}  // namespace chizuvec
