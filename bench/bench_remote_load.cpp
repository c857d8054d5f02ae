// Load on the remote server: many clients polling "repeat" while the exchange and second ticks
// must stay on time.
//
//   bench_remote_load [seconds [clients]]     (defaults 60 s, 200 clients)
//   bench_remote_load attack [seconds]         (default 60 s of guessing)
//
// The server runs in this process on the loopback, with a 20 ms and a 1 s timer standing in for
// the exchange and second ticks. The clients run in a second process (this program started with
// "client"), each sending "repeat" 20 times a second and waiting for the answer before the next.
// Prints answers lost (target 0), round-trip median and 99th percentile (target p99 < 10 ms),
// the tick periods under load and the server's memory before, during and after.
//
// "attack" runs the attacks on the server's guard instead, from many 127.x addresses: 256 idle
// connections from one address (is another client still served?), password guessing from 64
// addresses (guesses a second over all of them, and a legitimate client's login time meanwhile,
// from a fresh address and from a guessing one), then three failures from each of 8 addresses
// and 32 connections from each sending 1 MiB of "Pa\n" (the server's memory growth while they
// are open and after they have closed).
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

#include "bench/benchclient.h"
#include "bench/benchkit.h"
#include "engine/clock.h"
#include "engine/model.h"
#include "remote/protocol.h"
#include "remote/remoteserver.h"
#include "ui/form1.h"

namespace {

using tavoxa::bench::ClientConnection;
using tavoxa::bench::ClientProcess;
using tavoxa::bench::ClientTotals;
using tavoxa::bench::ConnectAll;
using tavoxa::bench::IsRelayByteAnswer;
using tavoxa::bench::NowNs;
using tavoxa::bench::Percentile;
using tavoxa::bench::RoundTripMs;
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

struct LoadClient : ClientConnection {
    QTimer timer;
};

int RunClients(uint16_t port, int count, int seconds)
{
    ClientTotals totals;
    totals.roundTripsMs.reserve(static_cast<size_t>(count) * static_cast<size_t>(seconds) * 20);
    std::vector<std::unique_ptr<ClientConnection>> clients;
    bool loading = false;
    long skipped = 0;

    for (int i = 0; i < count; ++i) {
        auto client = std::make_unique<LoadClient>();
        LoadClient* c = client.get();
        clients.push_back(std::move(client));
        QObject::connect(&c->socket, &QTcpSocket::readyRead, [&, c] {
            const QByteArray bytes = c->socket.readAll();
            if (totals.TakeHandshake(*c, bytes, QByteArray())) {
                if (bytes.size() > 7)  // the greeting merged with something else
                    ++totals.unexpected;
                return;
            }
            if (totals.TakeAnswer(*c, NowNs()))
                totals.malformed += IsRelayByteAnswer(bytes) ? 0 : 1;
        });
        QObject::connect(&c->socket, &QTcpSocket::disconnected, [&] { ++totals.dropped; });
        c->timer.setTimerType(Qt::PreciseTimer);
        c->timer.setInterval(kRequestIntervalMs);
        QObject::connect(&c->timer, &QTimer::timeout, [&, c] {
            if (!loading)
                return;
            if (c->waiting) {  // the previous answer is not back: sending now would merge two
                ++skipped;
                return;
            }
            totals.Sent(*c, "repeat", NowNs());
        });
    }

    QElapsedTimer waited;
    waited.start();
    ConnectAll(
        clients, port, [&] { return totals.greeted; }, kConnectTimeoutMs);
    std::printf("clients greeted     %ld of %d in %lld ms\n", totals.greeted, count, waited.elapsed());
    if (totals.greeted < count)
        return 2;

    // Spread the clients over the request interval, as independent clients would be.
    loading = true;
    std::printf("phase load\n");
    std::fflush(stdout);
    for (int i = 0; i < count; ++i) {
        auto* c = static_cast<LoadClient*>(clients[static_cast<size_t>(i)].get());
        QTimer::singleShot(i * kRequestIntervalMs / count, &c->timer, [c] { c->timer.start(); });
    }
    WaitUntil([] { return false; }, seconds * 1000LL);
    loading = false;
    std::printf("phase done\n");
    std::fflush(stdout);
    for (auto& c : clients)
        static_cast<LoadClient*>(c.get())->timer.stop();
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
    std::printf("sends skipped       %ld (previous answer later than %d ms)\n", skipped, kRequestIntervalMs);
    std::printf("round trip median   %.3f ms\n", RoundTripMs(totals, 0.5));
    std::printf("round trip p99      %.3f ms (target < 10 ms)\n", RoundTripMs(totals, 0.99));
    std::printf("round trip max      %.3f ms\n", RoundTripMs(totals, 1.0));
    std::fflush(stdout);
    for (auto& c : clients)
        c->socket.abort();
    return lost == 0 ? 0 : 1;
}

// ---- attack client process ----------------------------------------------------------------

QHostAddress Host(int a, int b)
{
    return QHostAddress(QStringLiteral("127.0.%1.%2").arg(a).arg(b));
}

std::unique_ptr<QTcpSocket> Open(uint16_t port, const QHostAddress& from)
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->bind(from);
    socket->connectToHost(QHostAddress::LocalHost, port);
    return socket;
}

void Say(const char* line)
{
    std::printf("%s\n", line);
    std::fflush(stdout);
}

// Logs in with the right password from `from`; milliseconds until "legal", or -1.
double LoginMs(uint16_t port, const QHostAddress& from)
{
    auto socket = Open(port, from);
    QByteArray got;
    QObject::connect(socket.get(), &QTcpSocket::readyRead, [&] { got += socket->readAll(); });
    if (!WaitUntil([&] { return got.startsWith("connect"); }, 5000))
        return -1;
    QElapsedTimer t;
    t.start();
    socket->write("Pass:pw\n");
    const bool in = WaitUntil([&] { return got.contains("legal\n") || got.contains("nolegal"); }, 30000);
    return in && !got.contains("nolegal") ? static_cast<double>(t.nsecsElapsed()) / 1e6 : -1;
}

int RunAttack(uint16_t port, int seconds)
{
    // 1. 256 idle connections from one address; another address must still get in.
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    idle.reserve(256);
    for (int i = 0; i < 256; ++i)
        idle.push_back(Open(port, Host(2, 1)));
    WaitUntil([] { return false; }, 1000);
    const long open = std::count_if(idle.begin(), idle.end(), [](const auto& s) {
        return s->state() == QAbstractSocket::ConnectedState && s->bytesAvailable() > 0;
    });
    std::printf("idle connections    %ld of 256 from one address served\n", open);
    std::printf("another address     login %.1f ms while they are open\n", LoginMs(port, Host(3, 1)));
    for (auto& s : idle)
        s->abort();
    idle.clear();
    WaitUntil([] { return false; }, 500);

    // 2. Guessing from 64 addresses, four connections each, one guess after the other.
    std::vector<std::unique_ptr<QTcpSocket>> guessers;
    long answers = 0;
    for (int a = 0; a < 64; ++a)
        for (int c = 0; c < 4; ++c) {
            guessers.push_back(Open(port, Host(4, a + 1)));
            QTcpSocket* s = guessers.back().get();
            QObject::connect(s, &QTcpSocket::readyRead, [s, &answers] {
                const QByteArray bytes = s->readAll();
                answers += bytes.count("nolegal");
                s->write("Pass:guess\n");  // after the greeting or an answer: the next guess
            });
        }
    QElapsedTimer attack;
    attack.start();
    std::vector<double> fresh, shared;
    int round = 0;
    while (attack.elapsed() < seconds * 1000LL) {
        fresh.push_back(LoginMs(port, Host(5, ++round)));
        shared.push_back(LoginMs(port, Host(4, 1)));
        WaitUntil([] { return false; }, 500);
    }
    const double guessSeconds = static_cast<double>(attack.elapsed()) / 1000.0;
    const long guesses = answers;
    for (auto& s : guessers)
        s->abort();
    guessers.clear();
    std::printf("guesses             %.1f a second over 64 addresses (target <= 10)\n",
                static_cast<double>(guesses) / guessSeconds);
    std::printf(
        "login meanwhile     fresh address median %.0f ms, max %.0f ms (target <= 3000); "
        "a guessing address median %.0f ms, max %.0f ms\n",
        Percentile(fresh, 0.5), Percentile(fresh, 1.0), Percentile(shared, 0.5), Percentile(shared, 1.0));
    WaitUntil([] { return false; }, 1500);

    // 3. Three failures from each of 8 addresses, then 32 connections each sending 1 MiB.
    for (int a = 0; a < 8; ++a) {
        auto s = Open(port, Host(6, a + 1));
        QByteArray got;
        QObject::connect(s.get(), &QTcpSocket::readyRead, [&] { got += s->readAll(); });
        WaitUntil([&] { return got.startsWith("connect"); }, 5000);
        s->write("Pass:a\nPass:b\nPass:c\n");
        WaitUntil([&] { return got.count("nolegal") >= 3; }, 10000);
    }
    Say("phase flood");
    std::vector<std::unique_ptr<QTcpSocket>> flood;
    const QByteArray mebibyte = QByteArray("Pa\n").repeated((1 << 20) / 3);
    for (int a = 0; a < 8; ++a)
        for (int c = 0; c < 32; ++c) {
            flood.push_back(Open(port, Host(6, a + 1)));
            flood.back()->write(mebibyte);
        }
    WaitUntil([] { return false; }, 5000);
    Say("phase flooded");
    WaitUntil([] { return false; }, 1000);
    for (auto& s : flood)
        s->abort();
    flood.clear();
    Say("phase closed");
    WaitUntil([] { return false; }, 90000);  // the server ends this process once it has measured
    return 0;
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

    ClientProcess clients([&](const QByteArray& line) {
        if (line == "phase load") {
            exchange.recording = second.recording = true;
        } else if (line == "phase done") {
            exchange.recording = second.recording = false;
        } else {
            std::printf("%s\n", line.constData());
        }
    });
    QObject::connect(&clients.process(), &QProcess::finished, QCoreApplication::instance(),
                     &QCoreApplication::quit);
    // Never run away: the clients stop by themselves, and this stops them if they do not.
    QTimer::singleShot((seconds + 90) * 1000, [&] {
        std::printf("clients did not finish in time\n");
        clients.process().kill();
    });

    std::printf("remote load: %d clients, \"repeat\" every %d ms each, %d s, port %u\n", count,
                kRequestIntervalMs, seconds, server.BoundPort());
    std::fflush(stdout);
    if (!clients.Start(
            {QString::number(server.BoundPort()), QString::number(count), QString::number(seconds)})) {
        std::fprintf(stderr, "cannot start the client process\n");
        return 2;
    }
    QCoreApplication::exec();
    const int clientResult = clients.Finish(5000);

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
    return clientResult < 0 ? 2 : clientResult;
}

int RunAttackServer(int seconds)
{
    Model model;
    RemoteSettings remote;
    remote.RemotePassword = "pw";
    RemoteServer server(remote, model);
    server.SetListenAddress(QHostAddress::LocalHost);
    if (!server.Open(0)) {
        std::fprintf(stderr, "cannot open the server on the loopback\n");
        return 2;
    }
    long before = 0, flooded = 0;
    QElapsedTimer closedAt;
    ClientProcess* clientsRef = nullptr;
    ClientProcess clients([&](const QByteArray& line) {
        if (line == "phase flood") {
            before = ResidentKiB();
        } else if (line == "phase flooded") {
            flooded = ResidentKiB();
            std::printf("flood               %d connections held, %lld bytes unread, %d logins waiting\n",
                        server.ConnectionCount(), static_cast<long long>(server.UnreadBytes()),
                        server.loginGuard().WaitingCount());
        } else if (line == "phase closed") {
            // A closed connection whose data the server has not read yet shows itself once its
            // waiting login is answered; measure when they are all gone (or after a minute).
            closedAt.start();
            auto* poll = new QTimer(&server);
            QObject::connect(poll, &QTimer::timeout, [&, poll] {
                if (server.ConnectionCount() > 0 && closedAt.elapsed() < 60000)
                    return;
                poll->stop();
                const qint64 gone = closedAt.elapsed();
                WaitUntil([] { return false; }, 1500);  // the server hands freed memory back
                std::printf(
                    "server memory       %ld KiB before the flood, +%ld KiB while open (target < 40 MB), "
                    "+%ld KiB after close (target < 5 MB); %d connections left after %lld ms\n",
                    before, flooded - before, ResidentKiB() - before, server.ConnectionCount(),
                    static_cast<long long>(gone));
                std::fflush(stdout);
                clientsRef->process().kill();
            });
            poll->start(200);
        } else if (!line.startsWith("phase")) {
            std::printf("%s\n", line.constData());
        }
        std::fflush(stdout);
    });
    clientsRef = &clients;
    QObject::connect(&clients.process(), &QProcess::finished, QCoreApplication::instance(),
                     &QCoreApplication::quit);
    QTimer::singleShot((seconds + 200) * 1000, [&] {
        std::printf("attack client did not finish in time\n");
        clients.process().kill();
    });
    std::printf("remote attacks: %d s of guessing, port %u\n", seconds, server.BoundPort());
    std::fflush(stdout);
    if (!clients.Start(
            {QStringLiteral("attack"), QString::number(server.BoundPort()), QString::number(seconds)}))
        return 2;
    QCoreApplication::exec();
    return clients.Finish(5000) < 0 ? 2 : 0;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() >= 5 && args[1] == "client" && args[2] == "attack")
        return RunAttack(static_cast<uint16_t>(args[3].toUInt()), std::clamp(args[4].toInt(), 1, 600));
    if (args.size() >= 2 && args[1] == "attack")
        return RunAttackServer(args.size() >= 3 ? std::clamp(args[2].toInt(), 1, 600) : 60);
    if (args.size() >= 5 && args[1] == "client") {
        const int count = std::clamp(args[3].toInt(), 1, 1000);
        const int seconds = std::clamp(args[4].toInt(), 1, 3600);
        return RunClients(static_cast<uint16_t>(args[2].toUInt()), count, seconds);
    }
    const int seconds = args.size() >= 2 ? std::clamp(args[1].toInt(), 1, 3600) : 60;
    const int count = args.size() >= 3 ? std::clamp(args[2].toInt(), 1, 1000) : 200;
    return RunServer(seconds, count);
}
