#include "adapter/exchange.h"

#include "engine/hardware.h"
#include "engine/inputlogic.h"

namespace tavoxa {

ExchangeResult ExchangeTick(AdapterState& a, Model& m, I2cBus& bus)
{
    ExchangeResult r;
    // Writing and reading on alternate ticks keeps each tick to one short transaction, so the
    // user-interface thread is never blocked for long; the inputs are still read every 40 ms.
    a.WritePhase = !a.WritePhase;
    // A released port has had no transaction since it was closed: the last acknowledge is stale.
    r.Acknowledged = bus.I2cAcknowledged() && a.PortOpen && !a.PortReleased;
    r.PortOpen = a.PortOpen;
    r.ComNumber = a.ComNumber;
    if (!a.PortOpen || a.PortReleased) {
        return r;  // a released port was closed at exit: nothing may touch it until STOP
    }

    m.RelayBits &= static_cast<uint8_t>(~kInputMask);
    if (a.WritePhase) {
        WriteTransaction(bus, a.ChipAddress, m.RelayBits);
        r.RelayLampsChanged = true;
    } else {
        InputDebounce d{a.InputBits, a.DebounceCount, a.K1Closed, a.K2Closed};
        r.InputLampsChanged = DebounceRead(d, ReadTransaction(bus, a.ChipAddress));
        a.InputBits = d.InputBits;
        a.DebounceCount = d.Count;
        a.K1Closed = d.K1Closed;
        a.K2Closed = d.K2Closed;
    }
    m.RelayBits |= a.InputBits;
    ApplyInputLogic(m, a.K1Closed, a.K2Closed);
    return r;
}

bool OpenAdapter(AdapterState& a, SerialLines& lines, I2cBus& bus)
{
    if (lines.ComOpen(ComNumberFromSettings(a.PortSettings)) == 1) {
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
    a.ChipAddress = ChipAddressOfItem(item);
}

}  // namespace tavoxa
