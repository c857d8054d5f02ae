// The web page's figures: a relay switched through the API to the wire, a change reaching each of
// 20 open live sockets (p99; target < 100 ms with an instant adapter), the second tick's lateness
// with and without 20 live sockets, and the bytes of the page's first load.
#include <QCoreApplication>
#include <QDir>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QWebSocket>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include "adapter/simboard.h"
#include "bench/benchkit.h"
#include "core/relaycontroller.h"
#include "engine/clock.h"
#include "engine/random.h"
#include "remote/connectionlimit.h"
#include "remote/loginguard.h"
#include "web/webconfig.h"
#include "web/webserver.h"

namespace {

using Clock = std::chrono::steady_clock;
using tavoxa::bench::Percentile;
using tavoxa::bench::WaitUntil;

class InstantDelay : public tavoxa::BusDelay {
public:
    void Wait() override {}
};

class NullReport : public tavoxa::ErrorReport {
public:
    void Report(const QString& text) override { std::fprintf(stderr, "report: %s\n", qPrintable(text)); }
};

double Ms(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double, std::milli>(b - a).count();
}

// One HTTP request on `socket`; the whole answer (headers and body).
QByteArray Exchange(QTcpSocket& socket, const QByteArray& request)
{
    socket.write(request);
    QByteArray in;
    WaitUntil(
        [&] {
            in += socket.readAll();
            const qsizetype end = in.indexOf("\r\n\r\n");
            if (end < 0)
                return false;
            const qsizetype at = in.toLower().indexOf("content-length:");
            const int length = in.mid(at + 15, in.indexOf('\r', at) - at - 15).trimmed().toInt();
            return in.size() >= end + 4 + length;
        },
        10000);
    return in;
}

void Report(const char* what, const std::vector<double>& samples)
{
    std::printf("%-44s n=%zu  p50 %.2f ms  p99 %.2f ms  max %.2f ms\n", what, samples.size(),
                Percentile(samples, 0.5), Percentile(samples, 0.99), Percentile(samples, 1.0));
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    QString error;
    if (!tavoxa::WritePasswordFile(QStringLiteral("web.passwd"), "bench", &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }

    tavoxa::SimulatedBoard board;
    tavoxa::SystemClock clock;
    tavoxa::LcgRandom random;
    InstantDelay delay;
    NullReport report;
    tavoxa::RelayController core(board, clock, random, delay, report);
    core.log().SetSink([](const QByteArray&) {});
    core.Startup();
    std::atomic<int64_t> pinsChangedNs{0};
    board.SetOnPinsChanged([&] { pinsChangedNs = Clock::now().time_since_epoch().count(); });

    tavoxa::LoginGuard guard;
    tavoxa::ConnectionLimit limit(tavoxa::kMaxWebConnections);
    tavoxa::WebServer web(core, guard, limit);
    tavoxa::WebConfig config;
    config.address = QHostAddress::LocalHost;
    config.port = 0;
    if (!web.Start(config, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    WaitUntil([&] { return core.busFacts().Connected; }, 5000);

    QTcpSocket http;
    http.connectToHost(QHostAddress::LocalHost, web.Port());
    http.waitForConnected(5000);
    const QByteArray head = "Host: 127.0.0.1\r\nContent-Type: application/json\r\n";
    const QByteArray login = R"({"password":"bench"})";
    const QByteArray answer = Exchange(http, "POST /api/login HTTP/1.1\r\n" + head + "Content-Length: " +
                                                 QByteArray::number(login.size()) + "\r\n\r\n" + login);
    const qsizetype c = answer.indexOf("tavoxa_session=");
    const QByteArray cookie = answer.mid(c, answer.indexOf(';', c) - c);
    if (c < 0) {
        std::fprintf(stderr, "login failed:\n%s\n", answer.constData());
        return 1;
    }

    // Bytes of the first load: the page and the files it names, headers included.
    qint64 pageBytes = 0;
    for (const char* path : {"/", "/app.js", "/app.css", "/icon.svg"})
        pageBytes +=
            Exchange(http, QByteArray("GET ") + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n").size();
    std::printf("%-44s %lld bytes (limit 153600)\n", "page, first load", static_cast<long long>(pageBytes));

    // API switch to the wire: from the request's send to the simulated pins changing.
    const QByteArray toggle = R"({"toggle":true})";
    const QByteArray toggleRequest = "POST /api/relays/1 HTTP/1.1\r\n" + head + "Cookie: " + cookie +
                                     "\r\nContent-Length: " + QByteArray::number(toggle.size()) + "\r\n\r\n" +
                                     toggle;
    std::vector<double> toWire;
    for (int i = 0; i < 200; ++i) {
        const int64_t before = pinsChangedNs;
        const auto sent = Clock::now();
        Exchange(http, toggleRequest);
        WaitUntil([&] { return pinsChangedNs != before; }, 2000);
        toWire.push_back(Ms(sent, Clock::time_point(Clock::duration(pinsChangedNs.load()))));
    }
    Report("API switch to the wire", toWire);

    // 20 live sockets, each stamping when a state message arrives.
    constexpr int kClients = 20;
    std::vector<std::unique_ptr<QWebSocket>> clients;
    std::vector<Clock::time_point> received(kClients);
    std::vector<int> counts(kClients, 0);
    for (int i = 0; i < kClients; ++i) {
        auto ws = std::make_unique<QWebSocket>();
        QNetworkRequest request(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/live").arg(web.Port())));
        request.setRawHeader("Cookie", cookie);
        QObject::connect(ws.get(), &QWebSocket::textMessageReceived, [&, i](const QString& m) {
            if (m.startsWith(QLatin1String(R"({"state")")) ||
                m.contains(QLatin1String(R"("type":"state")"))) {
                received[static_cast<size_t>(i)] = Clock::now();
                ++counts[static_cast<size_t>(i)];
            }
        });
        ws->open(request);
        clients.push_back(std::move(ws));
    }
    WaitUntil([&] { return web.LiveClients() == kClients; }, 10000);
    WaitUntil([&] { return std::all_of(counts.begin(), counts.end(), [](int n) { return n > 0; }); }, 10000);

    std::vector<double> toPages;
    for (int change = 0; change < 100; ++change) {
        const std::vector<int> before = counts;
        const auto sent = Clock::now();
        core.Switch({{1, tavoxa::RelayAction::Toggle}},
                    tavoxa::SwitchCause{tavoxa::CauseKind::Web, 0, "bench"});
        WaitUntil(
            [&] {
                for (int i = 0; i < kClients; ++i)
                    if (counts[static_cast<size_t>(i)] == before[static_cast<size_t>(i)])
                        return false;
                return true;
            },
            5000);
        for (int i = 0; i < kClients; ++i)
            toPages.push_back(Ms(sent, received[static_cast<size_t>(i)]));
    }
    Report("change to each of 20 live pages", toPages);

    // The second tick's lateness past its aim (kSecondTickLagMs after the full second).
    const auto lateness = [&](int seconds, bool load) {
        std::vector<double> late;
        QMetaObject::Connection tick = QObject::connect(&core, &tavoxa::RelayController::SecondTicked, [&] {
            late.push_back(clock.Now().millisecond - tavoxa::kSecondTickLagMs);
            if (load)  // a change every second, sent to every page
                core.Switch({{2, tavoxa::RelayAction::Toggle}},
                            tavoxa::SwitchCause{tavoxa::CauseKind::Web, 0, "b"});
        });
        WaitUntil([&] { return static_cast<int>(late.size()) >= seconds; }, (seconds + 3) * 1000);
        QObject::disconnect(tick);
        return late;
    };
    Report("second tick lateness, 20 pages and changes", lateness(10, true));
    for (auto& ws : clients)
        ws->close();
    WaitUntil([&] { return web.LiveClients() == 0; }, 5000);
    Report("second tick lateness, no page", lateness(10, false));
    core.Close();
    return 0;
}
