#include <string>

#include "engine/clock.h"
#include "engine/secondtick.h"

namespace tavoxa {
namespace {

bool DayMatches(const Model& m, int r, int p)
{
    const int32_t code = m.DayCode(r, p);
    if (code == DayDate)
        return m.NowDate == m.ProgramDate(r, p);  // both whole day numbers
    if (code >= DaySunday && code <= DaySaturday)
        return m.DayIndex + 1 == code;
    if (code == DayMonToFri)
        return m.DayIndex >= 1 && m.DayIndex <= 5;
    if (code == DaySatSun)
        return m.DayIndex == 0 || m.DayIndex == 6;
    return code == DayEveryDay;  // any other code matches no day
}

}  // namespace

// Fires only in the very second the clock shows a programmed time and keeps no state: a
// program whose period has already begun is not caught up, and an end earlier than its start
// stays on the start's day condition (it does not move to the next day).
// A start or end that is no valid time field never fires.
void RunTimerPrograms(Model& m, SwitchWriters* writers)
{
    const std::string now = TimeText(m.NowTime);
    for (int r = 0; r < kRelayCount; ++r) {
        if (m.RelayMode(r) != ModeTimer)
            continue;
        for (int p = 0; p < kProgramCount; ++p) {
            if (!DayMatches(m, r, p))
                continue;
            // Start before end, and program after program: a later event of the same second wins.
            const double start = m.ProgramStart(r, p);
            const double end = m.ProgramEnd(r, p);
            if (TimeFieldValid(start) && now == TimeText(start)) {
                SetRelay(m, r);
                if (writers)
                    (*writers)[static_cast<size_t>(r)] = p;
            }
            if (TimeFieldValid(end) && now == TimeText(end)) {
                ClearRelay(m, r);
                if (writers)
                    (*writers)[static_cast<size_t>(r)] = p;
            }
        }
    }
}

}  // namespace tavoxa
