// The whole program with the bus on its own thread, driving the emulated modem at a set time per
// modem-line call (0, 0.25, 1 and 2 ms; a USB serial adapter takes 0.1 to 4 ms): the relay
// controller with the real port code on a pseudo-terminal, the system clock, and the remote server
// on the loopback, all in this process as the program runs them.
//
//   bench_program_bus [seconds per setting]      (default 20)
//
// For each setting it prints:
// - transactions per second on the wire;
// - from the full second of the clock to the write that carries a timed change (relay 1 in
//   "Timer" mode, its programs switching it on and off at every second), as the core's
//   RelaysWritten signal reports it on the main thread: median and p99;
// - the round trip of "repeat" for 20 clients sending 20 times a second each (in a second
//   process: this program started again with "client"): median and p99;
// - how late a 1 ms timer on the main thread (the window's thread in the program) fires: p99.
// The targets are printed next to the figures; the program exits 0 whatever they are.
//
// The modem-line calls on the pseudo-terminal are answered by the fakemodem library
// (tests/adapter/fakemodem). When it is not preloaded the program starts itself again with it in
// LD_PRELOAD. No real serial device is ever opened: every COM number names the pseudo-terminal.
#include <dlfcn.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "adapter/i2c.h"
#include "adapter/rscom.h"
#include "bench/benchclient.h"
#include "bench/benchkit.h"
#include "core/relaycontroller.h"
#include "core/stderrreport.h"
#include "engine/clock.h"
#include "engine/model.h"
#include "engine/random.h"
#include "remote/remoteserver.h"
#include "tests/adapter/fakemodem/fakemodem.h"

namespace {

using namespace tavoxa;
using tavoxa::bench::ClientConnection;
using tavoxa::bench::ClientProcess;
using tavoxa::bench::ClientTotals;
using tavoxa::bench::NowNs;
using tavoxa::bench::Percentile;
using tavoxa::bench::WaitUntil;

constexpr int kClients = 20;
constexpr int kRequestIntervalMs = 50;  // 20 Hz per client
constexpr const char* kPreloadedMark = "TAVOXA_BENCH_FAKEMODEM_PRELOADED";

// ---- client process -------------------------------------------------------------------------

struct LoadClient : ClientConnection {
    QTimer timer;
};

// Prints "phase load" when every client is greeted and sending, "phase done" when the load stops,
// then "rtt <median> <p99> <max> <sent> <answered>".
int RunClients(uint16_t port, int seconds)
{
    ClientTotals totals;
    std::vector<std::unique_ptr<ClientConnection>> clients;
    bool loading = false;
    for (int i = 0; i < kClients; ++i) {
        auto client = std::make_unique<LoadClient>();
        LoadClient* c = client.get();
        clients.push_back(std::move(client));
        QObject::connect(&c->socket, &QTcpSocket::readyRead, [&totals, c] {
            const QByteArray bytes = c->socket.readAll();
            if (!totals.TakeHandshake(*c, bytes, QByteArray()))
                totals.TakeAnswer(*c, NowNs());
        });
        c->timer.setTimerType(Qt::PreciseTimer);
        c->timer.setInterval(kRequestIntervalMs);
        QObject::connect(&c->timer, &QTimer::timeout, [&totals, &loading, c] {
            if (loading && !c->waiting)  // one request at a time, as a polling client does
                totals.Sent(*c, "repeat", NowNs());
        });
    }
    tavoxa::bench::ConnectAll(
        clients, port, [&] { return totals.greeted; }, 20000);
    if (totals.greeted < kClients) {
        std::fprintf(stderr, "only %ld of %d clients greeted\n", totals.greeted, kClients);
        return 2;
    }
    loading = true;
    std::printf("phase load\n");
    std::fflush(stdout);
    for (int i = 0; i < kClients; ++i) {  // spread over the interval, as independent clients are
        auto* c = static_cast<LoadClient*>(clients[static_cast<size_t>(i)].get());
        QTimer::singleShot(i * kRequestIntervalMs / kClients, &c->timer, [c] { c->timer.start(); });
    }
    WaitUntil([] { return false; }, seconds * 1000LL);
    loading = false;
    std::printf("phase done\n");
    std::fflush(stdout);
    WaitUntil(
        [&] {
            return std::none_of(clients.begin(), clients.end(), [](const auto& c) { return c->waiting; });
        },
        2000);
    std::printf("rtt %.3f %.3f %.3f %ld %ld\n", Percentile(totals.roundTripsMs, 0.5),
                Percentile(totals.roundTripsMs, 0.99), Percentile(totals.roundTripsMs, 1.0), totals.sent,
                totals.answered);
    std::fflush(stdout);
    for (auto& c : clients)
        c->socket.abort();
    return 0;
}

// ---- the emulated modem ---------------------------------------------------------------------

struct FakeModem {
    tavoxa_fakemodem_set_call_us_fn setCallUs = nullptr;
    tavoxa_fakemodem_reset_fn reset = nullptr;
    tavoxa_fakemodem_bus_log_fn busLog = nullptr;

    bool Load()
    {
        setCallUs = reinterpret_cast<tavoxa_fakemodem_set_call_us_fn>(
            dlsym(RTLD_DEFAULT, "tavoxa_fakemodem_set_call_us"));
        reset = reinterpret_cast<tavoxa_fakemodem_reset_fn>(dlsym(RTLD_DEFAULT, "tavoxa_fakemodem_reset"));
        busLog =
            reinterpret_cast<tavoxa_fakemodem_bus_log_fn>(dlsym(RTLD_DEFAULT, "tavoxa_fakemodem_bus_log"));
        return setCallUs && reset && busLog;
    }
    // Write and read transactions since the last reset: each ends with a STOP, and its address
    // byte says which it was.
    void Transactions(long* writes, long* reads) const
    {
        std::vector<int> events(static_cast<size_t>(busLog(nullptr, 0)) + 64);
        const int n =
            std::min(busLog(events.data(), static_cast<int>(events.size())), static_cast<int>(events.size()));
        *writes = *reads = 0;
        bool addressNext = false;
        bool read = false;
        for (int i = 0; i < n; ++i) {
            const int kind = events[static_cast<size_t>(i)] >> 16;
            if (kind == 0) {
                addressNext = true;
            } else if (kind == 1 && addressNext) {
                read = (events[static_cast<size_t>(i)] & 1) != 0;
                addressNext = false;
            } else if (kind == 2) {
                ++(read ? *reads : *writes);
            }
        }
    }
};

// Starts this program again with the fakemodem library preloaded; returns only when it cannot.
int StartAgainPreloaded(char** argv)
{
    if (getenv(kPreloadedMark) != nullptr) {
        std::fprintf(stderr, "the fakemodem library %s did not load\n", TAVOXA_FAKEMODEM_LIBRARY);
        return 2;
    }
    // A preload already there (a sanitizer's runtime) must stay first.
    std::string preload = TAVOXA_FAKEMODEM_LIBRARY;
    if (const char* before = getenv("LD_PRELOAD"); before != nullptr && *before != '\0')
        preload = std::string(before) + ":" + preload;
    setenv("LD_PRELOAD", preload.c_str(), 1);
    setenv(kPreloadedMark, "1", 1);
    execv("/proc/self/exe", argv);
    std::perror("bench_program_bus: cannot start itself again");
    return 2;
}

class Pty {
public:
    Pty()
    {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        char name[128];
        if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0 &&
            ptsname_r(master_, name, sizeof name) == 0)
            slave_ = name;
    }
    ~Pty()
    {
        if (master_ >= 0)
            close(master_);
    }
    const std::string& Slave() const { return slave_; }

private:
    int master_ = -1;
    std::string slave_;
};

// ---- one setting ----------------------------------------------------------------------------

struct Figures {
    double callMs = 0;
    double transactionsPerSecond = 0;
    long writes = 0, reads = 0;
    std::vector<double> secondToWireMs;
    long timedChanges = 0;  // changes due in the window; those not seen on the wire are missed
    double rttMedian = 0, rttP99 = 0, rttMax = 0;
    long sent = 0, answered = 0;
    std::vector<double> latenessMs;
    bool ok = false;
};

int64_t SystemNowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// The program time field naming the local second of the day of `epochSecond`, half a second in
// so that no rounding moves it to a neighbour.
double ProgramTime(int64_t epochSecond)
{
    const int secondOfDay = QDateTime::fromSecsSinceEpoch(epochSecond).time().msecsSinceStartOfDay() / 1000;
    return (secondOfDay + 0.5) / 86400.0;
}

// Relay 1's six programs, every day: each switches it on at one second and off at the next, and
// the next program takes over at the second after, so the relay changes at every second. A
// program whose end has passed is given the next free pair of seconds, as someone editing it
// would, keeping about ten seconds scheduled ahead.
class TimedChanges {
public:
    explicit TimedChanges(RelayController& core) : core_(core) {}

    void Begin(int64_t nowSecond)
    {
        core_.Edit({0, RelayField::Mode, static_cast<double>(ModeTimer)});
        next_ = nowSecond + 2;
        for (int p = 0; p < kProgramCount; ++p)
            core_.model().DayCode(0, p) = DayEveryDay;
        Refill(nowSecond);
    }
    void Refill(int64_t nowSecond)
    {
        for (int p = 0; p < kProgramCount; ++p) {
            if (end_[p] >= nowSecond)
                continue;
            core_.model().ProgramStart(0, p) = ProgramTime(next_);
            core_.model().ProgramEnd(0, p) = ProgramTime(next_ + 1);
            end_[p] = next_ + 1;
            due_[next_] = true;
            due_[next_ + 1] = false;
            next_ += 2;
        }
    }
    // A write reported relays `bits` at `nowUs`: the change due last, when the relay carries it
    // and it has not been seen yet, reached the wire now.
    void Written(uint8_t bits, int64_t nowUs)
    {
        auto it = due_.upper_bound(nowUs / 1000000);
        if (it == due_.begin())
            return;
        --it;
        if (((bits & 1) != 0) != it->second || seen_.count(it->first) != 0)
            return;
        seen_[it->first] = static_cast<double>(nowUs - it->first * 1000000) / 1000.0;
    }
    // Changes due in [from, to) seconds and their time to the wire; a change never seen counts in
    // `due` only.
    void Collect(int64_t from, int64_t to, std::vector<double>* wireMs, long* due) const
    {
        *due = 0;
        for (auto it = due_.lower_bound(from); it != due_.end() && it->first < to; ++it) {
            ++*due;
            if (auto s = seen_.find(it->first); s != seen_.end())
                wireMs->push_back(s->second);
        }
    }

private:
    RelayController& core_;
    int64_t next_ = 0;
    int64_t end_[kProgramCount] = {-1, -1, -1, -1, -1, -1};
    std::map<int64_t, bool> due_;     // epoch second -> relay state it switches to
    std::map<int64_t, double> seen_;  // epoch second -> ms from it to the write
};

Figures RunSetting(FakeModem& modem, const std::string& pty, int callUs, int seconds)
{
    Figures f;
    f.callMs = callUs / 1000.0;
    QTemporaryDir dir;  // the core reads and writes its files in the current folder
    if (!dir.isValid() || !QDir::setCurrent(dir.path()))
        return f;
    modem.setCallUs(callUs);

    RSCOM lines([pty](int) { return pty; });
    SystemClock clock;
    LcgRandom random;
    SteadyBusDelay delay;
    StderrReport report(clock);
    auto core = std::make_unique<RelayController>(lines, clock, random, delay, report);
    core->SetRunOptions({true, false, std::nullopt});
    // The switching log goes to its file, as a service's does; standard error stays for the table.
    core->log().SetSink([](const QByteArray&) {});
    QString why;
    core->log().OpenFile(dir.filePath(QStringLiteral("switching.log")), &why);
    core->remoteSwitch().server().SetListenAddress(QHostAddress::LocalHost);
    core->Startup();
    core->remoteSwitch().settings().RemotePort = "0";  // the system picks a free port
    if (!core->remoteSwitch().SetRemote(true) ||
        !WaitUntil([&] { return core->busFacts().Connected; }, 10000)) {
        std::fprintf(stderr, "%.2f ms/call: the server or the emulated board did not come up\n", f.callMs);
        core->Close();
        return f;
    }

    TimedChanges timed(*core);
    timed.Begin(SystemNowUs() / 1000000);
    QObject::connect(core.get(), &RelayController::SecondTicked,
                     [&] { timed.Refill(SystemNowUs() / 1000000); });
    QObject::connect(core.get(), &RelayController::RelaysWritten,
                     [&](uint8_t bits) { timed.Written(bits, SystemNowUs()); });

    // The main thread's 1 ms timer.
    bool recording = false;
    QElapsedTimer since;
    since.start();
    int64_t lastNs = since.nsecsElapsed();
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const int64_t now = since.nsecsElapsed();
        if (recording)
            f.latenessMs.push_back(static_cast<double>(now - lastNs) / 1e6 - 1.0);
        lastNs = now;
    });
    tick.start(1);

    int64_t fromUs = 0, toUs = 0;
    bool done = false;
    ClientProcess clients([&](const QByteArray& line) {
        if (line == "phase load") {
            modem.reset();
            fromUs = SystemNowUs();
            recording = true;
        } else if (line == "phase done") {
            toUs = SystemNowUs();
            recording = false;
            modem.Transactions(&f.writes, &f.reads);
        } else if (line.startsWith("rtt ")) {
            std::sscanf(line.constData(), "rtt %lf %lf %lf %ld %ld", &f.rttMedian, &f.rttP99, &f.rttMax,
                        &f.sent, &f.answered);
            done = true;
        } else {
            std::printf("%s\n", line.constData());
        }
    });
    if (clients.Start(
            {QString::number(core->remoteSwitch().server().BoundPort()), QString::number(seconds)})) {
        WaitUntil([&] { return done || clients.process().state() == QProcess::NotRunning; },
                  (seconds + 40) * 1000LL);
        clients.Finish(5000);
    } else {
        std::fprintf(stderr, "cannot start the client process\n");
    }
    tick.stop();

    if (toUs > fromUs) {
        f.transactionsPerSecond =
            static_cast<double>(f.writes + f.reads) / (static_cast<double>(toUs - fromUs) / 1e6);
        // Whole seconds inside the window, the last one with time to reach the wire.
        timed.Collect(fromUs / 1000000 + 1, toUs / 1000000, &f.secondToWireMs, &f.timedChanges);
        f.ok = done;
    }
    core->Close();
    core.reset();
    QDir::setCurrent(QDir::tempPath());
    return f;
}

std::string LoadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

const char* Verdict(bool met)
{
    return met ? "met" : "MISSED";
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 4 && std::strcmp(argv[1], "client") == 0) {
        QCoreApplication app(argc, argv);
        return RunClients(static_cast<uint16_t>(std::atoi(argv[2])), std::clamp(std::atoi(argv[3]), 1, 3600));
    }
    FakeModem modem;
    if (!modem.Load())
        return StartAgainPreloaded(argv);
    const int seconds = argc >= 2 ? std::clamp(std::atoi(argv[1]), 3, 3600) : 20;

    // The emulated device is named before any thread runs, as the library reads it on every call.
    Pty pty;
    if (pty.Slave().empty()) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 2;
    }
    setenv(TAVOXA_FAKEMODEM_DEVICE_ENV, pty.Slave().c_str(), 1);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("bench_program_bus");

    std::printf(
        "Whole program, bus on its own thread, emulated modem on %s; %d s per setting, %d clients at %d Hz\n",
        pty.Slave().c_str(), seconds, kClients, 1000 / kRequestIntervalMs);
    std::printf("load average before: %s (shared machine: figures include other work)\n",
                LoadAverage().c_str());
    std::printf(
        "ms/call | trans/s (w+r)      | second to wire median / p99 (seen/due) | remote rtt median / p99 / "
        "max "
        "(answered/sent) | 1 ms timer late p99\n");
    std::fflush(stdout);
    std::vector<Figures> all;
    for (const int us : {0, 250, 1000, 2000}) {
        const Figures f = RunSetting(modem, pty.Slave(), us, seconds);
        all.push_back(f);
        if (!f.ok) {
            std::printf("%7.2f | did not run\n", f.callMs);
            std::fflush(stdout);
            continue;
        }
        std::printf(
            "%7.2f | %5.1f (%4ld+%4ld) | %6.1f / %6.1f ms (%3zu/%3ld)           | %6.2f / %6.2f / %6.2f ms "
            "(%ld/%ld) | %6.2f ms\n",
            f.callMs, f.transactionsPerSecond, f.writes, f.reads, Percentile(f.secondToWireMs, 0.5),
            Percentile(f.secondToWireMs, 0.99), f.secondToWireMs.size(), f.timedChanges, f.rttMedian,
            f.rttP99, f.rttMax, f.answered, f.sent, Percentile(f.latenessMs, 0.99));
        std::fflush(stdout);
    }
    std::printf("load average after: %s\n", LoadAverage().c_str());

    std::printf("Targets:\n");
    for (const Figures& f : all) {
        if (!f.ok)
            continue;
        const double wire = Percentile(f.secondToWireMs, 0.99);
        const bool allSeen = static_cast<long>(f.secondToWireMs.size()) == f.timedChanges;
        if (f.callMs == 0.0) {
            std::printf("  0 ms/call: second to wire p99 %.1f ms < 30 ms: %s%s\n", wire,
                        Verdict(wire < 30.0 && allSeen), allSeen ? "" : " (changes missing on the wire)");
        } else if (f.callMs == 1.0) {
            const double rtt = f.rttP99;
            const double late = Percentile(f.latenessMs, 0.99);
            std::printf("  1 ms/call: second to wire p99 %.1f ms <= 170 ms: %s%s\n", wire,
                        Verdict(wire <= 170.0 && allSeen), allSeen ? "" : " (changes missing on the wire)");
            std::printf("  1 ms/call: remote p99 %.2f ms < 10 ms: %s\n", rtt,
                        Verdict(rtt < 10.0 && f.answered == f.sent));
            std::printf("  1 ms/call: main-thread 1 ms timer late p99 %.2f ms < 16 ms: %s\n", late,
                        Verdict(late < 16.0));
        }
    }
    return 0;
}
