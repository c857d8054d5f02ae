// The second tick's timing: a single-shot precise timer armed just past each full second of the
// clock, and which clock seconds a wake-up runs. A wake-up that comes late (the program or the
// machine stalled) runs every second it missed, up to kMaxLateSeconds of them, in order, each
// with its own clock second, so no exact-second switching is lost. Lateness is measured on the
// monotonic clock: a step of the wall clock (a time set at boot, daylight saving) runs only the
// second it lands on, and one going back runs the second it shows.
//
// Threads: the thread that created it (the main thread), as its timer.
#pragma once

#include <QObject>
#include <cstdint>
#include <limits>
#include <vector>

#include "engine/clock.h"

class QTimer;

namespace tavoxa {

// How far past the full second the second tick is armed: enough to be on the right side of the
// second even when the timer or the clock jitters by a few milliseconds.
constexpr int kSecondTickLagMs = 5;
// The most seconds one late wake-up runs, the second it wakes in included.
constexpr int kMaxLateSeconds = 60;

// Interval from `now` to kSecondTickLagMs past the next full second of the clock.
int SecondTickDelayMs(const LocalDateTime& now);
// Seconds since day 0 of the clock reading `t`, to tell one second of the clock from the next.
int64_t ClockSecond(const LocalDateTime& t);
// The clock reading at the start of clock second `second` (ClockSecond's inverse).
LocalDateTime ClockSecondTime(int64_t second);

// Which clock seconds a wake-up runs, from the last second run and the monotonic time then.
class TickSchedule {
public:
    // The clock seconds to run now, oldest first; empty when this second has run already.
    std::vector<int64_t> Due(const LocalDateTime& now, int64_t monotonicMs);

private:
    int64_t lastSecond_ = std::numeric_limits<int64_t>::min();
    int lastMillisecond_ = 0;
    int64_t lastMonotonicMs_ = 0;
};

class SecondTicker : public QObject {
    Q_OBJECT
public:
    SecondTicker(const Clock& clock, const MonotonicClock& monotonic, QObject* parent = nullptr);

    void Start();
    void Stop();
    // The timer's handler: arms the next wake-up and emits Second for every second due. Tests
    // call it with the timer stopped.
    void Fire();
    QTimer* timer() const { return timer_; }
    const Clock& clock() const { return clock_; }

signals:
    // Runs clock second `at` (its millisecond that of the wake-up); in order, once per second.
    void Second(const tavoxa::LocalDateTime& at);

private:
    const Clock& clock_;
    const MonotonicClock& monotonic_;
    TickSchedule schedule_;
    QTimer* timer_ = nullptr;
};

}  // namespace tavoxa
