// Cost of the look-ahead: the plan of seven days for six relays in "Timer" with six programs each
// (target under 50 ms), and the next switching of all six relays, worked out anew every second
// for the lamps' tool tips. Prints median and maximum of repeated runs.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/benchkit.h"
#include "engine/clock.h"
#include "engine/model.h"
#include "engine/schedule.h"

using namespace tavoxa;

namespace {

constexpr int kRuns = 200;
constexpr double kPlanTargetMs = 50.0;

Model BusyTimers()
{
    Model m;
    for (int r = 0; r < kRelayCount; ++r) {
        m.RelayMode(r) = ModeTimer;
        for (int p = 0; p < kProgramCount; ++p) {
            m.DayCode(r, p) = (r * kProgramCount + p) % 11;  // every code, "Date" included
            m.ProgramDate(r, p) = EncodeDate(2024, 1, 1 + p % 5);
            m.ProgramStart(r, p) = EncodeTime((r + 4 * p) % 24, 7 * p % 60, 13 * r % 60);
            m.ProgramEnd(r, p) = EncodeTime((r + 4 * p + 2) % 24, 11 * p % 60, 17 * r % 60);
        }
    }
    return m;
}

template <typename Work>
std::vector<double> TimeRuns(Work work)
{
    std::vector<double> ms;
    for (int i = 0; i < kRuns; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        work();
        const auto t1 = std::chrono::steady_clock::now();
        ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    return ms;
}

}  // namespace

int main()
{
    const Model m = BusyTimers();
    LocalDateTime from;
    from.year = 2024;
    from.month = 1;
    from.day = 1;
    from.hour = 6;  // a Monday morning

    size_t switches = 0;
    const std::vector<double> plan = TimeRuns([&] {
        const Plan p = PlanSwitchings(m, from, 7);
        switches = 0;
        for (const RelayPlan& rp : p.relays)
            switches += rp.switches.size();
    });
    const double planMedian = bench::Percentile(plan, 0.5);
    std::printf("plan of 7 days, 6 relays x 6 programs (%zu switchings), %d runs:\n", switches, kRuns);
    std::printf("  median %.3f ms, max %.3f ms; target under %.0f ms: %s\n", planMedian,
                bench::Percentile(plan, 1.0), kPlanTargetMs, planMedian < kPlanTargetMs ? "met" : "MISSED");

    std::string text;
    const std::vector<double> next = TimeRuns([&] {
        for (int r = 0; r < kRelayCount; ++r)
            text = NextSwitchingText(NextSwitching(m, r, from, 7), 7);
    });
    std::printf("next switching of all 6 relays within 7 days (last: \"%s\"), %d runs:\n", text.c_str(),
                kRuns);
    std::printf("  median %.3f ms, max %.3f ms\n", bench::Percentile(next, 0.5),
                bench::Percentile(next, 1.0));
    return 0;
}
