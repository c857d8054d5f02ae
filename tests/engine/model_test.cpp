#include "engine/model.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/secondtick.h"
#include "enginetestkit.h"

namespace tavoxa {
namespace {

using test::FakeClock;
using test::Rig;

TEST(ModelRelays, PrimitivesChangeOneBitOnly)
{
    Model m;
    m.RelayBits = 0xC0;  // raw input levels between exchange ticks
    SetRelay(m, 0);
    SetRelay(m, 5);
    EXPECT_EQ(m.RelayBits, 0xE1);
    SetRelay(m, 5);
    EXPECT_EQ(m.RelayBits, 0xE1);
    ClearRelay(m, 0);
    ClearRelay(m, 3);
    EXPECT_EQ(m.RelayBits, 0xE0);
    ToggleRelay(m, 2);
    EXPECT_TRUE(RelayIsOn(m, 2));
    ToggleRelay(m, 2);
    EXPECT_FALSE(RelayIsOn(m, 2));
    EXPECT_EQ(m.RelayBits, 0xE0);
    for (int n = 0; n < kRelayCount; ++n)
        EXPECT_EQ(RelayIsOn(m, n), n == 5);
}

TEST(ModelRelays, ResetSwitchesAllOffAndRestartsTheCounts)
{
    Model m;
    m.RelayBits = 0xFF;
    m.RelayMode(2) = ModeSecondsTimer;
    m.SecondsTimer[2] = {1, 30, 60, 500};
    m.MinutesToOn(4, 1) = 7;
    m.MinutesToOff(4, 1) = 9;
    m.MinutesToOff(0, 2) = -3;
    m.MinuteCounter = 42;
    m.WindowMaxMinutes(4, 1) = 10;
    ResetSwitching(m);
    EXPECT_EQ(m.RelayBits, 0);  // bits 6 and 7 too
    for (int r = 0; r < kRelayCount; ++r) {
        EXPECT_EQ(m.SecondsTimer[r].SecondCount, -1);
        for (int w = 0; w < kWindowCount; ++w)
            EXPECT_EQ(m.MinutesToOff(r, w), 0);
    }
    EXPECT_EQ(m.MinutesToOn(4, 1), 7);
    EXPECT_EQ(m.MinuteCounter, 42);
    EXPECT_EQ(m.RelayMode(2), ModeSecondsTimer);
    EXPECT_EQ(m.SecondsTimer[2].StartAfter, 30);
    EXPECT_EQ(m.SecondsTimer[2].EndAfter, 60);
    EXPECT_EQ(m.SecondsTimer[2].Repeat, 1);
    EXPECT_EQ(m.WindowMaxMinutes(4, 1), 10);
}

TEST(ModelRelays, StartSetsEveryCountToZeroAndNothingElse)
{
    Model m;
    m.RelayBits = 0x05;
    for (auto& t : m.SecondsTimer)
        t = {1, 2, 3, 77};
    StartSeconds(m);
    for (const auto& t : m.SecondsTimer) {
        EXPECT_EQ(t.SecondCount, 0);
        EXPECT_EQ(t.EndAfter, 3);
    }
    EXPECT_EQ(m.RelayBits, 0x05);
}

TEST(ModelRelays, ToggleButtonOnlyForToggleTimerAndXor)
{
    for (int position = -1; position <= 11; ++position)
        EXPECT_EQ(ToggleButtonEnabled(position), position == 0 || position == 1 || position == 7) << position;
}

// Day code c is named by DayNames[c - 1].
TEST(ModelRelays, DayCodesAndDayNamesAgree)
{
    for (int code = 1; code <= 10; ++code)
        EXPECT_STREQ(DayNames[code - 1], kDayCodeNames[code]);
}

TEST(ModelDefaults, EverySettingAsWithoutAConfigurationFile)
{
    Model m;
    for (auto& plane : m.SwitchTable)
        for (auto& relay : plane)
            for (auto& slot : relay)
                slot = 3;
    for (auto& t : m.SecondsTimer)
        t = {1, 2, 3, 4};
    for (auto& plane : m.WindowTable)
        for (auto& relay : plane)
            for (auto& slot : relay)
                slot = 5;
    for (auto& plane : m.WindowMinutes)
        for (auto& relay : plane)
            for (auto& slot : relay)
                slot = 5;
    m.RelayBits = 0x11;
    FakeClock clock(2024, 3, 5, 12, 34, 56, 100);
    ApplyDefaults(m, clock);

    EXPECT_EQ(clock.Reads(), kRelayCount * kProgramCount * 3 + kRelayCount * kWindowCount * 2);
    for (int r = 0; r < kRelayCount; ++r) {
        for (int slot = 0; slot < 6; ++slot)
            for (const auto& plane : m.SwitchTable)
                EXPECT_EQ(plane[r][slot], 0);
        for (int p = 0; p < kProgramCount; ++p) {
            EXPECT_EQ(m.ProgramDate(r, p), EncodeDate(2024, 3, 5));
            EXPECT_EQ(TimeText(m.ProgramStart(r, p)), "12:34:56");
            EXPECT_EQ(m.ProgramStart(r, p), EncodeTime(12, 34, 56, 100));  // time of day only
            EXPECT_EQ(TimeText(m.ProgramEnd(r, p)), "12:34:56");
        }
        EXPECT_EQ(m.SecondsTimer[r].Repeat, 0);
        EXPECT_EQ(m.SecondsTimer[r].StartAfter, 0);
        EXPECT_EQ(m.SecondsTimer[r].EndAfter, 0);
        EXPECT_EQ(m.SecondsTimer[r].SecondCount, 0);
        for (int w = 0; w < kWindowCount; ++w) {
            EXPECT_EQ(m.WindowTable[0][r][w], 0);
            EXPECT_EQ(m.WindowMaxMinutes(r, w), 0);
            EXPECT_EQ(m.MinutesToOn(r, w), 5);  // runtime countdowns are not settings
            EXPECT_EQ(m.MinutesToOff(r, w), 5);
            EXPECT_EQ(TimeText(m.WindowStart(r, w)), "12:34:56");
            EXPECT_EQ(TimeText(m.WindowEnd(r, w)), "12:34:56");
        }
    }
    EXPECT_EQ(m.RelayBits, 0x11);
}

// Read anew for every value: a default set taken across midnight shows it.
TEST(ModelDefaults, ClockIsReadForEveryValue)
{
    Model m;
    FakeClock clock(2024, 3, 5, 23, 59, 59, 990);
    clock.msPerRead = 1;
    ApplyDefaults(m, clock);
    // Reads 0..9 fall before midnight: date, start and end of programs 1..3, date of program 4.
    EXPECT_EQ(m.ProgramDate(0, 0), EncodeDate(2024, 3, 5));
    EXPECT_EQ(m.ProgramStart(0, 0), EncodeTime(23, 59, 59, 991));
    EXPECT_EQ(m.ProgramEnd(0, 0), EncodeTime(23, 59, 59, 992));
    EXPECT_EQ(m.ProgramDate(0, 3), EncodeDate(2024, 3, 5));
    EXPECT_EQ(TimeText(m.ProgramStart(0, 3)), "00:00:00");
    EXPECT_EQ(m.ProgramDate(0, 4), EncodeDate(2024, 3, 6));
    EXPECT_EQ(m.ProgramDate(5, 5), EncodeDate(2024, 3, 6));
    EXPECT_EQ(m.WindowStart(0, 0), EncodeTime(0, 0, 0, 98));
    EXPECT_EQ(m.WindowEnd(0, 0), EncodeTime(0, 0, 0, 99));
}

// All relays "Toggle", every window off: a whole day of ticks switches nothing.
TEST(ModelDefaults, NothingSwitchesAfterStartWithDefaults)
{
    Rig rig(2024, 3, 5, 12, 0, 0);
    ApplyDefaults(rig.m, rig.clock);
    ResetSwitching(rig.m);
    for (int i = 0; i < 86400 + 10; ++i) {
        rig.Tick();
        ASSERT_EQ(rig.m.RelayBits, 0) << i;
    }
}

// Settings replaced as a whole (a load, an undo) must leave the running state alone.
TEST(ModelParts, ReplacingTheStoredSettingsKeepsTheRuntimeState)
{
    Model m;
    m.RelayBits = 0x25;
    m.MinutesToOff(2, 1) = 17;
    m.MinuteCounter = 42;
    m.RelayMode(3) = ModeRandom;
    static_cast<StoredSettings&>(m) = StoredSettings{};
    EXPECT_EQ(m.RelayMode(3), ModeToggle);
    EXPECT_EQ(m.RelayBits, 0x25);
    EXPECT_EQ(m.MinutesToOff(2, 1), 17);
    EXPECT_EQ(m.MinuteCounter, 42);
}

}  // namespace
}  // namespace tavoxa
