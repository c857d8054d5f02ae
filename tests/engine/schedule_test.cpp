#include "engine/schedule.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "engine/secondtick.h"
#include "enginetestkit.h"

namespace tavoxa {
namespace {

using test::At;
using test::Rig;

void Program(Model& m, int r, int p, int dayCode, double start, double end, double date = 0.0)
{
    m.RelayMode(r) = ModeTimer;
    m.DayCode(r, p) = dayCode;
    m.ProgramStart(r, p) = start;
    m.ProgramEnd(r, p) = end;
    m.ProgramDate(r, p) = date;
}

void Window(Model& m, int r, int w, double start, double end, int maxMinutes)
{
    m.RelayMode(r) = ModeRandom;
    m.WindowStart(r, w) = start;
    m.WindowEnd(r, w) = end;
    m.WindowMaxMinutes(r, w) = maxMinutes;
}

std::string Stamp(double at)
{
    return test::DateText(at) + " " + TimeText(at);
}

// The forward run jumps between seconds; stepping the real tick through every second from the
// same state must find the same first change, at the same second, with the same cause. With the
// clock's milliseconds at 0 even the random draws agree.
struct AgreeCase {
    const char* name;
    void (*setUp)(Model&);
    int relay;
};

const AgreeCase kAgreeCases[] = {
    {"timer across midnight",
     [](Model& m) { Program(m, 1, 2, DayEveryDay, EncodeTime(0, 0, 5), EncodeTime(0, 10, 0)); }, 1},
    {"timer next week",
     [](Model& m) { Program(m, 0, 0, DaySunday + 1, EncodeTime(6, 30, 0), EncodeTime(7, 0, 0)); }, 0},
    {"seconds timer repeating",
     [](Model& m) {
         m.RelayMode(3) = ModeSecondsTimer;
         m.SecondsTimer[3] = {1, 4000, 4100, 17};
     },
     3},
    {"clock pulse",
     [](Model& m) {
         m.RelayMode(5) = ModeClock;
         m.MinuteCounter = 41;
     },
     5},
    {"random window",
     [](Model& m) {
         Window(m, 2, 1, EncodeTime(23, 50, 0), EncodeTime(1, 0, 0), 3);
         m.MinuteCounter = 7;
     },
     2},
};

TEST(NextSwitching, AgreesWithTheTickSecondBySecond)
{
    for (const AgreeCase& c : kAgreeCases) {
        SCOPED_TRACE(c.name);
        Rig rig(2024, 1, 2, 23, 40, 0);  // Tuesday
        c.setUp(rig.m);
        const NextSwitch next = NextSwitching(rig.m, c.relay, At(2024, 1, 2, 23, 39, 59), 8);
        ASSERT_TRUE(next.found);
        std::vector<SwitchEvent> events;
        for (int i = 0; i < 8 * 86400 && events.empty(); ++i) {
            const double at = ToDateTime(rig.clock.Current());
            SecondTick(rig.m, rig.clock, *rig.random, &events);
            rig.clock.Advance(1000);
            if (!events.empty()) {
                EXPECT_EQ(Stamp(next.at), Stamp(at));
                EXPECT_EQ(next.on, events[0].on);
                EXPECT_EQ(next.cause.kind, events[0].cause.kind);
                EXPECT_EQ(next.cause.index, events[0].cause.index);
            }
        }
        EXPECT_FALSE(events.empty());
    }
}

TEST(NextSwitching, DatedProgramsAndTheHorizon)
{
    Model m;
    Program(m, 4, 3, DayDate, EncodeTime(7, 0, 0), EncodeTime(8, 0, 0), EncodeDate(2026, 12, 20));
    const LocalDateTime now = At(2026, 12, 8, 12, 0, 0);
    EXPECT_FALSE(NextSwitching(m, 4, now, 7).found);
    const NextSwitch next = NextSwitching(m, 4, now, 14);
    ASSERT_TRUE(next.found);
    EXPECT_EQ(Stamp(next.at), "2026-12-20 07:00:00");
    EXPECT_EQ(NextSwitchingText(next, 14), "next: on Sun 07:00:00, program 4");
    EXPECT_FALSE(NextSwitching(m, 4, At(2026, 12, 21, 0, 0, 0), 400).found);
    EXPECT_EQ(NextSwitchingText(NextSwitch{}, 7), "no switching in the next 7 days");
}

// A start that finds the relay on already is no switching; the end is.
TEST(NextSwitching, ReportsChangesOnly)
{
    Model m;
    Program(m, 0, 0, DayEveryDay, EncodeTime(6, 30, 0), EncodeTime(22, 0, 0));
    SetRelay(m, 0);
    const NextSwitch next = NextSwitching(m, 0, At(2026, 12, 8, 5, 0, 0), 7);
    EXPECT_EQ(NextSwitchingText(next, 7), "next: off Tue 22:00:00, program 1");
}

TEST(NextSwitching, RandomWindowIsReportedAsTheWindow)
{
    Model m;
    Window(m, 1, 0, EncodeTime(18, 0, 0), EncodeTime(23, 0, 0), 10);
    const Model before = m;
    const NextSwitch next = NextSwitching(m, 1, At(2026, 12, 8, 12, 0, 0), 7);
    EXPECT_EQ(NextSwitchingText(next, 7), "random between 18:00 and 23:00");
    EXPECT_EQ(std::memcmp(before.WindowTable, m.WindowTable, sizeof m.WindowTable), 0);
}

TEST(NextSwitching, SecondsTimerText)
{
    Model m;
    m.RelayMode(2) = ModeSecondsTimer;
    m.SecondsTimer[2] = {0, 10, 86400 * 2, 100};
    SetRelay(m, 2);
    const NextSwitch next = NextSwitching(m, 2, At(2026, 12, 8, 0, 0, 0), 7);
    EXPECT_EQ(NextSwitchingText(next, 7), "next: off Wed 23:58:20, seconds timer");
}

// Field values that name no second: not finite, or beyond a billion days.
const double kNoTimes[] = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                           -std::numeric_limits<double>::infinity(), 2e9, -1.5e9};

TEST(TimeFields, ValuesThatAreNoTimeNeverMatch)
{
    for (const double bad : kNoTimes) {
        SCOPED_TRACE(bad);
        Rig rig(2024, 1, 1, 23, 59, 0);
        Program(rig.m, 0, 0, DayEveryDay, bad, EncodeTime(12, 0, 0));
        Program(rig.m, 1, 0, DayEveryDay, EncodeTime(0, 0, 30), bad);
        Window(rig.m, 2, 0, bad, EncodeTime(0, 1, 0), 1);
        Window(rig.m, 3, 0, EncodeTime(23, 0, 0), bad, 1);
        SetRelay(rig.m, 3);
        const auto logs = rig.WalkAll(180);
        EXPECT_TRUE(logs[0].empty());
        EXPECT_EQ(logs[1], std::vector<std::string>{"Di 2024-01-02 00:00:30 on"});
        EXPECT_TRUE(logs[2].empty());
        EXPECT_TRUE(logs[3].empty());
        EXPECT_FALSE(NextSwitching(rig.m, 0, At(2024, 1, 2, 0, 0, 0), 7).found);
    }
    EXPECT_TRUE(TimeFieldValid(-1e9));
    EXPECT_EQ(SecondOfDay(EncodeTime(6, 30, 0) - 1e-12), 6 * 3600 + 30 * 60);
}

TEST(SecondTickEvents, NamesTheStepAndProgramOfEachChange)
{
    Rig rig(2024, 1, 1, 6, 30, 0);
    Program(rig.m, 0, 1, DayEveryDay, EncodeTime(6, 30, 0), EncodeTime(7, 0, 0));
    Program(rig.m, 0, 4, DayEveryDay, EncodeTime(9, 0, 0), EncodeTime(6, 30, 0));  // a later end wins
    Program(rig.m, 1, 2, DayEveryDay, EncodeTime(6, 30, 0), EncodeTime(6, 31, 0));
    Program(rig.m, 2, 0, DayEveryDay, EncodeTime(6, 30, 0), EncodeTime(6, 30, 0));  // on and off: no change
    rig.m.RelayMode(5) = ModeClock;
    SetRelay(rig.m, 5);
    std::vector<SwitchEvent> events;
    SecondTick(rig.m, rig.clock, *rig.random, &events);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].relay, 1);
    EXPECT_TRUE(events[0].on);
    EXPECT_EQ(CauseText(events[0].cause), "timer program 3");
    EXPECT_EQ(events[1].relay, 5);
    EXPECT_FALSE(events[1].on);
    EXPECT_EQ(CauseText(events[1].cause), "clock pulse");
}

TEST(SwitchLog, LinesForSeveralCauses)
{
    const LocalDateTime at = At(2026, 12, 8, 6, 30, 0);
    SwitchCause program;
    program.kind = CauseKind::TimerProgram;
    EXPECT_EQ(SwitchLogLine(at, 1, "Pumpe", true, CauseText(program)),
              "2026-12-08 06:30:00 relay 2 (Pumpe) on: timer program 1");
    EXPECT_EQ(SwitchLogLine(at, 5, "", false, CauseText(InputLogicCause(true, false))),
              "2026-12-08 06:30:00 relay 6 off: input logic (K1 closed, K2 open)");
    EXPECT_EQ(CauseText(RemoteCause("127.0.0.1:5000")), "remote (127.0.0.1:5000)");
}

TEST(ResumeTimers, LatestEventOfThePastWeekWins)
{
    Model m;
    Program(m, 0, 0, DaySunday + 1, EncodeTime(6, 0, 0), EncodeTime(23, 0, 0));  // Mondays
    Program(m, 0, 1, DayMonToFri, EncodeTime(7, 0, 0), EncodeTime(8, 0, 0));
    Program(m, 1, 0, DaySaturday, EncodeTime(20, 0, 0), EncodeTime(4, 0, 0));  // off ends on Saturday
    Program(m, 2, 0, DayDate, EncodeTime(9, 0, 0), EncodeTime(8, 0, 0), EncodeDate(2026, 12, 4));
    Program(m, 3, 0, DayDate, EncodeTime(9, 0, 0), EncodeTime(10, 0, 0), EncodeDate(2026, 11, 29));
    m.RelayMode(4) = ModeToggle;
    SetRelay(m, 4);
    SetRelay(m, 3);  // its only event is older than a week: kept

    // Monday 2026-12-07 07:30: program 2's on came after program 1's.
    Model monday = m;
    const std::vector<SwitchEvent> changes = ResumeTimers(monday, At(2026, 12, 7, 7, 30, 0));
    EXPECT_EQ(monday.RelayBits, 0b011111);
    ASSERT_EQ(changes.size(), 3u);
    EXPECT_EQ(CauseText(changes[0].cause), "resumed at start-up");

    // Monday 08:00:00 itself counts; program 1 is still on its Monday, but program 2 ended later.
    Model later = m;
    ResumeTimers(later, At(2026, 12, 7, 8, 0, 0));
    EXPECT_FALSE(RelayIsOn(later, 0));
    Model night = m;
    ResumeTimers(night, At(2026, 12, 7, 22, 59, 59));
    EXPECT_FALSE(RelayIsOn(night, 0));  // 8:00 off is the latest
}

TEST(Plan, TimerEventsAndWindowsAcrossMidnight)
{
    Model m;
    Program(m, 0, 0, DayMonToFri, EncodeTime(6, 30, 0), EncodeTime(7, 0, 0));
    Window(m, 1, 2, EncodeTime(22, 0, 0), EncodeTime(6, 0, 0), 10);
    m.RelayMode(3) = ModeSecondsTimer;
    m.SecondsTimer[3] = {1, 10, 20, 0};
    SetRelay(m, 0);
    const Plan plan = PlanSwitchings(m, At(2026, 12, 11, 6, 45, 0), 3);  // Friday to Sunday
    ASSERT_EQ(plan.relays[0].switches.size(), 1u);
    EXPECT_EQ(Stamp(plan.relays[0].switches[0].at), "2026-12-11 07:00:00");
    const std::vector<OnInterval> on = OnIntervals(plan, 0);
    ASSERT_EQ(on.size(), 1u);
    EXPECT_EQ(Stamp(on[0].from), "2026-12-11 06:45:00");
    ASSERT_EQ(plan.relays[1].windows.size(), 3u);  // Friday night cut at Sunday's midnight
    EXPECT_EQ(Stamp(plan.relays[1].windows[2].to), "2026-12-14 00:00:00");
    const std::string table = FormatPlanTable(plan, {"Pumpe"});
    EXPECT_NE(table.find("Relay 1 (Pumpe)"), std::string::npos);
    EXPECT_NE(table.find("Fri 2026-12-11  07:00:00 off (program 1)"), std::string::npos);
    EXPECT_NE(table.find("seconds timer: on after 10 s, off after 20 s, repeating"), std::string::npos);
}

}  // namespace
}  // namespace tavoxa
