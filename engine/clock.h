// The local clock behind a small interface, and TDateTime arithmetic.
//
// Dates and times are day counts since 1899-12-30 00:00 local time: the whole part is the
// date, the fraction the time of day. The switching steps take the clock as an argument so
// that tests walk through midnights, weekdays and minute ticks without waiting.
#pragma once

#include <cstdint>
#include <string>

namespace tavoxa {

struct LocalDateTime {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual LocalDateTime Now() const = 0;
};

// The machine's local time.
class SystemClock : public Clock {
public:
    LocalDateTime Now() const override;
};

// Whole day number of a calendar date (1899-12-30 is 0).
double EncodeDate(int year, int month, int day);
// Fraction of a day for a time of day.
double EncodeTime(int hour, int minute, int second, int millisecond = 0);
double ToDateTime(const LocalDateTime& t);
// Calendar date and time of a value, the time rounded to the millisecond; a time that rounds
// up to midnight belongs to the next day.
LocalDateTime FromDateTime(double value);
// Weekday of a date or date-time, of the same day FromDateTime gives: 0 = Sunday .. 6 = Saturday.
int DayOfWeek(double value);
// Whole days of a value, cut toward zero.
double DatePart(double value);
// Time of day of a value (its fraction, also for values before 1899-12-30).
double TimeOfDayPart(double value);
int MillisecondOfDay(const LocalDateTime& t);

// The time text every comparison of the engine is made on: always two-digit 24-hour
// "hh:mm:ss", whatever the locale, so characters 7 and 8 are the seconds, text order is
// time order and equal text is the same second (fractions of a second are dropped).
std::string TimeText(double value);

// Whether a stored time field can name a second at all: a value that is not finite or lies
// beyond a billion days either way is no time (its text would read 00:00:00), and a program
// time or window edge holding one never matches any second.
bool TimeFieldValid(double value);
// The second of the day (0..86399) whose time text a value shows; -1 for a value that is not a
// valid time field.
int SecondOfDay(double value);

// A clock that only goes forward, in milliseconds from any origin, whatever the wall clock
// does: what lateness and back-off are measured on. Injected, so tests drive it.
class MonotonicClock {
public:
    virtual ~MonotonicClock() = default;
    virtual int64_t NowMs() const = 0;
};

// The system's steady clock.
class SteadyMonotonicClock : public MonotonicClock {
public:
    int64_t NowMs() const override;
};

}  // namespace tavoxa
