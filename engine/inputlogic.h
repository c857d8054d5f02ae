// Input-logic modes: relays in "IF  K1" .. "IF  K1 XOR K2" follow the debounced contacts.
#pragma once

#include "engine/model.h"

namespace tavoxa {

// Run by every exchange tick while the port is open; true = contact closed.
void ApplyInputLogic(Model& m, bool k1Closed, bool k2Closed);

}  // namespace tavoxa
