// The two doors: settings edits on the model alone, a relay's settings as one value, the switching
// door with its one log line per change, and which seconds a late second tick runs.
#include "core/doors.h"

#include <QSignalSpy>
#include <cmath>
#include <limits>

#include "core/secondticker.h"
#include "tests/core/controllerfixture.h"

namespace tavoxa::testing {
namespace {

// Program 2 and window 3 of relay 4 selected; one selection outside the tables writes nothing.
TEST(SettingsDoor, EachFieldLandsWhereTheWindowsEditPutsIt)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        RelayField field;
        double value;
        std::function<double(const Model&)> read;
        double expected;
        bool modeChanged = false;
    } cases[] = {
        {RelayField::Mode, ModeK1XorK2, [](const Model& m) { return m.RelayMode(3); }, ModeK1XorK2, true},
        {RelayField::DayCode, 9.7, [](const Model& m) { return m.DayCode(3, 1); }, 9},
        {RelayField::Repeat, 5, [](const Model& m) { return m.SecondsTimer[3].Repeat; }, 1},
        {RelayField::StartAfter, nan, [](const Model& m) { return m.SecondsTimer[3].StartAfter; }, 0},
        {RelayField::EndAfter, 3e10, [](const Model& m) { return m.SecondsTimer[3].EndAfter; }, 0},
        {RelayField::WindowMaxMinutes, -4, [](const Model& m) { return m.WindowMaxMinutes(3, 2); }, -4},
    };
    for (const auto& c : cases) {
        Model m;
        m.SelectedProgram(3) = 1;
        m.SelectedWindow(3) = 2;
        m.SecondsTimer[3].StartAfter = 7;
        m.SecondsTimer[3].EndAfter = 7;
        EXPECT_EQ(ApplyEdit(m, {3, c.field, c.value}), c.modeChanged) << int(c.field);
        EXPECT_EQ(c.read(m), c.expected) << int(c.field);
    }
    Model outside;
    outside.SelectedProgram(0) = 6;
    outside.SelectedWindow(0) = -1;
    const Model before = outside;
    ApplyEdit(outside, {0, RelayField::ProgramEnd, 0.5});
    ApplyEdit(outside, {0, RelayField::WindowStart, 0.5});
    ApplyEdit(outside, {6, RelayField::Mode, 1});
    EXPECT_EQ(WriteConfiguration(outside, 1, 32), WriteConfiguration(before, 1, 32));
}

TEST(SettingsDoor, ARelaysSettingsGoBackAsTheyWereRead)
{
    Model m;
    for (int p = 0; p < kProgramCount; ++p) {
        m.DayCode(2, p) = p + 3;
        m.ProgramStart(2, p) = 0.1 * p;
    }
    m.WindowMaxMinutes(2, 1) = 30;
    m.SelectedProgram(2) = 4;
    m.SelectedWindow(2) = 7;  // outside the tables: kept as it is
    m.SecondsTimer[2].Repeat = 1;
    m.RelayMode(2) = ModeRandom;
    const RelaySettings read = ReadRelaySettings(m, 2);
    Model copy;
    EXPECT_TRUE(WriteRelaySettings(copy, 2, read));
    EXPECT_EQ(WriteConfiguration(copy, 1, 32), WriteConfiguration(m, 1, 32));
}

// An edited mode is handed over with the logic rule; an edit is announced once.
TEST_F(ControllerFixture, TheDoorsSwitchInOrderAndLogOnceWithTheCause)
{
    Start();
    StopTimers();
    CaptureLog();
    QSignalSpy edited(core.get(), &RelayController::SettingsEdited);
    core->Switch({{1, RelayAction::On}, {1, RelayAction::Toggle}, {2, RelayAction::On}, {9, RelayAction::On}},
                 SwitchCause{CauseKind::Web, 0, "10.0.0.7"});
    EXPECT_EQ(model().RelayBits & 0x3F, 0x04);
    EXPECT_EQ(lines.filter("relay"), QStringList{"relay 3 on: web (10.0.0.7)"});

    RelaySettings s = core->Settings(0);
    s.mode = ModeTimer;
    s.startAfter = 12;
    core->SetSettings(0, s);
    core->Edit({0, RelayField::EndAfter, 30});
    EXPECT_EQ(edited.count(), 2);
    EXPECT_EQ(core->Settings(0).startAfter, 12);
    EXPECT_EQ(core->Settings(0).endAfter, 30);
    EXPECT_EQ(core->Settings(0).mode, ModeTimer);

    QSignalSpy names(core.get(), &RelayController::SettingsFileRead);
    core->SetNames({"Licht"});
    EXPECT_EQ(names.count(), 1);
    EXPECT_EQ(core->files().Name(0), "Licht");
}

// Seconds since the last tick as the wall clock and the monotonic clock tell them, and the
// seconds run: every one missed in a stall, in order, up to 60; a step of the wall clock none.
TEST(TickSchedule, ALateTickRunsEverySecondItMissedAndAWallStepNone)
{
    const struct {
        const char* what;
        int wallSeconds;    // clock seconds from the last tick
        int64_t elapsedMs;  // monotonic time from the last tick
        int runs;           // seconds run, the last the one the clock shows
    } cases[] = {
        {"on time", 1, 1000, 1},
        {"woke early, same second", 0, 996, 0},
        {"one second lost to a slow wake", 2, 1700, 2},
        {"stalled 10 s", 10, 10000, 10},
        {"stalled 5 min", 300, 300000, 60},
        {"clock set forward an hour", 3600, 1000, 1},
        {"clock set back", -3600, 1000, 1},
    };
    for (const auto& c : cases) {
        TickSchedule schedule;
        const LocalDateTime start{2024, 3, 15, 23, 59, 50, 5};
        ASSERT_EQ(schedule.Due(start, 1000).size(), 1u);
        const int64_t last = ClockSecond(start);
        LocalDateTime now = ClockSecondTime(last + c.wallSeconds);
        now.millisecond = 5;
        const std::vector<int64_t> due = schedule.Due(now, 1000 + c.elapsedMs);
        ASSERT_EQ(static_cast<int>(due.size()), c.runs) << c.what;
        for (size_t i = 0; i < due.size(); ++i)
            EXPECT_EQ(due[i], last + c.wallSeconds - static_cast<int64_t>(due.size() - 1 - i)) << c.what;
    }
    EXPECT_EQ(ClockSecondTime(ClockSecond({2024, 3, 16, 0, 0, 1, 0})).day, 16) << "across midnight";
}

}  // namespace
}  // namespace tavoxa::testing
