// Bit-banged I2C bus master on the modem lines of a serial port: DTR drives SDA, RTS drives SCL,
// CTS reads SDA back. One master, one slave: no clock stretching, no arbitration.
#pragma once

#include <cstdint>

#include "adapter/seriallines.h"

namespace tavoxa {

// The pause between line changes and the clock-high hold. Kept behind an interface so that tests
// and CPU benchmarks can run the bus without waiting.
class BusDelay {
public:
    virtual ~BusDelay() = default;
    virtual void Wait() = 0;
};

// Busy-waits at least 5 microseconds on std::chrono::steady_clock (I2C standard-mode timing).
// A sleep would hand the thread to the scheduler for far longer than the bus needs.
class SteadyBusDelay : public BusDelay {
public:
    void Wait() override;
};

// Tests and CPU benchmarks.
class NoBusDelay : public BusDelay {
public:
    void Wait() override {}
};

// Every line operation of the sequences is carried out, also where the line already has that
// level: a write transaction makes 62 line changes and 2 CTS samples, a read transaction 72 and 9.
class I2cBus {
public:
    I2cBus(SerialLines& lines, BusDelay& delay);

    void I2cDelay();
    // Releases both wires after the port has been opened.
    void I2cIdle();
    void I2cStart();
    void I2cStop();
    // Sends b most significant bit first and samples the slave's acknowledge into AckFlag.
    void I2cWrite(uint8_t b);
    // Clocks one byte in from the slave; the master keeps the data wire released throughout.
    uint8_t I2cRead();
    // Master not-acknowledge after the last byte read; leaves the clock high.
    void I2cNoAck();
    // True when the byte most recently sent by I2cWrite was acknowledged.
    bool I2cAcknowledged() const { return ackFlag_ == 1; }
    int AckFlag() const { return ackFlag_; }

private:
    void Hold() { delay_.Wait(); }
    void Sda(int level) { lines_.ComSetDtr(level); }
    void Scl(int level) { lines_.ComSetRts(level); }

    SerialLines& lines_;
    BusDelay& delay_;
    int ackFlag_ = 0;
};

}  // namespace tavoxa
