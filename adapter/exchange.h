// The 20 ms exchange with the port expander and the life of the serial port: open at start and
// with START, close with STOP and at exit, COM port and chip type selection.
#pragma once

#include <cstdint>
#include <string>

#include "adapter/i2c.h"
#include "adapter/seriallines.h"
#include "engine/model.h"

namespace tavoxa {

struct AdapterState {
    bool PortOpen = false;  // set only from the result of ComOpen, cleared by STOP
    int32_t ComNumber = 1;
    std::string PortSettings;    // handed to ComOpen, e.g. "Com1:4800,N,8,1"
    uint8_t ChipAddress = 0x20;  // 7-bit address: 0x20 PCF8574, 0x38 PCF8574A
    bool WritePhase = false;     // flips every tick; true = write tick
    uint8_t InputBits = 0;       // bits 7 and 6 of the last byte read
    uint8_t DebounceCount = 0;   // consecutive reads with the same InputBits
    bool K1Closed = false;
    bool K2Closed = false;
    bool PortReleased = false;  // the port was closed at exit while PortOpen stays set: no bus operation
};

struct ExchangeResult {
    std::string PortStatus;          // Label9 text, e.g. "COM 2   Open"
    std::string AdapterStatus;       // Label13 text, "Adapter  connected" / "Adapter  not connected"
    bool RelayLampsChanged = false;  // write tick with port open: recolour Label1..6 from RelayBits
    // Read tick with a stable pattern: recolour Label7/8 from K1Closed/K2Closed.
    bool InputLampsChanged = false;
};

// Number of equal consecutive reads before an input pattern is taken over. With a read every
// 40 ms a contact has to stay put for about 0.3 s, long enough to ride out the bounce of a
// mechanical contact and short enough to feel immediate.
constexpr uint8_t kDebounceReads = 8;

// Timer1Timer: one exchange tick, including the input-logic step.
ExchangeResult ExchangeTick(AdapterState& a, Model& m, I2cBus& bus);
// Opens the port of PortSettings and idles the bus; returns PortOpen. The caller locks the port
// controls when it is true.
bool OpenAdapter(AdapterState& a, SerialLines& lines, I2cBus& bus);
// Button8Click steps 1-2: closes the port if open; clears PortOpen and PortReleased.
void StopAdapter(AdapterState& a, SerialLines& lines);
// Close step of FormClose: ComClose if PortOpen. PortOpen stays set (the close may still be
// abandoned) and PortReleased keeps the exchange off the closed port until STOP.
void ReleasePortForExit(AdapterState& a, SerialLines& lines);
// ComboBox19Change: ComNumber = index + 1, PortSettings = "COM" + n + ":4800,N,8,1".
void SelectComPort(AdapterState& a, int itemIndex);
// RadioGroup1Click: item 0 -> 0x20 (PCF 8574), anything else -> 0x38 (PCF 8574 A).
void SelectChip(AdapterState& a, int item);
// prefix ("Com" or "COM") + comNumber + ":4800,N,8,1".
std::string BuildPortSettings(const std::string& prefix, int32_t comNumber);

}  // namespace tavoxa
