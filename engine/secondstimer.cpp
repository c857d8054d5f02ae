#include "engine/secondtick.h"

namespace tavoxa {

// Equality only: a count that has passed a value never comes back to it without RESET, START
// or a repeat, so a relay put into this mode long after RESET stays untouched.
void RunSecondsTimers(Model& m)
{
    for (int r = 0; r < kRelayCount; ++r) {
        if (m.RelayMode(r) != ModeSecondsTimer)
            continue;
        SecondsTimerRecord& t = m.SecondsTimer[r];
        if (t.SecondCount == t.StartAfter)
            SetRelay(m, r);
        if (t.SecondCount == t.EndAfter) {
            ClearRelay(m, r);
            if (t.Repeat == 1)
                t.SecondCount = -1;  // the next tick makes it 0
        }
    }
}

}  // namespace tavoxa
