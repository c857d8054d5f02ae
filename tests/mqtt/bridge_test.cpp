// The MQTT bridge against a real Mosquitto broker on the loopback, watched by a second client.
#include <gtest/gtest.h>

#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <chrono>
#include <thread>

#include "mqtt/mqttbridge.h"
#include "testkit.h"
#include "tests/mqtt/mqttbroker.h"

namespace tavoxa {
namespace {

using testing::WaitUntil;

using Broker = testing::MosquittoBroker;

// A second client, as a home-automation system would be, that records everything under tavoxa/#
// and homeassistant/#; its waits turn the event loop, so the bridge under test runs meanwhile.
class Observer : public testing::MqttProbe {
public:
    explicit Observer(uint16_t port) : MqttProbe(port, {"tavoxa/#", "homeassistant/#"})
    {
        EXPECT_TRUE(WaitUntil([&] { return Ready(); })) << "the observer did not subscribe";
    }
    // Waits until `topic` last carried `payload`.
    bool Sees(const QString& topic, const QByteArray& payload)
    {
        return WaitUntil([&] { return Last(topic) == payload; });
    }
};

class MqttTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!testing::HaveMosquitto())
            GTEST_SKIP() << testing::kMosquittoBinary << " is missing (install the mosquitto package)";
        ASSERT_TRUE(broker.Start()) << "the broker did not start";
        QObject::connect(&bridge, &MqttBridge::LogLine, [this](const QString& line) { log << line; });
        bridge.SetReconnectDelays(100, 400);
        options.url = QString("mqtt://127.0.0.1:%1").arg(broker.port);
        options.id = "board1";
    }
    bool Logged(const QString& part)
    {
        return WaitUntil([&] { return !log.filter(part).isEmpty(); });
    }
    qsizetype Count(const QString& part) const { return log.filter(part).size(); }
    QString Topic(const QString& tail) const { return "tavoxa/board1/" + tail; }

    Broker broker;
    MqttBridge bridge;
    MqttOptions options;
    QStringList log;
};

TEST_F(MqttTest, BadOptionsAreRefusedAtStart)
{
    const std::function<void(MqttOptions&)> mistakes[] = {
        [](MqttOptions& o) { o.id = "///"; },
        [](MqttOptions& o) { o.caFile = "/etc/hostname"; },  // without mqtts
        [](MqttOptions& o) { o.inputClass = "Door"; },
        [](MqttOptions& o) { o.url = "mqtt://u:p@127.0.0.1"; },
    };
    for (const auto& mistake : mistakes) {
        MqttOptions bad = options;
        mistake(bad);
        QString error;
        EXPECT_FALSE(bridge.Start(bad, &error));
        EXPECT_FALSE(error.isEmpty());
        EXPECT_FALSE(bridge.IsRunning());
    }
    EXPECT_TRUE(log.isEmpty());
}

TEST_F(MqttTest, NotAuthorisedIsReportedAsSuch)
{
    broker.Stop();
    Broker strict;
    strict.anonymous = false;
    ASSERT_TRUE(strict.Start());
    options.url = strict.Url();
    QString error;
    ASSERT_TRUE(bridge.Start(options, &error)) << qPrintable(error);
    EXPECT_TRUE(Logged("not authorised"));
    EXPECT_FALSE(bridge.IsConnected());
}

// The name lookup and the connect run on a thread of their own: one that does not come back is
// given up at the time-out and the next attempt connects while it still hangs.
TEST_F(MqttTest, ConnectRunsOffTheEventLoopsThreadAndAHangingOneIsGivenUp)
{
    // Shared with the held thread, which outlives the test: never freed.
    static struct Held {
        std::atomic<bool> released{false};
        std::atomic<int> attempts{0};
        std::atomic<std::thread::id> connecting;
    }* const held = new Held;
    bridge.SetBeforeConnect([] {
        if (++held->attempts == 1) {
            held->connecting = std::this_thread::get_id();
            while (!held->released)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    bridge.SetReconnectDelays(200, 200);
    bridge.SetConnectTimeout(100);
    options.url = QString("mqtt://localhost:%1").arg(broker.port);
    QString error;
    ASSERT_TRUE(bridge.Start(options, &error)) << qPrintable(error);
    EXPECT_TRUE(Logged("no answer from the broker"));
    EXPECT_NE(held->connecting.load(), std::this_thread::get_id());
    bridge.SetConnectTimeout(10000);  // from the next attempt on
    EXPECT_TRUE(WaitUntil([&] { return bridge.IsConnected(); }));
    EXPECT_EQ(held->attempts.load(), 2);
    held->released = true;  // the abandoned thread destroys its own client
}

// TLS by name: the broker's certificate is checked against the URL's name and the authority.
TEST_F(MqttTest, TlsChecksTheBrokersCertificate)
{
    if (QStandardPaths::findExecutable("openssl").isEmpty())
        GTEST_SKIP() << "openssl is missing";
    QTemporaryDir certs;
    for (const QStringList& more : {QStringList{"ca", "/CN=ca"},
                                    {"other", "/CN=other"},
                                    {"server", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost",
                                     "-CA", "ca.crt", "-CAkey", "ca.key"}}) {
        QProcess openssl;
        openssl.setWorkingDirectory(certs.path());
        openssl.start("openssl", QStringList{"req", "-x509", "-newkey", "ec", "-pkeyopt",
                                             "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2",
                                             "-keyout", more[0] + ".key", "-out", more[0] + ".crt", "-subj"} +
                                     more.mid(1));
        ASSERT_TRUE(openssl.waitForFinished(30000) && openssl.exitCode() == 0) << qPrintable(more[0]);
    }
    broker.Stop();
    Broker tls;
    tls.listenerLines = QString("certfile %1/server.crt\nkeyfile %1/server.key\n").arg(certs.path());
    ASSERT_TRUE(tls.Start());
    options.url = QString("mqtts://localhost:%1").arg(tls.port);
    for (const QString ca : {"other", "ca"}) {
        options.caFile = certs.filePath(ca + ".crt");
        QString error;
        ASSERT_TRUE(bridge.Start(options, &error)) << qPrintable(error);
        EXPECT_TRUE(ca != "other" || Logged("TLS handshake failed"));
    }
    EXPECT_TRUE(WaitUntil([&] { return bridge.IsConnected(); }));
}

TEST_F(MqttTest, ConnectPublishesDiscoveryAvailabilityAndEveryState)
{
    Observer observer(broker.port);
    bridge.SetNames({"Pump", "", "", "", "", "Clock"}, {"Door", ""}, "4.1.2");
    bridge.PublishRelays(0x21);
    bridge.PublishInputs(true, false);
    bridge.PublishStatus(true, 5);
    QString error;
    ASSERT_TRUE(bridge.Start(options, &error)) << qPrintable(error);
    ASSERT_TRUE(observer.Sees(Topic("availability"), "online"));
    ASSERT_TRUE(observer.Sees(Topic("input/K2/state"), "OFF"));
    for (int n = 1; n <= 6; ++n)
        EXPECT_EQ(observer.Last(Topic(QString("relay/%1/state").arg(n))), n == 1 || n == 6 ? "ON" : "OFF");
    EXPECT_EQ(observer.Last(Topic("input/K1/state")), "ON");
    EXPECT_TRUE(observer.Sees(Topic("status"), StatusPayload(true, 5, "4.1.2")));

    // Discovery (its content is the layout's) is on the broker with the given names.
    for (const MqttMessage& m :
         DiscoveryMessages({"board1", {"Pump", "", "", "", "", "Clock"}, {"Door", ""}, "4.1.2", {}}))
        EXPECT_TRUE(observer.Sees(m.topic, m.payload)) << qPrintable(m.topic);

    // Only what changed goes out again; the broker keeps order on the connection, so once the
    // contact's change is there, a second message for an unchanged relay would be too.
    bridge.PublishRelays(0x23);
    bridge.PublishInputs(true, true);
    ASSERT_TRUE(observer.Sees(Topic("input/K2/state"), "ON"));
    EXPECT_EQ(observer.Last(Topic("relay/2/state")), "ON");
    EXPECT_EQ(observer.Count(Topic("relay/1/state")), 1);
    EXPECT_EQ(observer.Count(Topic("input/K1/state")), 1);

    // A clean stop says "offline" itself.
    bridge.Stop();
    EXPECT_TRUE(observer.Sees(Topic("availability"), "offline"));
    EXPECT_FALSE(bridge.IsConnected());
}

TEST_F(MqttTest, SetCommandsAreRequestedAndIgnoredOnesLoggedAtMostOnceASecond)
{
    Observer observer(broker.port);
    // Left on the broker before the bridge subscribes: it arrives with the retained flag.
    observer.Publish(Topic("relay/3/set"), "ON", true);
    ASSERT_TRUE(observer.Sees(Topic("relay/3/set"), "ON"));
    std::vector<std::pair<int, RelayAction>> requested;
    QObject::connect(&bridge, &MqttBridge::SetRequested,
                     [&](int relay, RelayAction action) { requested.emplace_back(relay, action); });
    int64_t now = 0;
    bridge.SetMonotonicClock([&now] { return now; });
    QString error;
    ASSERT_TRUE(bridge.Start(options, &error)) << qPrintable(error);
    ASSERT_TRUE(observer.Sees(Topic("availability"), "online"));

    observer.Publish(Topic("relay/2/set"), "ON");
    observer.Publish(Topic("relay/7/set"), "ON");
    observer.Publish(Topic("relay/1/set"), QByteArray(60000, 'x'));
    observer.Publish(Topic("relay/1/set"), "toggle");
    observer.Publish(Topic("relay/6/set"), "OFF");
    // The broker keeps order on the connection: once the last command is in, so is the rest.
    ASSERT_TRUE(WaitUntil([&] { return requested.size() >= 3; }));
    const std::vector<std::pair<int, RelayAction>> expected{
        {1, RelayAction::On}, {0, RelayAction::Toggle}, {5, RelayAction::Off}};
    EXPECT_EQ(requested, expected);
    // Three ignored in the same second: the retained one is written, the other two held back.
    EXPECT_EQ(Count("MQTT: ignored"), 1);
    EXPECT_TRUE(Logged("ignored retained \"ON\""));
    // Their second over, a line of its own says how many were not written.
    now = 1000;
    EXPECT_TRUE(Logged("2 more lines about ignored messages not written"));
    for (const QString& line : log)
        EXPECT_LE(line.size(), 250) << qPrintable(line.left(100));
}

TEST_F(MqttTest, ReconnectsAfterTheBrokerWasGoneAndPublishesEverythingAgain)
{
    QSignalSpy connected(&bridge, &MqttBridge::ConnectedChanged);
    bridge.PublishRelays(0x00);
    QString error;
    ASSERT_TRUE(bridge.Start(options, &error)) << qPrintable(error);
    ASSERT_TRUE(WaitUntil([&] { return bridge.IsConnected(); }));

    broker.Stop();
    ASSERT_TRUE(WaitUntil([&] { return !bridge.IsConnected(); }));
    EXPECT_TRUE(Logged(" lost: "));
    // Switching goes on while the broker is away; the bridge only remembers the last byte.
    bridge.PublishRelays(0x3F);
    bridge.PublishInputs(false, true);
    EXPECT_TRUE(Logged("cannot connect"));

    ASSERT_TRUE(broker.Start());
    ASSERT_TRUE(WaitUntil([&] { return bridge.IsConnected(); }));
    Observer observer(broker.port);
    EXPECT_TRUE(observer.Sees(Topic("availability"), "online"));
    for (int n = 1; n <= 6; ++n)
        EXPECT_TRUE(observer.Sees(Topic(QString("relay/%1/state").arg(n)), "ON")) << n;
    EXPECT_TRUE(observer.Sees(Topic("input/K2/state"), "ON"));
    EXPECT_TRUE(
        WaitUntil([&] { return !observer.Last("homeassistant/switch/board1_relay6/config").isEmpty(); }));
    ASSERT_EQ(connected.count(), 3);
    EXPECT_EQ(connected.at(1).at(0).toBool(), false);
}

}  // namespace
}  // namespace tavoxa
