#include "engine/clock.h"

#include <chrono>
#include <cmath>
#include <ctime>

#include "engine/hardware.h"

namespace tavoxa {
namespace {

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (month <= 2));
}

const int64_t kEpochOffset = DaysFromCivil(1899, 12, 30);

// A value split into whole days and milliseconds of the day, the time rounded to the nearest
// millisecond. Stored values are often a hair below a full second, so rounding (not cutting)
// keeps 07:00:10 from reading as 07:00:09. A time that rounds up to the full day carries into
// the next day (away from day 0, as the time of day of a negative value counts away from it),
// so 23:59:59.9999999 of one date reads as 00:00:00 of the following one and not of its own.
struct DayAndMs {
    int64_t days = 0;
    int64_t ms = 0;
};

DayAndMs Split(double value)
{
    DayAndMs s;
    if (!std::isfinite(value) || std::fabs(value) > 1e15)
        return s;
    s.days = static_cast<int64_t>(DatePart(value));
    s.ms = std::llround(TimeOfDayPart(value) * kMsPerDay);
    if (s.ms >= kMsPerDay) {
        s.ms -= kMsPerDay;
        s.days += value < 0 ? -1 : 1;
    }
    return s;
}

int64_t MillisecondsOfDay(double value)
{
    return Split(value).ms;
}

}  // namespace

LocalDateTime SystemClock::Now() const
{
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t secs = system_clock::to_time_t(now);
    const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm tm{};
#ifdef _WIN32
    localtime_s(&tm, &secs);
#else
    localtime_r(&secs, &tm);
#endif
    LocalDateTime t;
    t.year = tm.tm_year + 1900;
    t.month = tm.tm_mon + 1;
    t.day = tm.tm_mday;
    t.hour = tm.tm_hour;
    t.minute = tm.tm_min;
    t.second = tm.tm_sec;
    t.millisecond = static_cast<int>(ms < 0 ? ms + 1000 : ms);
    return t;
}

double EncodeDate(int year, int month, int day)
{
    return static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
                               kEpochOffset);
}

double EncodeTime(int hour, int minute, int second, int millisecond)
{
    return (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + millisecond) / kMsPerDay;
}

double ToDateTime(const LocalDateTime& t)
{
    return EncodeDate(t.year, t.month, t.day) + EncodeTime(t.hour, t.minute, t.second, t.millisecond);
}

LocalDateTime FromDateTime(double value)
{
    LocalDateTime t;
    if (!std::isfinite(value) || std::fabs(value) > 1e9)
        return t;
    const DayAndMs s = Split(value);
    CivilFromDays(s.days + kEpochOffset, t.year, t.month, t.day);
    const int64_t ms = s.ms;
    t.hour = static_cast<int>(ms / 3600000);
    t.minute = static_cast<int>(ms / 60000 % 60);
    t.second = static_cast<int>(ms / 1000 % 60);
    t.millisecond = static_cast<int>(ms % 1000);
    return t;
}

int DayOfWeek(double value)
{
    // Day 0 (1899-12-30) was a Saturday. The day is the one FromDateTime shows for the value.
    const int64_t d = Split(value).days;
    return static_cast<int>(((d + 6) % 7 + 7) % 7);
}

double DatePart(double value)
{
    return std::trunc(value);
}

double TimeOfDayPart(double value)
{
    return std::fabs(value - std::trunc(value));
}

int MillisecondOfDay(const LocalDateTime& t)
{
    return ((t.hour * 60 + t.minute) * 60 + t.second) * 1000 + t.millisecond;
}

bool TimeFieldValid(double value)
{
    return std::isfinite(value) && std::fabs(value) <= 1e9;
}

int SecondOfDay(double value)
{
    if (!TimeFieldValid(value))
        return -1;
    return static_cast<int>(MillisecondsOfDay(value) / 1000);
}

std::string TimeText(double value)
{
    // Formatted by hand: the second tick makes up to three of these per program and window.
    const int64_t seconds = MillisecondsOfDay(value) / 1000;
    const int parts[3] = {static_cast<int>(seconds / 3600), static_cast<int>(seconds / 60 % 60),
                          static_cast<int>(seconds % 60)};
    std::string text = "00:00:00";
    for (int i = 0; i < 3; ++i) {
        text[3 * i] = static_cast<char>('0' + parts[i] / 10);
        text[3 * i + 1] = static_cast<char>('0' + parts[i] % 10);
    }
    return text;
}

int64_t SteadyMonotonicClock::NowMs() const
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace tavoxa
