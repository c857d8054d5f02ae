// Load on the remote server: many clients polling "repeat" while the exchange and second ticks
// must stay on time.
//
//   bench_remote_load [seconds [clients]]     (defaults 60 s, 200 clients)
//
// The server runs in this process on the loopback, with a 20 ms and a 1 s timer standing in for
// the exchange and second ticks. The clients run in a second process (this program started with
// "client"), each sending "repeat" 20 times a second and waiting for the answer before the next.
// Prints answers lost (target 0), round-trip median and 99th percentile (target p99 < 10 ms),
// the tick periods under load and the server's memory before, during and after.
#include <malloc.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QProcess>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/benchkit.h"
#include "engine/clock.h"
#include "engine/model.h"
#include "remote/protocol.h"
#include "remote/remoteserver.h"
#include "ui/form1.h"

namespace {

using tavoxa::bench::Percentile;
using tavoxa::bench::WaitUntil;

using namespace tavoxa;

constexpr int kRequestIntervalMs = 50;  // 20 requests a second per client
constexpr int kConnectTimeoutMs = 60000;
constexpr int kDrainMs = 2000;  // time for the last answers after the load stops

long ResidentKiB()
{
    malloc_trim(0);
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE) / 1024;
}

// ---- client process -------------------------------------------------------------------------

struct LoadClient {
    QTcpSocket socket;
    QTimer timer;
    bool greeted = false;
    bool waiting = false;
    qint64 sentAtNs = 0;
};

struct ClientTotals {
    long sent = 0, answered = 0, skipped = 0, unexpected = 0, malformed = 0, dropped = 0;
    std::vector<double> roundTripsMs;
};

int RunClients(uint16_t port, int count, int seconds)
{
    QElapsedTimer clock;
    clock.start();
    ClientTotals totals;
    totals.roundTripsMs.reserve(static_cast<size_t>(count) * static_cast<size_t>(seconds) * 20);
    std::vector<std::unique_ptr<LoadClient>> clients;
    int greeted = 0;
    bool loading = false;

    for (int i = 0; i < count; ++i) {
        clients.push_back(std::make_unique<LoadClient>());
        LoadClient* c = clients.back().get();
        QObject::connect(&c->socket, &QTcpSocket::readyRead, [&, c] {
            const QByteArray bytes = c->socket.readAll();
            if (!c->greeted) {
                c->greeted = bytes.startsWith("connect");
                greeted += c->greeted ? 1 : 0;
                if (bytes.size() > 7)
                    ++totals.unexpected;
                return;
            }
            if (!c->waiting) {
                ++totals.unexpected;
                return;
            }
            c->waiting = false;
            ++totals.answered;
            const bool digits =
                !bytes.isEmpty() && bytes.size() <= 3 &&
                std::all_of(bytes.begin(), bytes.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
            totals.malformed += digits ? 0 : 1;
            totals.roundTripsMs.push_back(static_cast<double>(clock.nsecsElapsed() - c->sentAtNs) / 1e6);
        });
        QObject::connect(&c->socket, &QTcpSocket::disconnected, [&] { ++totals.dropped; });
        c->timer.setTimerType(Qt::PreciseTimer);
        c->timer.setInterval(kRequestIntervalMs);
        QObject::connect(&c->timer, &QTimer::timeout, [&, c] {
            if (!loading)
                return;
            if (c->waiting) {  // the previous answer is not back: sending now would merge two
                ++totals.skipped;
                return;
            }
            c->waiting = true;
            c->sentAtNs = clock.nsecsElapsed();
            c->socket.write("repeat", 6);
            ++totals.sent;
        });
    }

    // The server's listen queue holds 5: a burst of more handshakes than that overflows it and
    // the surplus stalls for seconds in SYN retries, so connect with at most 5 under way.
    QElapsedTimer waited;
    waited.start();
    int started = 0;
    WaitUntil(
        [&] {
            while (started < count && started - greeted < kListenBacklog)
                clients[started++]->socket.connectToHost(QHostAddress::LocalHost, port);
            return greeted == count;
        },
        kConnectTimeoutMs);
    std::printf("clients greeted     %d of %d in %lld ms\n", greeted, count, waited.elapsed());
    if (greeted < count)
        return 2;

    // Spread the clients over the request interval, as independent clients would be.
    loading = true;
    std::printf("phase load\n");
    std::fflush(stdout);
    for (int i = 0; i < count; ++i)
        QTimer::singleShot(i * kRequestIntervalMs / count, &clients[i]->timer,
                           [c = clients[i].get()] { c->timer.start(); });
    WaitUntil([] { return false; }, seconds * 1000LL);
    loading = false;
    std::printf("phase done\n");
    std::fflush(stdout);
    for (auto& c : clients)
        c->timer.stop();
    WaitUntil(
        [&] {
            return std::none_of(clients.begin(), clients.end(), [](const auto& c) { return c->waiting; });
        },
        kDrainMs);

    const long lost = totals.sent - totals.answered;
    std::printf("requests sent       %ld (%.0f per second)\n", totals.sent,
                static_cast<double>(totals.sent) / seconds);
    std::printf("answers lost        %ld (target 0)\n", lost);
    std::printf("answers malformed   %ld, unexpected %ld, connections dropped %ld\n", totals.malformed,
                totals.unexpected, totals.dropped);
    std::printf("sends skipped       %ld (previous answer later than %d ms)\n", totals.skipped,
                kRequestIntervalMs);
    std::printf("round trip median   %.3f ms\n", Percentile(totals.roundTripsMs, 0.5));
    std::printf("round trip p99      %.3f ms (target < 10 ms)\n", Percentile(totals.roundTripsMs, 0.99));
    std::printf("round trip max      %.3f ms\n", Percentile(totals.roundTripsMs, 1.0));
    std::fflush(stdout);
    for (auto& c : clients)
        c->socket.abort();
    return lost == 0 ? 0 : 1;
}

// ---- server process -------------------------------------------------------------------------

struct TickRecord {
    QElapsedTimer since;
    std::vector<double> periodsMs;
    bool recording = false;

    void Tick()
    {
        if (since.isValid() && recording)
            periodsMs.push_back(static_cast<double>(since.nsecsElapsed()) / 1e6);
        since.start();
    }
    void Print(const char* name, double nominalMs) const
    {
        const long late =
            std::count_if(periodsMs.begin(), periodsMs.end(), [&](double p) { return p > nominalMs * 1.5; });
        double sum = 0;
        for (double p : periodsMs)
            sum += p;
        std::printf("%s periods %zu: mean %.2f, median %.2f, p99 %.2f, max %.2f ms; %ld over %.0f ms\n", name,
                    periodsMs.size(), periodsMs.empty() ? 0.0 : sum / static_cast<double>(periodsMs.size()),
                    Percentile(periodsMs, 0.5), Percentile(periodsMs, 0.99), Percentile(periodsMs, 1.0), late,
                    nominalMs * 1.5);
    }
};

int RunServer(int seconds, int count)
{
    Model model;
    RemoteSettings remote;
    RemoteServer server(remote, model);
    server.SetListenAddress(QHostAddress::LocalHost);
    if (!server.Open(0)) {
        std::fprintf(stderr, "cannot open the server on the loopback\n");
        return 2;
    }
    const long residentBefore = ResidentKiB();
    long residentPeak = residentBefore;

    TickRecord exchange, second;
    QTimer exchangeTimer, secondTimer;
    exchangeTimer.setTimerType(Qt::PreciseTimer);
    int tickCount = 0;
    QObject::connect(&exchangeTimer, &QTimer::timeout, [&] {
        exchange.Tick();
        // As the exchange does: inputs in bits 6 and 7, changing now and then.
        model.RelayBits =
            static_cast<uint8_t>((model.RelayBits & 0x3F) | ((++tickCount / 50) % 2 ? 0x80 : 0x40));
    });
    // The second tick as the program arms it: a single shot just past each full second.
    SystemClock clock;
    secondTimer.setTimerType(Qt::PreciseTimer);
    secondTimer.setSingleShot(true);
    int64_t lastSecond = -1;
    long secondsMissed = 0, secondsTwice = 0;
    QObject::connect(&secondTimer, &QTimer::timeout, [&] {
        const LocalDateTime now = clock.Now();
        secondTimer.start(SecondTickDelayMs(now));
        const auto clockSecond = static_cast<int64_t>(std::floor(ToDateTime(now) * 86400.0 + 0.0005));
        if (second.recording && lastSecond >= 0) {
            if (clockSecond == lastSecond)
                ++secondsTwice;
            else if (clockSecond > lastSecond + 1)
                secondsMissed += clockSecond - lastSecond - 1;
        }
        lastSecond = clockSecond;
        second.Tick();
        server.RemoteCloseStep();
        if (exchange.recording)
            residentPeak = std::max(residentPeak, ResidentKiB());
    });
    exchangeTimer.start(20);
    secondTimer.start(SecondTickDelayMs(clock.Now()));

    QProcess clients;
    clients.setProcessChannelMode(QProcess::MergedChannels);
    QByteArray pending;
    QObject::connect(&clients, &QProcess::readyReadStandardOutput, [&] {
        pending += clients.readAllStandardOutput();
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QByteArray line = pending.left(end);
            pending.remove(0, end + 1);
            if (line == "phase load") {
                exchange.recording = second.recording = true;
            } else if (line == "phase done") {
                exchange.recording = second.recording = false;
            } else {
                std::printf("%s\n", line.constData());
            }
        }
    });
    QObject::connect(&clients, &QProcess::finished, QCoreApplication::instance(), &QCoreApplication::quit);
    // Never run away: the clients stop by themselves, and this stops them if they do not.
    QTimer::singleShot((seconds + 90) * 1000, [&] {
        std::printf("clients did not finish in time\n");
        clients.kill();
    });

    std::printf("remote load: %d clients, \"repeat\" every %d ms each, %d s, port %u\n", count,
                kRequestIntervalMs, seconds, server.BoundPort());
    std::fflush(stdout);
    clients.start(
        QCoreApplication::applicationFilePath(),
        {"client", QString::number(server.BoundPort()), QString::number(count), QString::number(seconds)});
    if (!clients.waitForStarted(10000)) {
        std::fprintf(stderr, "cannot start the client process\n");
        return 2;
    }
    QCoreApplication::exec();

    exchange.Print("exchange tick", 20);
    second.Print("second tick  ", 1000);
    std::printf("seconds of the clock missed %ld, ticked twice %ld (target 0 and 0)\n", secondsMissed,
                secondsTwice);
    // Let the server see the clients go and delete their sockets before measuring again.
    WaitUntil([&] { return server.ConnectionCount() == 0; }, 5000);
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    std::printf("server connections  %d left\n", server.ConnectionCount());
    std::printf("server memory       %ld KiB before, %ld KiB peak under load, %ld KiB after\n",
                residentBefore, residentPeak, ResidentKiB());
    return clients.exitStatus() == QProcess::NormalExit ? clients.exitCode() : 2;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() >= 5 && args[1] == "client") {
        const int count = std::clamp(args[3].toInt(), 1, 1000);
        const int seconds = std::clamp(args[4].toInt(), 1, 3600);
        return RunClients(static_cast<uint16_t>(args[2].toUInt()), count, seconds);
    }
    const int seconds = args.size() >= 2 ? std::clamp(args[1].toInt(), 1, 3600) : 60;
    const int count = args.size() >= 3 ? std::clamp(args[2].toInt(), 1, 1000) : 200;
    return RunServer(seconds, count);
}
