// Looking ahead and back along the switching rules: the next switching of a relay, a plan of the
// coming days, and the replay of the timer programs at start-up.
//
// All of it runs the second tick itself on a copy of the model with a simulated clock and a
// random source of its own, so what it reports is what the tick will do, and the real model and
// random source are left alone. The run jumps from one second where something can happen to the
// next (program times, window edges, minute ticks, the seconds-timer counts, the clock pulse
// seconds), carrying the counts across the seconds it skips as the skipped ticks would have.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "engine/clock.h"
#include "engine/model.h"
#include "engine/switchcause.h"

namespace tavoxa {

struct NextSwitch {
    bool found = false;
    double at = 0.0;  // date and time of the tick that switches
    bool on = false;
    SwitchCause cause;
    // For a random window, its edges (times of day): the drawn time is only one of many.
    double windowStart = 0.0;
    double windowEnd = 0.0;
};

// The first change of the relay's state by a tick after `now`, within horizonDays days. The model
// is taken as it stands after the tick of `now`.
NextSwitch NextSwitching(const Model& m, int relay, const LocalDateTime& now, int horizonDays);

// "next: on Tue 06:30:00, program 1", "next: off Wed 00:00:00, seconds timer",
// "random between 18:00 and 23:00", "no switching in the next 7 days".
std::string NextSwitchingText(const NextSwitch& next, int horizonDays);

struct PlannedSwitch {
    double at = 0.0;
    bool on = false;
    SwitchCause cause;
};

struct PlannedWindow {
    double from = 0.0;  // the window's start (the first second it is open is the one after)
    double to = 0.0;    // its end second
    int window = 0;     // 0..2
};

struct RelayPlan {
    int32_t mode = ModeToggle;
    bool onAtStart = false;
    std::vector<PlannedSwitch> switches;  // "Timer": every change, second by second
    std::vector<PlannedWindow> windows;   // "Random": the open windows, not the drawn times
    std::string summary;                  // seconds timer, clock pulse, and modes without a plan
};

struct Plan {
    double from = 0.0;  // the first second planned
    double to = 0.0;    // midnight after the last day
    std::array<RelayPlan, kRelayCount> relays;
};

// The switchings of every relay from `from` to the end of the days-th calendar day (the day of
// `from` counting as the first).
Plan PlanSwitchings(const Model& m, const LocalDateTime& from, int days);

struct OnInterval {
    double from = 0.0;
    double to = 0.0;
};
// The stretches a "Timer" relay of the plan is on, cut to the plan's span.
std::vector<OnInterval> OnIntervals(const Plan& plan, int relay);

// The plan as text: a block per relay (named by `names`, which may be short or hold empty
// names), a line per day with its date, times as hh:mm:ss.
std::string FormatPlanTable(const Plan& plan, const std::vector<std::string>& names);

// Every relay in "Timer" mode set to the state its programs' events of the past seven days
// (through `now`) would have left it in, the latest event winning; a relay without any event in
// that time keeps its state. Returns the changes made, with the cause "resumed at start-up".
std::vector<SwitchEvent> ResumeTimers(Model& m, const LocalDateTime& now);

}  // namespace tavoxa
