#include "engine/secondtick.h"

namespace tavoxa {

// Follows the seconds of the local clock, not the minute ticks, so the pulse stays aligned
// with the full minute: on at second 58, off at second 0. Relays 1..5 holding the clock code
// (a hand-edited file) are not looked at.
void RunClockControl(Model& m)
{
    if (m.RelayMode(kClockRelay) != ModeClock)
        return;
    if (m.SecondText == "58")
        SetRelay(m, kClockRelay);
    if (m.SecondText == "00")
        ClearRelay(m, kClockRelay);
}

}  // namespace tavoxa
