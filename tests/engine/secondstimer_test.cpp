#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/secondtick.h"
#include "enginetestkit.h"

namespace tavoxa {
namespace {

using test::Rig;
using Log = std::vector<std::string>;

Rig SecondsRig(int repeat, int startAfter, int endAfter)
{
    Rig rig(2024, 1, 1, 9, 0, 0);
    rig.m.RelayMode(1) = ModeSecondsTimer;
    rig.m.SecondsTimer[1].Repeat = repeat;
    rig.m.SecondsTimer[1].StartAfter = startAfter;
    rig.m.SecondsTimer[1].EndAfter = endAfter;
    return rig;
}

// Switches of relay 2 as "tick n on/off", counting ticks from 1.
Log TickLog(Rig& rig, int ticks)
{
    Log log;
    for (int i = 1; i <= ticks; ++i) {
        const bool before = RelayIsOn(rig.m, 1);
        rig.Tick();
        if (RelayIsOn(rig.m, 1) != before)
            log.push_back(std::to_string(i) + (before ? " off" : " on"));
    }
    return log;
}

// On 31 ticks after RESET, off 30 ticks later, a period of 61 ticks; after START one tick earlier.
TEST(SecondsTimer, RepeatAfterResetAndAfterStart)
{
    Rig reset = SecondsRig(1, 30, 60), start = SecondsRig(1, 30, 60);
    ResetSwitching(reset.m);
    StartSeconds(start.m);
    EXPECT_EQ(TickLog(reset, 200), (Log{"31 on", "61 off", "92 on", "122 off", "153 on", "183 off"}));
    EXPECT_EQ(TickLog(start, 200), (Log{"30 on", "60 off", "91 on", "121 off", "152 on", "182 off"}));
}

TEST(SecondsTimer, WithoutRepeatOnceThenTheRelayKeepsItsState)
{
    for (int notRepeat : {0, 2, -1}) {
        Rig rig = SecondsRig(notRepeat, 30, 60);
        ResetSwitching(rig.m);
        EXPECT_EQ(TickLog(rig, 70), (Log{"31 on", "61 off"})) << notRepeat;
        SetRelay(rig.m, 1);  // e.g. the remote: nothing switches it back
        EXPECT_TRUE(TickLog(rig, 1000).empty());
        EXPECT_EQ(rig.m.SecondsTimer[1].SecondCount, 1069);
    }
}

TEST(SecondsTimer, StartEqualToEndEndsOff)
{
    Rig rig = SecondsRig(1, 5, 5);
    StartSeconds(rig.m);
    SetRelay(rig.m, 1);
    EXPECT_EQ(TickLog(rig, 20), (Log{"5 off"}));
    EXPECT_EQ(rig.m.SecondsTimer[1].SecondCount, 2);  // restarted at ticks 5, 11 and 17
}

TEST(SecondsTimer, StartAboveEnd)
{
    {
        // With repeat the count never gets past the end: only ever switched off.
        Rig rig = SecondsRig(1, 60, 30);
        StartSeconds(rig.m);
        SetRelay(rig.m, 1);
        EXPECT_EQ(TickLog(rig, 100), (Log{"30 off"}));
        EXPECT_EQ(rig.m.SecondsTimer[1].SecondCount, 7);  // restarted at ticks 30, 61 and 92
        SetRelay(rig.m, 1);
        EXPECT_EQ(TickLog(rig, 31), (Log{"23 off"}));
    }
    {
        // Without repeat: off at the end, on at the start, then on for good.
        Rig rig = SecondsRig(0, 60, 30);
        ResetSwitching(rig.m);
        SetRelay(rig.m, 1);
        EXPECT_EQ(TickLog(rig, 500), (Log{"31 off", "61 on"}));
    }
}

// The count runs in every mode: a relay put into this mode long after RESET finds it past both
// values and does nothing until the next RESET or START.
TEST(SecondsTimer, CountsRunInEveryModeAndLateModeChangeDoesNothing)
{
    Rig rig = SecondsRig(1, 30, 60);
    rig.m.RelayMode(1) = ModeToggle;
    rig.m.RelayMode(4) = ModeRandom;
    ResetSwitching(rig.m);
    for (int i = 0; i < 3600; ++i)
        rig.Tick();
    for (const auto& t : rig.m.SecondsTimer)
        EXPECT_EQ(t.SecondCount, 3599);
    rig.m.RelayMode(1) = ModeSecondsTimer;
    EXPECT_TRUE(TickLog(rig, 3600).empty());
    StartSeconds(rig.m);
    EXPECT_EQ(TickLog(rig, 60), (Log{"30 on", "60 off"}));
}

TEST(SecondsTimer, NegativeOrPassedValuesNeverSwitch)
{
    Rig rig = SecondsRig(1, -5, -2);
    ResetSwitching(rig.m);
    SetRelay(rig.m, 1);
    EXPECT_TRUE(TickLog(rig, 500).empty());
}

}  // namespace
}  // namespace tavoxa
