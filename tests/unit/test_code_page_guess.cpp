#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mapxml/code_page_guess.hpp"

namespace chizuvec {
namespace {

struct GuessCase {
    const char* what;
    std::string bytes;
    int expected;
};

TEST(CodePageGuess, KnownStrings) {
    const std::vector<GuessCase> cases = {
        {"empty", "", 0},
        {"letters", "abc", 0},
        {"tab, line ends and printable ASCII", "a\tb\r\nc ~", 0},
        {"hiragana a in UTF-8, Shift_JIS ties and loses", "\xE3\x81\x82", 65001},
        {"only Shift_JIS survives the second byte", "\x82\xA0", 932},
        {"ESC $ switches to JIS X 0208", "ab\x1B$B", 50222},
        {"ESC ( switches back to ASCII", "\x1B(B", 50222},
        {"UTF-16 LE byte order mark", "\xFF\xFE\x61", 1200},
        {"UTF-16 BE byte order mark", "\xFE\xFF\x61", 1201},
        {"Shift_JIS and EUC-JP tie at 1.0", "\xE1\xC0", 932},
        {"two half-width katakana in Shift_JIS lose to EUC-JP", "\xA4\xA2", 20932},
        {"Shift_JIS name of a map file", "\x92\x6E\x90\x7D.xml", 932},
        {"EUC-JP name of a map file", "\xC3\xCF\xBF\xDE.xml", 20932},
        {"UTF-8 name of a map file", "\xE5\x9C\xB0\xE5\x9B\xB3.xml", 65001},
        {"FF alone is Shift_JIS at 0.8", "\xFF", 932},
        {"a lone control byte is plain for everyone", "\x01", 65001},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(guess_code_page(c.bytes.c_str()), c.expected) << c.what;
    }
}

TEST(CodePageGuess, EscapeBytes) {
    const std::vector<GuessCase> cases = {
        // A final ESC is judged as a byte of its own: every recogniser takes it.
        {"ESC as the last byte", "abc\x1B", 65001},
        // The byte after any other ESC is what the recognisers see; here it rejects UTF-8 at once.
        {"ESC followed by a Shift_JIS lead byte", "\x1B\x82\xA0", 932},
        // The ESC itself is not fed, so the FF FE after it is no byte order mark.
        {"ESC before FF FE", "\x1B\xFF\xFE", 932},
        // Only one byte is skipped: the second ESC is fed, and ( after it is ordinary text.
        {"ESC ESC (", "\x1B\x1B(", 65001},
        {"ESC A is plain", "\x1B\x41", 65001},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(guess_code_page(c.bytes.c_str()), c.expected) << c.what;
    }
}

TEST(CodePageGuess, StringEndingInsideASequenceIsJudgedByLivingScores) {
    const std::vector<GuessCase> cases = {
        // UTF-8 waits for two more bytes, Shift_JIS for one, EUC-JP for one: all at 1.0, UTF-8 first.
        {"three-byte lead alone", "\xE3", 65001},
        // UTF-8 rejects 8E; Shift_JIS waits for a trail byte (1.0), EUC-JP waits too (0.8).
        {"8E alone", "\x8E", 932},
        // UTF-8 rejects 8F; Shift_JIS waits (1.0), EUC-JP waits (0.95).
        {"8F alone", "a\x8F", 932},
        // Shift_JIS takes F0 at 0.95 and waits; EUC-JP takes it at 1.0 and waits; UTF-8 waits.
        {"F0 alone", "\xF0", 65001},
        // After A4 A2 A4: EUC-JP is mid-character at 1.0, Shift_JIS at 0.512.
        {"EUC-JP cut after a lead byte", "\xA4\xA2\xA4", 20932},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(guess_code_page(c.bytes.c_str()), c.expected) << c.what;
    }
}

TEST(CodePageGuess, LastLivingRecogniserWinsBeforeItJudgesTheByte) {
    // A recogniser left alone answers at its turn without being fed the byte, so a string that
    // every recogniser would reject still gets the answer of the last one standing.
    const std::vector<GuessCase> cases = {
        // EUC-JP and Shift_JIS reject 80 first; UTF-8 is then alone and answers.
        {"80 alone", "\x80", 65001},
        {"80 after ASCII", "abc\x80", 65001},
        // EUC-JP rejects 20 after 8F; Shift_JIS, alone, answers before seeing 20 as a trail byte.
        {"8F 20", "\x8F\x20", 932},
        // Shift_JIS rejects E0, UTF-8 the fourth byte; EUC-JP answers at the fifth.
        {"E0 A1 A1 A1 80", "\xE0\xA1\xA1\xA1\x80", 20932},
        // C2 7F: 7F rejects EUC-JP (mid-character) and UTF-8 (continuation expected).
        {"C2 7F", "\xC2\x7F", 932},
        // 8E 41: UTF-8 rejects 8E, EUC-JP rejects 41 after 8E.
        {"8E 41", "\x8E\x41", 932},
        // UTF-8 rejects 41 where a continuation byte was owed; Shift_JIS survives to the end.
        {"E3 81 41", "\xE3\x81\x41", 932},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(guess_code_page(c.bytes.c_str()), c.expected) << c.what;
    }
    EXPECT_EQ(guess_code_page(nullptr), 0);
}

}  // namespace
}  // namespace chizuvec
