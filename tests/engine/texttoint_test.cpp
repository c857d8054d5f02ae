#include "engine/texttoint.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>

namespace tavoxa {
namespace {

constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
constexpr int32_t kMax = std::numeric_limits<int32_t>::max();

using Cases = std::pair<const char*, int32_t>;
template <size_t N>
void ExpectValues(const Cases (&cases)[N])
{
    for (const auto& [text, value] : cases)
        EXPECT_EQ(TextToInt(text), value) << '"' << text << '"';
}

// Stopped early ("-12a"), the number loses its sign.
TEST(TextToInt, ACharacterAfterTheDigitsEndsTheNumberAndDropsItsSign)
{
    const Cases cases[] = {
        {"-12", -12}, {"-12a", 12}, {"12 ", 12}, {"12\r\n", 12}, {"-12\n", 12}, {"x1F", 31},
    };
    ExpectValues(cases);
}

// Only code 32 counts as a blank.
TEST(TextToInt, BlanksSignsAndDecimalDigits)
{
    const Cases cases[] = {
        {"   42", 42}, {"\t42", 0},      {"+7", 7},  {" +7x", 7}, {"007", 7},   {"0", 0},
        {"-0", 0},     {"26535", 26535}, {"- 5", 0}, {"--5", 0},  {"12.5", 12},
    };
    ExpectValues(cases);
}

// No sign before a prefix, and hex digits need one.
TEST(TextToInt, HexPrefixes)
{
    const Cases cases[] = {
        {"$ff", 255}, {"X1f", 31}, {"0x1F", 31}, {"0XaB", 171}, {"  $10", 16}, {"0x1G", 1}, {"$12 ", 18},
        {"-$5", 0},   {"$-5", 0},  {"+x5", 0},   {"0xg", 0},    {"ff", 0},     {"0", 0},    {"0y", 0},
    };
    ExpectValues(cases);
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
