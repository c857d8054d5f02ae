// The PCF8574 / PCF8574A port expander as it behaves on the wire, for the simulated board and the
// emulated serial device of the tests. Plain C++: no Qt, so it also builds into a preload shim.
#pragma once

#include <cstdint>
#include <vector>

namespace tavoxa {

// What a bus monitor sees between the chip and the master, whoever is addressed.
struct BusEvent {
    enum Kind : uint8_t { Start, Byte, Stop };
    Kind kind = Start;
    uint8_t value = 0;   // Byte: the eight bits on the wire
    bool acked = false;  // Byte: the data wire was low on the ninth clock
    bool operator==(const BusEvent& o) const
    {
        return kind == o.kind && value == o.value && acked == o.acked;
    }
};

class Pcf8574Model {
public:
    // Pins K1 and K2 of the relay board.
    static constexpr uint8_t kK1Pin = 0x80;
    static constexpr uint8_t kK2Pin = 0x40;

    explicit Pcf8574Model(uint8_t address7 = 0x20);

    void SetAddress(uint8_t address7) { address7_ = address7; }
    uint8_t Address() const { return address7_; }

    // The master's levels, called after every line change (true = high). Decodes START, the
    // address, data bits, the acknowledge and STOP.
    void SetLines(bool sdaFromMaster, bool scl);
    // The data wire as CTS reads it: the master's level AND the chip's own drive (ack, read data).
    bool SdaLevel() const { return masterSda_ && !chipDrivesLow_; }
    bool SclLevel() const { return scl_; }

    // Latched output byte. The pins are quasi-bidirectional: a 1 is a weak pull-up that an input
    // contact can pull low, which is why the exchange always writes bits 6 and 7 as 1.
    uint8_t Pins() const { return pins_; }
    // The byte a read transaction returns: latched pins with closed contacts pulling theirs low.
    uint8_t PortLevels() const;

    // input 1 = K1 (pin 7), 2 = K2 (pin 6); closed pulls the pin low.
    void SetContactClosed(int input, bool closed);
    bool ContactClosed(int input) const;

    // An unpowered (or unplugged) chip gives no answer at all and never drives the data wire.
    // Powering up again is a power-on reset: all pins high, bus logic idle.
    void SetPowered(bool powered);
    bool Powered() const { return powered_; }

    // Number of data bytes latched on the pins since construction.
    uint32_t LatchCount() const { return latchCount_; }

    // Bus monitor, off by default so that a long-running simulation does not grow a log.
    void SetBusLogEnabled(bool on) { busLogEnabled_ = on; }
    const std::vector<BusEvent>& BusLog() const { return busLog_; }
    void ClearBusLog() { busLog_.clear(); }

private:
    enum class Phase : uint8_t { Idle, Receiving, Transmitting, Ignoring };

    void SdaChanged(bool oldWire, bool newWire);
    void SclRose();
    void SclFell();
    void OnStart();
    void OnStop();
    void Log(BusEvent::Kind kind, uint8_t value = 0, bool acked = false);

    uint8_t address7_;
    bool powered_ = true;
    bool masterSda_ = true;
    bool scl_ = true;
    bool chipDrivesLow_ = false;
    uint8_t pins_ = 0xFF;
    uint8_t contacts_ = 0;  // pins pulled low by closed contacts
    uint32_t latchCount_ = 0;

    // Chip side of the protocol.
    Phase phase_ = Phase::Idle;
    int bit_ = 0;  // clock pulses of the current byte seen so far, 9 = acknowledge clock
    uint8_t shift_ = 0;
    bool addressByte_ = false;
    bool readAfterAck_ = false;  // address acknowledged with the read bit set
    bool masterAcked_ = false;   // master's answer on the ninth clock of a read byte
    uint8_t outByte_ = 0;

    // Monitor side.
    bool monActive_ = false;
    int monBit_ = 0;
    uint8_t monShift_ = 0;
    bool busLogEnabled_ = false;
    std::vector<BusEvent> busLog_;
};

}  // namespace tavoxa
