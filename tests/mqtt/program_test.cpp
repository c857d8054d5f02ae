// tavoxa-sim started headless with --mqtt against a broker of the test's own: it publishes its
// relays, switches on a set command, leaves a retained one alone and says "offline" at a stop;
// the id given in capitals is used in lower case, and the open broker is warned about. One that
// is killed leaves "offline" as its last will.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <csignal>

#include "tests/app/simprogram.h"
#include "tests/mqtt/mqttbroker.h"

namespace {

using tavoxa::testing::MosquittoBroker;
using tavoxa::testing::MqttProbe;
using tavoxa::testing::PollUntil;

TEST(MqttProgram, PublishesSwitchesIgnoresRetainedSetsAndGoesOfflineAtStopOrByItsLastWill)
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

    QTemporaryDir dir, heldDir;
    tavoxa::testing::SimProgram program(dir.path()), held(heldDir.path());
    ASSERT_TRUE(program.Start({"--mqtt", broker.Url(), "--mqtt-id", "AppTest"}));
    ASSERT_TRUE(held.Start({"--mqtt", broker.Url(), "--mqtt-id", "held"}));
    ASSERT_TRUE(PollUntil([&] { return probe.Last("tavoxa/held/availability") == "online"; }));
    EXPECT_EQ(held.Finish(SIGKILL), -1);  // no chance to say goodbye: the broker says it
    EXPECT_TRUE(PollUntil([&] { return probe.Last("tavoxa/held/availability") == "offline"; }));

    ASSERT_TRUE(PollUntil([&] { return probe.Last(topic("availability")) == "online"; }));
    for (int n = 1; n <= 6; ++n)
        EXPECT_TRUE(PollUntil([&] { return probe.Last(topic(QString("relay/%1/state").arg(n))) == "OFF"; }))
            << n;
    probe.Publish(topic("relay/1/set"), "ON");
    EXPECT_TRUE(PollUntil([&] { return probe.Last(topic("relay/1/state")) == "ON"; }));

    EXPECT_EQ(program.Finish(SIGTERM), 0) << program.Err().toStdString();
    EXPECT_TRUE(PollUntil([&] { return probe.Last(topic("availability")) == "offline"; }));
    // The broker keeps order on each connection: everything the program sent is in by now.
    EXPECT_EQ(probe.Last(topic("relay/2/state")), "OFF");
    EXPECT_EQ(probe.Count(topic("relay/2/state")), 1);
    EXPECT_TRUE(program.Err().contains("ignored retained \"ON\""));
    EXPECT_TRUE(program.Err().contains("used as \"apptest\""));
    EXPECT_TRUE(program.Err().contains("MQTT: warning"));
    EXPECT_TRUE(program.Err().contains("relay 1 on: mqtt"));
}

}  // namespace
