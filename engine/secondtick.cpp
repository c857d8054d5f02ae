#include "engine/secondtick.h"

#include <cstdint>
#include <string>
#include <utility>

#include "engine/hardware.h"

namespace tavoxa {

namespace {
constexpr int kTicksPerMinute = 60;

// The relays whose bits differ from `before`, each with the cause its mode's step recorded.
void AppendChanges(const Model& m, uint8_t before, const SwitchWriters& programs,
                   const SwitchWriters& windows, std::vector<SwitchEvent>& events)
{
    for (int r = 0; r < kRelayCount; ++r) {
        const bool on = RelayIsOn(m, r);
        if (((before >> r) & 1u) == static_cast<unsigned>(on))
            continue;
        SwitchEvent e;
        e.relay = r;
        e.on = on;
        switch (m.RelayMode(r)) {
            case ModeTimer:
                e.cause.kind = CauseKind::TimerProgram;
                e.cause.index = programs[static_cast<size_t>(r)];
                break;
            case ModeSecondsTimer:
                e.cause.kind = CauseKind::SecondsTimer;
                break;
            case ModeRandom:
                e.cause.kind = CauseKind::RandomWindow;
                e.cause.index = windows[static_cast<size_t>(r)];
                break;
            default:
                e.cause.kind = CauseKind::ClockPulse;  // the only other step that switches
                break;
        }
        events.push_back(std::move(e));
    }
}

}  // namespace

uint32_t RandomSeed(const LocalDateTime& t)
{
    // The milliseconds of the clock, counted across days: a seed from the time of day alone
    // repeats every day once the tick is armed a few milliseconds past each second, and the
    // presence simulation would then switch at the same times every day.
    const auto day = static_cast<int64_t>(EncodeDate(t.year, t.month, t.day));
    return static_cast<uint32_t>(day * kMsPerDay + MillisecondOfDay(t));
}

void SecondTick(Model& m, const Clock& clock, RandomSource& random, std::vector<SwitchEvent>* events)
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

    const uint8_t before = m.RelayBits;
    SwitchWriters programs;
    SwitchWriters windows;
    programs.fill(-1);
    windows.fill(-1);
    RunTimerPrograms(m, events ? &programs : nullptr);
    RunClockControl(m);
    RunSecondsTimers(m);
    RunRandomWindows(m, random, RandomSeed(clock.Now()), events ? &windows : nullptr);
    if (events)
        AppendChanges(m, before, programs, windows, *events);
}

}  // namespace tavoxa
