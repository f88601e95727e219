#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <string_view>

#include "driver/output_session.hpp"
#include "driver/row_writer.hpp"
#include "test_support.hpp"

namespace chizuvec {
namespace {

// The CSV's numbers keep the bytes printf gave them: the faster formatting against printf itself,
// around rounding ties, signs, zeros and magnitudes from tiny to beyond the buffer.
TEST(RowWriters, FixedDecimalsAreThoseOfPrintf) {
    std::mt19937_64 random(27);
    std::uniform_real_distribution<double> exponent(-6.0, 310.0);
    std::uniform_int_distribution<int> digits(0, 3);
    const double fixed[] = {0.0, -0.0, 0.05, 0.15, 0.25, 2.5, -2.5, 126.25, 1e15 + 0.5, 4294967295.0, 1e300, -1e308};
    const auto check = [](double value, int decimals) {
        std::string ours;
        append_fixed(ours, value, decimals);
        char theirs[512];
        std::snprintf(theirs, sizeof theirs, "%.*f", decimals, value);
        ASSERT_EQ(ours, theirs) << decimals;
    };
    for (const double value : fixed) {
        for (int decimals = 0; decimals <= 3; ++decimals) check(value, decimals);
    }
    for (int i = 0; i < 20000; ++i) {
        const double magnitude = std::pow(10.0, i % 2 == 0 ? exponent(random) / 50.0 : exponent(random));
        check(i % 3 == 0 ? -magnitude : magnitude, digits(random));
        // Values a short decimal away from a tie at the last digit shown.
        check(std::round(magnitude) / 1000.0 + 0.0005, digits(random));
    }
}

TEST(RowWriters, WorksheetTextHoldsWhatACellCanRead) {
    const std::string limit_ascii(kWorksheetCellCharacters, 'a');
    struct Case {
        std::string text;
        std::string expected;
        bool cut;
    };
    const Case cases[] = {
        {"75-1", "75-1", false},
        {"宇田川町", "宇田川町", false},
        {"=1+1", "=1+1", false},  // a text cell is never a formula: no apostrophe
        {"a\x01"
         "b\tc\nd\re\x7F",
         "a?b?c?d?e?", false},                                                // as the CSV gives them
        {"x\xEF\xBF\xBEy\xEF\xBF\xBF", "x\xEF\xBF\xBDy\xEF\xBF\xBD", false},  // U+FFFE, U+FFFF
        {"a\xFF"
         "b\xE5\xAE",
         "a\xEF\xBF\xBD"
         "b\xEF\xBF\xBD",
         false},  // ill-formed UTF-8
        {"_x0041_", "_x005F_x0041_", false},
        {"_X00aF_1", "_x005F_X00aF_1", false},
        {"_x004_", "_x004_", false},
        {"_x00G1_", "_x00G1_", false},
        {"a_b", "a_b", false},
        {limit_ascii, limit_ascii, false},
        {limit_ascii + "b", limit_ascii, true},
        // A character outside the BMP is two of Excel's characters.
        {std::string(kWorksheetCellCharacters - 1, 'a') + "\xF0\x9F\x98\x80",
         std::string(kWorksheetCellCharacters - 1, 'a'), true},
        // The escape counts as written: it does not fit in the last six characters.
        {std::string(kWorksheetCellCharacters - 6, 'a') + "_x0041_", std::string(kWorksheetCellCharacters - 6, 'a'),
         true},
    };
    for (const Case& c : cases) {
        bool cut = false;
        EXPECT_EQ(worksheet_text(c.text, cut), c.expected) << c.text.substr(0, 40);
        EXPECT_EQ(cut, c.cut) << c.text.substr(0, 40);
    }
}

// A worksheet holds 1,048,576 rows, the header one of them. Null cells cost the library nothing,
// so the real limit is reached without a large file.
TEST(RowWriters, WorkbookRefusesMoreRowsThanAWorksheetHolds) {
    const test::TempDir dir;
    const RowColumn columns[] = {{"lot_number"}, {"area_m2", RowCellType::real, 1}};
    RowBatch nulls(2);
    for (int i = 0; i < 1024; ++i) {
        nulls.add_null();
        nulls.add_null();
    }
    RowBatch last(2);
    last.add_text("1-1");
    last.add_number(12.34);
    const std::size_t fitting = kWorksheetRows - 1;
    for (const std::size_t rows : {fitting, fitting + 1}) {
        const std::string path = dir.file(std::to_string(rows) + ".xlsx");
        OutputSession output;
        ASSERT_EQ(output.open(path, platform::OutputRules{}, false), WriteStatus::ok);
        const auto writer = make_workbook_writer(output);
        ASSERT_TRUE(writer->begin(columns)) << writer->error();
        bool written = true;
        std::size_t left = rows - 1;
        for (; left >= nulls.rows() && written; left -= nulls.rows()) written = writer->write(nulls);
        RowBatch rest(2);
        for (std::size_t i = 0; i < left; ++i) {
            rest.add_null();
            rest.add_null();
        }
        written = written && writer->write(rest) && writer->write(last) && writer->finish();
        EXPECT_EQ(written, rows == fitting) << rows;
        if (rows == fitting) {
            std::int64_t size = 0;
            EXPECT_TRUE(output.commit(size));
            EXPECT_GT(size, 0);
        } else {
            EXPECT_NE(writer->error().find("write a .csv"), std::string::npos) << writer->error();
            output.abandon();
        }
    }
    EXPECT_EQ(test::files_in(dir.path), (std::set<std::string>{std::to_string(fitting) + ".xlsx"}));
}

}  // namespace
}  // namespace chizuvec
