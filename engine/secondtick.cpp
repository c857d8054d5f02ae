#include "engine/secondtick.h"

#include "engine/hardware.h"

#include <cstdint>
#include <string>

namespace tavoxa {

namespace {
constexpr int kTicksPerMinute = 60;
}

uint32_t RandomSeed(const LocalDateTime& t)
{
    // The milliseconds of the clock, counted across days: a seed from the time of day alone
    // repeats every day once the tick is armed a few milliseconds past each second, and the
    // presence simulation would then switch at the same times every day.
    const auto day = static_cast<int64_t>(EncodeDate(t.year, t.month, t.day));
    return static_cast<uint32_t>(day * kMsPerDay + MillisecondOfDay(t));
}

void SecondTick(Model& m, const Clock& clock, RandomSource& random)
{
    // Every relay counts, whatever its mode; unsigned steps so a count left running for decades
    // wraps instead of overflowing.
    for (auto& timer : m.SecondsTimer)
        timer.SecondCount = static_cast<int32_t>(static_cast<uint32_t>(timer.SecondCount) + 1u);

    // The weekday and the time come from separate clock reads; at midnight they may disagree
    // for one tick.
    const LocalDateTime dayRead = clock.Now();
    m.DayIndex = DayOfWeek(EncodeDate(dayRead.year, dayRead.month, dayRead.day));
    m.DayName = DayNames[static_cast<size_t>(m.DayIndex)];

    const LocalDateTime nowRead = clock.Now();
    m.NowTime = EncodeTime(nowRead.hour, nowRead.minute, nowRead.second, nowRead.millisecond);
    m.NowDate = EncodeDate(nowRead.year, nowRead.month, nowRead.day);
    m.SecondText = TimeText(m.NowTime).substr(6, 2);

    // Minute ticks count from program start, not from the full minutes of the clock.
    if (++m.MinuteCounter >= kTicksPerMinute) {
        m.MinuteCounter = 0;
        m.MinuteTick = true;
    }

    RunTimerPrograms(m);
    RunClockControl(m);
    RunSecondsTimers(m);
    RunRandomWindows(m, random, RandomSeed(clock.Now()));
}

}  // namespace tavoxa
