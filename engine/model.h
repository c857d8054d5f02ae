// Relay state and settings model: the one shared state of the switching engine.
//
// Plain data with small operations on it. Everything here is touched from the
// user-interface thread only; tests build a fresh Model for every case.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "engine/hardware.h"

namespace tavoxa {

constexpr int kRelayCount = 6;
constexpr int kProgramCount = 6;
constexpr int kWindowCount = 3;

// RelayMode codes: the position of the entry in a relay's mode selector.
enum RelayModeCode : int32_t {
    ModeToggle = 0,
    ModeTimer = 1,
    ModeIfK1 = 2,
    ModeIfK2 = 3,
    ModeK1AndK2 = 4,
    ModeK1OrK2 = 5,
    ModeK1NorK2 = 6,
    ModeK1XorK2 = 7,
    ModeSecondsTimer = 8,
    ModeRandom = 9,
    ModeClock = 10,  // relay 6 (index 5) only
};

// Day codes of a timer program: the position in the day selector.
enum DayCodeValue : int32_t {
    DayDate = 0,
    DaySunday = 1,  // 1..7 = "So".."Sa"
    DaySaturday = 7,
    DayMonToFri = 8,
    DaySatSun = 9,
    DayEveryDay = 10,
};

// Mode selector entries, in code order. Relay 6 has all eleven, relays 1..5 the first ten.
extern const std::array<const char*, 11> kModeNames;
// How many of kModeNames relay 0..5 offers.
constexpr int ModeCount(int relay)
{
    return relay == kClockRelay ? 11 : 10;
}
// Day selector entries, in day-code order.
extern const std::array<const char*, 11> kDayCodeNames;
// "So".."Sa", "Mo-Fr", "Sa-So", "Mo-So": entry DayIndex is the weekday shown with the date,
// entry (code - 1) the name of day code 1..10.
extern const std::array<const char*, 10> DayNames;

struct SecondsTimerRecord {
    int32_t Repeat = 0;       // 1 = restart after the end second
    int32_t StartAfter = 0;   // count at which the relay goes on
    int32_t EndAfter = 0;     // count at which the relay goes off
    int32_t SecondCount = 0;  // +1 every second tick; -1 after start-up and RESET, 0 after START
};

// Everything the configuration file stores, in the layout of its tables. A load replaces it
// as a whole; storage/configfields.h walks it in file order.
struct StoredSettings {
    // SwitchTable[plane][relay][slot]: plane 0 slot 0 RelayMode, plane 1 slot 0 SelectedProgram,
    // plane 2 slot p DayCode of program p; other slots are spares kept with the file.
    int32_t SwitchTable[3][kRelayCount][6] = {};
    // TimeTable[plane][relay][program]: plane 0 ProgramDate, 1 ProgramStart, 2 ProgramEnd.
    double TimeTable[3][kRelayCount][kProgramCount] = {};
    SecondsTimerRecord SecondsTimer[kRelayCount];
    // WindowTable[plane][relay][window]: plane 0 slot 0 SelectedWindow (slots 1, 2 spare),
    // plane 1 WindowMaxMinutes.
    int32_t WindowTable[2][kRelayCount][kWindowCount] = {};
    // WindowTimes[plane][relay][window]: plane 0 WindowStart, plane 1 WindowEnd.
    double WindowTimes[2][kRelayCount][kWindowCount] = {};

    // Named views of the tables.
    int32_t& RelayMode(int r) { return SwitchTable[0][r][0]; }
    int32_t RelayMode(int r) const { return SwitchTable[0][r][0]; }
    int32_t& SelectedProgram(int r) { return SwitchTable[1][r][0]; }
    int32_t SelectedProgram(int r) const { return SwitchTable[1][r][0]; }
    int32_t& DayCode(int r, int p) { return SwitchTable[2][r][p]; }
    int32_t DayCode(int r, int p) const { return SwitchTable[2][r][p]; }
    double& ProgramDate(int r, int p) { return TimeTable[0][r][p]; }
    double ProgramDate(int r, int p) const { return TimeTable[0][r][p]; }
    double& ProgramStart(int r, int p) { return TimeTable[1][r][p]; }
    double ProgramStart(int r, int p) const { return TimeTable[1][r][p]; }
    double& ProgramEnd(int r, int p) { return TimeTable[2][r][p]; }
    double ProgramEnd(int r, int p) const { return TimeTable[2][r][p]; }
    int32_t& SelectedWindow(int r) { return WindowTable[0][r][0]; }
    int32_t SelectedWindow(int r) const { return WindowTable[0][r][0]; }
    int32_t& WindowMaxMinutes(int r, int w) { return WindowTable[1][r][w]; }
    int32_t WindowMaxMinutes(int r, int w) const { return WindowTable[1][r][w]; }
    double& WindowStart(int r, int w) { return WindowTimes[0][r][w]; }
    double WindowStart(int r, int w) const { return WindowTimes[0][r][w]; }
    double& WindowEnd(int r, int w) { return WindowTimes[1][r][w]; }
    double WindowEnd(int r, int w) const { return WindowTimes[1][r][w]; }
};

// What the program works out while it runs and never stores: a load leaves it as it is.
struct RuntimeState {
    // Relays in bits 0..5; between exchange ticks bits 6 and 7 carry the raw K2 and K1 levels.
    uint8_t RelayBits = 0;

    // WindowMinutes[plane][relay][window]: plane 0 MinutesToOn, plane 1 MinutesToOff.
    int32_t WindowMinutes[2][kRelayCount][kWindowCount] = {};

    // Clock sample and tick state, written by the second tick.
    double NowTime = 0.0;  // time of day of the last tick, fraction of a day
    double NowDate = 0.0;  // whole day number of the last tick
    int32_t DayIndex = 0;  // 0 = Sunday .. 6 = Saturday
    std::string DayName;
    std::string SecondText;  // the two seconds digits of the tick's time text
    int32_t MinuteCounter = 0;
    bool MinuteTick = false;

    int32_t& MinutesToOn(int r, int w) { return WindowMinutes[0][r][w]; }
    int32_t MinutesToOn(int r, int w) const { return WindowMinutes[0][r][w]; }
    int32_t& MinutesToOff(int r, int w) { return WindowMinutes[1][r][w]; }
    int32_t MinutesToOff(int r, int w) const { return WindowMinutes[1][r][w]; }
};

// The whole state of the switching engine: the stored settings and the running state.
struct Model : StoredSettings, RuntimeState {};

// Relay primitives; n is 0..5.
void SetRelay(Model& m, int n);
void ClearRelay(Model& m, int n);
void ToggleRelay(Model& m, int n);
bool RelayIsOn(const Model& m, int n);

// Every SecondCount -1 and every MinutesToOff 0: counts are never taken from a file, so after
// start-up every seconds timer waits for RESET or START.
void ForgetCounts(Model& m);
// RESET: all relays off (bits 6 and 7 too), every SecondCount -1, every MinutesToOff 0.
void ResetSwitching(Model& m);
// First step of START: every SecondCount 0.
void StartSeconds(Model& m);
// Whether the T button is usable for a mode selector showing `position` (0, 1 and 7 only).
bool ToggleButtonEnabled(int position);

}  // namespace tavoxa
