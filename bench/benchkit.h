// Helpers the benchmarks share: percentiles of samples, and waiting with the event loop turning.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#ifdef QT_CORE_LIB
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#endif

namespace tavoxa::bench {

// The sample at fraction p (0 = smallest, 1 = largest) of the sorted samples; 0 when empty.
inline double Percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<size_t>(std::lround(p * static_cast<double>(values.size() - 1)));
    return values[std::min(index, values.size() - 1)];
}

#ifdef QT_CORE_LIB
// Runs the event loop until `done` holds or `timeoutMs` has passed, without spinning the CPU.
template <typename Done>
bool WaitUntil(Done done, int64_t timeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    while (!done()) {
        const int64_t left = timeoutMs - waited.elapsed();
        if (left <= 0)
            return false;
        QEventLoop loop;
        QTimer::singleShot(static_cast<int>(std::min<int64_t>(left, 10)), &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}
#endif

}  // namespace tavoxa::bench
