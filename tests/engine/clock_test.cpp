#include "engine/clock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace tavoxa {
namespace {

TEST(ClockDates, EncodeDateCountsFromDayZero)
{
    EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
    EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
    EXPECT_EQ(EncodeDate(1999, 5, 1), 36281.0);
    EXPECT_EQ(EncodeDate(2000, 1, 1), 36526.0);
    EXPECT_EQ(EncodeDate(2000, 3, 1) - EncodeDate(2000, 2, 28), 2.0);  // 2000 is a leap year
    EXPECT_EQ(EncodeDate(1900, 3, 1) - EncodeDate(1900, 2, 28), 1.0);  // 1900 is not
    EXPECT_EQ(EncodeDate(1899, 12, 29), -1.0);
}

TEST(ClockDates, WeekdayOfKnownDates)
{
    EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 30)), 6);  // Saturday
    EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 29)), 5);
    EXPECT_EQ(DayOfWeek(EncodeDate(1970, 1, 1)), 4);  // Thursday
    EXPECT_EQ(DayOfWeek(EncodeDate(1999, 5, 1)), 6);  // Saturday
    EXPECT_EQ(DayOfWeek(EncodeDate(1999, 5, 2)), 0);  // Sunday
    EXPECT_EQ(DayOfWeek(EncodeDate(2024, 1, 1)), 1);  // Monday
    EXPECT_EQ(DayOfWeek(EncodeDate(2024, 2, 29)), 4);
    EXPECT_EQ(DayOfWeek(EncodeDate(2024, 1, 1) + EncodeTime(23, 59, 59)), 1);
}

TEST(ClockDates, DateTimeRoundTrip)
{
    for (const LocalDateTime& t :
         {LocalDateTime{2024, 2, 29, 23, 59, 59, 999}, LocalDateTime{1999, 5, 1, 7, 0, 10, 0},
          LocalDateTime{2100, 12, 31, 0, 0, 0, 1}, LocalDateTime{1900, 1, 1, 12, 0, 0, 0}}) {
        const LocalDateTime back = FromDateTime(ToDateTime(t));
        const auto fields = [](const LocalDateTime& d) {
            return std::vector<int>{d.year, d.month, d.day, d.hour, d.minute, d.second, d.millisecond};
        };
        EXPECT_EQ(fields(back), fields(t));
        EXPECT_EQ(MillisecondOfDay(back), ((t.hour * 60 + t.minute) * 60 + t.second) * 1000 + t.millisecond);
    }
}

// A value a hair below midnight shows 00:00:00, so it must belong to the next day, not to
// midnight of its own day, a whole day early.
TEST(ClockDates, TimeRoundingUpToMidnightCarriesIntoTheNextDay)
{
    const double value = EncodeDate(1999, 5, 1) + 0.99999999999;
    const LocalDateTime t = FromDateTime(value);
    EXPECT_EQ(t.day, 2);
    EXPECT_EQ(t.hour, 0);
    EXPECT_EQ(t.second, 0);
    EXPECT_EQ(DayOfWeek(value), 0);
    EXPECT_EQ(TimeText(value), "00:00:00");
    // Before day 0 the time counts away from it, and so does the carry.
    const LocalDateTime before = FromDateTime(-1.25);
    EXPECT_EQ(before.day, 29);
    EXPECT_EQ(before.hour, 6);
}

// Fractions are dropped, only the time of day enters the text, a value a hair below a full
// second keeps that second, and values that are no time give midnight.
TEST(ClockTimeText, FixedTwoDigitTwentyFourHourForm)
{
    const double sevenTen = EncodeTime(7, 0, 10);
    const std::pair<double, const char*> cases[] = {
        {0.0, "00:00:00"},
        {EncodeTime(7, 0, 10), "07:00:10"},
        {EncodeTime(20, 12, 0), "20:12:00"},
        {EncodeTime(23, 59, 59, 999), "23:59:59"},
        {EncodeTime(7, 0, 9, 999), "07:00:09"},
        {EncodeDate(2024, 1, 1) + EncodeTime(16, 0, 0), "16:00:00"},
        {-1.25, "06:00:00"},
        {sevenTen - 1e-12, "07:00:10"},
        {std::nextafter(sevenTen, 0.0), "07:00:10"},
        {EncodeDate(2030, 6, 1) + sevenTen - 1e-11, "07:00:10"},
        {std::nextafter(1.0, 0.0), "00:00:00"},
        {0.99999999999, "00:00:00"},
        {0.9999999, "23:59:59"},
        {std::numeric_limits<double>::quiet_NaN(), "00:00:00"},
        {std::numeric_limits<double>::infinity(), "00:00:00"},
        {1e300, "00:00:00"},
    };
    for (const auto& [value, text] : cases)
        EXPECT_EQ(TimeText(value), text) << value;
}

// Every second of a day, also after the trip through the configuration file's fifteen
// significant digits and with a date in front: the text names that second, and text order is
// time order.
TEST(ClockTimeText, EverySecondOfADayKeepsItsTextAndOrder)
{
    std::string previous;
    for (int s = 0; s < 86400; ++s) {
        char expected[16];
        std::snprintf(expected, sizeof expected, "%02d:%02d:%02d", s / 3600, s / 60 % 60, s % 60);
        const double value = EncodeTime(s / 3600, s / 60 % 60, s % 60);
        char stored[40];
        std::snprintf(stored, sizeof stored, "%.14E", value + 45000.0);
        const std::string text = TimeText(value);
        ASSERT_EQ(text, expected);
        ASSERT_EQ(TimeText(std::strtod(stored, nullptr)), expected) << stored;
        ASSERT_EQ(text.substr(6, 2), std::string(expected + 6, 2));
        if (s > 0) {
            ASSERT_LT(previous, text);
        }
        previous = text;
    }
}

}  // namespace
}  // namespace tavoxa
