// Without a display nobody can press START or tick "Remote" again: the start-up goes on after a
// file error, and a remote port that cannot be bound is tried again. A short file is reported in
// both modes.
#include <QSignalSpy>
#include <QTcpServer>

#include "storage/configfile.h"
#include "storage/settingsfile.h"
#include "tests/core/controllerfixture.h"

namespace tavoxa::testing {
namespace {

class Unattended : public ControllerFixture {
protected:
    // A controller whose switching log is captured without the time stamps.
    void Create(bool unattended)
    {
        ControllerFixture::Create();
        core->SetUnattended(unattended);
        core->log().SetSink(
            [this](const QByteArray& line) { lines << QString::fromUtf8(line.mid(20).chopped(1)); });
    }
    QStringList lines;
};

TEST_F(Unattended, AnErrorDuringStartupIsReportedAndOnlyUnattendedGoesOnToOpenThePort)
{
    std::string text = WriteConfiguration(Model(), 2, 32);
    text.replace(text.find("\r\n", text.find("\r\n") + 2) + 2, 1, "abc");  // the first setting
    PutFile(work.Path("haus.dat"), text);
    PutFile(work.Path("swcf.ini"), JoinLines({"haus.dat"}));
    for (bool unattended : {false, true}) {
        report.reports.clear();
        Create(unattended);
        core->Startup();
        EXPECT_EQ(report.reports, QStringList{QString::fromUtf8("Ungültige numerische Eingabe.")})
            << unattended;
        EXPECT_TRUE(core->secondTimer()->isActive()) << unattended;
        if (unattended) {
            EXPECT_TRUE(Settled([this] { return board.OpenComNumber() == 2 && core->busFacts().Connected; }));
        }
        LetTheBusRun(50);
        EXPECT_EQ(board.IsOpen(), unattended);
        StopTimers();
        core->Stop();
    }
}

TEST_F(Unattended, ARemotePortInUseIsTriedAgainAndTheSwitchStaysOn)
{
    QTcpServer other;
    ASSERT_TRUE(other.listen(QHostAddress::LocalHost, 0));
    const uint16_t port = other.serverPort();
    PutFile(work.Path("swcf.ini"),
            JoinLines({"", "pw", std::to_string(port), "", "", "", "", "", "", "", "", "1"}));
    Create(true);
    core->SetRemoteRetryInterval(50);
    QSignalSpy remoteOn(core.get(), &RelayController::RemoteOnChanged);
    core->Startup();
    StopTimers();
    EXPECT_TRUE(core->remoteOn());
    EXPECT_FALSE(core->server().IsOpen());
    EXPECT_TRUE(remoteOn.isEmpty());
    const QString refused = QStringLiteral("remote server cannot listen on port %1: ").arg(port);
    ASSERT_EQ(lines.filter(refused).size(), 1) << lines.join('|').toStdString();
    EXPECT_GT(lines.filter(refused)[0].size(), refused.size()) << "with the reason";
    EXPECT_TRUE(core->SetRemote(true)) << "the switch keeps the user's choice";

    LetTheBusRun(200);
    EXPECT_FALSE(core->server().IsOpen());
    other.close();
    ASSERT_TRUE(Settled([this] { return core->server().IsOpen(); }));
    EXPECT_EQ(core->server().BoundPort(), port);
    EXPECT_TRUE(lines.contains(QStringLiteral("remote server listening on port %1").arg(port)));
    ASSERT_TRUE(core->Close());
    EXPECT_TRUE(tavoxa::LoadSettingsFile(work.Path("swcf.ini").toStdString()).Remote);
}

// Values missing at the end load as 0: the user is told, the file is kept as it was, and the
// program goes on.
TEST_F(Unattended, AShortConfigurationFileIsReportedKeptAndTheProgramGoesOn)
{
    const std::vector<std::string> all = SplitCrLf(WriteConfiguration(Model(), 3, 32));
    const std::string text = JoinLines({all.begin(), all.begin() + 12});
    PutFile(work.Path("haus.dat"), text);
    PutFile(work.Path("swcf.ini"), JoinLines({"haus.dat"}));
    Create(false);
    core->Startup();
    EXPECT_EQ(report.reports, QStringList{"haus.dat: ends after 12 of 314 values."});
    EXPECT_TRUE(Settled([this] { return board.OpenComNumber() == 3 && core->busFacts().Connected; }));
    ASSERT_TRUE(core->Close());
    EXPECT_EQ(FileBytes(work.Path("haus.dat.bak")), text);
    EXPECT_EQ(SplitCrLf(FileBytes(work.Path("haus.dat"))).size(), 314u);
}

}  // namespace
}  // namespace tavoxa::testing
