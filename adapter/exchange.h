// The synchronous 20 ms exchange with the port expander, run on the caller's thread, and the life
// of the serial port: open at start and with START, close with STOP and at exit, COM port and chip
// type selection. Replaced by the bus worker (busworker.h); kept until every caller has moved.
#pragma once

#include <cstdint>
#include <string>

#include "adapter/comname.h"
#include "adapter/i2c.h"
#include "adapter/seriallines.h"
#include "adapter/transaction.h"
#include "engine/model.h"

namespace tavoxa {

struct AdapterState {
    bool PortOpen = false;  // set only from the result of ComOpen, cleared by STOP
    int32_t ComNumber = 1;
    std::string PortSettings;    // the port to open, e.g. "Com1:4800,N,8,1" (comname.h)
    uint8_t ChipAddress = 0x20;  // 7-bit address: 0x20 PCF8574, 0x38 PCF8574A
    bool WritePhase = false;     // flips every tick; true = write tick
    uint8_t InputBits = 0;       // bits 7 and 6 of the last byte read
    uint8_t DebounceCount = 0;   // consecutive reads with the same InputBits
    bool K1Closed = false;
    bool K2Closed = false;
    bool PortReleased = false;  // the port was closed at exit while PortOpen stays set: no bus operation
};

// What a tick found; the caller words the status lines.
struct ExchangeResult {
    bool PortOpen = false;  // the port is held (also after it was released at exit)
    int32_t ComNumber = 0;
    // The chip acknowledged the last byte of the previous transaction on an open, unreleased port.
    bool Acknowledged = false;
    bool RelayLampsChanged = false;  // write tick with port open: recolour the relay lamps from RelayBits
    // Read tick with a stable pattern: recolour the input lamps from K1Closed/K2Closed.
    bool InputLampsChanged = false;
};

// One exchange tick, including the input-logic step.
ExchangeResult ExchangeTick(AdapterState& a, Model& m, I2cBus& bus);
// Opens the port of PortSettings and idles the bus; returns PortOpen. The caller locks the port
// controls when it is true.
bool OpenAdapter(AdapterState& a, SerialLines& lines, I2cBus& bus);
// STOP: closes the port if open; clears PortOpen and PortReleased.
void StopAdapter(AdapterState& a, SerialLines& lines);
// Closing the program: ComClose if PortOpen. PortOpen stays set (the close may still be abandoned)
// and PortReleased keeps the exchange off the closed port until STOP.
void ReleasePortForExit(AdapterState& a, SerialLines& lines);
// A choice in the COM list: ComNumber = index + 1, PortSettings = "COM" + n + ":4800,N,8,1".
void SelectComPort(AdapterState& a, int itemIndex);
// A choice of chip type: item 0 -> 0x20 (PCF 8574), anything else -> 0x38 (PCF 8574 A).
void SelectChip(AdapterState& a, int item);

}  // namespace tavoxa
