// The bus worker alone on its thread, over serial lines whose every call takes a set time (as a USB
// serial adapter's modem-line calls do), with the real I2C timing: transactions per second, the
// time from the start of one transaction to the next (20 ms when the adapter is fast; shorter
// where a change of the relay byte goes out ahead of its tick), how long a change of the relay
// byte takes to reach the wire (from SetRelayByte to the end of the write transaction that
// carries it), and how late a 1 ms timer on the owner's thread fires while the bus runs.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <vector>

#include "adapter/busworker.h"
#include "bench/benchkit.h"
#include "tests/adapter/timedlines.h"

namespace {

using tavoxa::TimedLines;
using Ms = std::chrono::duration<double, std::milli>;

void Run(std::chrono::microseconds perCall, int seconds)
{
    TimedLines lines(perCall);
    tavoxa::SteadyBusDelay delay;
    tavoxa::BusThread bus(lines, delay);
    bus.Open(1, 0x20);
    tavoxa::bench::WaitUntil([&] { return lines.Transactions().size() >= 2; }, 5000);

    // The owner's thread: a 1 ms timer, and a change of the relay byte every 100 ms or so.
    std::vector<double> lateness;
    QElapsedTimer clock;
    clock.start();
    int64_t lastNs = clock.nsecsElapsed();
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const int64_t now = clock.nsecsElapsed();
        lateness.push_back(static_cast<double>(now - lastNs) / 1e6 - 1.0);
        lastNs = now;
    });
    tick.start(1);

    struct Change {
        uint8_t wire;
        TimedLines::Clock::time_point at;
    };
    std::vector<Change> changes;
    const size_t before = lines.Transactions().size();
    const auto start = TimedLines::Clock::now();
    uint8_t byte = 0;
    QTimer change;
    QObject::connect(&change, &QTimer::timeout, [&] {
        byte = static_cast<uint8_t>((byte + 1) & 0x3F);
        changes.push_back({static_cast<uint8_t>(byte | 0xC0), TimedLines::Clock::now()});
        bus.SetRelayByte(byte);
        change.start(90 + static_cast<int>(changes.size() * 7 % 23));  // not in step with the bus
    });
    change.start(50);
    tavoxa::bench::WaitUntil([] { return false; }, seconds * 1000);
    change.stop();
    tick.stop();
    const auto stop = TimedLines::Clock::now();
    tavoxa::bench::WaitUntil([&] { return false; }, 300);  // the last change reaches the wire
    const std::vector<TimedLines::Transaction> t = lines.Transactions();
    bus.Finish();

    size_t inWindow = 0;
    for (size_t i = before; i < t.size(); ++i) {
        inWindow += t[i].start >= start && t[i].end <= stop ? 1 : 0;
    }
    std::vector<double> latency;
    for (const Change& c : changes) {
        for (const auto& x : t) {
            if (x.write && x.start >= c.at && x.byte == c.wire) {
                latency.push_back(Ms(x.end - c.at).count());
                break;
            }
        }
    }
    double writeMs = 0;
    double readMs = 0;
    int writes = 0;
    int reads = 0;
    std::vector<double> period;
    for (size_t i = before; i < t.size(); ++i) {
        (t[i].write ? writeMs : readMs) += Ms(t[i].end - t[i].start).count();
        ++(t[i].write ? writes : reads);
        if (i > before) {
            period.push_back(Ms(t[i].start - t[i - 1].start).count());
        }
    }
    using tavoxa::bench::Percentile;
    std::printf(
        "%7.2f ms/call | %6.1f transactions/s, start to start median %6.1f ms, p99 %6.1f ms | write "
        "%6.1f ms, read %6.1f ms | change to wire median %6.1f ms, p99 %6.1f ms (%zu of %zu) | 1 ms "
        "timer late p99 %5.2f ms\n",
        static_cast<double>(perCall.count()) / 1000.0,
        static_cast<double>(inWindow) / Ms(stop - start).count() * 1000.0, Percentile(period, 0.5),
        Percentile(period, 0.99), writes > 0 ? writeMs / writes : 0.0, reads > 0 ? readMs / reads : 0.0,
        Percentile(latency, 0.5), Percentile(latency, 0.99), latency.size(), changes.size(),
        Percentile(lateness, 0.99));
    if (perCall.count() == 0) {
        std::printf("        fast adapter, target: start to start median 20 ms (%s), p99 < 25 ms (%s)\n",
                    Percentile(period, 0.5) > 19.5 && Percentile(period, 0.5) < 20.5 ? "met" : "missed",
                    Percentile(period, 0.99) < 25.0 ? "met" : "missed");
    }
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::printf("Bus worker on its own thread, emulated adapter, real I2C timing (5 us phases)\n");
    for (const int us : {0, 250, 1000, 2000}) {
        Run(std::chrono::microseconds(us), 4);
    }
    return 0;
}
