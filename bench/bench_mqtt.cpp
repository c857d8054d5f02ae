// MQTT commands against a Mosquitto broker this benchmark starts on a free loopback port.
//
//   bench_mqtt [fleet-seconds=60] [samples=300] [stock]
//
// The broker sends small packets at once (set_tcp_nodelay true), as a broker for switching
// should; with "stock" it runs with Mosquitto's default instead.
//
// Set to the wire: the relay controller in this process on a simulated board (line calls that take
// no time; the bus thread first with the real 5 us I2C phase delay, as tavoxa-sim runs it, then
// with none), its MQTT bridge on the broker, and a second client that publishes relay/N/set;
// measured from the publish to the moment the board's relay pins show the new state, and split at
// the moment the controller takes the command.
//
// Fleet: eight tavoxa-sim programs, headless, each in a temporary folder of its own with its own
// id, on the same broker; one client sends each of them ten set commands a second, and every
// command is looked for on its relay's state topic. A command whose state is not seen within 1 s
// counts as lost.
//
// Prints the figures next to their targets and exits 0 whatever they are. No serial device is
// opened: the simulated board stands behind every COM port.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "adapter/i2c.h"
#include "adapter/simboard.h"
#include "bench/benchkit.h"
#include "core/relaycontroller.h"
#include "core/stderrreport.h"
#include "engine/clock.h"
#include "engine/random.h"
#include "mqtt/mqttbridge.h"
#include "mqtt/mqttglue.h"
#include "tests/mqtt/mqttbroker.h"

namespace {

using tavoxa::testing::MosquittoBroker;
using tavoxa::testing::MqttProbe;
using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

constexpr int kFleetSize = 8;
constexpr auto kFleetPeriod = std::chrono::milliseconds(100);  // 10 commands a second per program
constexpr auto kLostAfter = std::chrono::seconds(1);

void PrintFigures(const char* what, const std::vector<double>& ms)
{
    using tavoxa::bench::Percentile;
    std::printf("  %s: median %.2f ms, p99 %.2f ms, max %.2f ms (%zu samples)\n", what, Percentile(ms, 0.5),
                Percentile(ms, 0.99), Percentile(ms, 1.0), ms.size());
}

// The relay pins as they changed on the bus thread, with the time of each change.
class PinRecorder {
public:
    explicit PinRecorder(tavoxa::SimulatedBoard& board) : board_(board)
    {
        board.SetOnPinsChanged([this] {
            const auto at = Clock::now();
            const uint8_t pins = board_.RelayPins();
            const std::lock_guard lock(mutex_);
            changes_.push_back({pins, at});
        });
    }
    ~PinRecorder() { board_.SetOnPinsChanged({}); }
    // The first change to `pins` at or after `since`.
    std::optional<Clock::time_point> Reached(uint8_t pins, Clock::time_point since)
    {
        const std::lock_guard lock(mutex_);
        for (const auto& [p, at] : changes_) {
            if (at >= since && p == pins)
                return at;
        }
        return std::nullopt;
    }

private:
    tavoxa::SimulatedBoard& board_;
    std::mutex mutex_;
    std::vector<std::pair<uint8_t, Clock::time_point>> changes_;
};

void SetToWire(const MosquittoBroker& broker, int samples, tavoxa::BusDelay& delay)
{
    QTemporaryDir folder;  // the controller reads and writes its files in the working folder
    const QString home = QDir::currentPath();
    QDir::setCurrent(folder.path());
    {
        tavoxa::SystemClock clock;
        tavoxa::LcgRandom random;
        tavoxa::SimulatedBoard board;
        tavoxa::StderrReport report(clock);
        PinRecorder pins(board);  // outlives the bus thread
        tavoxa::RelayController core(board, clock, random, delay, report);
        core.SetRunOptions({true, false, std::nullopt});
        core.log().SetSink([](const QByteArray&) {});
        tavoxa::MqttBridge bridge;
        tavoxa::AttachMqtt(core, bridge);
        QString error;
        if (!bridge.Start({broker.Url(), {}, {}, {}, "bench", {}}, &error)) {
            std::printf("  the bridge did not start: %s\n", qPrintable(error));
            return;
        }
        // The controller takes the command in the same emission as this.
        Clock::time_point taken{};
        QObject::connect(&bridge, &tavoxa::MqttBridge::SetRequested, [&taken] { taken = Clock::now(); });
        core.Startup();
        MqttProbe client(broker.port, {"tavoxa/bench/relay/+/state"});
        const bool ready = tavoxa::bench::WaitUntil(
            [&] {
                return client.Ready() && bridge.IsConnected() &&
                       client.Last("tavoxa/bench/relay/6/state") == "OFF";
            },
            10000);
        if (!ready) {
            std::printf("  the board did not come up on the broker\n");
            return;
        }

        uint8_t expected = 0;
        std::vector<double> latency;
        std::vector<double> toController;
        std::vector<double> toPins;
        int missed = 0;
        for (int i = 0; i < samples; ++i) {
            const int relay = i % 6;
            expected = static_cast<uint8_t>(expected ^ (1u << relay));
            const bool on = (expected >> relay) & 1u;
            const auto sent = Clock::now();
            client.Publish(QString("tavoxa/bench/relay/%1/set").arg(relay + 1), on ? "ON" : "OFF");
            std::optional<Clock::time_point> reached;
            tavoxa::bench::WaitUntil([&] { return (reached = pins.Reached(expected, sent)).has_value(); },
                                     1000);
            if (reached) {
                latency.push_back(Ms(*reached - sent).count());
                toController.push_back(Ms(taken - sent).count());
                toPins.push_back(Ms(*reached - taken).count());
            } else
                ++missed;
            if (board.RelayPins() != expected) {
                std::printf("  the pins went astray (0x%02x, 0x%02x expected); stopping here\n",
                            board.RelayPins(), expected);
                break;
            }
            // Out of step with the bus's 20 ms cadence.
            tavoxa::bench::WaitUntil([] { return false; }, 7 + (i * 13) % 31);
        }
        PrintFigures("set -> relay pins", latency);
        PrintFigures("  of which set -> controller", toController);
        PrintFigures("  and controller -> pins", toPins);
        std::printf("  target: p99 under 50 ms -> %s; %d of %d sets never reached the pins within 1 s\n",
                    tavoxa::bench::Percentile(latency, 0.99) < 50.0 ? "met" : "NOT met", missed, samples);
        core.Close();
        bridge.Stop();
    }
    QDir::setCurrent(home);
}

struct Command {
    int board;
    int relay;  // 1..6
    bool on;
    Clock::time_point sent;
};

struct StateMessage {
    QByteArray payload;
    Clock::time_point at;
};

void Fleet(const MosquittoBroker& broker, int seconds)
{
    // Every state message as it arrives, by topic.
    std::mutex mutex;
    std::map<QString, std::vector<StateMessage>> states;
    MqttProbe client(broker.port, {"tavoxa/+/relay/+/state", "tavoxa/+/availability"},
                     [&](const QString& topic, const QByteArray& payload, Clock::time_point at) {
                         if (!topic.endsWith("/state"))
                             return;
                         const std::lock_guard lock(mutex);
                         states[topic].push_back({payload, at});
                     });
    const auto topic = [](int board, const QString& tail) {
        return QString("tavoxa/sim%1/%2").arg(board).arg(tail);
    };

    QTemporaryDir folder;
    std::array<std::unique_ptr<QProcess>, kFleetSize> programs;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    for (int b = 0; b < kFleetSize; ++b) {
        const QString dir = folder.filePath(QString("sim%1").arg(b));
        QDir().mkpath(dir);
        auto& p = programs[static_cast<size_t>(b)];
        p = std::make_unique<QProcess>();
        p->setProcessEnvironment(env);
        p->setWorkingDirectory(dir);
        p->setStandardOutputFile(dir + "/stdout.txt");
        p->setStandardErrorFile(dir + "/stderr.txt");
        p->start(TAVOXA_SIM_PROGRAM, {"--mqtt", broker.Url(), "--mqtt-id", QString("sim%1").arg(b)});
    }
    const auto allUp = [&] {
        if (!client.Ready())
            return false;
        for (int b = 0; b < kFleetSize; ++b) {
            if (client.Last(topic(b, "availability")) != "online" ||
                client.Last(topic(b, "relay/6/state")).isEmpty())
                return false;
        }
        return true;
    };
    bool up = false;
    for (int i = 0; i < 300 && !(up = allUp()); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));

    std::vector<Command> commands;
    if (up) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));  // their subscriptions settle
        std::array<std::array<bool, 6>, kFleetSize> on{};
        for (int b = 0; b < kFleetSize; ++b) {
            for (int r = 0; r < 6; ++r)
                on[static_cast<size_t>(b)][static_cast<size_t>(r)] =
                    client.Last(topic(b, QString("relay/%1/state").arg(r + 1))) == "ON";
        }
        auto due = Clock::now();
        const int ticks = seconds * 10;
        for (int t = 0; t < ticks; ++t) {
            for (int b = 0; b < kFleetSize; ++b) {
                const int relay = (t + b) % 6;
                bool& state = on[static_cast<size_t>(b)][static_cast<size_t>(relay)];
                state = !state;
                commands.push_back({b, relay + 1, state, Clock::now()});
                client.Publish(topic(b, QString("relay/%1/set").arg(relay + 1)), state ? "ON" : "OFF");
            }
            due += kFleetPeriod;
            std::this_thread::sleep_until(due);
        }
        std::this_thread::sleep_for(kLostAfter + std::chrono::milliseconds(200));
    } else {
        std::printf("  not all %d programs came up on the broker within 30 s; see their stderr.txt\n",
                    kFleetSize);
    }

    int clean = 0;
    for (auto& p : programs) {
        p->terminate();  // SIGTERM: each closes as its close box would
        if (!p->waitForFinished(5000)) {
            p->kill();
            p->waitForFinished(1000);
        } else if (p->exitStatus() == QProcess::NormalExit && p->exitCode() == 0) {
            ++clean;
        }
    }
    if (!up)
        return;

    std::vector<double> latency;
    int lost = 0;
    {
        const std::lock_guard lock(mutex);
        for (const Command& c : commands) {
            const QByteArray want = c.on ? "ON" : "OFF";
            const auto& seen = states[topic(c.board, QString("relay/%1/state").arg(c.relay))];
            const auto hit = std::find_if(seen.begin(), seen.end(), [&](const StateMessage& m) {
                return m.at >= c.sent && m.at <= c.sent + kLostAfter && m.payload == want;
            });
            if (hit == seen.end())
                ++lost;
            else
                latency.push_back(Ms(hit->at - c.sent).count());
        }
    }
    PrintFigures("set -> state topic", latency);
    std::printf(
        "  commands sent %zu, lost %d (target 0) -> %s; p99 %.2f ms; programs ended cleanly on SIGTERM: %d "
        "of %d\n",
        commands.size(), lost, lost == 0 ? "met" : "NOT met", tavoxa::bench::Percentile(latency, 0.99), clean,
        kFleetSize);
}

double LoadAverage()
{
    QFile file("/proc/loadavg");
    return file.open(QIODevice::ReadOnly) ? file.readAll().split(' ').value(0).toDouble() : -1.0;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::clamp(std::atoi(argv[1]), 1, 600) : 60;
    const int samples = argc > 2 ? std::clamp(std::atoi(argv[2]), 10, 10000) : 300;
    if (!tavoxa::testing::HaveMosquitto()) {
        std::printf("bench_mqtt: %s is missing (install the mosquitto package); nothing measured\n",
                    tavoxa::testing::kMosquittoBinary);
        return 0;
    }
    MosquittoBroker broker;
    broker.noDelay = !(argc > 3 && std::strcmp(argv[3], "stock") == 0);
    if (!broker.Start()) {
        std::printf("bench_mqtt: the broker did not start; nothing measured\n");
        return 0;
    }
    std::printf(
        "Mosquitto on 127.0.0.1:%u with set_tcp_nodelay %s; %d cores, load average %.2f at the start\n",
        broker.port, broker.noDelay ? "true" : "false (its default)",
        static_cast<int>(std::thread::hardware_concurrency()), LoadAverage());
    tavoxa::SteadyBusDelay steady;
    tavoxa::NoBusDelay none;
    for (tavoxa::BusDelay* delay :
         {static_cast<tavoxa::BusDelay*>(&steady), static_cast<tavoxa::BusDelay*>(&none)}) {
        std::printf(
            "MQTT set to the wire: controller and bridge in this process, simulated board, bus thread with "
            "%s, "
            "%d sets\n",
            delay == &steady ? "the real 5 us I2C phase delay (SteadyBusDelay, as tavoxa-sim)"
                             : "no I2C phase delay (NoBusDelay)",
            samples);
        std::fflush(stdout);
        SetToWire(broker, samples, *delay);
    }
    std::fflush(stdout);
    std::printf(
        "Fleet: %d tavoxa-sim programs, headless, one broker, %d s, 10 sets a second to each (%d a second in "
        "all)\n",
        kFleetSize, seconds, kFleetSize * 10);
    std::fflush(stdout);
    Fleet(broker, seconds);
    std::printf("Load average %.2f at the end\n", LoadAverage());
    return 0;
}
