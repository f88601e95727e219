#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "common/numbers.hpp"

namespace chizuvec {
namespace {

constexpr std::uint32_t kMax = 4294967295u;
constexpr double kInf = std::numeric_limits<double>::infinity();

template <typename T>
struct NumberCase {
    std::string_view text;
    T expected;
};

TEST(IdNumber, FirstDigitRunCappedAtTheLargestNumber) {
    const NumberCase<std::uint32_t> cases[] = {
        {"P00012", 12},
        {"12", 12},
        {"x12y", 12},
        {"a1b2", 1},
        {"fud-7", 7},
        {"000", 0},
        {"", 0},
        {"no digits", 0},
        {"4294967295", kMax},
        {"4294967296", kMax},
        {"H123456789012345678901234567890", kMax},
    };
    for (const auto& c : cases) EXPECT_EQ(parse_id_number(c.text), c.expected) << c.text;
}

// Digit runs of every length up to 24, at every offset, against a digit-by-digit reading: the
// reading takes eight digits at a time where it can, and must agree at every boundary.
TEST(IdNumber, AgreesWithADigitByDigitReadingForRunsOfAnyLength) {
    const auto reference = [](std::string_view text) {
        std::size_t pos = text.find_first_of("0123456789");
        std::uint64_t value = 0;
        for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
            value = std::min<std::uint64_t>(value * 10 + static_cast<std::uint64_t>(text[pos] - '0'), 1ull << 32);
        }
        return value > kMax ? kMax : static_cast<std::uint32_t>(value);
    };
    std::uint64_t seed = 12345;
    const auto next = [&seed]() { return (seed = seed * 6364136223846793005ull + 1442695040888963407ull) >> 33; };
    for (int round = 0; round < 20000; ++round) {
        std::string text(static_cast<std::size_t>(next() % 4), 'P');
        const std::size_t digits = next() % 25;
        for (std::size_t i = 0; i < digits; ++i) text += static_cast<char>('0' + next() % 10);
        if (next() % 3 == 0) text += "\"/>" + std::to_string(next());
        if (next() % 5 == 0) text += static_cast<char>('0' + 10 + next() % 6);  // ':' to '?' after the run
        ASSERT_EQ(parse_id_number(text), reference(text)) << text;
    }
    for (const std::string_view text : {"4294967295", "04294967295", "000000004294967295", "99999999", "999999999",
                                        "4294967296", "12345678:", "1234567/8",
                                        "00000000"
                                        "00000001"}) {
        EXPECT_EQ(parse_id_number(text), reference(text)) << text;
    }
}

TEST(Decimal, ReadsTheLeadingNumberLikeStrtodInTheCLocale) {
    const std::string huge_mantissa = "1" + std::string(400, '0') + "e-5";
    const std::string tiny_fraction = "0." + std::string(400, '0') + "1";
    const NumberCase<double> cases[] = {
        {"  -12.5e2", -1250.0},
        {"\t\n7", 7.0},
        {"+3", 3.0},
        {".5", 0.5},
        {"-.5", -0.5},
        {"5.", 5.0},
        {"1e", 1.0},
        {"1e+", 1.0},
        {"1.5E+2", 150.0},
        {"12.5abc", 12.5},
        {"1,5", 1.0},
        {"", 0.0},
        {"-", 0.0},
        {".", 0.0},
        {"+-3", 0.0},
        {"nan", 0.0},
        {"inf", 0.0},
        {"-infinity", 0.0},
        {"0x1A", 0.0},
        {"1e400", kInf},
        {"-1e400", -kInf},
        {"1e-400", 0.0},
        {huge_mantissa, kInf},
        {tiny_fraction, 0.0},
        {"0.0001e999999999999999", kInf},
    };
    for (const auto& c : cases) EXPECT_EQ(parse_decimal(c.text), c.expected) << c.text;
    // A denormal is still a number, not an underflow to zero.
    EXPECT_GT(parse_decimal("1e-310"), 0.0);
}

// Coordinates take a quicker way than the full parse when their digits allow; it must give the
// same double to the last bit, the sign of zero included, on either side of where it stops.
TEST(Coordinate, QuickReadingGivesTheFullParsesDouble) {
    std::uint64_t state = 99;
    for (int i = 0; i < 20000; ++i) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        const int whole = static_cast<int>((state >> 33) % 10);
        const int fraction = static_cast<int>((state >> 40) % 10);
        std::string text = (state >> 50) % 3 == 0 ? "-" : (state >> 50) % 3 == 1 ? "+" : "";
        std::uint64_t digits = state;
        for (int k = 0; k < whole + fraction; ++k, digits /= 10) {
            if (k == whole) text += '.';
            text += static_cast<char>('0' + digits % 10);
        }
        if (whole + fraction == 0) text += "0";
        double read = 0.0;
        ASSERT_TRUE(parse_coordinate(text, read)) << text;
        const double full = parse_decimal(text);
        EXPECT_EQ(std::signbit(read), std::signbit(full)) << text;
        EXPECT_EQ(read, full) << text;
    }
}

TEST(Unsigned, SignDigitsAndSaturation) {
    const NumberCase<std::uint32_t> cases[] = {
        {"-1", kMax},
        {"-5", 4294967291u},
        {"-0", 0},
        {"+7", 7},
        {"99999999999", kMax},
        {"4294967295", kMax},
        {"-4294967295", 1},
        {"-4294967296", kMax},
        {" 42abc", 42},
        {"\t9", 9},
        {"", 0},
        {"-", 0},
        {"- 5", 0},
        {"x5", 0},
        {"1.9", 1},
    };
    for (const auto& c : cases) EXPECT_EQ(parse_unsigned(c.text), c.expected) << c.text;
}

}  // namespace
}  // namespace chizuvec
