// The simulated board: the PCF8574 on the wire, and the COM ports it stands behind.
#include "adapter/simboard.h"

#include <gtest/gtest.h>

#include <vector>

#include "adapter/busevents.h"
#include "adapter/i2c.h"
#include "adapter/pcf8574.h"

namespace tavoxa {
namespace {

struct Rig {
    Rig() : bus(board, delay)
    {
        board.ComOpen(1);
        bus.I2cIdle();
        board.Model().SetBusLogEnabled(true);
    }
    void Write(uint8_t address, uint8_t data)
    {
        bus.I2cStart();
        bus.I2cWrite(address);
        bus.I2cWrite(data);
        bus.I2cStop();
    }
    uint8_t Read(uint8_t address)
    {
        bus.I2cStart();
        bus.I2cWrite(address);
        const uint8_t b = bus.I2cRead();
        bus.I2cNoAck();
        bus.I2cStop();
        return b;
    }
    SimulatedBoard board;
    NoBusDelay delay;
    I2cBus bus;
};

TEST(Pcf8574, LatchesBytesWrittenToItsOwnAddressOnly)
{
    Rig r;
    r.Write(0x40, 0xC5);
    EXPECT_TRUE(r.bus.I2cAcknowledged());
    EXPECT_EQ(r.board.Model().Pins(), 0xC5);
    EXPECT_EQ(r.board.RelayPins(), 0x05);
    EXPECT_EQ(r.board.Model().BusLog(),
              (std::vector<BusEvent>{StartEv(), ByteEv(0x40, true), ByteEv(0xC5, true), StopEv()}));

    r.Write(0x42, 0x00);  // another chip's address: no answer, pins kept
    EXPECT_FALSE(r.bus.I2cAcknowledged());
    EXPECT_EQ(r.board.Model().Pins(), 0xC5);
    EXPECT_EQ(r.board.Model().LatchCount(), 1u);
}

TEST(Pcf8574, ReadGivesPinLevelsWithClosedContactsPullingLow)
{
    Rig r;
    r.Write(0x40, 0xC5);
    EXPECT_EQ(r.Read(0x41), 0xC5);
    EXPECT_TRUE(r.bus.I2cAcknowledged());  // the address byte

    r.board.SetK1Closed(true);
    EXPECT_EQ(r.Read(0x41), 0x45);
    r.board.SetK2Closed(true);
    EXPECT_EQ(r.Read(0x41), 0x05);
    r.board.SetK1Closed(false);
    EXPECT_EQ(r.Read(0x41), 0x85);
    // A pin written low reads low whatever its contact does: why the exchange writes bits 6, 7 as 1.
    r.board.SetK2Closed(false);
    r.Write(0x40, 0x05);
    EXPECT_EQ(r.Read(0x41), 0x05);

    r.board.Model().ClearBusLog();
    r.Read(0x41);
    EXPECT_EQ(r.board.Model().BusLog(),
              (std::vector<BusEvent>{StartEv(), ByteEv(0x41, true), ByteEv(0x05, false), StopEv()}));
}

TEST(Pcf8574, ChipTypeAddresses)
{
    Rig r;
    r.board.SetChipAddress(0x38);
    r.Write(0x40, 0x00);
    EXPECT_FALSE(r.bus.I2cAcknowledged());
    r.Write(0x70, 0xC1);
    EXPECT_TRUE(r.bus.I2cAcknowledged());
    EXPECT_EQ(r.board.RelayPins(), 0x01);
    r.board.SetK1Closed(true);
    EXPECT_EQ(r.Read(0x71), 0x41);
    EXPECT_TRUE(r.bus.I2cAcknowledged());
}

TEST(Pcf8574, UnpoweredChipNeverAnswersAndResetsOnPowerUp)
{
    Rig r;
    r.Write(0x40, 0xC0);
    r.board.SetAnswering(false);
    r.board.SetK1Closed(true);
    r.Write(0x40, 0xFF);
    EXPECT_FALSE(r.bus.I2cAcknowledged());
    EXPECT_EQ(r.Read(0x41), 0xFF);  // the released wire reads high
    EXPECT_FALSE(r.bus.I2cAcknowledged());
    EXPECT_EQ(r.board.Model().Pins(), 0xC0);

    r.board.SetAnswering(true);
    EXPECT_EQ(r.board.Model().Pins(), 0xFF);  // power-on reset
    r.Write(0x40, 0xC2);
    EXPECT_TRUE(r.bus.I2cAcknowledged());
    EXPECT_EQ(r.board.RelayPins(), 0x02);
}

// Drives the chip model directly, one master level pair at a time.
void Clock(Pcf8574Model& c, bool sda)
{
    c.SetLines(sda, false);
    c.SetLines(sda, true);
    c.SetLines(sda, false);
}
void SendByte(Pcf8574Model& c, uint8_t b)
{
    for (int i = 7; i >= 0; --i) {
        Clock(c, ((b >> i) & 1) != 0);
    }
}
bool AckClock(Pcf8574Model& c)
{
    c.SetLines(true, false);
    c.SetLines(true, true);
    const bool acked = !c.SdaLevel();
    c.SetLines(true, false);
    return acked;
}

TEST(Pcf8574, SeveralBytesInOneWriteAndRepeatedStart)
{
    Pcf8574Model c;
    c.SetLines(true, true);
    c.SetLines(false, true);  // START
    SendByte(c, 0x40);
    EXPECT_TRUE(AckClock(c));
    SendByte(c, 0x11);
    EXPECT_TRUE(AckClock(c));
    EXPECT_EQ(c.Pins(), 0x11);
    SendByte(c, 0x22);
    EXPECT_TRUE(AckClock(c));
    EXPECT_EQ(c.Pins(), 0x22);
    EXPECT_EQ(c.LatchCount(), 2u);

    // Repeated START in the middle of a byte: the next byte is an address again.
    Clock(c, true);
    Clock(c, false);
    c.SetLines(true, false);
    c.SetLines(true, true);
    c.SetLines(false, true);
    SendByte(c, 0x42);  // not this chip
    EXPECT_FALSE(AckClock(c));
    SendByte(c, 0x00);
    EXPECT_FALSE(AckClock(c));
    EXPECT_EQ(c.Pins(), 0x22);
}

TEST(Pcf8574, MasterAcknowledgeGetsAnotherByteAndNoAckEndsTheRead)
{
    Pcf8574Model c;
    c.SetBusLogEnabled(true);
    c.SetContactClosed(2, true);
    c.SetLines(true, true);
    c.SetLines(false, true);
    SendByte(c, 0x41);
    EXPECT_TRUE(AckClock(c));
    auto readByte = [&c]() {
        uint8_t b = 0;
        for (int i = 0; i < 8; ++i) {
            c.SetLines(true, true);
            b = static_cast<uint8_t>((b << 1) | (c.SdaLevel() ? 1 : 0));
            c.SetLines(true, false);
        }
        return b;
    };
    EXPECT_EQ(readByte(), 0xBF);
    Clock(c, false);  // master acknowledges
    EXPECT_EQ(readByte(), 0xBF);
    Clock(c, true);               // master does not
    EXPECT_EQ(readByte(), 0xFF);  // the chip has let go of the wire
    EXPECT_TRUE(c.SdaLevel());
}

TEST(Pcf8574, DataChangeTogetherWithClockIsNoStartOrStop)
{
    Pcf8574Model c;
    c.SetBusLogEnabled(true);
    c.SetLines(true, true);
    c.SetLines(false, true);  // START
    c.SetLines(true, false);  // clock falls first, then data rises: no STOP
    c.SetLines(false, true);  // data falls first, then clock rises: a 0 bit, no START
    EXPECT_EQ(c.BusLog(), (std::vector<BusEvent>{StartEv()}));
}

TEST(SimulatedBoard, OpensCom1ToCom8Only)
{
    SimulatedBoard board;
    EXPECT_EQ(board.ComOpen(3), 1);
    EXPECT_EQ(board.OpenComNumber(), 3);
    EXPECT_EQ(board.ComOpen(8), 1);
    EXPECT_EQ(board.OpenComNumber(), 8);
    for (int bad : {0, 9, 12, -1}) {
        EXPECT_EQ(board.ComOpen(bad), 0) << bad;
        EXPECT_FALSE(board.IsOpen()) << bad;
    }
}

TEST(SimulatedBoard, ClosedPortReadsCtsHighAndMovesNothing)
{
    SimulatedBoard board;
    int changes = 0;
    board.SetOnPinsChanged([&changes]() { ++changes; });
    NoBusDelay delay;
    I2cBus bus(board, delay);
    board.ComOpen(1);
    bus.I2cIdle();
    bus.I2cStart();
    bus.I2cWrite(0x40);
    bus.I2cWrite(0xC3);
    bus.I2cStop();
    EXPECT_EQ(changes, 1);
    board.ComClose();

    EXPECT_EQ(board.ComGetCts(), 1);
    bus.I2cStart();
    bus.I2cWrite(0x40);
    bus.I2cWrite(0xC0);
    bus.I2cStop();
    EXPECT_FALSE(bus.I2cAcknowledged());
    EXPECT_EQ(board.RelayPins(), 0x03);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(board.LineChanges(), 2u + 62u + 62u);  // calls are counted all the same
}

}  // namespace
}  // namespace tavoxa
