// --restore-relays: after a restart the relays that no engine drives (Toggle mode: switched by
// hand, by the remote or by MQTT) come back as they were; every other relay follows its engine.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/model.h"

namespace tavoxa {

// Relays 0..5 in Toggle mode are set as bits 0..5 of `kept` have them; returns the relays that
// changed, in order.
std::vector<int> RestoreUndrivenRelays(Model& m, uint8_t kept);

}  // namespace tavoxa
