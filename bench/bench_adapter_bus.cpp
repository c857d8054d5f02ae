// CPU cost of one write and one read transaction of the bus worker against the simulated board,
// without the bus delays, and the line operations each makes.
#include <cstdio>
#include <ctime>

#include "adapter/simboard.h"
#include "adapter/transaction.h"
#include "engine/hardware.h"

namespace {

double CpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace

int main()
{
    constexpr int kRuns = 200000;
    tavoxa::SimulatedBoard board;
    tavoxa::NoBusDelay delay;
    tavoxa::I2cBus bus(board, delay);
    if (board.ComOpen(1) != 1) {
        std::fprintf(stderr, "simulated board did not open\n");
        return 1;
    }
    bus.I2cIdle();
    board.SetK1Closed(true);

    board.ResetCounters();
    tavoxa::WriteTransaction(bus, tavoxa::kChipAddressPcf8574, 0x05);
    std::printf("write transaction: %llu line changes, %llu CTS samples, acknowledged %s\n",
                static_cast<unsigned long long>(board.LineChanges()),
                static_cast<unsigned long long>(board.CtsCalls()), bus.I2cAcknowledged() ? "yes" : "no");
    board.ResetCounters();
    const uint8_t b = tavoxa::ReadTransaction(bus, tavoxa::kChipAddressPcf8574);
    std::printf("read transaction:  %llu line changes, %llu CTS samples, acknowledged %s, byte 0x%02X\n",
                static_cast<unsigned long long>(board.LineChanges()),
                static_cast<unsigned long long>(board.CtsCalls()), bus.I2cAcknowledged() ? "yes" : "no", b);

    double start = CpuSeconds();
    for (int i = 0; i < kRuns; ++i) {
        tavoxa::WriteTransaction(bus, tavoxa::kChipAddressPcf8574, 0x05);
    }
    const double writeNs = (CpuSeconds() - start) / kRuns * 1e9;
    start = CpuSeconds();
    unsigned sum = 0;
    for (int i = 0; i < kRuns; ++i) {
        sum += tavoxa::ReadTransaction(bus, tavoxa::kChipAddressPcf8574);
    }
    const double readNs = (CpuSeconds() - start) / kRuns * 1e9;

    std::printf("CPU time per write transaction: %.0f ns (%d runs, no bus delays)\n", writeNs, kRuns);
    std::printf("CPU time per read transaction:  %.0f ns (%d runs, no bus delays, checksum %u)\n", readNs,
                kRuns, sum);
    return 0;
}
