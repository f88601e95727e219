#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>

#include "common/fixed_text.hpp"

namespace chizuvec {
namespace {

// Two-, three- and four-byte UTF-8 characters.
constexpr std::string_view kE = "\xC3\xA9";              // é
constexpr std::string_view kBetsu = "\xE5\x88\xA5";      // 別
constexpr std::string_view kYoshi = "\xF0\xA0\xAE\xB7";  // 𠮷

std::string cat(std::string_view a, std::string_view b) { return std::string(a) + std::string(b); }

struct CutCase {
    std::string value;
    std::string kept;
};

// An 8-byte field keeps 7 bytes; a character that would cross byte 7 goes whole.
TEST(FixedText, CopyKeepsWholeCharactersWithinTheField) {
    const CutCase cases[] = {
        {"", ""},
        {"abcdefg", "abcdefg"},
        {"abcdefgh", "abcdefg"},
        {cat("abcde", kE), cat("abcde", kE)},
        {cat("abcdef", kE), "abcdef"},
        {cat("abcd", kBetsu), cat("abcd", kBetsu)},
        {cat("abcde", kBetsu), "abcde"},
        {cat("abcdef", kBetsu), "abcdef"},
        {cat("abc", kYoshi), cat("abc", kYoshi)},
        {cat("abcd", kYoshi), "abcd"},
        {cat("abcde", kYoshi), "abcde"},
        {cat("abcdef", kYoshi), "abcdef"},
        {cat(cat(kBetsu, kBetsu), kBetsu), cat(kBetsu, kBetsu)},
        // Bytes that are no UTF-8 count one by one and are never lost before the limit.
        {"abcdef\x80\x80", "abcdef\x80"},
        {"\x80\x80\x80\x80\x80\x80\x80\x80\x80", "\x80\x80\x80\x80\x80\x80\x80"},
        {"abcdef\xE5x", "abcdef\xE5"},
        {"\xFF\xFE\xFF\xFE\xFF\xFE\xFF\xFE", "\xFF\xFE\xFF\xFE\xFF\xFE\xFF"},
    };
    for (const auto& c : cases) {
        char field[8];
        std::memset(field, 'Z', sizeof field);
        const bool cut = copy_text(field, c.value);
        EXPECT_EQ(field_view(field), c.kept) << c.value;
        EXPECT_EQ(field[c.kept.size()], '\0') << c.value;
        EXPECT_EQ(cut, c.kept.size() != c.value.size()) << c.value;
    }
}

TEST(FixedText, CopyReplacesALongerText) {
    char field[16];
    copy_text(field, "a longer text");
    EXPECT_FALSE(copy_text(field, "xy"));
    EXPECT_EQ(field_view(field), "xy");
    EXPECT_FALSE(copy_text(field, ""));
    EXPECT_EQ(field_view(field), "");
}

TEST(FixedText, AppendFillsUpToTheLimitAndNoFurther) {
    struct AppendCase {
        std::string start;
        std::string added;
        std::string result;
    };
    const AppendCase cases[] = {
        {"abc", "def", "abcdef"},
        {"abc", "", "abc"},
        {"", "abcdefgh", "abcdefg"},
        {"abcd", "efg", "abcdefg"},
        {"abcdefg", "x", "abcdefg"},
        {"abcdef", std::string(kE), "abcdef"},
        {"abcde", std::string(kE), cat("abcde", kE)},
        {"abc", cat(kBetsu, kBetsu), cat("abc", kBetsu)},
        {"ab", std::string(kYoshi), cat("ab", kYoshi)},
        {"abcd", std::string(kYoshi), "abcd"},
    };
    for (const auto& c : cases) {
        char field[8];
        copy_text(field, c.start);
        const bool cut = append_text(field, c.added);
        EXPECT_EQ(field_view(field), c.result) << c.start << " + " << c.added;
        EXPECT_EQ(cut, c.start.size() + c.added.size() != c.result.size()) << c.start << " + " << c.added;
    }
}

// A field filled to its last byte without a terminator must not be read or written past its end.
TEST(FixedText, FieldWithoutTerminatorStaysInBounds) {
    struct Padded {
        char field[4];
        char guard[4];
    } padded;
    std::memcpy(padded.field, "abcd", 4);
    std::memcpy(padded.guard, "WXYZ", 4);
    EXPECT_EQ(field_view(padded.field), "abcd");
    EXPECT_TRUE(append_text(padded.field, "e"));
    EXPECT_EQ(field_view(padded.field), "abc");
    EXPECT_EQ(std::string_view(padded.guard, 4), "WXYZ");
}

TEST(FixedText, FieldOfOneByteHoldsOnlyTheTerminator) {
    char field[1] = {'q'};
    EXPECT_TRUE(copy_text(field, "a"));
    EXPECT_EQ(field[0], '\0');
    EXPECT_FALSE(copy_text(field, ""));
}

}  // namespace
}  // namespace chizuvec
