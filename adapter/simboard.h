// A relay board that needs no hardware: a PCF8574 model behind every COM port, driven by the same
// serial-lines calls as the real port. Used by tavoxa-sim, the tests and the benchmarks.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "adapter/pcf8574.h"
#include "adapter/seriallines.h"

namespace tavoxa {

// One recorded call on the serial lines.
struct LineEvent {
    enum Line : uint8_t { Dtr, Rts, Cts };
    Line line = Dtr;
    int level = 0;  // level set, or CTS as read
    bool operator==(const LineEvent& o) const { return line == o.line && level == o.level; }
};

// Threads: the bus worker drives the lines from its thread while the board window and tests read
// and set the contacts from theirs; every member takes the board's lock. The pins-changed callback runs on
// the driving thread, after the lock is released.
class SimulatedBoard : public SerialLines {
    using Lock = std::lock_guard<std::recursive_mutex>;

public:
    SimulatedBoard() = default;

    // 1 for COM1..COM8, 0 otherwise.
    int ComOpen(int comNumber) override;
    void ComClose() override;
    void ComSetDtr(int on) override;
    void ComSetRts(int on) override;
    // The data wire while a port is open; 1 with no port, as a real port whose lines cannot be read.
    int ComGetCts() override;

    bool IsOpen() const
    {
        const Lock lock(mutex_);
        return comNumber_ != 0;
    }
    int OpenComNumber() const
    {
        const Lock lock(mutex_);
        return comNumber_;
    }  // 0 while closed
    // Every ComOpen so far, failed ones too.
    int OpenAttempts() const
    {
        const Lock lock(mutex_);
        return openAttempts_;
    }

    // Every call counts, open port or not, so a test can prove that nothing touched the lines.
    uint64_t DtrCalls() const
    {
        const Lock lock(mutex_);
        return dtrCalls_;
    }
    uint64_t RtsCalls() const
    {
        const Lock lock(mutex_);
        return rtsCalls_;
    }
    uint64_t CtsCalls() const
    {
        const Lock lock(mutex_);
        return ctsCalls_;
    }
    uint64_t LineChanges() const
    {
        const Lock lock(mutex_);
        return dtrCalls_ + rtsCalls_;
    }
    void ResetCounters();

    // Waveform log of the calls made while a port is open; off by default.
    void SetLineLogEnabled(bool on) { lineLogEnabled_ = on; }
    const std::vector<LineEvent>& LineLog() const { return lineLog_; }
    void ClearLineLog() { lineLog_.clear(); }

    void SetK1Closed(bool closed)
    {
        const Lock lock(mutex_);
        chip_.SetContactClosed(1, closed);
    }
    void SetK2Closed(bool closed)
    {
        const Lock lock(mutex_);
        chip_.SetContactClosed(2, closed);
    }
    bool K1Closed() const
    {
        const Lock lock(mutex_);
        return chip_.ContactClosed(1);
    }
    bool K2Closed() const
    {
        const Lock lock(mutex_);
        return chip_.ContactClosed(2);
    }
    // The relay pins, bits 0..5 (1 = relay on).
    uint8_t RelayPins() const
    {
        const Lock lock(mutex_);
        return static_cast<uint8_t>(chip_.Pins() & 0x3F);
    }

    // Which chip type is fitted: 0x20 for a PCF8574, 0x38 for a PCF8574A.
    void SetChipAddress(uint8_t address7)
    {
        const Lock lock(mutex_);
        chip_.SetAddress(address7);
    }
    // A board that is unplugged or unpowered does not answer at all.
    void SetAnswering(bool answering);

    Pcf8574Model& Model() { return chip_; }
    const Pcf8574Model& Model() const { return chip_; }

    // Called whenever the latched pins change, e.g. to repaint the board window.
    void SetOnPinsChanged(std::function<void()> callback)
    {
        const Lock lock(mutex_);
        onPinsChanged_ = std::move(callback);
    }

private:
    // Moves the chip to the line levels; true when its pins changed.
    bool Drive();
    void ReportPins(bool changed);

    mutable std::recursive_mutex mutex_;
    std::function<void()> onPinsChanged_;

    Pcf8574Model chip_;
    int comNumber_ = 0;
    int openAttempts_ = 0;
    bool dtr_ = true;
    bool rts_ = true;
    uint64_t dtrCalls_ = 0;
    uint64_t rtsCalls_ = 0;
    uint64_t ctsCalls_ = 0;
    bool lineLogEnabled_ = false;
    std::vector<LineEvent> lineLog_;
};

}  // namespace tavoxa
