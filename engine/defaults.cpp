#include <algorithm>
#include <iterator>

#include "engine/secondtick.h"

namespace tavoxa {

// Every date and time is read from the clock on its own, so values taken across a full second
// may differ by one second; with all relays in "Toggle" and all windows off that cannot switch
// anything. The runtime countdowns, the relay byte and the clock sample are not settings and
// are left alone.
void ApplyDefaults(Model& m, const Clock& clock)
{
    for (auto& plane : m.SwitchTable)
        for (auto& relay : plane)
            std::fill(std::begin(relay), std::end(relay), 0);
    for (int r = 0; r < kRelayCount; ++r) {
        for (int p = 0; p < kProgramCount; ++p) {
            const LocalDateTime today = clock.Now();
            m.ProgramDate(r, p) = EncodeDate(today.year, today.month, today.day);
            const LocalDateTime start = clock.Now();
            m.ProgramStart(r, p) = EncodeTime(start.hour, start.minute, start.second, start.millisecond);
            const LocalDateTime end = clock.Now();
            m.ProgramEnd(r, p) = EncodeTime(end.hour, end.minute, end.second, end.millisecond);
        }
    }
    for (auto& timer : m.SecondsTimer)
        timer = SecondsTimerRecord{};
    for (int r = 0; r < kRelayCount; ++r) {
        for (int w = 0; w < kWindowCount; ++w) {
            m.WindowTable[0][r][w] = 0;  // SelectedWindow and the spare slots
            m.WindowMaxMinutes(r, w) = 0;
            const LocalDateTime start = clock.Now();
            m.WindowStart(r, w) = EncodeTime(start.hour, start.minute, start.second, start.millisecond);
            const LocalDateTime end = clock.Now();
            m.WindowEnd(r, w) = EncodeTime(end.hour, end.minute, end.second, end.millisecond);
        }
    }
}

}  // namespace tavoxa
