#include "adapter/exchange.h"

#include "engine/inputlogic.h"

namespace tavoxa {

namespace {
constexpr uint8_t kInputMask = 0xC0;  // bit 7 K1, bit 6 K2; low = contact closed
constexpr uint8_t kDebounceHeld = 100;
}  // namespace

ExchangeResult ExchangeTick(AdapterState& a, Model& m, I2cBus& bus)
{
    ExchangeResult r;
    // Writing and reading on alternate ticks keeps each tick to one short transaction, so the
    // user-interface thread is never blocked for long; the inputs are still read every 40 ms.
    a.WritePhase = !a.WritePhase;
    // A released port has had no transaction since it was closed: the last acknowledge is stale.
    const bool connected = bus.I2cAcknowledged() && a.PortOpen && !a.PortReleased;
    r.AdapterStatus = std::string("Adapter  ") + (connected ? "connected" : "not connected");
    if (!a.PortOpen) {
        r.PortStatus = "COM " + std::to_string(a.ComNumber) + "   Close";
        return r;
    }
    r.PortStatus = "COM " + std::to_string(a.ComNumber) + "   Open";
    if (a.PortReleased) {
        return r;  // closed at exit while the window stays: nothing may touch the port until STOP
    }

    m.RelayBits &= static_cast<uint8_t>(~kInputMask);
    if (a.WritePhase) {
        bus.I2cStart();
        bus.I2cWrite(static_cast<uint8_t>(a.ChipAddress * 2));
        // Bits 6 and 7 stay high so the input pins can be pulled low by the contacts.
        bus.I2cWrite(static_cast<uint8_t>(m.RelayBits | kInputMask));
        bus.I2cStop();
        r.RelayLampsChanged = true;
    } else {
        bus.I2cStart();
        bus.I2cWrite(static_cast<uint8_t>(a.ChipAddress * 2 + 1));
        const uint8_t b = bus.I2cRead();
        bus.I2cNoAck();
        bus.I2cStop();
        const uint8_t pattern = b & kInputMask;
        if (pattern != a.InputBits) {
            a.DebounceCount = 0;  // a change of either input restarts the count for both
        }
        ++a.DebounceCount;
        if (a.DebounceCount >= kDebounceReads) {
            a.DebounceCount = kDebounceHeld;  // held above the threshold so the byte never wraps
            a.K1Closed = (pattern & 0x80) == 0;
            a.K2Closed = (pattern & 0x40) == 0;
            r.InputLampsChanged = true;
        }
        a.InputBits = pattern;
    }
    m.RelayBits |= a.InputBits;
    ApplyInputLogic(m, a.K1Closed, a.K2Closed);
    return r;
}

bool OpenAdapter(AdapterState& a, SerialLines& lines, I2cBus& bus)
{
    if (lines.ComOpen(a.PortSettings) == 1) {
        a.PortOpen = true;
        a.PortReleased = false;
    }
    bus.I2cIdle();
    return a.PortOpen;
}

void StopAdapter(AdapterState& a, SerialLines& lines)
{
    if (a.PortOpen) {
        lines.ComClose();
    }
    a.PortOpen = false;
    a.PortReleased = false;
}

void ReleasePortForExit(AdapterState& a, SerialLines& lines)
{
    if (a.PortOpen) {
        lines.ComClose();
        a.PortReleased = true;
    }
}

void SelectComPort(AdapterState& a, int itemIndex)
{
    a.ComNumber = itemIndex + 1;
    a.PortSettings = BuildPortSettings("COM", a.ComNumber);
}

void SelectChip(AdapterState& a, int item)
{
    a.ChipAddress = item == 0 ? 0x20 : 0x38;
}

std::string BuildPortSettings(const std::string& prefix, int32_t comNumber)
{
    return prefix + std::to_string(comNumber) + ":4800,N,8,1";
}

}  // namespace tavoxa
