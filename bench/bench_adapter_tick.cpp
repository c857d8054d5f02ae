// Period of the 20 ms exchange tick with the simulated board and the real bus delays.
// Usage: bench_adapter_tick [seconds]   (default 60)
#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "adapter/exchange.h"
#include "adapter/simboard.h"
#include "bench/benchkit.h"

namespace {

using tavoxa::bench::Percentile;

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;
    if (!(seconds > 0.0) || seconds > 3600.0) {
        std::fprintf(stderr, "usage: %s [seconds, 0 < s <= 3600]\n", argv[0]);
        return 2;
    }

    tavoxa::SimulatedBoard board;
    tavoxa::SteadyBusDelay delay;
    tavoxa::I2cBus bus(board, delay);
    tavoxa::AdapterState a;
    tavoxa::Model m;
    a.PortSettings = tavoxa::BuildPortSettings("Com", a.ComNumber);
    if (!tavoxa::OpenAdapter(a, board, bus)) {
        std::fprintf(stderr, "simulated board did not open\n");
        return 1;
    }
    m.RelayMode(0) = tavoxa::ModeIfK1;

    std::vector<Clock::time_point> ticks;
    std::vector<double> work;
    ticks.reserve(static_cast<size_t>(seconds * 60) + 16);
    work.reserve(ticks.capacity());
    int connected = 0;

    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(20);
    QObject::connect(&timer, &QTimer::timeout, [&]() {
        const Clock::time_point now = Clock::now();
        ticks.push_back(now);
        // Toggle K1 now and then so that reads, debouncing and the input logic all do their work.
        board.SetK1Closed((ticks.size() / 50) % 2 == 1);
        const tavoxa::ExchangeResult r = tavoxa::ExchangeTick(a, m, bus);
        connected += r.Acknowledged ? 1 : 0;
        work.push_back(Ms(Clock::now() - now));
    });
    QTimer::singleShot(static_cast<int>(seconds * 1000), &app, &QCoreApplication::quit);
    timer.start();
    app.exec();

    std::vector<double> periods;
    for (size_t i = 1; i < ticks.size(); ++i) {
        periods.push_back(Ms(ticks[i] - ticks[i - 1]));
    }
    if (periods.empty()) {
        std::fprintf(stderr, "no ticks measured\n");
        return 1;
    }
    const double median = Percentile(periods, 0.5);
    const double p99 = Percentile(periods, 0.99);
    std::printf("exchange tick over %.1f s: %zu ticks, %d showed the adapter connected\n", seconds,
                ticks.size(), connected);
    const double mean = Ms(ticks.back() - ticks.front()) / static_cast<double>(periods.size());
    std::printf("mean period %.3f ms over %.3f s of ticking\n", mean,
                Ms(ticks.back() - ticks.front()) / 1000.0);
    std::printf("period: median %.3f ms, p99 %.3f ms, min %.3f ms, max %.3f ms\n", median, p99,
                Percentile(periods, 0.0), Percentile(periods, 1.0));
    std::printf("work per tick (bus delays included): median %.3f ms, max %.3f ms\n", Percentile(work, 0.5),
                Percentile(work, 1.0));
    std::printf("target: median 20 ms (%s), p99 < 25 ms (%s)\n",
                median > 19.5 && median < 20.5 ? "met" : "missed", p99 < 25.0 ? "met" : "missed");
    return 0;
}
