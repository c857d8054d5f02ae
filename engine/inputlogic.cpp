#include "engine/inputlogic.h"

namespace tavoxa {

void ApplyInputLogic(Model& m, bool k1Closed, bool k2Closed)
{
    for (int r = 0; r < kRelayCount; ++r) {
        bool on = false;
        switch (m.RelayMode(r)) {
            case ModeIfK1:
                on = k1Closed;
                break;
            case ModeIfK2:
                on = k2Closed;
                break;
            case ModeK1AndK2:
                on = k1Closed && k2Closed;
                break;
            case ModeK1OrK2:
                on = k1Closed || k2Closed;
                break;
            case ModeK1NorK2:
                on = !k1Closed && !k2Closed;
                break;
            case ModeK1XorK2:
                on = k1Closed != k2Closed;
                break;
            default:
                continue;  // not an input-logic relay: left alone
        }
        // Asserted on every call, not only on a change of the inputs, so a T press, a remote
        // command or RESET lasts only until the next exchange tick.
        if (on)
            SetRelay(m, r);
        else
            ClearRelay(m, r);
    }
}

}  // namespace tavoxa
