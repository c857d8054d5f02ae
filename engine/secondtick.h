// The second tick: clock sample, counts, minute tick and the four time-driven switching steps.
#pragma once

#include <array>
#include <vector>

#include "engine/clock.h"
#include "engine/model.h"
#include "engine/random.h"
#include "engine/switchcause.h"

namespace tavoxa {

// One tick, in order: second counts, weekday (one clock read), time and date (another read),
// SecondText, minute counter, then RunTimerPrograms, RunClockControl, RunSecondsTimers and
// RunRandomWindows. The caller shows the labels from the sample and then runs the remote's
// close step. With `events`, one entry is appended for every relay whose state the tick changed,
// with the step and the program or window that made the change; a relay switched on and off
// within the tick has not changed.
void SecondTick(Model& m, const Clock& clock, RandomSource& random,
                std::vector<SwitchEvent>* events = nullptr);

// Per relay, the program or window that last switched it within one step; -1 where none did.
using SwitchWriters = std::array<int, kRelayCount>;

// The switching steps, each on the relays of its own mode only.
void RunTimerPrograms(Model& m, SwitchWriters* writers = nullptr);
void RunClockControl(Model& m);
void RunSecondsTimers(Model& m);
// The reseed value of the random step: the clock's milliseconds, counted across days.
uint32_t RandomSeed(const LocalDateTime& t);
// Reseeds `random` with `reseedMs` (RandomSeed of the clock) before anything else.
void RunRandomWindows(Model& m, RandomSource& random, uint32_t reseedMs, SwitchWriters* writers = nullptr);

// The settings that stand when no configuration file can be read: all relays "Toggle",
// every program dated today with start = end = now, all windows off; the clock is read anew
// for every single value.
void ApplyDefaults(Model& m, const Clock& clock);

}  // namespace tavoxa
