// The exchange tick, debouncing and port control against the simulated board.
#include "adapter/exchange.h"

#include <gtest/gtest.h>

#include <vector>

#include "adapter/busevents.h"
#include "adapter/comname.h"
#include "adapter/simboard.h"

namespace tavoxa {
namespace {

// Start-up state: COM 1, PCF 8574, port opened with the "Com" settings text.
struct Adapter {
    Adapter() : bus(board, delay)
    {
        a.PortSettings = BuildPortSettings("Com", a.ComNumber);
        board.Model().SetBusLogEnabled(true);
    }
    bool Open() { return OpenAdapter(a, board, bus); }
    ExchangeResult Tick() { return ExchangeTick(a, m, bus); }
    // Runs ticks until `reads` read ticks have been made; returns the last read tick's result.
    ExchangeResult Reads(int reads)
    {
        ExchangeResult r;
        while (reads > 0) {
            r = Tick();
            if (!a.WritePhase) {
                --reads;
            }
        }
        return r;
    }
    std::vector<BusEvent> TakeLog()
    {
        std::vector<BusEvent> log = board.Model().BusLog();
        board.Model().ClearBusLog();
        return log;
    }
    SimulatedBoard board;
    NoBusDelay delay;
    I2cBus bus;
    AdapterState a;
    Model m;
};

TEST(ExchangeTick, FirstTickWritesRelayByteWithInputPinsHigh)
{
    Adapter t;
    ASSERT_TRUE(t.Open());
    SetRelay(t.m, 0);
    SetRelay(t.m, 2);
    const ExchangeResult r = t.Tick();
    EXPECT_TRUE(t.a.WritePhase);
    EXPECT_EQ(t.TakeLog(),
              (std::vector<BusEvent>{StartEv(), ByteEv(0x40, true), ByteEv(0xC5, true), StopEv()}));
    EXPECT_EQ(t.board.RelayPins(), 0x05);
    EXPECT_TRUE(r.RelayLampsChanged);
    EXPECT_FALSE(r.InputLampsChanged);
    EXPECT_TRUE(r.PortOpen);
    EXPECT_EQ(r.ComNumber, 1);
    // The status shows the previous tick's acknowledge: none yet on the first tick.
    EXPECT_FALSE(r.Acknowledged);

    const ExchangeResult r2 = t.Tick();
    EXPECT_FALSE(t.a.WritePhase);
    EXPECT_EQ(t.TakeLog(),
              (std::vector<BusEvent>{StartEv(), ByteEv(0x41, true), ByteEv(0xC5, false), StopEv()}));
    EXPECT_FALSE(r2.RelayLampsChanged);
    EXPECT_TRUE(r2.Acknowledged);
    EXPECT_TRUE(t.Tick().Acknowledged);
}

TEST(ExchangeTick, Pcf8574AUsesAddresses70And71)
{
    Adapter t;
    SelectChip(t.a, 1);
    EXPECT_EQ(t.a.ChipAddress, 0x38);
    t.board.SetChipAddress(0x38);
    t.Open();
    t.Tick();
    t.Tick();
    EXPECT_EQ(t.TakeLog(),
              (std::vector<BusEvent>{StartEv(), ByteEv(0x70, true), ByteEv(0xC0, true), StopEv(), StartEv(),
                                     ByteEv(0x71, true), ByteEv(0xC0, false), StopEv()}));
    EXPECT_TRUE(t.Tick().Acknowledged);

    SelectChip(t.a, 0);
    EXPECT_EQ(t.a.ChipAddress, 0x20);
    t.Tick();  // a PCF8574A does not answer to 0x40
    EXPECT_FALSE(t.Tick().Acknowledged);
}

TEST(ExchangeTick, OddChipAddressIsUsedCutToEightBits)
{
    Adapter t;
    t.a.ChipAddress = 0x90;  // from a hand-edited configuration file
    t.Open();
    t.Tick();
    t.Tick();
    const std::vector<BusEvent> log = t.TakeLog();
    ASSERT_EQ(log.size(), 8u);
    EXPECT_EQ(log[1].value, 0x20);
    EXPECT_EQ(log[5].value, 0x21);
}

TEST(Debounce, EightEqualReadsTakeAPatternOver)
{
    Adapter t;
    t.Open();
    t.board.SetK1Closed(true);  // reads 0x7F
    for (int i = 1; i <= 7; ++i) {
        const ExchangeResult r = t.Reads(1);
        EXPECT_FALSE(r.InputLampsChanged) << "read " << i;
        EXPECT_FALSE(t.a.K1Closed) << "read " << i;
        EXPECT_EQ(t.a.DebounceCount, i);
    }
    const ExchangeResult r = t.Reads(1);
    EXPECT_TRUE(r.InputLampsChanged);
    EXPECT_TRUE(t.a.K1Closed);
    EXPECT_FALSE(t.a.K2Closed);
    EXPECT_EQ(t.a.DebounceCount, 100);
    EXPECT_EQ(t.a.InputBits, 0x40);

    // Once taken over, every read refreshes the lamps, and the count never wraps.
    for (int i = 0; i < 300; ++i) {
        EXPECT_TRUE(t.Reads(1).InputLampsChanged);
    }
    EXPECT_EQ(t.a.DebounceCount, 100);
}

TEST(Debounce, BouncingPatternNeverArrives)
{
    Adapter t;
    t.Open();
    t.Reads(8);  // both open, 0xFF, held
    ASSERT_EQ(t.a.DebounceCount, 100);
    for (int i = 0; i < 40; ++i) {
        const bool closed = i % 2 == 0;  // reads alternate 0x3F and 0xFF
        t.board.SetK1Closed(closed);
        t.board.SetK2Closed(closed);
        const ExchangeResult r = t.Reads(1);
        EXPECT_EQ(t.a.InputBits, closed ? 0x00 : 0xC0);
        EXPECT_FALSE(r.InputLampsChanged);
        EXPECT_FALSE(t.a.K1Closed);
        EXPECT_FALSE(t.a.K2Closed);
    }
    // A change of either input restarts the count for both.
    t.board.SetK1Closed(true);
    t.board.SetK2Closed(true);
    t.Reads(7);
    t.board.SetK2Closed(false);
    t.Reads(7);
    EXPECT_FALSE(t.a.K1Closed);
    t.Reads(1);
    EXPECT_TRUE(t.a.K1Closed);
    EXPECT_FALSE(t.a.K2Closed);
}

TEST(ExchangeTick, RelayBitsCarryTheLastRawInputLevels)
{
    Adapter t;
    t.Open();
    t.board.SetK2Closed(true);  // reads 0xBF
    t.Reads(1);
    EXPECT_EQ(t.m.RelayBits & 0xC0, 0x80);
    t.Tick();  // write tick: cleared, written as 1, put back
    EXPECT_TRUE(t.a.WritePhase);
    EXPECT_EQ(t.m.RelayBits & 0xC0, 0x80);
    EXPECT_EQ(t.board.Model().Pins() & 0xC0, 0xC0);

    // A byte set by the remote keeps its bits 6 and 7 only until the next tick.
    t.board.SetK1Closed(true);
    t.Reads(1);
    EXPECT_EQ(t.m.RelayBits & 0xC0, 0x00);
    t.m.RelayBits = 0xC3;
    t.Tick();
    EXPECT_EQ(t.m.RelayBits, 0x03);
    EXPECT_EQ(t.board.Model().Pins(), 0xC3);
}

TEST(ExchangeTick, InputLogicRunsAtTheEndOfEveryOpenTick)
{
    Adapter t;
    t.m.RelayMode(0) = ModeK1NorK2;
    t.m.RelayMode(1) = ModeIfK1;
    t.m.RelayMode(2) = ModeK1XorK2;
    t.Open();
    t.Tick();  // write tick: the byte goes out first, then the logic runs
    EXPECT_EQ(t.board.RelayPins(), 0x00);
    EXPECT_EQ(t.m.RelayBits & 0x3F, 0x01);
    t.Tick();
    t.Tick();
    EXPECT_EQ(t.board.RelayPins(), 0x01);

    ToggleRelay(t.m, 2);  // T on an XOR relay is undone by the next tick
    t.Tick();
    EXPECT_FALSE(RelayIsOn(t.m, 2));

    t.board.SetK1Closed(true);
    t.Reads(8);
    EXPECT_EQ(t.m.RelayBits & 0x3F, 0x06);
    t.Tick();
    EXPECT_EQ(t.board.RelayPins(), 0x06);
}

TEST(ExchangeTick, StoppedPortTouchesNothing)
{
    Adapter t;
    t.m.RelayMode(0) = ModeK1NorK2;
    t.m.RelayBits = 0xC2;
    t.board.ResetCounters();
    for (int i = 0; i < 4; ++i) {
        const ExchangeResult r = t.Tick();
        EXPECT_FALSE(r.PortOpen);
        EXPECT_FALSE(r.Acknowledged);
        EXPECT_FALSE(r.RelayLampsChanged);
        EXPECT_FALSE(r.InputLampsChanged);
    }
    EXPECT_EQ(t.m.RelayBits, 0xC2);  // input logic not run, bits 6 and 7 left alone
    EXPECT_EQ(t.board.LineChanges() + t.board.CtsCalls(), 0u);
    EXPECT_FALSE(t.a.WritePhase);  // flipped four times
}

TEST(ExchangeTick, BoardThatDoesNotAnswer)
{
    Adapter t;
    t.board.SetAnswering(false);
    t.Open();
    for (int i = 0; i < 20; ++i) {
        const ExchangeResult r = t.Tick();
        EXPECT_TRUE(r.PortOpen);
        EXPECT_EQ(r.ComNumber, 1);
        EXPECT_FALSE(r.Acknowledged);
    }
    // The bytes read are taken as they come: a released wire reads as both contacts open.
    EXPECT_EQ(t.a.InputBits, 0xC0);
    EXPECT_FALSE(t.a.K1Closed);

    t.board.SetAnswering(true);
    t.Tick();
    EXPECT_TRUE(t.Tick().Acknowledged);
}

TEST(PortControl, StartStopAndStopWhileStopped)
{
    Adapter t;
    EXPECT_TRUE(t.Open());
    EXPECT_TRUE(t.a.PortOpen);
    EXPECT_EQ(t.board.OpenComNumber(), 1);
    t.board.SetK1Closed(true);
    t.Reads(8);
    ASSERT_TRUE(t.a.K1Closed);

    StopAdapter(t.a, t.board);
    EXPECT_FALSE(t.a.PortOpen);
    EXPECT_FALSE(t.board.IsOpen());
    StopAdapter(t.a, t.board);  // nothing more to do
    EXPECT_FALSE(t.a.PortOpen);

    // Stopped: flags and count are kept, so the same pattern is taken over on the first read.
    t.board.SetK2Closed(true);
    t.Reads(3);
    EXPECT_TRUE(t.a.K1Closed);
    EXPECT_FALSE(t.a.K2Closed);
    t.board.SetK2Closed(false);
    EXPECT_TRUE(t.Open());
    EXPECT_TRUE(t.Reads(1).InputLampsChanged);
    EXPECT_TRUE(t.a.K1Closed);
}

TEST(PortControl, ChosenPortIsOpenedAtStart)
{
    Adapter t;
    SelectComPort(t.a, 4);
    EXPECT_EQ(t.a.ComNumber, 5);
    EXPECT_EQ(t.a.PortSettings, "COM5:4800,N,8,1");
    EXPECT_FALSE(t.board.IsOpen());  // choosing a port does not open it
    EXPECT_TRUE(t.Open());
    EXPECT_EQ(t.board.OpenComNumber(), 5);
    const ExchangeResult r = t.Tick();
    EXPECT_TRUE(r.PortOpen);
    EXPECT_EQ(r.ComNumber, 5);
}

TEST(PortControl, Com0FailsAndStaysClosed)
{
    Adapter t;
    SelectComPort(t.a, -1);  // text typed into the COM list
    EXPECT_EQ(t.a.ComNumber, 0);
    EXPECT_EQ(t.a.PortSettings, "COM0:4800,N,8,1");
    t.board.ResetCounters();
    EXPECT_FALSE(t.Open());
    EXPECT_FALSE(t.a.PortOpen);
    EXPECT_EQ(t.board.LineChanges(), 2u);  // I2cIdle runs whether or not the port opened
    const ExchangeResult r = t.Tick();
    EXPECT_FALSE(r.PortOpen);
    EXPECT_EQ(r.ComNumber, 0);
}

TEST(PortControl, ReleasedPortGetsNoBusOperationUntilStop)
{
    Adapter t;
    t.m.RelayMode(0) = ModeK1NorK2;
    t.Open();
    t.Tick();
    t.Tick();
    ReleasePortForExit(t.a, t.board);
    EXPECT_TRUE(t.a.PortOpen);
    EXPECT_TRUE(t.a.PortReleased);
    EXPECT_FALSE(t.board.IsOpen());

    t.board.ResetCounters();
    t.m.RelayBits = 0xC0;
    for (int i = 0; i < 4; ++i) {
        const ExchangeResult r = t.Tick();
        EXPECT_TRUE(r.PortOpen);
        EXPECT_EQ(r.ComNumber, 1);
        EXPECT_FALSE(r.Acknowledged);
        EXPECT_FALSE(r.RelayLampsChanged);
        EXPECT_FALSE(r.InputLampsChanged);
    }
    EXPECT_EQ(t.board.LineChanges() + t.board.CtsCalls(), 0u);
    EXPECT_EQ(t.m.RelayBits, 0xC0);

    StopAdapter(t.a, t.board);
    EXPECT_FALSE(t.a.PortOpen);
    EXPECT_FALSE(t.a.PortReleased);
    EXPECT_TRUE(t.Open());
    t.Tick();
    t.Tick();
    EXPECT_TRUE(t.Tick().Acknowledged);

    StopAdapter(t.a, t.board);
    ReleasePortForExit(t.a, t.board);  // nothing open: nothing released
    EXPECT_FALSE(t.a.PortReleased);
}

TEST(PortSettingsText, BuiltAndParsed)
{
    EXPECT_EQ(BuildPortSettings("Com", 1), "Com1:4800,N,8,1");
    EXPECT_EQ(BuildPortSettings("COM", 8), "COM8:4800,N,8,1");
    EXPECT_EQ(ComNumberFromSettings("Com3:4800,N,8,1"), 3);
    EXPECT_EQ(ComNumberFromSettings("cOm8:4800,N,8,1"), 8);
    EXPECT_EQ(ComNumberFromSettings("COM2"), 2);
    for (const char* bad : {"COM0:4800,N,8,1", "COM9:4800,N,8,1", "COM-1:4800,N,8,1", "COM12:4800,N,8,1",
                            "COM:4800", "LPT1:4800,N,8,1", ""}) {
        EXPECT_EQ(ComNumberFromSettings(bad), 0) << bad;
    }
}

}  // namespace
}  // namespace tavoxa
