// Test kit of the engine: a clock stepped by hand, a scripted random source and a rig that
// drives second ticks and records every switch of a relay, so a test walks through days,
// midnights and weekdays in a fraction of a second.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "engine/clock.h"
#include "engine/model.h"
#include "engine/random.h"
#include "engine/secondtick.h"

namespace tavoxa::test {

constexpr int64_t kMsPerDay = 86400000;

class FakeClock : public Clock {
public:
    FakeClock(int year, int month, int day, int hour = 0, int minute = 0, int second = 0, int ms = 0)
    {
        Set(year, month, day, hour, minute, second, ms);
    }

    LocalDateTime Now() const override
    {
        ++reads_;
        if (!queued_.empty()) {
            const LocalDateTime t = queued_.front();
            queued_.pop_front();
            return t;
        }
        const LocalDateTime t = Current();
        Step(msPerRead);
        return t;
    }

    LocalDateTime Current() const
    {
        LocalDateTime t = FromDateTime(static_cast<double>(day_));
        t.hour = static_cast<int>(ms_ / 3600000);
        t.minute = static_cast<int>(ms_ / 60000 % 60);
        t.second = static_cast<int>(ms_ / 1000 % 60);
        t.millisecond = static_cast<int>(ms_ % 1000);
        return t;
    }

    void Set(int year, int month, int day, int hour, int minute, int second, int ms = 0)
    {
        day_ = static_cast<int64_t>(EncodeDate(year, month, day));
        ms_ = ((hour * 60LL + minute) * 60 + second) * 1000 + ms;
    }
    // Keeps the date and the second, moves the millisecond.
    void SetMillisecond(int ms) { ms_ = ms_ / 1000 * 1000 + ms; }
    // Keeps the date, moves the time of day.
    void SetTime(int hour, int minute, int second, int ms = 0)
    {
        ms_ = ((hour * 60LL + minute) * 60 + second) * 1000 + ms;
    }
    void Advance(int64_t ms) { Step(ms); }
    // The next reads return these, in order, before the clock's own time again.
    void Queue(const LocalDateTime& t) { queued_.push_back(t); }
    int Reads() const { return reads_; }

    // Time that passes with every read (0: the clock stands still between steps).
    int64_t msPerRead = 0;

private:
    // Reading may move the clock (msPerRead), so the time is mutable.
    void Step(int64_t ms) const
    {
        ms_ += ms;
        day_ += ms_ / kMsPerDay;
        ms_ %= kMsPerDay;
    }

    mutable int64_t day_ = 0;
    mutable int64_t ms_ = 0;
    mutable int reads_ = 0;
    mutable std::deque<LocalDateTime> queued_;
};

// Hands out scripted values (0 once the script is used up) and records what it was asked.
class ScriptedRandom : public RandomSource {
public:
    void Reseed(uint32_t seed) override { seeds.push_back(seed); }
    int32_t Next(int32_t n) override
    {
        ranges.push_back(n);
        if (script.empty())
            return 0;
        const int32_t v = script.front();
        script.pop_front();
        return v;
    }
    std::deque<int32_t> script;
    std::vector<uint32_t> seeds;
    std::vector<int32_t> ranges;
};

inline std::string DateText(double date)
{
    const LocalDateTime t = FromDateTime(date);
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", t.year, t.month, t.day);
    return text;
}

// A model, a clock and a random source; each Tick runs one second tick at the clock's time
// and then moves the clock on by one second.
struct Rig {
    Rig(int year, int month, int day, int hour = 0, int minute = 0, int second = 0)
        : clock(year, month, day, hour, minute, second)
    {
    }

    void Tick()
    {
        SecondTick(m, clock, *random);
        clock.Advance(1000);
    }

    // Runs `seconds` ticks and returns every switch of every relay as "Mo 1999-05-03 20:12:00 on".
    std::array<std::vector<std::string>, kRelayCount> WalkAll(int64_t seconds)
    {
        std::array<std::vector<std::string>, kRelayCount> logs;
        for (int64_t i = 0; i < seconds; ++i) {
            const uint8_t before = m.RelayBits;
            Tick();
            for (int r = 0; r < kRelayCount; ++r) {
                const bool was = (before >> r) & 1;
                const bool is = RelayIsOn(m, r);
                if (was != is)
                    logs[r].push_back(m.DayName + " " + DateText(m.NowDate) + " " + TimeText(m.NowTime) +
                                      (is ? " on" : " off"));
            }
        }
        return logs;
    }
    std::vector<std::string> Walk(int64_t seconds, int relay) { return WalkAll(seconds)[relay]; }

    Model m;
    FakeClock clock;
    LcgRandom lcg;
    ScriptedRandom scripted;
    RandomSource* random = &lcg;  // point at `scripted` to choose the rolls
};

inline LocalDateTime At(int year, int month, int day, int hour, int minute, int second, int ms = 0)
{
    LocalDateTime t;
    t.year = year;
    t.month = month;
    t.day = day;
    t.hour = hour;
    t.minute = minute;
    t.second = second;
    t.millisecond = ms;
    return t;
}

}  // namespace tavoxa::test
