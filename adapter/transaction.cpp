#include "adapter/transaction.h"

#include "engine/hardware.h"

namespace tavoxa {

namespace {
constexpr uint8_t kDebounceHeld = 100;  // above the threshold, so the count never wraps
}  // namespace

uint8_t WriteTransaction(I2cBus& bus, uint8_t chipAddress, uint8_t relayByte)
{
    const auto wire = static_cast<uint8_t>(relayByte | kInputMask);
    bus.I2cStart();
    bus.I2cWrite(static_cast<uint8_t>(chipAddress * 2));
    bus.I2cWrite(wire);
    bus.I2cStop();
    return wire;
}

uint8_t ReadTransaction(I2cBus& bus, uint8_t chipAddress)
{
    bus.I2cStart();
    bus.I2cWrite(static_cast<uint8_t>(chipAddress * 2 + 1));
    const uint8_t b = bus.I2cRead();
    bus.I2cNoAck();
    bus.I2cStop();
    return b;
}

bool DebounceRead(InputDebounce& d, uint8_t portByte)
{
    const auto pattern = static_cast<uint8_t>(portByte & kInputMask);
    if (pattern != d.InputBits) {
        d.Count = 0;
    }
    d.InputBits = pattern;
    ++d.Count;
    if (d.Count < kDebounceReads) {
        return false;
    }
    d.Count = kDebounceHeld;
    d.K1Closed = (pattern & kK1Mask) == 0;
    d.K2Closed = (pattern & kK2Mask) == 0;
    return true;
}

}  // namespace tavoxa
