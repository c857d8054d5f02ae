// The controller on the simulated board, in a working directory of its own, with a clock stepped
// by hand and the error reports recorded instead of shown. The window tests build on it.
#pragma once

#include <gtest/gtest.h>

#include <QHostAddress>
#include <QStringList>
#include <QTcpSocket>
#include <QTimer>
#include <functional>
#include <memory>

#include "adapter/i2c.h"
#include "adapter/simboard.h"
#include "core/relaycontroller.h"
#include "engine/clock.h"
#include "engine/random.h"
#include "remote/remoteserver.h"
#include "storage/configfile.h"
#include "testkit.h"
#include "tests/storage/storagetestutil.h"

namespace tavoxa::testing {

class StepClock : public Clock {
public:
    LocalDateTime now{2024, 3, 15, 12, 34, 56, 300};  // a Friday
    LocalDateTime Now() const override { return now; }
};

class RecordingReport : public ErrorReport {
public:
    void Report(const QString& text) override { reports << text; }
    QStringList reports;
};

class ControllerFixture : public ::testing::Test {
protected:
    // A new controller over the same board and directory, as a restart of the program; its
    // server listens on the loopback only.
    void Create()
    {
        core.reset();
        core = std::make_unique<RelayController>(board, clock, random, delay, report);
        core->remoteSwitch().server().SetListenAddress(QHostAddress::LocalHost);
    }
    void Start()
    {
        Create();
        core->Startup();
    }
    // The second tick is driven by hand; a running timer would tick between the steps of a test.
    // The exchange runs on the bus thread on its own.
    void StopTimers() { core->ticker().timer()->stop(); }
    // Waits, with the event loop turning, until the bus thread has brought about `done`.
    static bool Settled(const std::function<bool()>& done) { return WaitUntil(done, 5000); }
    // Lets the exchange run for a while (for what must not happen).
    static void LetTheBusRun(int ms = 200) { QTest::qWait(ms); }
    // Waits until the exchange has read the contacts `reads` more times (nine CTS samples each).
    void AwaitReads(int reads)
    {
        const auto samples = board.CtsCalls();
        ASSERT_TRUE(Settled([&] { return board.CtsCalls() >= samples + 9u * static_cast<unsigned>(reads); }));
    }
    // swcf.ini with the configuration file, password, port and Remote given, the names empty.
    void PutSettings(const std::string& config, const std::string& password, const std::string& port,
                     bool remote)
    {
        PutFile(work.Path("swcf.ini"),
                JoinLines({config, password, port, "", "", "", "", "", "", "", "", remote ? "1" : "0"}));
    }
    // haus.dat from `settings` on COM `com` with chip `chip`, named by a swcf.ini of one line.
    void PutConfig(const Model& settings, int com, uint8_t chip)
    {
        PutFile(work.Path("haus.dat"), WriteConfiguration(settings, com, chip));
        PutFile(work.Path("swcf.ini"), JoinLines({"haus.dat"}));
    }
    // Records the switching log in `lines`, without the time stamps.
    void CaptureLog()
    {
        core->log().SetSink(
            [this](const QByteArray& line) { lines << QString::fromUtf8(line.mid(20).chopped(1)); });
    }
    // A client logged in to the controller's remote server with password "pw".
    std::unique_ptr<QTcpSocket> LoggedInClient()
    {
        auto client = std::make_unique<QTcpSocket>();
        client->connectToHost(QHostAddress::LocalHost, core->remoteSwitch().server().BoundPort());
        EXPECT_TRUE(WaitUntil([&] { return client->bytesAvailable() >= 7; }));
        EXPECT_EQ(client->readAll(), "connect");
        client->write("Pass:pw");
        EXPECT_TRUE(WaitUntil([&] { return client->bytesAvailable() >= 5; }));
        EXPECT_EQ(client->readAll(), "legal");
        return client;
    }
    Model& model() { return core->model(); }
    const AdapterState& adapter() { return core->adapter(); }
    BusFacts busFacts() { return core->busFacts(); }
    void SetMode(int relay, int mode) { core->Edit({relay, RelayField::Mode, static_cast<double>(mode)}); }
    void Toggle(int relay)
    {
        core->Switch({{relay, RelayAction::Toggle}}, SwitchCause{CauseKind::TButton, 0, {}});
    }

    WorkDir work;
    RecordingReport report;
    SimulatedBoard board;
    StepClock clock;
    LcgRandom random;
    NoBusDelay delay;
    std::unique_ptr<RelayController> core;
    QStringList lines;
};

}  // namespace tavoxa::testing
