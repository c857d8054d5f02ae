#include "engine/schedule.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "engine/hardware.h"
#include "engine/random.h"
#include "engine/secondtick.h"

namespace tavoxa {
namespace {

// Seconds are counted across days: day number * 86400 + second of the day.
constexpr int64_t kNever = std::numeric_limits<int64_t>::max();
constexpr int kTicksPerMinute = 60;

int64_t DayOf(int64_t second)
{
    return second >= 0 ? second / kSecondsPerDay : -((-second + kSecondsPerDay - 1) / kSecondsPerDay);
}

int64_t SecondOf(const LocalDateTime& t)
{
    const auto day = static_cast<int64_t>(EncodeDate(t.year, t.month, t.day));
    return day * kSecondsPerDay + (t.hour * 60 + t.minute) * 60 + t.second;
}

double DateTimeOf(int64_t second)
{
    const int64_t day = DayOf(second);
    return static_cast<double>(day) + static_cast<double>(second - day * kSecondsPerDay) / kSecondsPerDay;
}

// Shows the second it is set to, to every read.
class SimulatedClock : public Clock {
public:
    void Set(int64_t second)
    {
        const int64_t day = DayOf(second);
        if (day != day_) {
            day_ = day;
            date_ = FromDateTime(static_cast<double>(day));
        }
        const auto s = static_cast<int>(second - day * kSecondsPerDay);
        now_ = date_;
        now_.hour = s / 3600;
        now_.minute = s / 60 % 60;
        now_.second = s % 60;
        now_.millisecond = 0;
    }
    LocalDateTime Now() const override { return now_; }

private:
    int64_t day_ = std::numeric_limits<int64_t>::min();
    LocalDateTime date_;
    LocalDateTime now_;
};

// A copy of the model driven by second ticks at chosen seconds.
class ForwardRun {
public:
    ForwardRun(const Model& m, int64_t first) : m_(m), next_(first) {}

    Model& model() { return m_; }
    int64_t next() const { return next_; }
    bool started() const { return started_; }

    // The ticks before `second` are skipped; then the tick of `second` runs.
    void TickAt(int64_t second, std::vector<SwitchEvent>* events)
    {
        Skip(second - next_);
        clock_.Set(second);
        SecondTick(m_, clock_, random_, events);
        next_ = second + 1;
        started_ = true;
    }

private:
    // What n ticks do to the counts when none of them switches a relay that is looked at.
    void Skip(int64_t n)
    {
        if (n <= 0)
            return;
        for (auto& timer : m_.SecondsTimer)
            timer.SecondCount =
                static_cast<int32_t>(static_cast<uint32_t>(timer.SecondCount) + static_cast<uint32_t>(n));
        const int64_t c = m_.MinuteCounter;
        if (c + n < kTicksPerMinute) {
            m_.MinuteCounter = static_cast<int32_t>(c + n);
        } else {
            const int64_t untilReset = std::max<int64_t>(1, kTicksPerMinute - c);
            m_.MinuteCounter = static_cast<int32_t>((n - untilReset) % kTicksPerMinute);
        }
        m_.MinuteTick = false;  // every skipped tick's random step cleared it
    }

    Model m_;
    int64_t next_;
    bool started_ = false;
    SimulatedClock clock_;
    LcgRandom random_;
};

// The seconds at which a tick can change the watched relays.
struct Watch {
    std::vector<int> daily;          // seconds of the day, sorted
    std::vector<int> countedRelays;  // seconds timers
    bool minuteTicks = false;        // random windows count down on minute ticks
    bool firstTick = false;          // a random window that is open rolls at once
};

void AddSecond(std::vector<int>& daily, double time, int offset = 0)
{
    const int s = SecondOfDay(time);
    if (s >= 0)
        daily.push_back(static_cast<int>((s + offset) % kSecondsPerDay));
}

void AddToWatch(Watch& watch, const Model& m, int r)
{
    switch (m.RelayMode(r)) {
        case ModeTimer:
            for (int p = 0; p < kProgramCount; ++p) {
                AddSecond(watch.daily, m.ProgramStart(r, p));
                AddSecond(watch.daily, m.ProgramEnd(r, p));
            }
            break;
        case ModeSecondsTimer:
            watch.countedRelays.push_back(r);
            break;
        case ModeRandom:
            for (int w = 0; w < kWindowCount; ++w) {
                if (m.WindowMaxMinutes(r, w) <= 0)
                    continue;
                AddSecond(watch.daily, m.WindowStart(r, w), 1);  // the first second it is open
                AddSecond(watch.daily, m.WindowEnd(r, w));
            }
            watch.minuteTicks = true;
            watch.firstTick = true;
            break;
        case ModeClock:
            if (r != kClockRelay)
                break;
            for (int minute = 0; minute < 24 * 60; ++minute) {
                watch.daily.push_back(minute * 60);
                watch.daily.push_back(minute * 60 + 58);
            }
            break;
        default:
            break;  // no time-driven step switches it
    }
}

void SortWatch(Watch& watch)
{
    std::sort(watch.daily.begin(), watch.daily.end());
    watch.daily.erase(std::unique(watch.daily.begin(), watch.daily.end()), watch.daily.end());
}

int64_t NextCandidate(const Watch& watch, ForwardRun& run)
{
    const int64_t pos = run.next();
    int64_t best = kNever;
    if (watch.firstTick && !run.started())
        return pos;
    if (!watch.daily.empty()) {
        const int64_t day = DayOf(pos);
        const auto sod = static_cast<int>(pos - day * kSecondsPerDay);
        const auto it = std::lower_bound(watch.daily.begin(), watch.daily.end(), sod);
        best = it != watch.daily.end() ? day * kSecondsPerDay + *it
                                       : (day + 1) * kSecondsPerDay + watch.daily.front();
    }
    const Model& m = run.model();
    for (int r : watch.countedRelays) {
        // The tick at pos + j makes the count SecondCount + j + 1.
        const SecondsTimerRecord& t = m.SecondsTimer[r];
        for (const int64_t target : {int64_t{t.StartAfter}, int64_t{t.EndAfter}}) {
            const int64_t j = target - t.SecondCount - 1;
            if (j >= 0)
                best = std::min(best, pos + j);
        }
    }
    if (watch.minuteTicks) {
        const int64_t untilTick = std::max<int64_t>(1, kTicksPerMinute - int64_t{m.MinuteCounter});
        best = std::min(best, pos + untilTick - 1);
    }
    return best;
}

// A copy in which only the given relays keep their modes, so the ticks spend no time on others.
Model OnlyRelays(const Model& m, const std::array<bool, kRelayCount>& keep)
{
    Model copy = m;
    for (int r = 0; r < kRelayCount; ++r)
        if (!keep[static_cast<size_t>(r)])
            copy.RelayMode(r) = ModeToggle;
    return copy;
}

const char* const kWeekdays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

std::string Clock2(double time)
{
    const std::string text = TimeText(time);
    return text.substr(6, 2) == "00" ? text.substr(0, 5) : text;
}

std::string DayText(double value)
{
    const LocalDateTime t = FromDateTime(value);
    char text[24];
    std::snprintf(text, sizeof text, "%s %04d-%02d-%02d", kWeekdays[DayOfWeek(value)], t.year, t.month,
                  t.day);
    return text;
}

std::string ShortCause(const SwitchCause& cause)
{
    if (cause.kind == CauseKind::TimerProgram)
        return "program " + std::to_string(cause.index + 1);
    return CauseText(cause);
}

}  // namespace

NextSwitch NextSwitching(const Model& m, int relay, const LocalDateTime& now, int horizonDays)
{
    NextSwitch result;
    if (relay < 0 || relay >= kRelayCount || horizonDays <= 0)
        return result;
    std::array<bool, kRelayCount> keep{};
    keep[static_cast<size_t>(relay)] = true;
    Watch watch;
    AddToWatch(watch, m, relay);
    SortWatch(watch);

    const int64_t first = SecondOf(now) + 1;
    const int64_t end = first + int64_t{horizonDays} * kSecondsPerDay;
    ForwardRun run(OnlyRelays(m, keep), first);
    std::vector<SwitchEvent> events;
    for (;;) {
        const int64_t second = NextCandidate(watch, run);
        if (second >= end)
            return result;
        events.clear();
        run.TickAt(second, &events);
        for (const SwitchEvent& e : events) {
            if (e.relay != relay)
                continue;
            result.found = true;
            result.at = DateTimeOf(second);
            result.on = e.on;
            result.cause = e.cause;
            if (e.cause.kind == CauseKind::RandomWindow && e.cause.index >= 0) {
                result.windowStart = m.WindowStart(relay, e.cause.index);
                result.windowEnd = m.WindowEnd(relay, e.cause.index);
            }
            return result;
        }
    }
}

std::string NextSwitchingText(const NextSwitch& next, int horizonDays)
{
    if (!next.found)
        return "no switching in the next " + std::to_string(horizonDays) +
               (horizonDays == 1 ? " day" : " days");
    if (next.cause.kind == CauseKind::RandomWindow)
        return "random between " + Clock2(next.windowStart) + " and " + Clock2(next.windowEnd);
    return std::string("next: ") + (next.on ? "on " : "off ") + kWeekdays[DayOfWeek(next.at)] + " " +
           TimeText(next.at) + ", " + ShortCause(next.cause);
}

Plan PlanSwitchings(const Model& m, const LocalDateTime& from, int days)
{
    Plan plan;
    const int64_t first = SecondOf(from);
    const int64_t end = (DayOf(first) + std::max(days, 0)) * kSecondsPerDay;
    plan.from = DateTimeOf(first);
    plan.to = DateTimeOf(std::max(end, first));

    std::array<bool, kRelayCount> timers{};
    Watch watch;
    for (int r = 0; r < kRelayCount; ++r) {
        RelayPlan& rp = plan.relays[static_cast<size_t>(r)];
        rp.mode = m.RelayMode(r);
        rp.onAtStart = RelayIsOn(m, r);
        switch (rp.mode) {
            case ModeTimer:
                timers[static_cast<size_t>(r)] = true;
                AddToWatch(watch, m, r);
                break;
            case ModeSecondsTimer: {
                const SecondsTimerRecord& t = m.SecondsTimer[r];
                rp.summary = "seconds timer: on after " + std::to_string(t.StartAfter) + " s, off after " +
                             std::to_string(t.EndAfter) + " s" + (t.Repeat == 1 ? ", repeating" : "");
                break;
            }
            case ModeRandom:
                rp.summary = "random windows";
                for (int64_t day = DayOf(first) - 1; day < DayOf(end); ++day) {
                    for (int w = 0; w < kWindowCount; ++w) {
                        const int s = SecondOfDay(m.WindowStart(r, w));
                        const int e = SecondOfDay(m.WindowEnd(r, w));
                        if (m.WindowMaxMinutes(r, w) <= 0 || s < 0 || e < 0)
                            continue;
                        // A start at or after the end runs across midnight; equal ones all day.
                        const int64_t open = day * kSecondsPerDay + s;
                        const int64_t close = (s < e ? day : day + 1) * kSecondsPerDay + e;
                        const int64_t a = std::max(open, first);
                        const int64_t b = std::min(close, end);
                        if (a < b)
                            rp.windows.push_back({DateTimeOf(a), DateTimeOf(b), w});
                    }
                }
                std::sort(rp.windows.begin(), rp.windows.end(),
                          [](const PlannedWindow& x, const PlannedWindow& y) { return x.from < y.from; });
                break;
            case ModeClock:
                rp.summary = r == kClockRelay ? "clock pulse: 2 s every minute" : "no time switching";
                break;
            default:
                rp.summary = rp.mode >= ModeIfK1 && rp.mode <= ModeK1XorK2 ? "follows the contacts"
                                                                           : "no time switching";
                break;
        }
    }
    SortWatch(watch);
    if (watch.daily.empty())
        return plan;

    ForwardRun run(OnlyRelays(m, timers), first);
    std::vector<SwitchEvent> events;
    for (;;) {
        const int64_t second = NextCandidate(watch, run);
        if (second >= end)
            break;
        events.clear();
        run.TickAt(second, &events);
        for (SwitchEvent& e : events)
            plan.relays[static_cast<size_t>(e.relay)].switches.push_back(
                {DateTimeOf(second), e.on, std::move(e.cause)});
    }
    return plan;
}

std::vector<OnInterval> OnIntervals(const Plan& plan, int relay)
{
    std::vector<OnInterval> result;
    const RelayPlan& rp = plan.relays[static_cast<size_t>(relay)];
    if (rp.mode != ModeTimer)
        return result;
    bool on = rp.onAtStart;
    double since = plan.from;
    for (const PlannedSwitch& s : rp.switches) {
        if (s.on && !on)
            since = s.at;
        else if (!s.on && on)
            result.push_back({since, s.at});
        on = s.on;
    }
    if (on && since < plan.to)
        result.push_back({since, plan.to});
    return result;
}

std::string FormatPlanTable(const Plan& plan, const std::vector<std::string>& names)
{
    std::string out = "Switching plan from " + DayText(plan.from) + " " + TimeText(plan.from) + " to " +
                      DayText(plan.to) + " " + TimeText(plan.to) + "\n";
    const auto firstDay = static_cast<int64_t>(DatePart(plan.from));
    const auto endDay = static_cast<int64_t>(DatePart(plan.to));
    for (int r = 0; r < kRelayCount; ++r) {
        const RelayPlan& rp = plan.relays[static_cast<size_t>(r)];
        out += "\nRelay " + std::to_string(r + 1);
        if (static_cast<size_t>(r) < names.size() && !names[static_cast<size_t>(r)].empty())
            out += " (" + names[static_cast<size_t>(r)] + ")";
        const bool known = rp.mode >= 0 && rp.mode < static_cast<int32_t>(kModeNames.size());
        out += std::string(", ") + (known ? kModeNames[static_cast<size_t>(rp.mode)] : "?") + ", " +
               (rp.onAtStart ? "on" : "off") + " at the start\n";
        if (rp.mode != ModeTimer && rp.mode != ModeRandom) {
            out += "  " + rp.summary + "\n";
            continue;
        }
        for (int64_t day = firstDay; day < endDay; ++day) {
            std::string line;
            const auto inDay = [day](double at) { return static_cast<int64_t>(DatePart(at)) == day; };
            for (const PlannedSwitch& s : rp.switches) {
                if (!inDay(s.at))
                    continue;
                line += (line.empty() ? "" : ", ") + TimeText(s.at) + (s.on ? " on" : " off") + " (" +
                        ShortCause(s.cause) + ")";
            }
            for (const PlannedWindow& w : rp.windows) {
                if (!inDay(w.from))
                    continue;
                line += (line.empty() ? "" : ", ") + std::string("random ") + TimeText(w.from) + "-" +
                        TimeText(w.to) + " (window " + std::to_string(w.window + 1) + ")";
            }
            out += "  " + DayText(static_cast<double>(day)) + "  " + (line.empty() ? "-" : line) + "\n";
        }
    }
    return out;
}

std::vector<SwitchEvent> ResumeTimers(Model& m, const LocalDateTime& now)
{
    std::vector<SwitchEvent> changes;
    std::array<bool, kRelayCount> timers{};
    Watch watch;
    for (int r = 0; r < kRelayCount; ++r) {
        if (m.RelayMode(r) == ModeTimer) {
            timers[static_cast<size_t>(r)] = true;
            AddToWatch(watch, m, r);
        }
    }
    SortWatch(watch);
    if (watch.daily.empty())
        return changes;

    // The replay runs twice, from all timer relays off and from all on: a relay that ends the
    // same both times had an event, and the latest one decided its state; one that ends as it
    // began in each run had none.
    const int64_t end = SecondOf(now) + 1;
    const int64_t first = end - 7 * kSecondsPerDay;
    std::array<uint8_t, 2> finals{};
    for (int pass = 0; pass < 2; ++pass) {
        Model start = OnlyRelays(m, timers);
        for (int r = 0; r < kRelayCount; ++r)
            if (timers[static_cast<size_t>(r)]) {
                if (pass == 0)
                    ClearRelay(start, r);
                else
                    SetRelay(start, r);
            }
        ForwardRun run(start, first);
        for (;;) {
            const int64_t second = NextCandidate(watch, run);
            if (second >= end)
                break;
            run.TickAt(second, nullptr);
        }
        finals[static_cast<size_t>(pass)] = run.model().RelayBits;
    }
    for (int r = 0; r < kRelayCount; ++r) {
        if (!timers[static_cast<size_t>(r)])
            continue;
        const bool fromOff = (finals[0] >> r) & 1u;
        const bool fromOn = (finals[1] >> r) & 1u;
        if (fromOff != fromOn || fromOff == RelayIsOn(m, r))
            continue;
        if (fromOff)
            SetRelay(m, r);
        else
            ClearRelay(m, r);
        SwitchEvent e;
        e.relay = r;
        e.on = fromOff;
        e.cause.kind = CauseKind::ResumedAtStartUp;
        changes.push_back(e);
    }
    return changes;
}

}  // namespace tavoxa
