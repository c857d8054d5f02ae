// Time per load and per save of a configuration file, and the file's size.
// Target: well under 5 ms for each operation.
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include "storage/configfile.h"

using namespace tavoxa;

namespace {

Model Sample()
{
    std::mt19937 rng(42);
    std::uniform_int_distribution<int32_t> small(0, 10);
    std::uniform_real_distribution<double> day(40000.0, 50000.0);
    Model m;
    for (auto& plane : m.SwitchTable)
        for (auto& relay : plane)
            for (int32_t& v : relay)
                v = small(rng);
    for (auto& plane : m.TimeTable)
        for (auto& relay : plane)
            for (double& v : relay)
                v = day(rng);
    for (SecondsTimerRecord& t : m.SecondsTimer)
        t = {1, small(rng) * 100, small(rng) * 1000, -1};
    for (auto& plane : m.WindowTable)
        for (auto& relay : plane)
            for (int32_t& v : relay)
                v = small(rng) * 7;
    for (auto& plane : m.WindowTimes)
        for (auto& relay : plane)
            for (double& v : relay)
                v = day(rng) - 45000.0;
    return m;
}

double MicrosecondsSince(std::chrono::steady_clock::time_point start, int count)
{
    const std::chrono::duration<double, std::micro> elapsed = std::chrono::steady_clock::now() - start;
    return elapsed.count() / count;
}

struct Figures {
    double saveUs = 0, loadUs = 0;  // means
    double saveMedianUs = 0, saveWorstUs = 0;
};

// Saves and loads `rounds` times in `dir`.
Figures TimeFileOperations(const QString& dir, const Model& settings, int rounds)
{
    const std::string path = QDir(dir).filePath("bench.dat").toStdString();
    StorageState state;
    Figures f;
    std::vector<double> saves;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i) {
        const auto one = std::chrono::steady_clock::now();
        SaveConfigurationFile(path, settings, 1, 0x20, state);
        saves.push_back(MicrosecondsSince(one, 1));
    }
    f.saveUs = MicrosecondsSince(start, rounds);
    std::sort(saves.begin(), saves.end());
    f.saveMedianUs = saves[saves.size() / 2];
    f.saveWorstUs = saves.back();

    Model loaded;
    int32_t com = 0;
    uint8_t chip = 0;
    ConfigTarget target(loaded, com, chip);
    start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i)
        LoadConfigurationFile(path, target, state);
    f.loadUs = MicrosecondsSince(start, rounds);
    return f;
}

}  // namespace

int main()
{
    const Model settings = Sample();
    constexpr int kRounds = 200;

    QTemporaryDir disk;
    if (!disk.isValid()) {
        std::fprintf(stderr, "no temporary directory\n");
        return 1;
    }
    const Figures onDisk = TimeFileOperations(disk.path(), settings, kRounds);

    const std::string text = WriteConfiguration(settings, 1, 0x20);
    Model parsed;
    int32_t com = 0;
    uint8_t chip = 0;
    ConfigTarget target(parsed, com, chip);
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kRounds; ++i)
        ReadConfiguration(text, target);
    const double parseUs = MicrosecondsSince(start, kRounds);
    start = std::chrono::steady_clock::now();
    size_t bytes = 0;
    for (int i = 0; i < kRounds; ++i)
        bytes += WriteConfiguration(settings, 1, 0x20).size();
    const double formatUs = MicrosecondsSince(start, kRounds);

    std::printf("configuration file size: %zu bytes (%d lines)\n", text.size(), kConfigLineCount);
    std::printf("in %s:\n", disk.path().toLocal8Bit().constData());
    std::printf("  save (format, write, flush to disk, replace): %8.1f us per operation (target < 5000 us)\n",
                onDisk.saveUs);
    std::printf("        median %.1f us, worst %.1f us\n", onDisk.saveMedianUs, onDisk.saveWorstUs);
    std::printf("  load (read file, parse):                      %8.1f us per operation (target < 5000 us)\n",
                onDisk.loadUs);
    // The save's time on a real disk is mostly the flush that QSaveFile makes before it
    // replaces the old file; a memory file system shows the cost without it.
    if (QFileInfo(QStringLiteral("/dev/shm")).isWritable()) {
        QTemporaryDir memory(QStringLiteral("/dev/shm/bench_storage_XXXXXX"));
        if (memory.isValid()) {
            const Figures inMemory = TimeFileOperations(memory.path(), settings, kRounds);
            std::printf("in /dev/shm (tmpfs, the flush costs nothing):\n");
            std::printf("  save: %8.1f us per operation\n", inMemory.saveUs);
            std::printf("  load: %8.1f us per operation\n", inMemory.loadUs);
        }
    }
    std::printf("in memory: parse %.1f us, format %.1f us (%zu bytes)\n", parseUs, formatUs, bytes / kRounds);
    return 0;
}
