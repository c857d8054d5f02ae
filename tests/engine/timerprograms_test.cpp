#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/secondtick.h"
#include "enginetestkit.h"

namespace tavoxa {
namespace {

using test::Rig;
using Log = std::vector<std::string>;

void Program(Model& m, int r, int p, int dayCode, double start, double end, double date = 0.0)
{
    m.RelayMode(r) = ModeTimer;
    m.DayCode(r, p) = dayCode;
    m.ProgramStart(r, p) = start;
    m.ProgramEnd(r, p) = end;
    m.ProgramDate(r, p) = date;
}

// Unused programs are dated day 0 at 00:00:00 and never match.
TEST(TimerPrograms, EveryDayAcrossMidnight)
{
    Rig rig(2024, 1, 1, 12, 0, 0);  // Monday noon
    Program(rig.m, 2, 0, DayEveryDay, EncodeTime(20, 12, 0), EncodeTime(4, 0, 0));
    EXPECT_EQ(rig.Walk(2 * 86400, 2), (Log{"Mo 2024-01-01 20:12:00 on", "Di 2024-01-02 04:00:00 off",
                                           "Di 2024-01-02 20:12:00 on", "Mi 2024-01-03 04:00:00 off"}));
}

// A program whose period has begun is not caught up.
TEST(TimerPrograms, EveryDayEnteredInsideThePeriod)
{
    Rig rig(2024, 1, 1, 15, 0, 0);
    Program(rig.m, 0, 0, DayEveryDay, EncodeTime(14, 0, 0), EncodeTime(16, 0, 0));
    EXPECT_EQ(rig.Walk(2 * 86400, 0),
              (Log{"Di 2024-01-02 14:00:00 on", "Di 2024-01-02 16:00:00 off", "Mi 2024-01-03 14:00:00 on"}));
}

// The end event keeps the start's day condition: with "Mo" the relay stays on from Monday
// evening until the following Monday 04:00:00.
TEST(TimerPrograms, OneWeekdayAcrossMidnight)
{
    Rig rig(2023, 12, 31, 20, 0, 0);  // Sunday evening
    Program(rig.m, 1, 3, DaySunday + 1, EncodeTime(20, 12, 0), EncodeTime(4, 0, 0));
    EXPECT_EQ(rig.Walk(8 * 86400 + 9 * 3600, 1),
              (Log{"Mo 2024-01-01 20:12:00 on", "Mo 2024-01-08 04:00:00 off", "Mo 2024-01-08 20:12:00 on"}));
}

// Stored values may be a hair below their second or carry a date; only the second counts. The
// program's date must match exactly: nine days are walked, one switches.
TEST(TimerPrograms, DatedProgramOfTenSeconds)
{
    Rig rig(1999, 4, 30, 7, 0, 0);
    Program(rig.m, 4, 5, DayDate, EncodeTime(7, 0, 0) - 1e-12, EncodeDate(2010, 2, 3) + EncodeTime(7, 0, 10),
            EncodeDate(1999, 5, 1));
    EXPECT_EQ(rig.Walk(9 * 86400, 4), (Log{"Sa 1999-05-01 07:00:00 on", "Sa 1999-05-01 07:00:10 off"}));
}

// On and off in the same tick: the adapter, which sees the byte between ticks, never sees it on.
TEST(TimerPrograms, StartEqualToEndNeverLeavesTheRelayOn)
{
    Rig rig(2024, 1, 1, 11, 0, 0);
    Program(rig.m, 0, 0, DayEveryDay, EncodeTime(12, 0, 0), EncodeTime(12, 0, 0));
    SetRelay(rig.m, 0);  // e.g. the T button
    EXPECT_EQ(rig.Walk(86400, 0), (Log{"Mo 2024-01-01 12:00:00 off"}));
}

TEST(TimerPrograms, LaterProgramWinsInOneSecond)
{
    {
        Rig rig(2024, 1, 1, 8, 0, 0);
        Program(rig.m, 0, 0, DayEveryDay, EncodeTime(10, 0, 0), EncodeTime(11, 0, 0));
        Program(rig.m, 0, 1, DayEveryDay, EncodeTime(9, 0, 0), EncodeTime(10, 0, 0));
        EXPECT_EQ(rig.Walk(4 * 3600, 0), (Log{"Mo 2024-01-01 09:00:00 on", "Mo 2024-01-01 10:00:00 off"}));
    }
    {
        Rig rig(2024, 1, 1, 8, 0, 0);
        Program(rig.m, 0, 0, DayEveryDay, EncodeTime(9, 0, 0), EncodeTime(10, 0, 0));
        Program(rig.m, 0, 1, DayEveryDay, EncodeTime(10, 0, 0), EncodeTime(11, 0, 0));
        EXPECT_EQ(rig.Walk(4 * 3600, 0), (Log{"Mo 2024-01-01 09:00:00 on", "Mo 2024-01-01 11:00:00 off"}));
    }
}

TEST(TimerPrograms, WeekendAndWorkdaysOverAWeek)
{
    Rig rig(2024, 1, 1, 0, 0, 0);  // Monday
    Program(rig.m, 0, 0, DaySatSun, EncodeTime(12, 0, 0), EncodeTime(12, 0, 1));
    Program(rig.m, 1, 2, DayMonToFri, EncodeTime(12, 0, 0), EncodeTime(12, 0, 1));
    const auto logs = rig.WalkAll(7 * 86400);
    EXPECT_EQ(logs[0], (Log{"Sa 2024-01-06 12:00:00 on", "Sa 2024-01-06 12:00:01 off",
                            "So 2024-01-07 12:00:00 on", "So 2024-01-07 12:00:01 off"}));
    Log workdays;
    for (const char* day :
         {"Mo 2024-01-01", "Di 2024-01-02", "Mi 2024-01-03", "Do 2024-01-04", "Fr 2024-01-05"}) {
        workdays.push_back(std::string(day) + " 12:00:00 on");
        workdays.push_back(std::string(day) + " 12:00:01 off");
    }
    EXPECT_EQ(logs[1], workdays);
    for (int r = 2; r < kRelayCount; ++r)
        EXPECT_TRUE(logs[r].empty());
}

// Which weekdays each day code matches; codes outside 1..10 match none ("Date" is tested above).
TEST(TimerPrograms, DayCodeTable)
{
    const std::vector<std::pair<int, std::string>> table = {{1, "So "},    {2, "Mo "},
                                                            {3, "Di "},    {4, "Mi "},
                                                            {5, "Do "},    {6, "Fr "},
                                                            {7, "Sa "},    {8, "Mo Di Mi Do Fr "},
                                                            {9, "So Sa "}, {10, "So Mo Di Mi Do Fr Sa "},
                                                            {11, ""},      {-1, ""},
                                                            {12, ""},      {1000, ""}};
    for (const auto& [code, expected] : table) {
        std::string matched;
        for (int day = 0; day < 7; ++day) {
            Model m;
            Program(m, 3, 0, code, EncodeTime(12, 0, 0), EncodeTime(13, 0, 0), EncodeDate(2024, 1, 1));
            m.NowDate = EncodeDate(2024, 1, 1);
            m.NowTime = EncodeTime(12, 0, 0, 500);
            m.DayIndex = day;
            RunTimerPrograms(m);
            if (RelayIsOn(m, 3))
                matched += std::string(DayNames[day]) + " ";
        }
        EXPECT_EQ(matched, expected) << "day code " << code;
    }
}

TEST(TimerPrograms, OnlyTimerRelaysAndTwoTicksInASecondAgree)
{
    Model m;
    const int modes[kRelayCount] = {ModeTimer,        ModeTimer,  ModeToggle,
                                    ModeSecondsTimer, ModeRandom, ModeClock};
    for (int r = 0; r < kRelayCount; ++r) {
        Program(m, r, 0, DayEveryDay, EncodeTime(12, 0, 0), EncodeTime(13, 0, 0));
        m.RelayMode(r) = modes[r];
    }
    m.NowTime = EncodeTime(12, 0, 0, 10);
    RunTimerPrograms(m);
    EXPECT_EQ(m.RelayBits, 0x03);
    m.NowTime = EncodeTime(12, 0, 0, 990);
    RunTimerPrograms(m);
    EXPECT_EQ(m.RelayBits, 0x03);
    m.NowTime = EncodeTime(12, 0, 1);
    ClearRelay(m, 1);  // by hand: holds until the relay's next program event
    RunTimerPrograms(m);
    EXPECT_EQ(m.RelayBits, 0x01);
}

}  // namespace
}  // namespace tavoxa
