// The controller without a window: start-up on the defaults, port control, the exchange through
// the simulated board, the second tick, and what reaches the user as an error report.
#include <QSignalSpy>
#include <stdexcept>

#include "engine/secondtick.h"
#include "tests/core/controllerfixture.h"

namespace tavoxa::testing {
namespace {

TEST_F(ControllerFixture, StartupRunsTheSecondTickOnTheDefaultsWithThePortOpenAndNoCounts)
{
    Create();
    EXPECT_FALSE(core->ticker().timer()->isActive()) << "nothing ticks before start-up";
    QSignalSpy lock(core.get(), &RelayController::PortControlsLockChanged);
    core->Startup();

    QTimer* second = core->ticker().timer();
    EXPECT_TRUE(second->isActive());
    EXPECT_TRUE(second->isSingleShot());
    EXPECT_EQ(second->timerType(), Qt::PreciseTimer);
    EXPECT_EQ(second->interval(), 705);  // the clock reads .300: 5 ms past the next full second

    // The defaults taken from the clock, then RESET (every defaults value is the engine's to test).
    EXPECT_EQ(model().ProgramDate(5, 5), EncodeDate(2024, 3, 15));
    EXPECT_EQ(model().SecondsTimer[5].SecondCount, -1);
    EXPECT_EQ(model().RelayBits, 0);
    EXPECT_EQ(adapter().ComNumber, 1);
    EXPECT_EQ(adapter().ChipAddress, 0x20);
    // The port opens on the bus thread; the controls lock once it reports the port open.
    ASSERT_TRUE(Settled([this] { return core->portControlsLocked(); }));
    EXPECT_TRUE(busFacts().PortOpen);
    EXPECT_EQ(board.OpenComNumber(), 1);
    ASSERT_EQ(lock.count(), 1);
    EXPECT_TRUE(lock[0][0].toBool());
    EXPECT_TRUE(report.reports.isEmpty());
}

class Controller : public ControllerFixture {
protected:
    void SetUp() override
    {
        Start();
        StopTimers();
        ASSERT_TRUE(Settled([this] { return core->busFacts().Connected; }));
    }
};

// STOP releases the port and unlocks its controls; START zeroes the counts and opens the port
// chosen meanwhile; a port that fails leaves the controls usable.
TEST_F(Controller, StopReleasesThePortAndStartOpensTheChosenOneWithTheCountsZeroed)
{
    core->Stop();
    EXPECT_FALSE(busFacts().PortOpen);
    EXPECT_FALSE(core->portControlsLocked());
    ASSERT_TRUE(Settled([this] { return !board.IsOpen(); }));
    const int attemptsAtStop = board.OpenAttempts();
    core->SelectPort(4, ChipItemOfAddress(core->adapter().ChipAddress));
    EXPECT_EQ(adapter().ComNumber, 5);
    model().SecondsTimer[2].SecondCount = 77;
    core->Start();
    ASSERT_TRUE(Settled([this] { return core->portControlsLocked(); }));
    EXPECT_TRUE(Settled([this] { return board.OpenComNumber() == 5 && core->busFacts().PortOpen; }));
    EXPECT_EQ(board.OpenAttempts(), attemptsAtStop + 1) << "nothing opens before START";
    EXPECT_EQ(core->busFacts().ComNumber, 5);
    EXPECT_EQ(model().SecondsTimer[2].SecondCount, 0);

    // COM 9 is not on the list, and text typed into the list (position -1) is COM 0: no port.
    for (int item : {8, -1}) {
        core->Stop();
        core->SelectPort(item, ChipItemOfAddress(core->adapter().ChipAddress));
        const int attempts = board.OpenAttempts();
        core->Start();
        ASSERT_TRUE(Settled([&] { return board.OpenAttempts() > attempts; })) << item;
        EXPECT_FALSE(busFacts().PortOpen) << item;
        EXPECT_FALSE(core->portControlsLocked()) << item;
        EXPECT_EQ(core->busFacts(), (BusFacts{false, item + 1, false})) << item;
    }
}

TEST_F(Controller, ExchangeTicksWriteTheRelaysAndReadTheContactsThroughTheBoard)
{
    QSignalSpy relays(core.get(), &RelayController::RelaysWritten);
    QSignalSpy inputs(core.get(), &RelayController::InputsRead);
    QSignalSpy facts(core.get(), &RelayController::BusFactsChanged);
    Toggle(2);
    EXPECT_EQ(model().RelayBits & 0x3F, 0x04);
    ASSERT_TRUE(Settled([&relays] { return !relays.isEmpty(); }));
    EXPECT_EQ(board.RelayPins(), 0x04);
    EXPECT_EQ(relays[0][0].value<uint8_t>(), 0x04) << "the lamps show the byte written";
    EXPECT_EQ(core->busFacts(), (BusFacts{true, 1, true}));
    const auto factsShown = facts.count();
    AwaitReads(5);
    EXPECT_EQ(facts.count(), factsShown) << "unchanged facts are not reported again";
    EXPECT_EQ(relays.count(), 1) << "an unchanged byte is not reported again";

    board.SetK1Closed(true);
    ASSERT_TRUE(Settled([this] { return adapter().K1Closed; }));
    ASSERT_FALSE(inputs.isEmpty());
    EXPECT_TRUE(inputs.last()[0].toBool());
    EXPECT_FALSE(inputs.last()[1].toBool());
    EXPECT_EQ(model().RelayBits & 0xC0, 0x40) << "between writes bits 6 and 7 carry the contacts as read";

    core->Reset();
    EXPECT_EQ(model().RelayBits & 0xC0, 0x40) << "RESET with the port open keeps the contacts as read";
    ASSERT_TRUE(Settled([this] { return board.RelayPins() == 0; }));
    EXPECT_TRUE(Settled([&relays] { return relays.last()[0].value<uint8_t>() == 0; }));
}

TEST_F(Controller, AStoppedPortLeavesTheBoardAloneAndABoardThatDoesNotAnswerIsNotConnected)
{
    core->Stop();
    ASSERT_TRUE(Settled([this] { return !board.IsOpen(); }));  // a transaction under way completes
    Toggle(0);
    board.ResetCounters();
    QSignalSpy relays(core.get(), &RelayController::RelaysWritten);
    LetTheBusRun();
    EXPECT_EQ(board.LineChanges() + board.CtsCalls(), 0u);
    EXPECT_EQ(model().RelayBits & 0x3F, 0x01);
    EXPECT_TRUE(relays.isEmpty());
    EXPECT_EQ(core->busFacts(), (BusFacts{false, 1, false}));

    board.SetAnswering(false);
    core->Start();
    EXPECT_TRUE(Settled([this] { return core->busFacts() == BusFacts{true, 1, false}; }));
    AwaitReads(5);
    EXPECT_EQ(core->busFacts(), (BusFacts{true, 1, false}));
}

TEST_F(Controller, ResetSwitchesEveryRelayOffAndStopsTheSecondsTimers)
{
    model().RelayMode(4) = ModeSecondsTimer;
    for (int r : {0, 1, 5})
        Toggle(r);
    SetRelay(model(), 4);
    model().SecondsTimer[4].SecondCount = 9;
    core->Reset();
    EXPECT_EQ(model().RelayBits & 0x3F, 0);
    EXPECT_EQ(model().SecondsTimer[4].SecondCount, -1);
}

// The tick samples the clock, is armed 5 ms past the next full second, and counts each second of
// the clock once: a wake-up a little early still reads the same second and ticks for none.
TEST_F(Controller, EverySecondOfTheClockTicksOnceAcrossMidnight)
{
    EXPECT_EQ(SecondTickDelayMs({2024, 1, 1, 0, 0, 0, 0}), 1005);
    EXPECT_EQ(SecondTickDelayMs({2024, 1, 1, 0, 0, 0, 999}), 6);
    QSignalSpy ticked(core.get(), &RelayController::SecondTicked);
    const auto count = [this] { return model().SecondsTimer[0].SecondCount; };
    clock.now = {2024, 3, 15, 23, 59, 58, 5};
    core->ticker().Fire();
    EXPECT_EQ(count(), 0);
    EXPECT_EQ(model().SecondText, "58");
    EXPECT_EQ(model().DayName, "Fr");
    clock.now.millisecond = 998;
    core->ticker().Fire();
    EXPECT_EQ(count(), 0);
    EXPECT_EQ(ticked.count(), 1);
    EXPECT_EQ(core->ticker().timer()->interval(), 7);
    clock.now = {2024, 3, 15, 23, 59, 59, 6};
    core->ticker().Fire();
    clock.now = {2024, 3, 16, 0, 0, 0, 5};
    core->ticker().Fire();
    EXPECT_EQ(count(), 2);
    EXPECT_EQ(ticked.count(), 3);
    EXPECT_EQ(model().DayName, "Sa");
}

TEST(ControllerTimers, TicksArriveFromTheEventLoop)
{
    WorkDir work;
    RecordingReport report;
    SimulatedBoard board;
    SystemClock clock;
    LcgRandom random;
    NoBusDelay delay;
    RelayController core(board, clock, random, delay, report);
    QSignalSpy ticked(&core, &RelayController::SecondTicked);
    core.Startup();
    // The first transaction finds no acknowledge yet; a start late in a second can see the
    // second tick before it.
    EXPECT_TRUE(WaitUntil([&] { return !ticked.isEmpty() && core.busFacts().Connected; }, 5000));
    EXPECT_EQ(board.RelayPins(), 0);
    EXPECT_TRUE(report.reports.isEmpty());
}

TEST(ErrorReport, AddsAFullStopAfterCharactersAboveIt)
{
    EXPECT_EQ(ErrorReportText("E/A-Fehler 103"), "E/A-Fehler 103.");
    EXPECT_EQ(ErrorReportText(QString::fromUtf8("Größe ä")), QString::fromUtf8("Größe ä."));
    EXPECT_EQ(ErrorReportText("Ende."), "Ende.");
    EXPECT_EQ(ErrorReportText("Wirklich!"), "Wirklich!");
    EXPECT_EQ(ErrorReportText("a-"), "a-");
    EXPECT_EQ(ErrorReportText("a/"), "a/.");
    EXPECT_EQ(ErrorReportText(""), "");
}

TEST(ErrorReport, RunReportedCatchesAtTheHandlerBoundary)
{
    RecordingReport report;
    EXPECT_TRUE(RunReported(report, [] {}));
    EXPECT_FALSE(RunReported(report, [] { throw std::runtime_error("Datei nicht gefunden"); }));
    EXPECT_FALSE(RunReported(report, [] { throw 42; }));
    EXPECT_EQ(report.reports, (QStringList{"Datei nicht gefunden.", "Unbekannter Fehler."}));
}

}  // namespace
}  // namespace tavoxa::testing
