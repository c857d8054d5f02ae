// tavoxa-sim started headless with --mqtt against a broker of the test's own: it publishes its
// relays, switches on a set command, leaves a retained one alone and says "offline" at a stop.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>
#include <chrono>
#include <csignal>
#include <functional>
#include <thread>

#include "tests/remote/mqttbroker.h"

namespace {

using tavoxa::testing::MosquittoBroker;
using tavoxa::testing::MqttProbe;

// The program is another process: plain sleeping waits are enough here.
bool PollUntil(const std::function<bool()>& done, int timeoutMs = 10000)
{
    for (int waited = 0; !done(); waited += 10) {
        if (waited >= timeoutMs)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

TEST(MqttProgram, PublishesSwitchesIgnoresRetainedSetsAndGoesOfflineAtStop)
{
    if (!tavoxa::testing::HaveMosquitto())
        GTEST_SKIP() << tavoxa::testing::kMosquittoBinary << " is missing (install the mosquitto package)";
    MosquittoBroker broker;
    ASSERT_TRUE(broker.Start()) << "the broker did not start";
    MqttProbe probe(broker.port, {"tavoxa/#"});
    ASSERT_TRUE(PollUntil([&] { return probe.Ready(); }));
    const auto topic = [](const QString& tail) { return "tavoxa/apptest/" + tail; };
    // Left on the broker by someone earlier: the program must not switch on it at its start.
    probe.Publish(topic("relay/2/set"), "ON", true);
    ASSERT_TRUE(PollUntil([&] { return probe.Last(topic("relay/2/set")) == "ON"; }));

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(dir.path());
    program.start(TAVOXA_SIM_PROGRAM, {"--mqtt", broker.Url(), "--mqtt-id", "apptest"});
    ASSERT_TRUE(program.waitForStarted(10000));

    ASSERT_TRUE(PollUntil([&] { return probe.Last(topic("availability")) == "online"; }));
    for (int n = 1; n <= 6; ++n)
        EXPECT_TRUE(PollUntil([&] { return probe.Last(topic(QString("relay/%1/state").arg(n))) == "OFF"; }))
            << n;
    probe.Publish(topic("relay/1/set"), "ON");
    EXPECT_TRUE(PollUntil([&] { return probe.Last(topic("relay/1/state")) == "ON"; }));

    ASSERT_EQ(::kill(static_cast<pid_t>(program.processId()), SIGTERM), 0);
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_TRUE(PollUntil([&] { return probe.Last(topic("availability")) == "offline"; }));
    // The broker keeps order on each connection: everything the program sent is in by now.
    EXPECT_EQ(probe.Last(topic("relay/2/state")), "OFF");
    EXPECT_EQ(probe.Count(topic("relay/2/state")), 1);
    EXPECT_TRUE(QString::fromLocal8Bit(program.readAllStandardError()).contains("ignored retained \"ON\""));
}

}  // namespace
