#include "adapter/simboard.h"

namespace tavoxa {

int SimulatedBoard::ComOpen(int comNumber)
{
    bool changed = false;
    {
        const Lock lock(mutex_);
        ++openAttempts_;
        comNumber_ = comNumber >= 1 && comNumber <= 8 ? comNumber : 0;
        if (comNumber_ == 0) {
            return 0;
        }
        // Opening a serial port raises DTR and RTS, which is also the idle bus.
        dtr_ = true;
        rts_ = true;
        changed = Drive();
    }
    ReportPins(changed);
    return 1;
}

void SimulatedBoard::ComClose()
{
    const Lock lock(mutex_);
    comNumber_ = 0;  // the lines keep their levels, as on a port with hang-up on close cleared
}

void SimulatedBoard::ComSetDtr(int on)
{
    bool changed = false;
    {
        const Lock lock(mutex_);
        ++dtrCalls_;
        if (comNumber_ == 0) {
            return;
        }
        dtr_ = on != 0;
        if (lineLogEnabled_) {
            lineLog_.push_back(LineEvent{LineEvent::Dtr, dtr_ ? 1 : 0});
        }
        changed = Drive();
    }
    ReportPins(changed);
}

void SimulatedBoard::ComSetRts(int on)
{
    bool changed = false;
    {
        const Lock lock(mutex_);
        ++rtsCalls_;
        if (comNumber_ == 0) {
            return;
        }
        rts_ = on != 0;
        if (lineLogEnabled_) {
            lineLog_.push_back(LineEvent{LineEvent::Rts, rts_ ? 1 : 0});
        }
        changed = Drive();
    }
    ReportPins(changed);
}

int SimulatedBoard::ComGetCts()
{
    const Lock lock(mutex_);
    ++ctsCalls_;
    if (comNumber_ == 0) {
        return 1;
    }
    const int level = chip_.SdaLevel() ? 1 : 0;
    if (lineLogEnabled_) {
        lineLog_.push_back(LineEvent{LineEvent::Cts, level});
    }
    return level;
}

void SimulatedBoard::ResetCounters()
{
    const Lock lock(mutex_);
    dtrCalls_ = 0;
    rtsCalls_ = 0;
    ctsCalls_ = 0;
}

void SimulatedBoard::SetAnswering(bool answering)
{
    bool changed = false;
    {
        const Lock lock(mutex_);
        const uint8_t before = chip_.Pins();
        chip_.SetPowered(answering);
        changed = chip_.Pins() != before;
    }
    ReportPins(changed);
}

bool SimulatedBoard::Drive()
{
    const uint8_t before = chip_.Pins();
    chip_.SetLines(dtr_, rts_);
    return chip_.Pins() != before;
}

void SimulatedBoard::ReportPins(bool changed)
{
    if (!changed)
        return;
    std::function<void()> callback;
    {
        const Lock lock(mutex_);
        callback = onPinsChanged_;
    }
    if (callback)
        callback();
}

}  // namespace tavoxa
