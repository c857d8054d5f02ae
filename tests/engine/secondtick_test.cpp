#include "engine/secondtick.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "enginetestkit.h"

namespace tavoxa {
namespace {

using test::At;
using test::Rig;
using Log = std::vector<std::string>;

TEST(SecondTick, FillsTheClockSampleFromThreeReads)
{
    Rig rig(2024, 1, 1, 12, 34, 56);
    rig.clock.SetMillisecond(789);
    rig.random = &rig.scripted;
    rig.Tick();
    EXPECT_EQ(rig.clock.Reads(), 3);
    EXPECT_EQ(rig.m.NowDate, EncodeDate(2024, 1, 1));
    EXPECT_EQ(rig.m.NowTime, EncodeTime(12, 34, 56, 789));
    EXPECT_EQ(rig.m.DayIndex, 1);
    EXPECT_EQ(rig.m.DayName, "Mo");
    EXPECT_EQ(rig.m.SecondText, "56");
    EXPECT_EQ(rig.scripted.seeds, (std::vector<uint32_t>{RandomSeed(At(2024, 1, 1, 12, 34, 56, 789))}));
}

// The random step is reseeded from the clock's milliseconds counted across days, so the same
// second of two days gives two different seeds and the presence simulation differs by day.
TEST(SecondTick, ReseedDiffersFromDayToDay)
{
    EXPECT_NE(RandomSeed(At(2024, 1, 1, 18, 0, 0, 5)), RandomSeed(At(2024, 1, 2, 18, 0, 0, 5)));
    EXPECT_EQ(RandomSeed(At(2024, 1, 2, 0, 0, 0, 0)) - RandomSeed(At(2024, 1, 1, 23, 59, 59, 999)), 1u);
}

// Weekday, time and date, and the reseed value come from separate reads: at midnight the
// weekday may still be yesterday's for one tick.
TEST(SecondTick, SeparateReadsAtMidnight)
{
    Rig rig(2024, 1, 1, 0, 0, 5);
    rig.random = &rig.scripted;
    rig.clock.Queue(At(2023, 12, 31, 23, 59, 59, 999));
    rig.clock.Queue(At(2024, 1, 1, 0, 0, 0, 1));
    rig.clock.Queue(At(2024, 1, 1, 0, 0, 0, 2));
    rig.Tick();
    EXPECT_EQ(rig.m.DayIndex, 0);
    EXPECT_EQ(rig.m.DayName, "So");
    EXPECT_EQ(rig.m.NowDate, EncodeDate(2024, 1, 1));
    EXPECT_EQ(TimeText(rig.m.NowTime), "00:00:00");
    EXPECT_EQ(rig.m.SecondText, "00");
    EXPECT_EQ(rig.scripted.seeds, (std::vector<uint32_t>{RandomSeed(At(2024, 1, 1, 0, 0, 0, 2))}));
    rig.Tick();  // the clock itself again, one second on
    EXPECT_EQ(rig.m.DayName, "Mo");
    EXPECT_EQ(rig.m.SecondText, "06");
}

// Every 60th tick counted from the start, not at the full minutes of the clock; consumed and
// cleared within the same tick.
TEST(SecondTick, MinuteTickEverySixtiethTick)
{
    Rig rig(2024, 1, 1, 12, 0, 17);
    rig.m.RelayMode(3) = ModeRandom;
    rig.m.WindowMaxMinutes(3, 0) = 10;
    rig.m.MinutesToOn(3, 0) = 1000;
    rig.m.MinutesToOff(3, 0) = 2000;
    std::vector<int> minuteTicks;
    for (int i = 1; i <= 200; ++i) {
        const int32_t before = rig.m.MinutesToOn(3, 0);
        rig.Tick();
        EXPECT_FALSE(rig.m.MinuteTick);
        EXPECT_EQ(rig.m.MinuteCounter, i % 60);
        if (rig.m.MinutesToOn(3, 0) != before)
            minuteTicks.push_back(i);
    }
    EXPECT_EQ(minuteTicks, (std::vector<int>{60, 120, 180}));
    EXPECT_EQ(rig.m.MinutesToOn(3, 0), 997);
}

TEST(SecondTick, SecondCountsAdvanceForEveryRelay)
{
    Rig rig(2024, 1, 1, 12, 0, 0);
    const int modes[kRelayCount] = {ModeToggle, ModeTimer, ModeIfK1, ModeSecondsTimer, ModeRandom, ModeClock};
    for (int r = 0; r < kRelayCount; ++r)
        rig.m.RelayMode(r) = modes[r];
    ResetSwitching(rig.m);
    for (int i = 0; i < 10; ++i)
        rig.Tick();
    for (const auto& t : rig.m.SecondsTimer)
        EXPECT_EQ(t.SecondCount, 9);
    rig.m.SecondsTimer[2].SecondCount = std::numeric_limits<int32_t>::max();
    rig.Tick();
    EXPECT_EQ(rig.m.SecondsTimer[2].SecondCount, std::numeric_limits<int32_t>::min());
}

// On at second 58, off at second 0, across midnight and the hour too.
TEST(ClockControl, PulseAtSecondFiftyEightAndZero)
{
    Rig rig(2024, 1, 1, 23, 58, 0);
    rig.m.RelayMode(5) = ModeClock;
    EXPECT_EQ(rig.Walk(180, 5),
              (Log{"Mo 2024-01-01 23:58:58 on", "Mo 2024-01-01 23:59:00 off", "Mo 2024-01-01 23:59:58 on",
                   "Di 2024-01-02 00:00:00 off", "Di 2024-01-02 00:00:58 on"}));
}

// Code 10 on relays 1 to 5 (only from a hand-edited file) does nothing.
TEST(ClockControl, OnlyRelaySix)
{
    Rig rig(2024, 1, 1, 12, 0, 0);
    for (int r = 0; r < kRelayCount - 1; ++r)
        rig.m.RelayMode(r) = ModeClock;
    rig.m.RelayBits = 0x15;
    const auto logs = rig.WalkAll(180);
    for (const auto& log : logs)
        EXPECT_TRUE(log.empty());
    EXPECT_EQ(rig.m.RelayBits, 0x15);
}

// Switching to the mode at second 59 leaves the relay until second 0; a remote command lasts
// until the next second 0 or 58.
TEST(ClockControl, HandSwitchesLastUntilTheNextPulseEdge)
{
    Rig rig(2024, 1, 1, 12, 0, 59);
    SetRelay(rig.m, 5);
    rig.m.RelayMode(5) = ModeClock;
    EXPECT_EQ(rig.Walk(30, 5), (Log{"Mo 2024-01-01 12:01:00 off"}));
    SetRelay(rig.m, 5);  // 12:01:29
    EXPECT_EQ(rig.Walk(40, 5), (Log{"Mo 2024-01-01 12:02:00 off"}));
}

// Ticks that are not on the second still name their second; a tick lost to a busy event loop
// loses that second's pulse edge.
TEST(ClockControl, MissedSecondLosesItsEdge)
{
    Rig rig(2024, 1, 1, 12, 0, 57);
    rig.m.RelayMode(5) = ModeClock;
    rig.Tick();               // 12:00:57
    rig.clock.Advance(1999);  // 12:00:58 passes without a tick
    rig.Tick();               // 12:00:59.999
    EXPECT_FALSE(RelayIsOn(rig.m, 5));
    EXPECT_EQ(rig.m.SecondText, "59");
}

}  // namespace
}  // namespace tavoxa
