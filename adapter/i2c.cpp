#include "adapter/i2c.h"

#include <chrono>

namespace tavoxa {

namespace {
// Standard-mode I2C: clock low and high phases of at least 4.7 and 4.0 microseconds.
constexpr std::chrono::microseconds kBusPause{5};
}  // namespace

void SteadyBusDelay::Wait()
{
    const auto end = std::chrono::steady_clock::now() + kBusPause;
    while (std::chrono::steady_clock::now() < end) {
    }
}

I2cBus::I2cBus(SerialLines& lines, BusDelay& delay) : lines_(lines), delay_(delay) {}

void I2cBus::I2cDelay()
{
    delay_.Wait();
}

void I2cBus::I2cIdle()
{
    Scl(1);
    Sda(1);
}

void I2cBus::I2cStart()
{
    I2cDelay();
    Sda(0);  // data falls while the clock is high
    I2cDelay();
    Scl(0);
}

void I2cBus::I2cStop()
{
    I2cDelay();
    Scl(0);  // after I2cNoAck the clock is still high: pull it low before moving the data wire
    Sda(0);
    I2cDelay();
    Scl(1);
    I2cDelay();
    Sda(1);  // data rises while the clock is high
}

void I2cBus::I2cWrite(uint8_t b)
{
    for (uint8_t mask = 0x80; mask != 0; mask >>= 1) {
        I2cDelay();
        Sda((b & mask) == mask ? 1 : 0);
        I2cDelay();
        Scl(1);
        Hold();
        Scl(0);
    }
    // Ninth clock: the slave acknowledges by holding the released data wire low.
    I2cDelay();
    Scl(0);
    Sda(1);
    I2cDelay();
    Scl(1);
    Hold();
    ackFlag_ = lines_.ComGetCts() ? 0 : 1;
    I2cDelay();
    Scl(0);
}

uint8_t I2cBus::I2cRead()
{
    I2cDelay();
    Scl(0);
    Sda(1);
    uint8_t result = 0;
    for (uint8_t mask = 0x80; mask != 0; mask >>= 1) {
        I2cDelay();
        Scl(1);
        Sda(1);
        Hold();
        if (lines_.ComGetCts()) {
            result |= mask;
        }
        I2cDelay();
        Scl(0);
        Sda(1);
    }
    return result;
}

void I2cBus::I2cNoAck()
{
    I2cDelay();
    Scl(0);
    Sda(1);  // data high on the ninth clock: the slave stops sending
    I2cDelay();
    Scl(1);
    Hold();
    Scl(1);
}

}  // namespace tavoxa
