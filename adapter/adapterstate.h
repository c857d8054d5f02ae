// What the application keeps about the adapter between the bus worker's reports: the port and
// chip chosen in the settings and the debounced contacts the input logic runs on. Whether the
// port is open is the bus worker's report alone (the core's BusFacts).
#pragma once

#include <cstdint>

#include "engine/hardware.h"

namespace tavoxa {

struct AdapterState {
    int32_t ComNumber = 1;
    uint8_t ChipAddress = kChipAddressPcf8574;  // 7-bit address: 0x20 PCF8574, 0x38 PCF8574A
    bool K1Closed = false;
    bool K2Closed = false;
    // Both contacts have read stable since the last START: until then the input-logic relays keep
    // the state they had.
    bool InputsStable = false;
};

// A choice in the COM list: ComNumber = index + 1, so text typed into the list (index -1) gives
// COM 0, which no open accepts. Opening is left to START.
inline void SelectComPort(AdapterState& a, int itemIndex)
{
    a.ComNumber = itemIndex + 1;
}

// A choice of chip type: item 0 -> 0x20 (PCF 8574), anything else -> 0x38 (PCF 8574 A).
inline void SelectChip(AdapterState& a, int item)
{
    a.ChipAddress = ChipAddressOfItem(item);
}

}  // namespace tavoxa
