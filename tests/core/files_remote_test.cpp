// The controller with its files and its remote server: start-up reads swcf.ini and the
// configuration file, closing writes both, Load and Save, and the Remote switch.
#include <QSignalSpy>
#include <QTcpServer>

#include "storage/settingsfile.h"
#include "tests/core/controllerfixture.h"

namespace tavoxa::testing {
namespace {

class ControllerFiles : public ControllerFixture {
protected:
    // `name` on COM `com` whose third line starts with `bad` instead of a digit, named by swcf.ini;
    // returns its bytes.
    std::string PutBadNumber(const char* bad, const QString& name = "haus.dat", int com = 2)
    {
        std::string text = WriteConfiguration(Model(), com, 32);
        text.replace(text.find("\r\n", text.find("\r\n") + 2) + 2, 1, bad);
        PutFile(work.Path(name), text);
        PutFile(work.Path("swcf.ini"), JoinLines({name.toStdString()}));
        return text;
    }
    bool RemoteSaved() { return LoadSettingsFile(work.Path("swcf.ini").toStdString()).Remote; }
};

TEST_F(ControllerFiles, FirstStartWritesTavoxaDatAndTheNextStartLoadsIt)
{
    Start();
    EXPECT_EQ(core->files().configFileName(), "tavoxa.dat");
    EXPECT_FALSE(core->remoteSwitch().remoteOn()) << "no settings file opens no server";
    model().RelayMode(2) = ModeTimer;
    model().SecondsTimer[4].StartAfter = 77;
    ASSERT_TRUE(core->Close());
    EXPECT_TRUE(report.reports.isEmpty()) << report.reports.join("|").toStdString();
    EXPECT_FALSE(board.IsOpen());
    EXPECT_FALSE(core->ticker().timer()->isActive());

    const SettingsFileContent settings = tavoxa::LoadSettingsFile(work.Path("swcf.ini").toStdString());
    EXPECT_EQ(settings.ConfigFileName, "tavoxa.dat");
    EXPECT_FALSE(settings.Remote);

    Start();
    EXPECT_EQ(model().RelayMode(2), ModeTimer);
    EXPECT_EQ(model().SecondsTimer[4].StartAfter, 77);
    EXPECT_EQ(model().SecondsTimer[4].SecondCount, -1) << "counts are never restored";
}

TEST_F(ControllerFiles, NamesPasswordAndPortSurviveARestartByteForByte)
{
    // Leading and trailing blanks, UTF-8 and a byte that is no UTF-8 at all.
    const std::vector<std::string> lines = {"haus.dat", "geheim", "26535", " Licht ", "K\xc3\xbc", "Tor\xe4",
                                            "4",        "5",      "Uhr",   "T",       "K2 ",       "0"};
    PutFile(work.Path("swcf.ini"), JoinLines(lines));
    Start();
    EXPECT_EQ(core->files().names()[0], " Licht ");
    EXPECT_EQ(core->files().names()[2], "Tor\xe4");
    EXPECT_EQ(core->remoteSwitch().settings().RemotePassword, "geheim");
    EXPECT_EQ(core->remoteSwitch().settings().RemotePort, "26535");
    EXPECT_FALSE(core->remoteSwitch().remoteOn());
    ASSERT_TRUE(core->Close());
    EXPECT_EQ(FileBytes(work.Path("swcf.ini")), JoinLines(lines));
}

// The chooser knows two chips: a stored 32 is the PCF 8574, anything else (a line 2 that is
// missing reads as 0) the PCF 8574 A at 0x38; the address used is the one shown, and kept.
TEST_F(ControllerFiles, StoredComPortAndChipAreOpened)
{
    const std::pair<uint8_t, uint8_t> cases[] = {{0, 0x38},  {32, 0x20}, {33, 0x38},
                                                 {56, 0x38}, {57, 0x38}, {255, 0x38}};
    for (const auto& [stored, address] : cases) {
        Model settings;
        settings.RelayMode(0) = ModeSecondsTimer;
        PutConfig(settings, 5, stored);
        Start();
        EXPECT_EQ(adapter().ChipAddress, address) << int(stored);
        EXPECT_EQ(ChipItemOfAddress(adapter().ChipAddress), address == 0x20 ? 0 : 1) << int(stored);
        EXPECT_EQ(adapter().ComNumber, 5);
        EXPECT_TRUE(Settled([this] { return busFacts().PortOpen && board.OpenComNumber() == 5; }));
        EXPECT_EQ(model().RelayMode(0), ModeSecondsTimer);
        ASSERT_TRUE(core->Close());
        EXPECT_EQ(SplitCrLf(FileBytes(work.Path("haus.dat")))[1], std::to_string(address)) << int(stored);
    }
}

// After a start-up or a Load that fails: reported, the view shows what was read so far, the
// status lines name the port in force, closed, the port is never opened and the program goes on.
TEST_F(ControllerFiles, ABadNumberIsReportedAndLeavesThePortClosed)
{
    PutBadNumber("x");
    Create();
    QSignalSpy replaced(core.get(), &RelayController::SettingsReplaced);
    QSignalSpy facts(core.get(), &RelayController::BusFactsChanged);
    core->Startup();
    StopTimers();
    EXPECT_EQ(report.reports, QStringList{QString::fromUtf8("Ungültige numerische Eingabe.")});
    EXPECT_EQ(replaced.count(), 1) << "the view shows what was read so far";
    ASSERT_FALSE(facts.isEmpty());
    EXPECT_EQ(facts.last()[0].value<BusFacts>(), (BusFacts{false, 2, false}));
    Toggle(0);
    EXPECT_TRUE(RelayIsOn(model(), 0)) << "the program goes on";

    const std::string text = PutBadNumber("y", "vier.dat", 4);
    core->Load(work.Path("vier.dat").toStdString());
    EXPECT_EQ(facts.last()[0].value<BusFacts>(), (BusFacts{false, 4, false}));
    EXPECT_EQ(report.reports.size(), 2);

    // The file that failed is kept beside it before the close overwrites it; the close ends the
    // bus thread behind every request handed to it.
    ASSERT_TRUE(core->Close());
    EXPECT_EQ(FileBytes(work.Path("vier.dat.bak")), text);
    EXPECT_EQ(board.OpenAttempts(), 0);
}

// Unattended nobody can press START: the port opens and the ticks run on what was read.
TEST_F(ControllerFiles, UnattendedABadValueIsReportedAndTheStartupGoesOn)
{
    PutBadNumber("abc");
    Create();
    core->SetRunOptions({true, false, std::nullopt});
    core->Startup();
    EXPECT_EQ(report.reports, QStringList{QString::fromUtf8("Ungültige numerische Eingabe.")});
    EXPECT_TRUE(core->ticker().timer()->isActive());
    EXPECT_TRUE(Settled([this] { return board.OpenComNumber() == 2 && core->busFacts().Connected; }));
}

// Values missing at the end load as 0: the user is told, the file is kept before the close
// overwrites it, and the program goes on.
TEST_F(ControllerFiles, AShortFileIsReportedAndKept)
{
    const std::vector<std::string> all = SplitCrLf(WriteConfiguration(Model(), 3, 32));
    const std::string text = JoinLines({all.begin(), all.begin() + 12});
    PutFile(work.Path("haus.dat"), text);
    PutFile(work.Path("swcf.ini"), JoinLines({"haus.dat"}));
    Start();
    EXPECT_EQ(report.reports, QStringList{"haus.dat: ends after 12 of 314 values."});
    EXPECT_TRUE(Settled([this] { return board.OpenComNumber() == 3 && core->busFacts().Connected; }));
    ASSERT_TRUE(core->Close());
    EXPECT_EQ(FileBytes(work.Path("haus.dat.bak")), text);
    EXPECT_EQ(SplitCrLf(FileBytes(work.Path("haus.dat"))).size(), 314u);
}

TEST_F(ControllerFiles, LoadResetsAndStartsSaveStartsWithoutReset)
{
    Start();
    StopTimers();
    core->Stop();  // Load and Save need the port closed
    core->SelectPort(2, ChipItemOfAddress(core->adapter().ChipAddress));
    SetRelay(model(), 1);

    const std::string path = work.Path("zwei.dat").toStdString();
    core->Save(path);
    EXPECT_EQ(core->files().configFileName(), path);
    EXPECT_TRUE(QFile::exists(work.Path("zwei.dat")));
    EXPECT_TRUE(RelayIsOn(model(), 1)) << "Save switches nothing off";
    EXPECT_TRUE(Settled([this] { return busFacts().PortOpen && board.OpenComNumber() == 3; }))
        << "Save ends with START";
    EXPECT_EQ(model().SecondsTimer[0].SecondCount, 0);

    core->Stop();
    core->SelectPort(6, ChipItemOfAddress(core->adapter().ChipAddress));
    QSignalSpy replaced(core.get(), &RelayController::SettingsReplaced);
    core->Load(path);
    EXPECT_EQ(replaced.count(), 1);
    EXPECT_FALSE(RelayIsOn(model(), 1)) << "Load runs RESET";
    EXPECT_EQ(adapter().ComNumber, 3) << "the loaded port";
    EXPECT_TRUE(Settled([this] { return busFacts().PortOpen && board.OpenComNumber() == 3; }));
    EXPECT_TRUE(report.reports.isEmpty());
}

TEST_F(ControllerFiles, ACloseThatCannotWriteIsAbandonedAndLosesNothing)
{
    PutSettings("", "", "0", true);
    Start();
    ASSERT_TRUE(core->remoteSwitch().server().IsOpen());
    ASSERT_TRUE(Settled([this] { return core->busFacts().Connected; }));
    core->Save(work.Path("no/such/folder/x.dat").toStdString());
    EXPECT_EQ(report.reports, QStringList{"E/A-Fehler 103."});
    QFile::remove(work.Path("swcf.ini"));
    EXPECT_FALSE(core->Close());
    EXPECT_EQ(report.reports.size(), 2);
    EXPECT_FALSE(QFile::exists(work.Path("swcf.ini"))) << "the settings file is not written either";
    EXPECT_TRUE(core->remoteSwitch().server().IsOpen());
    EXPECT_TRUE(core->ticker().timer()->isActive());
    // The port is closed but still reads open; the exchange stays off it until STOP.
    ASSERT_TRUE(Settled([this] { return !board.IsOpen(); }));
    board.ResetCounters();
    LetTheBusRun();
    EXPECT_EQ(board.LineChanges(), 0u);
    EXPECT_FALSE(core->busFacts().Connected);
    core->Stop();
    core->Start();
    EXPECT_TRUE(Settled([this] { return board.IsOpen(); }));

    core->Save(work.Path("x.dat").toStdString());
    EXPECT_TRUE(core->Close());
    EXPECT_FALSE(core->remoteSwitch().server().IsOpen());
    EXPECT_EQ(tavoxa::LoadSettingsFile(work.Path("swcf.ini").toStdString()).ConfigFileName,
              work.Path("x.dat").toStdString())
        << "only a backslash separates folders";
}

TEST_F(ControllerFiles, RemoteFromTheSettingsFileOpensTheServerAndReportsItsClient)
{
    PutSettings("", "pw", "0", true);
    Create();
    QSignalSpy settingsRead(core.get(), &RelayController::SettingsFileRead);
    QSignalSpy connected(core.get(), &RelayController::ClientConnectedChanged);
    core->Startup();
    EXPECT_EQ(settingsRead.count(), 1);
    EXPECT_TRUE(core->remoteSwitch().remoteOn());
    ASSERT_TRUE(core->remoteSwitch().server().IsOpen());

    const std::unique_ptr<QTcpSocket> client = LoggedInClient();
    ASSERT_EQ(connected.count(), 1);
    EXPECT_TRUE(connected[0][0].toBool());
    client->write("5");
    EXPECT_TRUE(WaitUntil([&] { return model().RelayBits == 5; }));

    client->disconnectFromHost();
    EXPECT_TRUE(WaitUntil([&] { return connected.count() == 2; }));
    EXPECT_FALSE(connected.last()[0].toBool());
}

TEST_F(ControllerFiles, APortInUseSwitchesRemoteOffWithoutAMessage)
{
    QTcpServer other;
    ASSERT_TRUE(other.listen(QHostAddress::LocalHost, 0));
    PutSettings("", "", std::to_string(other.serverPort()), true);
    Create();
    QSignalSpy remoteOn(core.get(), &RelayController::RemoteOnChanged);
    core->Startup();
    EXPECT_FALSE(core->remoteSwitch().remoteOn());
    EXPECT_FALSE(core->remoteSwitch().server().IsOpen());
    ASSERT_EQ(remoteOn.count(), 1);
    EXPECT_FALSE(remoteOn[0][0].toBool());
    EXPECT_TRUE(report.reports.isEmpty());

    EXPECT_FALSE(core->remoteSwitch().SetRemote(true)) << "the switch shows off again";
    EXPECT_FALSE(core->remoteSwitch().remoteOn());
    ASSERT_TRUE(core->Close());
    EXPECT_FALSE(RemoteSaved());
}

// Unattended nobody can tick "Remote" again: the switch stays on and the port is tried again.
TEST_F(ControllerFiles, UnattendedAPortInUseIsTriedAgain)
{
    QTcpServer other;
    ASSERT_TRUE(other.listen(QHostAddress::LocalHost, 0));
    const uint16_t port = other.serverPort();
    PutSettings("", "pw", std::to_string(port), true);
    Create();
    CaptureLog();
    core->SetRunOptions({true, false, std::nullopt});
    core->remoteSwitch().SetRetryInterval(50);
    QSignalSpy remoteOn(core.get(), &RelayController::RemoteOnChanged);
    core->Startup();
    StopTimers();
    EXPECT_TRUE(core->remoteSwitch().remoteOn());
    EXPECT_TRUE(remoteOn.isEmpty());
    const QString refused = QStringLiteral("remote server cannot listen on port %1: ").arg(port);
    ASSERT_EQ(lines.filter(refused).size(), 1) << lines.join('|').toStdString();
    EXPECT_GT(lines.filter(refused)[0].size(), refused.size()) << "with the reason";
    EXPECT_TRUE(core->remoteSwitch().SetRemote(true)) << "the switch keeps the user's choice";

    QSignalSpy retried(core->remoteSwitch().findChild<QTimer*>({}, Qt::FindDirectChildrenOnly),
                       &QTimer::timeout);
    ASSERT_TRUE(Settled([&] { return retried.count() >= 2; }));
    EXPECT_FALSE(core->remoteSwitch().server().IsOpen());
    other.close();
    ASSERT_TRUE(Settled([this] { return core->remoteSwitch().server().IsOpen(); }));
    EXPECT_EQ(core->remoteSwitch().server().BoundPort(), port);
    EXPECT_TRUE(lines.contains(QStringLiteral("remote server listening on port %1").arg(port)));
    ASSERT_TRUE(core->Close());
    EXPECT_TRUE(RemoteSaved());
}

}  // namespace
}  // namespace tavoxa::testing
