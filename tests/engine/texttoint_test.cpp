#include "engine/texttoint.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace tavoxa {
namespace {

constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
constexpr int32_t kMax = std::numeric_limits<int32_t>::max();

TEST(TextToInt, ACharacterAfterTheDigitsEndsTheNumberAndDropsItsSign)
{
    EXPECT_EQ(TextToInt("-12"), -12);
    EXPECT_EQ(TextToInt("-12a"), 12);  // stopped early: the sign is dropped
    EXPECT_EQ(TextToInt("12 "), 12);
    EXPECT_EQ(TextToInt("12\r\n"), 12);
    EXPECT_EQ(TextToInt("-12\n"), 12);
    EXPECT_EQ(TextToInt("x1F"), 31);
}

TEST(TextToInt, BlanksSignsAndDecimalDigits)
{
    EXPECT_EQ(TextToInt("   42"), 42);
    EXPECT_EQ(TextToInt("\t42"), 0);  // only code 32 counts as a blank
    EXPECT_EQ(TextToInt("+7"), 7);
    EXPECT_EQ(TextToInt(" +7x"), 7);
    EXPECT_EQ(TextToInt("007"), 7);
    EXPECT_EQ(TextToInt("0"), 0);
    EXPECT_EQ(TextToInt("-0"), 0);
    EXPECT_EQ(TextToInt("26535"), 26535);
    EXPECT_EQ(TextToInt("- 5"), 0);
    EXPECT_EQ(TextToInt("--5"), 0);
    EXPECT_EQ(TextToInt("12.5"), 12);
}

TEST(TextToInt, HexPrefixes)
{
    EXPECT_EQ(TextToInt("$ff"), 255);
    EXPECT_EQ(TextToInt("X1f"), 31);
    EXPECT_EQ(TextToInt("0x1F"), 31);
    EXPECT_EQ(TextToInt("0XaB"), 171);
    EXPECT_EQ(TextToInt("  $10"), 16);
    EXPECT_EQ(TextToInt("0x1G"), 1);
    EXPECT_EQ(TextToInt("$12 "), 18);
    EXPECT_EQ(TextToInt("-$5"), 0);  // no sign before a prefix
    EXPECT_EQ(TextToInt("$-5"), 0);
    EXPECT_EQ(TextToInt("+x5"), 0);
    EXPECT_EQ(TextToInt("0xg"), 0);
    EXPECT_EQ(TextToInt("ff"), 0);  // hex digits need a prefix
    EXPECT_EQ(TextToInt("0"), 0);
    EXPECT_EQ(TextToInt("0y"), 0);
}

TEST(TextToInt, NothingToReadGivesZero)
{
    for (const char* text : {"", "   ", "-", "+", "$", "x", "X", "0x", "0X", " -", "abc", "a12"})
        EXPECT_EQ(TextToInt(text), 0) << '"' << text << '"';
}

TEST(TextToInt, OverflowWrapsOrStopsEarly)
{
    EXPECT_EQ(TextToInt("2147483647"), kMax);
    EXPECT_EQ(TextToInt("-2147483647"), -kMax);
    EXPECT_EQ(TextToInt("-2147483648"), kMin);
    // Up to 214748364 one more digit is taken, in 32-bit arithmetic.
    EXPECT_EQ(TextToInt("2147483648"), kMin);
    EXPECT_EQ(TextToInt("2147483649"), -2147483647);
    EXPECT_EQ(TextToInt("-2147483649"), kMax);
    // Past 214748364 reading stops before the digit: the value so far, without its sign.
    EXPECT_EQ(TextToInt("4294967295"), 429496729);
    EXPECT_EQ(TextToInt("-4294967295"), 429496729);
    EXPECT_EQ(TextToInt("99999999999999"), 999999999);
    EXPECT_EQ(TextToInt("21474836490"), -2147483647);
    // Hexadecimal: up to 0x0FFFFFFF one more digit is taken.
    EXPECT_EQ(TextToInt("x7FFFFFFF"), kMax);
    EXPECT_EQ(TextToInt("$FFFFFFFF"), -1);
    EXPECT_EQ(TextToInt("0x80000000"), kMin);
    EXPECT_EQ(TextToInt("x123456789"), 0x12345678);
}

TEST(TextToInt, HasNumberWhereTheDigitsStart)
{
    for (const char* text : {"12", " 12", "-5", "+5", "$f", "x1", "0x1", "0", "12abc", "-12a"})
        EXPECT_TRUE(TextHasNumber(text)) << '"' << text << '"';
    for (const char* text : {"", "  ", "-", "+", "$", "$g", "0x", "0xz", "abc", "-x1", "\t1", "repeat"})
        EXPECT_FALSE(TextHasNumber(text)) << '"' << text << '"';
}

}  // namespace
}  // namespace tavoxa
