#include "adapter/pcf8574.h"

namespace tavoxa {

Pcf8574Model::Pcf8574Model(uint8_t address7) : address7_(address7) {}

uint8_t Pcf8574Model::PortLevels() const
{
    return static_cast<uint8_t>(pins_ & ~contacts_);
}

void Pcf8574Model::SetContactClosed(int input, bool closed)
{
    const uint8_t pin = input == 1 ? kK1Pin : input == 2 ? kK2Pin : 0;
    if (closed) {
        contacts_ |= pin;
    } else {
        contacts_ &= static_cast<uint8_t>(~pin);
    }
}

bool Pcf8574Model::ContactClosed(int input) const
{
    const uint8_t pin = input == 1 ? kK1Pin : input == 2 ? kK2Pin : 0;
    return (contacts_ & pin) != 0;
}

void Pcf8574Model::SetPowered(bool powered)
{
    if (powered && !powered_) {
        pins_ = 0xFF;
    }
    powered_ = powered;
    phase_ = Phase::Idle;
    chipDrivesLow_ = false;
}

void Pcf8574Model::SetLines(bool sdaFromMaster, bool scl)
{
    // Both lines changing in one call: a falling clock goes first and a rising clock last, so the
    // data change never counts as a START or STOP.
    if (scl_ && !scl) {
        scl_ = false;
        SclFell();
    }
    if (sdaFromMaster != masterSda_) {
        const bool oldWire = SdaLevel();
        masterSda_ = sdaFromMaster;
        SdaChanged(oldWire, SdaLevel());
    }
    if (!scl_ && scl) {
        scl_ = true;
        SclRose();
    }
}

void Pcf8574Model::SdaChanged(bool oldWire, bool newWire)
{
    if (!scl_ || oldWire == newWire) {
        return;
    }
    if (newWire) {
        OnStop();
    } else {
        OnStart();
    }
}

void Pcf8574Model::OnStart()
{
    Log(BusEvent::Start);
    monActive_ = true;
    monBit_ = 0;
    monShift_ = 0;
    if (!powered_) {
        return;
    }
    // A repeated START aborts whatever the chip was doing.
    phase_ = Phase::Receiving;
    addressByte_ = true;
    bit_ = 0;
    shift_ = 0;
    chipDrivesLow_ = false;
}

void Pcf8574Model::OnStop()
{
    Log(BusEvent::Stop);
    monActive_ = false;
    phase_ = Phase::Idle;
    chipDrivesLow_ = false;
}

void Pcf8574Model::SclRose()
{
    const bool wire = SdaLevel();
    if (monActive_) {
        if (monBit_ < 8) {
            monShift_ = static_cast<uint8_t>((monShift_ << 1) | (wire ? 1 : 0));
            ++monBit_;
        } else {
            Log(BusEvent::Byte, monShift_, !wire);
            monBit_ = 0;
            monShift_ = 0;
        }
    }

    if (phase_ != Phase::Receiving && phase_ != Phase::Transmitting) {
        return;
    }
    ++bit_;
    if (bit_ <= 8) {
        if (phase_ == Phase::Receiving) {
            shift_ = static_cast<uint8_t>((shift_ << 1) | (wire ? 1 : 0));
        }
    } else if (bit_ == 9 && phase_ == Phase::Transmitting) {
        masterAcked_ = !wire;
    }
}

void Pcf8574Model::SclFell()
{
    if (phase_ != Phase::Receiving && phase_ != Phase::Transmitting) {
        return;
    }
    if (bit_ == 8) {
        // Eight bits done: the receiver of the byte answers on the ninth clock.
        if (phase_ == Phase::Transmitting) {
            chipDrivesLow_ = false;  // the master acknowledges or not
            return;
        }
        if (addressByte_) {
            if ((shift_ >> 1) != address7_) {
                phase_ = Phase::Ignoring;  // someone else's address: wait for the next START
                return;
            }
            readAfterAck_ = (shift_ & 1) != 0;
        }
        chipDrivesLow_ = true;
        return;
    }
    if (bit_ == 9) {
        // End of the acknowledge clock.
        bit_ = 0;
        chipDrivesLow_ = false;
        if (phase_ == Phase::Receiving) {
            if (addressByte_) {
                addressByte_ = false;
                if (readAfterAck_) {
                    phase_ = Phase::Transmitting;
                    outByte_ = PortLevels();
                    chipDrivesLow_ = (outByte_ & 0x80) == 0;
                }
            } else {
                // The outputs change once the byte has been acknowledged.
                pins_ = shift_;
                ++latchCount_;
            }
            shift_ = 0;
        } else if (masterAcked_) {
            outByte_ = PortLevels();
            chipDrivesLow_ = (outByte_ & 0x80) == 0;
        } else {
            phase_ = Phase::Ignoring;  // not acknowledged: the chip stops sending
        }
        return;
    }
    if (phase_ == Phase::Transmitting && bit_ >= 1 && bit_ < 8) {
        chipDrivesLow_ = (outByte_ & (0x80 >> bit_)) == 0;
    }
}

void Pcf8574Model::Log(BusEvent::Kind kind, uint8_t value, bool acked)
{
    if (busLogEnabled_) {
        busLog_.push_back(BusEvent{kind, value, acked});
    }
}

}  // namespace tavoxa
