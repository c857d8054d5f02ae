#include "adapter/simboard.h"

namespace tavoxa {

int SimulatedBoard::ComOpen(int comNumber)
{
    comNumber_ = comNumber >= 1 && comNumber <= 8 ? comNumber : 0;
    if (comNumber_ == 0) {
        return 0;
    }
    // Opening a serial port raises DTR and RTS, which is also the idle bus.
    dtr_ = true;
    rts_ = true;
    Drive();
    return 1;
}

void SimulatedBoard::ComClose()
{
    comNumber_ = 0;  // the lines keep their levels, as on a port with hang-up on close cleared
}

void SimulatedBoard::ComSetDtr(int on)
{
    ++dtrCalls_;
    if (!IsOpen()) {
        return;
    }
    dtr_ = on != 0;
    if (lineLogEnabled_) {
        lineLog_.push_back(LineEvent{LineEvent::Dtr, dtr_ ? 1 : 0});
    }
    Drive();
}

void SimulatedBoard::ComSetRts(int on)
{
    ++rtsCalls_;
    if (!IsOpen()) {
        return;
    }
    rts_ = on != 0;
    if (lineLogEnabled_) {
        lineLog_.push_back(LineEvent{LineEvent::Rts, rts_ ? 1 : 0});
    }
    Drive();
}

int SimulatedBoard::ComGetCts()
{
    ++ctsCalls_;
    if (!IsOpen()) {
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
    dtrCalls_ = 0;
    rtsCalls_ = 0;
    ctsCalls_ = 0;
}

void SimulatedBoard::SetAnswering(bool answering)
{
    const uint8_t before = chip_.Pins();
    chip_.SetPowered(answering);
    if (chip_.Pins() != before && OnPinsChanged) {
        OnPinsChanged();
    }
}

void SimulatedBoard::Drive()
{
    const uint8_t before = chip_.Pins();
    chip_.SetLines(dtr_, rts_);
    if (chip_.Pins() != before && OnPinsChanged) {
        OnPinsChanged();
    }
}

}  // namespace tavoxa
