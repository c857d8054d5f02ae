// The bus master's line sequences, checked on the simulated board and on scripted lines.
#include "adapter/i2c.h"

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <vector>

#include "adapter/simboard.h"

namespace tavoxa {
namespace {

// Serial lines that record every call and answer CTS from a script (1 once the script is used up).
class ScriptedLines : public SerialLines {
public:
    int ComOpen(int) override { return 1; }
    void ComClose() override {}
    void ComSetDtr(int on) override { log.push_back({LineEvent::Dtr, on ? 1 : 0}); }
    void ComSetRts(int on) override { log.push_back({LineEvent::Rts, on ? 1 : 0}); }
    int ComGetCts() override
    {
        int level = 1;
        if (!cts.empty()) {
            level = cts.front();
            cts.pop_front();
        }
        log.push_back({LineEvent::Cts, level});
        return level;
    }
    std::deque<int> cts;
    std::vector<LineEvent> log;
};

LineEvent Dtr(int level)
{
    return {LineEvent::Dtr, level};
}
LineEvent Rts(int level)
{
    return {LineEvent::Rts, level};
}
LineEvent Cts(int level)
{
    return {LineEvent::Cts, level};
}

struct OpenBoard {
    OpenBoard() : bus(board, delay)
    {
        EXPECT_EQ(board.ComOpen(1), 1);
        bus.I2cIdle();
        board.ResetCounters();
    }
    SimulatedBoard board;
    NoBusDelay delay;
    I2cBus bus;
};

TEST(I2cBus, WriteA5ClocksEachBitMsbFirstThenSamplesAcknowledge)
{
    OpenBoard b;
    b.bus.I2cStart();
    b.bus.I2cWrite(0x40);  // the board's own address, so it acknowledges the next byte too
    b.board.SetLineLogEnabled(true);
    b.bus.I2cWrite(0xA5);

    std::vector<LineEvent> expected;
    for (int bit : {1, 0, 1, 0, 0, 1, 0, 1}) {
        expected.insert(expected.end(), {Dtr(bit), Rts(1), Rts(0)});
    }
    // Ninth clock: clock low again, data released, clock high, sample (board pulls it low), clock low.
    expected.insert(expected.end(), {Rts(0), Dtr(1), Rts(1), Cts(0), Rts(0)});
    EXPECT_EQ(b.board.LineLog(), expected);
    EXPECT_EQ(b.bus.AckFlag(), 1);
    EXPECT_TRUE(b.bus.I2cAcknowledged());
}

TEST(I2cBus, AcknowledgeAndReadFollowCts)
{
    ScriptedLines lines;
    NoBusDelay delay;
    I2cBus bus(lines, delay);
    EXPECT_EQ(bus.AckFlag(), 0);  // nothing acknowledged before the first byte

    lines.cts = {0};
    bus.I2cWrite(0x00);
    EXPECT_EQ(bus.AckFlag(), 1);
    EXPECT_TRUE(bus.I2cAcknowledged());

    lines.cts = {1};
    bus.I2cWrite(0x00);
    EXPECT_EQ(bus.AckFlag(), 0);
    EXPECT_FALSE(bus.I2cAcknowledged());

    // A read assembles the samples MSB first.
    lines.log.clear();
    lines.cts = {1, 0, 1, 0, 0, 0, 0, 0};
    EXPECT_EQ(bus.I2cRead(), 0xA0);
    lines.cts = {1, 1, 1, 1, 1, 1, 1, 1};
    EXPECT_EQ(bus.I2cRead(), 0xFF);
    lines.cts = {0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(bus.I2cRead(), 0x00);

    // The master never pulls the data wire low while the slave sends.
    for (const LineEvent& e : lines.log) {
        if (e.line == LineEvent::Dtr) {
            EXPECT_EQ(e.level, 1);
        }
    }
}

TEST(I2cBus, StartStopIdleAndNoAckSequences)
{
    ScriptedLines lines;
    NoBusDelay delay;
    I2cBus bus(lines, delay);
    bus.I2cIdle();
    EXPECT_EQ(lines.log, (std::vector<LineEvent>{Rts(1), Dtr(1)}));
    lines.log.clear();
    bus.I2cStart();
    EXPECT_EQ(lines.log, (std::vector<LineEvent>{Dtr(0), Rts(0)}));
    lines.log.clear();
    bus.I2cNoAck();
    EXPECT_EQ(lines.log, (std::vector<LineEvent>{Rts(0), Dtr(1), Rts(1), Rts(1)}));
    lines.log.clear();
    // The clock goes low before the data wire moves, so leaving I2cNoAck's high clock makes no
    // false START or STOP.
    bus.I2cStop();
    EXPECT_EQ(lines.log, (std::vector<LineEvent>{Rts(0), Dtr(0), Rts(1), Dtr(1)}));
}

TEST(SteadyBusDelay, WaitsAtLeastFiveMicroseconds)
{
    SteadyBusDelay delay;
    for (int i = 0; i < 20; ++i) {
        const auto start = std::chrono::steady_clock::now();
        delay.Wait();
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(5));
    }
}

}  // namespace
}  // namespace tavoxa
