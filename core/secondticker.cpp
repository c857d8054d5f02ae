#include "core/secondticker.h"

#include <QTimer>
#include <algorithm>
#include <chrono>

#include "engine/hardware.h"

namespace tavoxa {

int SecondTickDelayMs(const LocalDateTime& now)
{
    int ms = now.millisecond;
    if (ms < 0 || ms > 999)
        ms = 0;
    return 1000 - ms + kSecondTickLagMs;
}

int64_t ClockSecond(const LocalDateTime& t)
{
    return static_cast<int64_t>(EncodeDate(t.year, t.month, t.day)) * kSecondsPerDay +
           (t.hour * 60 + t.minute) * 60 + t.second;
}

LocalDateTime ClockSecondTime(int64_t second)
{
    int64_t day = second / kSecondsPerDay;
    int64_t ofDay = second % kSecondsPerDay;
    if (ofDay < 0) {
        ofDay += kSecondsPerDay;
        --day;
    }
    LocalDateTime t = FromDateTime(static_cast<double>(day));
    t.hour = static_cast<int>(ofDay / 3600);
    t.minute = static_cast<int>(ofDay / 60 % 60);
    t.second = static_cast<int>(ofDay % 60);
    t.millisecond = 0;
    return t;
}

std::vector<int64_t> TickSchedule::Due(const LocalDateTime& now, int64_t monotonicMs)
{
    const int64_t second = ClockSecond(now);
    if (second == lastSecond_)
        return {};  // woke before the full second: this second has had its tick
    std::vector<int64_t> due;
    const bool first = lastSecond_ == std::numeric_limits<int64_t>::min();
    if (!first) {
        // The clock second the monotonic clock says it is now. Within a second of the wall
        // clock's reading (timer and clock jitter), the seconds between are ones the program
        // missed; further off, the wall clock was set, and only its new second runs.
        const int64_t elapsed = monotonicMs - lastMonotonicMs_;
        const int64_t expected = lastSecond_ + (lastMillisecond_ + elapsed) / 1000;
        if (second > lastSecond_ && second - expected <= 1 && expected - second <= 1) {
            const int64_t from = std::max(lastSecond_ + 1, second - (kMaxLateSeconds - 1));
            for (int64_t s = from; s < second; ++s)
                due.push_back(s);
        }
    }
    due.push_back(second);
    lastSecond_ = second;
    lastMillisecond_ = now.millisecond >= 0 && now.millisecond <= 999 ? now.millisecond : 0;
    lastMonotonicMs_ = monotonicMs;
    return due;
}

SecondTicker::SecondTicker(const Clock& clock, const MonotonicClock& monotonic, QObject* parent)
    : QObject(parent), clock_(clock), monotonic_(monotonic)
{
    timer_ = new QTimer(this);
    timer_->setObjectName(QStringLiteral("Timer2"));
    timer_->setTimerType(Qt::PreciseTimer);
    timer_->setSingleShot(true);
    connect(timer_, &QTimer::timeout, this, &SecondTicker::Fire);
}

void SecondTicker::Start()
{
    timer_->start(SecondTickDelayMs(clock_.Now()));
}

void SecondTicker::Stop()
{
    timer_->stop();
}

void SecondTicker::Fire()
{
    // Timer intervals drift against the clock; arming each tick anew for just past the next
    // full second gives every second of the clock its tick.
    const LocalDateTime now = clock_.Now();
    timer_->start(SecondTickDelayMs(now));
    const std::vector<int64_t> due = schedule_.Due(now, monotonic_.NowMs());
    for (const int64_t s : due) {
        LocalDateTime at = s == due.back() ? now : ClockSecondTime(s);
        at.millisecond = now.millisecond;
        emit Second(at);
    }
}

}  // namespace tavoxa
