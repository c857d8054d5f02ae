#include "core/relayrestore.h"

namespace tavoxa {

std::vector<int> RestoreUndrivenRelays(Model& m, uint8_t kept)
{
    std::vector<int> changed;
    for (int r = 0; r < kRelayCount; ++r) {
        if (m.RelayMode(r) != ModeToggle)
            continue;
        const bool on = (kept >> r & 1) != 0;
        if (on == RelayIsOn(m, r))
            continue;
        if (on)
            SetRelay(m, r);
        else
            ClearRelay(m, r);
        changed.push_back(r);
    }
    return changed;
}

}  // namespace tavoxa
