#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>

#include "engine/clock.h"
#include "engine/secondtick.h"

namespace tavoxa {
namespace {

constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();

// Countdowns run on below 0 after a switch-on; step them in unsigned arithmetic so even a
// countdown left running for ages wraps instead of overflowing.
int32_t CountDown(int32_t value)
{
    return static_cast<int32_t>(static_cast<uint32_t>(value) - 1u);
}

// A new cycle: off for d minute ticks (at least 2), then on for e (at least 1). "max." comes
// unchecked from the editor or the file, so 3 * M and the sum are worked out in 64 bits and
// held at the int32 limit: a huge "max." gives a cycle that never comes round instead of a
// wrapped, negative one.
void Roll(Model& m, int r, int w, RandomSource& random)
{
    const int64_t maxMinutes = m.WindowMaxMinutes(r, w);
    const int32_t d = random.Next(static_cast<int32_t>(std::min(3 * maxMinutes, kInt32Max)));
    const int32_t toOn = d > 1 ? d : 2;
    const int32_t e = random.Next(static_cast<int32_t>(maxMinutes));
    m.MinutesToOn(r, w) = toOn;
    m.MinutesToOff(r, w) =
        static_cast<int32_t>(std::min<int64_t>(int64_t{toOn} + (e > 0 ? e : 1), kInt32Max));
}

// The start second itself is outside the window, the end second inside. A start at or after
// the end is a window across midnight; a start equal to the end is open all day.
bool WindowOpen(const std::string& start, const std::string& end, const std::string& now)
{
    if (start < end)
        return start < now && now <= end;
    return now > start || now <= end;
}

}  // namespace

void RunRandomWindows(Model& m, RandomSource& random, uint32_t reseedMs, SwitchWriters* writers)
{
    random.Reseed(reseedMs);
    const std::string now = TimeText(m.NowTime);
    for (int r = 0; r < kRelayCount; ++r) {
        if (m.RelayMode(r) != ModeRandom)
            continue;
        for (int w = 0; w < kWindowCount; ++w) {
            if (m.WindowMaxMinutes(r, w) <= 0)
                continue;  // window switched off: no countdown, no end handling
            // An edge that is no valid time field matches no second: the window never opens.
            if (!TimeFieldValid(m.WindowStart(r, w)) || !TimeFieldValid(m.WindowEnd(r, w)))
                continue;
            const std::string start = TimeText(m.WindowStart(r, w));
            const std::string end = TimeText(m.WindowEnd(r, w));
            // A closed window keeps its countdowns frozen until it opens again.
            if (!WindowOpen(start, end, now))
                continue;
            bool wrote = false;
            if (m.MinuteTick) {
                m.MinutesToOn(r, w) = CountDown(m.MinutesToOn(r, w));
                m.MinutesToOff(r, w) = CountDown(m.MinutesToOff(r, w));
            }
            if (m.MinutesToOn(r, w) == 0) {
                SetRelay(m, r);
                wrote = true;
            }
            if (m.MinutesToOff(r, w) == 0) {
                ClearRelay(m, r);
                wrote = true;
            }
            if (m.MinutesToOff(r, w) < 1)
                Roll(m, r, w, random);
            // The end second ends the cycle, so the next opening starts with a fresh roll.
            if (now == end) {
                ClearRelay(m, r);
                m.MinutesToOff(r, w) = 0;
                wrote = true;
            }
            // The last window to write the relay decided its state.
            if (writers && wrote)
                (*writers)[static_cast<size_t>(r)] = w;
        }
    }
    m.MinuteTick = false;
}

}  // namespace tavoxa
