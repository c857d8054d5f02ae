// What reaches the board and the switching log: an input-logic relay never shows a state its
// contacts do not call for, the lamps show the byte written, and each change is logged with why.
#include <QRegularExpression>
#include <QSignalSpy>
#include <atomic>

#include "tests/core/controllerfixture.h"

namespace tavoxa::testing {
namespace {

// Watches relay `r` on the bus thread: the flag goes up when its pin shows other than `on`.
std::shared_ptr<std::atomic<bool>> Watch(SimulatedBoard& board, int r, bool on)
{
    auto strayed = std::make_shared<std::atomic<bool>>(false);
    board.SetOnPinsChanged([strayed, &board, r, on] {
        if ((board.RelayPins() >> r & 1) != (on ? 1 : 0))
            *strayed = true;
    });
    return strayed;
}

// A running program with a remote server on a free loopback port (password "pw"), relay 1
// named "Licht", and its switching log captured without the time stamps.
class Switching : public ControllerFixture {
protected:
    void SetUp() override
    {
        PutFile(work.Path("swcf.ini"), JoinLines({"", "pw", "0", "Licht", "", "", "", "", "", "", "", "1"}));
        Create();
        CaptureLog();
        core->Startup();
        StopTimers();
        ASSERT_TRUE(Settled([this] { return core->busFacts().Connected && core->adapter().InputsStable; }));
    }
    // The log lines but the port's status, which START and STOP log as the
    // bus thread reports it.
    QStringList Logged() const { return lines.filter(QRegularExpression("^(relay|remote login|log file)")); }
    bool Reached() { return board.RelayPins() == (model().RelayBits & 0x3F); }
};

// The action changes the bit of relay 1, which its mode then sets back before the byte goes out;
// relay 2 (mode T) is switched afterwards so a write is certain to follow the action.
TEST_F(Switching, AnInputLogicRelayNeverReachesTheWireInAStateItsContactsDoNotCallFor)
{
    std::unique_ptr<QTcpSocket> client = LoggedInClient();
    const struct {
        const char* what;
        int mode;
        bool k1, k2, on;
        std::function<void()> act;
    } cases[] = {
        {"T on IF K1", ModeIfK1, false, false, false, [&] { Toggle(0); }},
        {"T on XOR", ModeK1XorK2, true, false, true, [&] { Toggle(0); }},
        {"RESET", ModeK1OrK2, false, true, true, [&] { core->Reset(); }},
        {"remote byte", ModeIfK2, false, false, false,
         [&] {
             client->write("61");
             ASSERT_TRUE(Settled([this] { return (model().RelayBits & 0x3C) == 0x3C; }));
         }},
    };
    for (const auto& c : cases) {
        core->Reset();
        SetMode(0, c.mode);
        board.SetK1Closed(c.k1);
        board.SetK2Closed(c.k2);
        ASSERT_TRUE(Settled([&] {
            return adapter().K1Closed == c.k1 && adapter().K2Closed == c.k2 &&
                   board.RelayPins() == (c.on ? 1 : 0);
        })) << c.what;
        QSignalSpy written(core.get(), &RelayController::RelaysWritten);
        const auto strayed = Watch(board, 0, c.on);
        c.act();
        Toggle(1);
        ASSERT_TRUE(Settled([this] { return Reached(); })) << c.what;
        EXPECT_FALSE(*strayed) << c.what;
        // The lamps are coloured from the byte written, never from a byte the wire did not get.
        ASSERT_TRUE(Settled([&] {
            return !written.isEmpty() && written.last()[0].value<uint8_t>() == board.RelayPins();
        })) << c.what;
        for (const QList<QVariant>& w : written)
            EXPECT_EQ(w[0].value<uint8_t>() & 1, c.on ? 1 : 0) << c.what;
    }
}

// Until the contacts have read stable once, the logic has nothing to go by: both contacts closed
// must not pull in a "K1 NOR K2" relay for the time the first readings take.
TEST_F(ControllerFixture, InputLogicRelaysAreNotSwitchedBeforeTheContactsHaveReadStable)
{
    Model settings;
    settings.RelayMode(0) = ModeK1NorK2;
    PutConfig(settings, 1, 32);
    board.SetK1Closed(true);
    board.SetK2Closed(true);
    const auto strayed = Watch(board, 0, false);
    Start();
    StopTimers();
    ASSERT_TRUE(Settled([this] { return core->adapter().InputsStable && core->busFacts().Connected; }));
    AwaitReads(5);
    EXPECT_FALSE(*strayed);

    board.SetK1Closed(false);
    board.SetK2Closed(false);
    EXPECT_TRUE(Settled([this] { return board.RelayPins() == 1; }))
        << "the logic runs once the contacts are known";
}

// While the port is closed the input logic does not run: T, RESET, a mode or a remote byte hold
// as they left the byte, bits 6 and 7 included, until START; then the contacts rule again.
TEST_F(Switching, WhileStoppedInputLogicRelaysKeepWhatWasDoneToThem)
{
    std::unique_ptr<QTcpSocket> client = LoggedInClient();
    const struct {
        const char* what;
        int mode;
        bool k1, k2;
        std::function<void()> act;
        uint8_t stopped;  // RelayBits after the action
        bool logicOn;     // relay 1 once the port is open again
    } cases[] = {
        {"T on XOR", ModeK1XorK2, true, true, [&] { Toggle(0); }, 0x01, false},
        {"RESET", ModeK1NorK2, false, false, [&] { core->Reset(); }, 0x00, true},
        {"NOR chosen", ModeToggle, false, false, [&] { SetMode(0, ModeK1NorK2); }, 0x00, true},
        {"remote byte", ModeIfK1, false, false,
         [&] {
             client->write("193");
             ASSERT_TRUE(Settled([this] { return model().RelayBits == 0xC1; }));
         },
         0xC1, false},
    };
    for (const auto& c : cases) {
        SetMode(0, c.mode);
        board.SetK1Closed(c.k1);
        board.SetK2Closed(c.k2);
        ASSERT_TRUE(Settled([&] { return adapter().K1Closed == c.k1 && adapter().K2Closed == c.k2; }))
            << c.what;
        core->Stop();
        ASSERT_TRUE(Settled([this] { return !board.IsOpen(); })) << c.what;
        if (c.mode == ModeToggle)
            model().RelayBits = 0;
        c.act();
        EXPECT_EQ(model().RelayBits, c.stopped) << c.what;
        core->Start();
        EXPECT_TRUE(Settled([&] {
            return core->adapter().InputsStable && board.RelayPins() == (c.logicOn ? 1 : 0);
        })) << c.what;
        SetMode(0, ModeToggle);
    }
}

TEST_F(Switching, EachChangeIsLoggedWithItsCause)
{
    std::unique_ptr<QTcpSocket> client = LoggedInClient();
    const std::string saved = work.Path("zwei.dat").toStdString();
    const struct {
        std::function<void()> act;
        QStringList logged;
    } steps[] = {
        {[&] { Toggle(2); }, {"relay 3 on: T button"}},
        {[&] { core->Reset(); }, {"relay 3 off: RESET"}},
        {[&] {
             SetMode(0, ModeIfK1);
             board.SetK1Closed(true);
         },
         {"relay 1 (Licht) on: input logic (K1 closed, K2 open)"}},
        {[&] { client->write("3"); }, {"relay 2 on: remote (127.0.0.1)"}},
        {[&] {
             model().RelayMode(3) = ModeTimer;
             model().DayCode(3, 1) = DayEveryDay;
             model().ProgramStart(3, 1) = EncodeTime(12, 34, 57);
             model().ProgramEnd(3, 1) = EncodeTime(13, 0, 0);
             clock.now = {2024, 3, 15, 12, 34, 57, 5};
             core->ticker().Fire();
         },
         {"relay 4 on: timer program 2"}},
        {[&] {
             core->Stop();
             core->Save(saved);
             core->Stop();
             core->Load(saved);
         },
         // RESET while stopped switches the input-logic relay off too; the contacts rule again
         // once the port is open.
         {"relay 1 (Licht) off: START after Load", "relay 2 off: START after Load",
          "relay 4 off: START after Load", "relay 1 (Licht) on: input logic (K1 closed, K2 open)"}},
        {[&] { client->write("Pass:falsch"); }, {"remote login refused from 127.0.0.1"}},
    };
    for (const auto& s : steps) {
        lines.clear();
        s.act();
        Settled([&] { return Logged().size() >= s.logged.size(); });  // a client or a contact
        EXPECT_EQ(Logged(), s.logged);
    }
}

TEST_F(ControllerFixture, StartupLogsThePortTheAdapterTheServerAndTimersResumed)
{
    Model settings;
    settings.RelayMode(1) = ModeTimer;
    settings.DayCode(1, 0) = DayEveryDay;
    settings.ProgramStart(1, 0) = EncodeTime(10, 34, 56);  // two hours before the start-up
    settings.ProgramEnd(1, 0) = EncodeTime(20, 0, 0);
    PutFile(work.Path("haus.dat"), WriteConfiguration(settings, 1, 32));
    PutSettings("haus.dat", "pw", "0", true);
    Create();
    CaptureLog();
    core->SetRunOptions({false, true, std::nullopt});
    core->Startup();
    StopTimers();
    ASSERT_TRUE(Settled([this] { return core->busFacts().Connected; }));
    for (const QString& line :
         {QStringLiteral("remote server listening on port %1").arg(core->remoteSwitch().server().BoundPort()),
          QStringLiteral("relay 2 on: resumed at start-up"), QStringLiteral("port COM 1 open"),
          QStringLiteral("adapter connected")})
        EXPECT_TRUE(lines.contains(line)) << line.toStdString() << " in " << lines.join('|').toStdString();
    EXPECT_TRUE(Settled([this] { return board.RelayPins() == 2; }));
}

// Appended line by line; a file that fails is reported once, and switching goes on without it.
TEST_F(Switching, ALogFileGetsEachLineAndOneThatCannotBeWrittenIsReportedOnce)
{
    QString error;
    ASSERT_TRUE(core->log().OpenFile(work.Path("tavoxa.log"), &error)) << error.toStdString();
    Toggle(4);
    EXPECT_EQ(FileBytes(work.Path("tavoxa.log")), "2024-03-15 12:34:56 relay 5 on: T button\n");

    if (!core->log().OpenFile("/dev/full", &error))
        GTEST_SKIP() << "/dev/full: " << error.toStdString();
    lines.clear();
    Toggle(4);
    Toggle(5);
    const QStringList logged = Logged();
    ASSERT_EQ(logged.size(), 3) << logged.join('|').toStdString();
    EXPECT_EQ(logged[0], "relay 5 off: T button");
    EXPECT_TRUE(logged[1].startsWith("log file /dev/full cannot be written: ")) << logged[1].toStdString();
    EXPECT_EQ(logged[2], "relay 6 on: T button");
    EXPECT_TRUE(Settled([this] { return board.RelayPins() == 0x20; }));
}

}  // namespace
}  // namespace tavoxa::testing
