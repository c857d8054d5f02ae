// The main window as built: its controls, start-up, port control, the two ticks and closing.
#include <QCheckBox>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QTimeEdit>
#include <stdexcept>

#include "engine/secondtick.h"
#include "tests/ui/form1testkit.h"

namespace tavoxa::test {
namespace {

QColor Background(const QWidget* w)
{
    return w->palette().color(w->backgroundRole());
}
QColor Base(const QWidget* w)
{
    return w->palette().color(QPalette::Base);
}

const QColor kRed(0xFF, 0x00, 0x00);
const QColor kGreen(0x00, 0xFF, 0x00);
const QColor kAqua(0x00, 0xFF, 0xFF);

QString N(const char* prefix, int n)
{
    return QStringLiteral("%1%2").arg(QLatin1String(prefix)).arg(n);
}

using Form1Window = FormFixture<>;

TEST_F(Form1Window, IsAFixedWindowCaptionedWithTheVersion)
{
    EXPECT_EQ(form->objectName(), "Form1");
    EXPECT_EQ(form->windowTitle(), "Tavoxa V4.1b");
    EXPECT_EQ(form->size(), QSize(665, 408));
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    EXPECT_FALSE(form->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(form->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_TRUE(form->windowFlags().testFlag(Qt::WindowCloseButtonHint));
}

TEST_F(Form1Window, EveryControlExistsWithItsName)
{
    for (int n : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 58})
        Find<QLabel>(N("Label", n));
    for (int n = 1; n <= 13; ++n)
        Find<QPushButton>(N("Button", n));
    for (int n = 1; n <= 25; ++n)
        Find<QComboBox>(N("ComboBox", n));
    for (int n = 1; n <= 18; ++n)
        Find<QLineEdit>(N("Edit", n));
    for (int n = 1; n <= 6; ++n)
        Find<QDateEdit>(N("DateTimePicker", n));
    for (int n = 7; n <= 30; ++n) {
        QTimeEdit* picker = Find<QTimeEdit>(N("DateTimePicker", n));
        EXPECT_EQ(picker->displayFormat(), "HH:mm:ss");
    }
    for (int n = 1; n <= 7; ++n)
        Find<QCheckBox>(N("CheckBox", n));
    for (int n = 1; n <= 15; ++n)
        Find<QFrame>(N("Panel", n));
    for (const char* name : {"GroupBox1", "GroupBox2", "RadioGroup1"})
        Find<QGroupBox>(name);
    EXPECT_TRUE(Find<QDateEdit>("DateTimePicker1")->calendarPopup());
}

TEST_F(Form1Window, CaptionsAndEntriesAreTheSystemsTexts)
{
    // The names come from swcf.ini at start; without the file they are blank.
    for (int n = 1; n <= 8; ++n)
        EXPECT_EQ(Find<QLabel>(N("Label", n))->text(), "");
    for (int n = 1; n <= 6; ++n)
        EXPECT_EQ(Find<QPushButton>(N("Button", n))->text(), "T");
    const std::pair<int, const char*> buttons[] = {{7, "START"}, {8, "STOP"},  {9, "RESET"}, {10, "Help"},
                                                   {11, "Save"}, {12, "Load"}, {13, "IP"}};
    for (const auto& [n, caption] : buttons)
        EXPECT_EQ(Find<QPushButton>(N("Button", n))->text(), caption);

    QStringList captions;
    for (const QLabel* label : form->findChildren<QLabel*>())
        captions << label->text();
    for (const char* header : {"Status", "Key", "Mode", "Prog", "Day", "Date", "Start", "End"})
        EXPECT_EQ(captions.count(header), 1) << header;
    for (const char* caption : {"start after", "end after", "max.", "min"})
        EXPECT_EQ(captions.count(caption), 6) << caption;
    EXPECT_EQ(captions.count("sec"), 12);

    const QStringList modes{"Toggle",        "Timer",        "IF  K1",         "IF  K2",
                            "IF  K1 AND K2", "IF  K1 OR K2", "IF  K1 NOR K2",  "IF  K1 XOR K2",
                            "Sec. - Timer",  "Random",       "Uhr - Steuerung"};
    for (int n = 1; n <= 6; ++n) {
        QComboBox* mode = Find<QComboBox>(N("ComboBox", n));
        EXPECT_TRUE(mode->isEditable());
        EXPECT_EQ(mode->currentText(), "Toggle");
        // Only relay 6 drives a slave clock.
        ASSERT_EQ(mode->count(), n == 6 ? 11 : 10);
        for (int i = 0; i < mode->count(); ++i)
            EXPECT_EQ(mode->itemText(i), modes[i]);
    }
    const QStringList days{"Date", "So", "Mo", "Di", "Mi", "Do", "Fr", "Sa", "Mo-Fr", "Sa-So", "Mo-So"};
    for (int n = 1; n <= 6; ++n) {
        QComboBox* program = Find<QComboBox>(N("ComboBox", 6 + n));
        ASSERT_EQ(program->count(), 6);
        EXPECT_EQ(program->itemText(5), "6");
        QComboBox* day = Find<QComboBox>(N("ComboBox", 12 + n));
        ASSERT_EQ(day->count(), 11);
        for (int i = 0; i < 11; ++i)
            EXPECT_EQ(day->itemText(i), days[i]);
        QComboBox* window = Find<QComboBox>(N("ComboBox", 19 + n));
        ASSERT_EQ(window->count(), 3);
        EXPECT_EQ(window->currentText(), "1");
        EXPECT_EQ(Find<QCheckBox>(N("CheckBox", n))->text(), "Repeat");
    }

    QComboBox* com = Find<QComboBox>("ComboBox19");
    ASSERT_EQ(com->count(), 8);
    EXPECT_EQ(com->itemText(0), "COM  1");
    EXPECT_EQ(com->itemText(7), "COM  8");
    EXPECT_EQ(com->currentText(), "COM  1");
    // The tool tip documents the port mapping; nothing here opens a port.
    const QString mapping = com->toolTip();
    EXPECT_TRUE(mapping.contains("/dev/ttyS0")) << mapping.toStdString();
    EXPECT_TRUE(mapping.contains("/dev/ttyUSB3")) << mapping.toStdString();

    EXPECT_EQ(Find<QGroupBox>("GroupBox1")->title(), "Input Channel");
    EXPECT_EQ(Find<QGroupBox>("GroupBox2")->title(), "COM Port");
    QGroupBox* chip = Find<QGroupBox>("RadioGroup1");
    EXPECT_EQ(chip->title(), "I2C Chip");
    const auto items = chip->findChildren<QRadioButton*>();
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0]->text(), "PCF 8574");
    EXPECT_EQ(items[1]->text(), "PCF 8574 A");
    EXPECT_TRUE(items[0]->isChecked());
    EXPECT_EQ(Find<QCheckBox>("CheckBox7")->text(), "Remote");
    EXPECT_FALSE(Find<QCheckBox>("CheckBox7")->isChecked());
    EXPECT_TRUE(Find<QLabel>("Label58")->text().isEmpty());

    // Status lines stay "-" until the ticks first write them.
    for (const char* line : {"Label9", "Label10", "Label11", "Label13"})
        EXPECT_EQ(Find<QLabel>(line)->text(), "-") << line;
}

TEST_F(Form1Window, ColoursAreTheSystems)
{
    EXPECT_EQ(Background(Find<QWidget>("Panel1")), QColor(0xC0, 0xDC, 0xC0));
    EXPECT_EQ(Background(Find<QWidget>("Panel4")), QColor(0xC0, 0xDC, 0xC0));
    EXPECT_EQ(Background(Find<QWidget>("Panel2")), QColor(0x00, 0xFF, 0x00));
    EXPECT_EQ(Background(Find<QWidget>("Panel3")), QColor(0x00, 0x00, 0xFF));
    EXPECT_EQ(Background(Find<QWidget>("CheckBox7")), QColor(0xFF, 0xFF, 0x00));
    for (int n = 1; n <= 6; ++n)
        EXPECT_EQ(Background(Find<QWidget>(N("Label", n))), kRed) << n;
    EXPECT_EQ(Background(Find<QWidget>("Label58")), kRed);
    // The inputs are unknown until they have read stable once.
    const QColor caption = QGuiApplication::palette().color(QPalette::Active, QPalette::Highlight);
    EXPECT_EQ(Background(Find<QWidget>("Label7")), caption);
    EXPECT_EQ(Background(Find<QWidget>("Label8")), caption);
    for (int n = 1; n <= 25; ++n)
        EXPECT_EQ(Base(Find<QWidget>(N("ComboBox", n))), kAqua) << n;
    for (int n = 1; n <= 18; ++n)
        EXPECT_EQ(Base(Find<QWidget>(N("Edit", n))), kAqua) << n;
    for (int n = 1; n <= 30; ++n)
        EXPECT_EQ(Base(Find<QWidget>(N("DateTimePicker", n))), kAqua) << n;

    form->ShowRemoteLamp(true);
    EXPECT_EQ(Background(Find<QWidget>("Label58")), kGreen);
    form->ShowRemoteLamp(false);
    EXPECT_EQ(Background(Find<QWidget>("Label58")), kRed);
}

TEST_F(Form1Window, BothTicksRunFromCreation)
{
    QTimer* exchange = Find<QTimer>("Timer1");
    EXPECT_TRUE(exchange->isActive());
    EXPECT_EQ(exchange->interval(), 20);
    EXPECT_EQ(exchange->timerType(), Qt::PreciseTimer);
    QTimer* second = Find<QTimer>("Timer2");
    EXPECT_TRUE(second->isActive());
    EXPECT_TRUE(second->isSingleShot());
    EXPECT_EQ(second->timerType(), Qt::PreciseTimer);
    EXPECT_EQ(second->interval(), 705);  // the clock reads .300: 5 ms past the next full second
}

TEST_F(Form1Window, StartsOnTheDefaultsWithThePortOpenAndNoCounts)
{
    const Model& m = form->model();
    for (int r = 0; r < kRelayCount; ++r) {
        EXPECT_EQ(m.RelayMode(r), ModeToggle);
        EXPECT_EQ(m.SecondsTimer[r].SecondCount, -1);
        EXPECT_EQ(m.ProgramDate(r, 0), EncodeDate(2024, 3, 15));
        EXPECT_EQ(m.WindowMaxMinutes(r, 0), 0);
    }
    EXPECT_EQ(m.RelayBits, 0);
    // The refresh after the defaults: every day selector shows "Date", every "max." edit 0,
    // and no mode fields in "Toggle".
    for (int n = 1; n <= 6; ++n) {
        EXPECT_EQ(Find<QComboBox>(N("ComboBox", 12 + n))->currentText(), "Date");
        EXPECT_EQ(Find<QLineEdit>(N("Edit", 12 + n))->text(), "0");
        EXPECT_EQ(Find<QLineEdit>(N("Edit", 2 * n))->text(), "0");
        EXPECT_FALSE(Shown(N("ComboBox", 6 + n)));
        EXPECT_FALSE(Shown(N("Panel", 3 + n)));
        EXPECT_FALSE(Shown(N("Panel", 9 + n)));
    }
    EXPECT_EQ(Find<QTimeEdit>("DateTimePicker7")->time(), QTime(12, 34, 56, 300));

    const AdapterState& a = form->adapter();
    EXPECT_EQ(a.ComNumber, 1);
    EXPECT_EQ(a.ChipAddress, 0x20);
    EXPECT_EQ(a.PortSettings, "Com1:4800,N,8,1");
    EXPECT_TRUE(a.PortOpen);
    EXPECT_EQ(board.OpenComNumber(), 1);
    EXPECT_FALSE(Find<QPushButton>("Button7")->isEnabled());
    EXPECT_TRUE(Find<QPushButton>("Button8")->isEnabled());
    EXPECT_TRUE(recorder.reports.isEmpty());
}

class Form1Port : public FormFixture<> {
protected:
    void SetUp() override
    {
        FormFixture::SetUp();
        StopTimers();
    }

    void ExpectRunning(bool running)
    {
        for (const char* control : {"RadioGroup1", "ComboBox19", "Button7", "Button11", "Button12"})
            EXPECT_EQ(Find<QWidget>(control)->isEnabled(), !running) << control;
        EXPECT_EQ(Find<QWidget>("Button8")->isEnabled(), running);
    }

    void Ticks(int count)
    {
        for (int i = 0; i < count; ++i)
            form->Timer1Timer();
    }
};

TEST_F(Form1Port, StopUnlocksAndStartLocksThePortControls)
{
    ExpectRunning(true);
    Find<QPushButton>("Button8")->click();
    EXPECT_FALSE(form->adapter().PortOpen);
    EXPECT_FALSE(board.IsOpen());
    ExpectRunning(false);

    form->model().SecondsTimer[2].SecondCount = 77;
    Find<QPushButton>("Button7")->click();
    EXPECT_TRUE(form->adapter().PortOpen);
    EXPECT_TRUE(board.IsOpen());
    ExpectRunning(true);
    EXPECT_EQ(form->model().SecondsTimer[2].SecondCount, 0);
}

TEST_F(Form1Port, AFailedStartLeavesTheControlsUsable)
{
    Find<QPushButton>("Button8")->click();
    form->adapter().PortSettings = "COM9:4800,N,8,1";  // no such port on the board
    Find<QPushButton>("Button7")->click();
    EXPECT_FALSE(form->adapter().PortOpen);
    ExpectRunning(false);
}

TEST_F(Form1Port, OnlyTheUsersChoiceOfAComPortChangesIt)
{
    Find<QPushButton>("Button8")->click();
    Choose("ComboBox19", 4);
    EXPECT_EQ(form->adapter().ComNumber, 5);
    EXPECT_EQ(form->adapter().PortSettings, "COM5:4800,N,8,1");
    EXPECT_FALSE(board.IsOpen());  // nothing opens before START

    Find<QPushButton>("Button7")->click();
    EXPECT_EQ(board.OpenComNumber(), 5);
    form->Timer1Timer();
    EXPECT_EQ(Find<QLabel>("Label9")->text(), "COM 5   Open");

    // A configuration load sets the list without it counting as a choice.
    form->adapter().ComNumber = 3;
    form->ShowAdapterSettings();
    EXPECT_EQ(Find<QComboBox>("ComboBox19")->currentText(), "COM  3");
    EXPECT_EQ(form->adapter().PortSettings, "COM5:4800,N,8,1");
    Find<QComboBox>("ComboBox19")->setCurrentIndex(6);
    EXPECT_EQ(form->adapter().ComNumber, 3);
}

TEST_F(Form1Port, TextTypedIntoTheComListIsNoPort)
{
    Find<QPushButton>("Button8")->click();
    TypeInto(Find<QComboBox>("ComboBox19")->lineEdit(), "x");
    EXPECT_EQ(form->adapter().ComNumber, 0);
    Find<QPushButton>("Button7")->click();
    EXPECT_FALSE(form->adapter().PortOpen);
    form->Timer1Timer();
    EXPECT_EQ(Find<QLabel>("Label9")->text(), "COM 0   Close");
}

TEST_F(Form1Port, ChipTypeFollowsTheChosenItemAlsoWhenSetByTheProgram)
{
    const auto items = Find<QGroupBox>("RadioGroup1")->findChildren<QRadioButton*>();
    ASSERT_EQ(items.size(), 2);
    items[1]->setChecked(true);
    EXPECT_EQ(form->adapter().ChipAddress, 0x38);
    // An address from a hand-edited file stays as it is while the item does not change.
    form->adapter().ChipAddress = 0x21;
    form->ShowAdapterSettings();
    EXPECT_TRUE(items[1]->isChecked());
    EXPECT_EQ(form->adapter().ChipAddress, 0x21);
    form->adapter().ChipAddress = 0x20;
    form->ShowAdapterSettings();
    EXPECT_TRUE(items[0]->isChecked());
    EXPECT_EQ(form->adapter().ChipAddress, 0x20);
}

TEST_F(Form1Port, ExchangeTicksLightTheLampsThroughTheBoard)
{
    Find<QPushButton>("Button3")->click();
    EXPECT_EQ(form->model().RelayBits & 0x3F, 0x04);
    Ticks(2);
    EXPECT_EQ(board.RelayPins(), 0x04);
    for (int n = 1; n <= 6; ++n)
        EXPECT_EQ(Background(Find<QWidget>(N("Label", n))), n == 3 ? kGreen : kRed) << n;
    EXPECT_EQ(Find<QLabel>("Label9")->text(), "COM 1   Open");
    EXPECT_EQ(Find<QLabel>("Label13")->text(), "Adapter  connected");

    board.SetK1Closed(true);
    Ticks(2 * 8);
    EXPECT_TRUE(form->adapter().K1Closed);
    EXPECT_EQ(Background(Find<QWidget>("Label7")), kGreen);
    EXPECT_EQ(Background(Find<QWidget>("Label8")), kRed);

    Find<QPushButton>("Button3")->click();
    Ticks(2);
    EXPECT_EQ(board.RelayPins(), 0);
    EXPECT_EQ(Background(Find<QWidget>("Label3")), kRed);
}

TEST_F(Form1Port, AStoppedPortLeavesLampsAndBoardAlone)
{
    Find<QPushButton>("Button8")->click();
    Find<QPushButton>("Button1")->click();
    board.ResetCounters();
    Ticks(4);
    EXPECT_EQ(board.LineChanges() + board.CtsCalls(), 0u);
    EXPECT_EQ(form->model().RelayBits, 0x01);
    EXPECT_EQ(Background(Find<QWidget>("Label1")), kRed);
    EXPECT_EQ(Find<QLabel>("Label9")->text(), "COM 1   Close");
    EXPECT_EQ(Find<QLabel>("Label13")->text(), "Adapter  not connected");
}

TEST_F(Form1Port, ABoardThatDoesNotAnswerShowsNotConnected)
{
    board.SetAnswering(false);
    Ticks(3);
    EXPECT_EQ(Find<QLabel>("Label9")->text(), "COM 1   Open");
    EXPECT_EQ(Find<QLabel>("Label13")->text(), "Adapter  not connected");
}

TEST_F(Form1Port, ResetSwitchesEveryRelayOff)
{
    form->model().RelayMode(4) = ModeSecondsTimer;
    for (int n : {1, 2, 6})
        Find<QPushButton>(N("Button", n))->click();
    SetRelay(form->model(), 4);
    form->model().SecondsTimer[4].SecondCount = 9;
    Find<QPushButton>("Button9")->click();
    EXPECT_EQ(form->model().RelayBits, 0);
    EXPECT_EQ(form->model().SecondsTimer[4].SecondCount, -1);
}

using Form1Clock = Form1Port;

TEST_F(Form1Clock, TheSecondTickShowsWeekdayDateAndTime)
{
    form->Timer2Timer();
    EXPECT_EQ(Find<QLabel>("Label11")->text(), "12:34:56");
    EXPECT_EQ(Find<QLabel>("Label10")->text(),
              "Fr ,  " + QLocale().toString(QDate(2024, 3, 15), QLocale::ShortFormat));
    EXPECT_EQ(form->model().SecondText, "56");
    for (const SecondsTimerRecord& timer : form->model().SecondsTimer)
        EXPECT_EQ(timer.SecondCount, 0);
}

TEST_F(Form1Clock, TheTickIsArmedJustPastTheNextFullSecond)
{
    EXPECT_EQ(SecondTickDelayMs({2024, 1, 1, 0, 0, 0, 0}), 1005);
    EXPECT_EQ(SecondTickDelayMs({2024, 1, 1, 0, 0, 0, 5}), 1000);
    EXPECT_EQ(SecondTickDelayMs({2024, 1, 1, 0, 0, 0, 999}), 6);

    QTimer* second = Find<QTimer>("Timer2");
    clock.now.millisecond = 640;
    form->Timer2Timer();
    EXPECT_TRUE(second->isActive());
    EXPECT_TRUE(second->isSingleShot());
    EXPECT_EQ(second->timerType(), Qt::PreciseTimer);
    EXPECT_EQ(second->interval(), 365);
}

TEST_F(Form1Clock, EverySecondOfTheClockTicksOnce)
{
    const auto count = [this] { return form->model().SecondsTimer[0].SecondCount; };
    clock.now = {2024, 3, 15, 23, 59, 58, 5};
    form->Timer2Timer();
    EXPECT_EQ(count(), 0);
    // A wake-up a little early still reads the same second: no second tick for it.
    clock.now.millisecond = 998;
    form->Timer2Timer();
    EXPECT_EQ(count(), 0);
    EXPECT_EQ(Find<QTimer>("Timer2")->interval(), 7);
    clock.now = {2024, 3, 15, 23, 59, 59, 6};
    form->Timer2Timer();
    clock.now = {2024, 3, 16, 0, 0, 0, 5};
    form->Timer2Timer();
    EXPECT_EQ(count(), 2);
    EXPECT_EQ(Find<QLabel>("Label11")->text(), "00:00:00");
    EXPECT_TRUE(Find<QLabel>("Label10")->text().startsWith("Sa ,  "));
}

TEST(Form1RealTimers, TicksArriveFromTheEventLoop)
{
    ReportRecorder recorder;
    SimulatedBoard board;
    SystemClock clock;
    LcgRandom random;
    NoBusDelay delay;
    TForm1 form(board, clock, random, delay);
    auto* time = form.findChild<QLabel*>("Label11");
    auto* adapter = form.findChild<QLabel*>("Label13");
    ASSERT_TRUE(time && adapter);
    // The status shows the acknowledge of the exchange before, so the first exchange tick still
    // says "not connected"; and when the program starts late in a second, the first second tick
    // can come before it.
    QElapsedTimer waited;
    waited.start();
    while ((time->text() == "-" || adapter->text() != "Adapter  connected") && waited.elapsed() < 5000)
        QTest::qWait(10);
    EXPECT_EQ(adapter->text(), "Adapter  connected");
    EXPECT_EQ(time->text().size(), 8) << time->text().toStdString();
    EXPECT_TRUE(recorder.reports.isEmpty());
}

// A window whose storage steps can be made to fail.
class FailingForm : public TForm1 {
public:
    using TForm1::TForm1;
    bool failSave = false;
    bool settingsSaved = false;
    bool serverDestroyed = false;
    void SaveConfiguration() override
    {
        if (failSave)
            throw std::runtime_error("E/A-Fehler 103");
    }
    void SaveSettingsFile() override { settingsSaved = true; }
    void DestroyRemoteServer() override { serverDestroyed = true; }
    void Button13Click() override { throw std::runtime_error("Dateizugriff verweigert"); }
};

using Form1Close = FormFixture<FailingForm>;

TEST_F(Form1Close, ClosingReleasesThePortSavesAndStopsTheTicks)
{
    EXPECT_TRUE(form->close());
    EXPECT_FALSE(board.IsOpen());
    EXPECT_TRUE(form->settingsSaved);
    EXPECT_TRUE(form->serverDestroyed);
    EXPECT_FALSE(Find<QTimer>("Timer1")->isActive());
    EXPECT_FALSE(Find<QTimer>("Timer2")->isActive());
    EXPECT_TRUE(recorder.reports.isEmpty());
}

TEST_F(Form1Close, AFailingSaveIsReportedAndKeepsTheWindowOpen)
{
    form->failSave = true;
    EXPECT_FALSE(form->close());
    EXPECT_EQ(recorder.reports, QStringList{"E/A-Fehler 103."});
    EXPECT_FALSE(form->settingsSaved);
    EXPECT_FALSE(form->serverDestroyed);
    EXPECT_TRUE(Find<QTimer>("Timer1")->isActive());
    // The port is closed but still reads open; the exchange stays off it until STOP.
    EXPECT_FALSE(board.IsOpen());
    board.ResetCounters();
    form->Timer1Timer();
    form->Timer1Timer();
    EXPECT_EQ(board.LineChanges(), 0u);
    Find<QPushButton>("Button8")->click();
    Find<QPushButton>("Button7")->click();
    EXPECT_TRUE(board.IsOpen());

    form->failSave = false;
    EXPECT_TRUE(form->close());
}

TEST_F(Form1Close, AnErrorInAHandlerIsReportedAndTheProgramGoesOn)
{
    StopTimers();
    Find<QPushButton>("Button13")->click();
    EXPECT_EQ(recorder.reports, QStringList{"Dateizugriff verweigert."});
    Find<QPushButton>("Button1")->click();
    EXPECT_TRUE(RelayIsOn(form->model(), 0));
}

TEST(ErrorReport, AddsAFullStopAfterCharactersAboveIt)
{
    EXPECT_EQ(ErrorReportText("E/A-Fehler 103"), "E/A-Fehler 103.");
    EXPECT_EQ(ErrorReportText("Ungültige numerische Eingabe"), "Ungültige numerische Eingabe.");
    EXPECT_EQ(ErrorReportText(QString::fromUtf8("Größe ä")), QString::fromUtf8("Größe ä."));
    EXPECT_EQ(ErrorReportText("Ende."), "Ende.");
    EXPECT_EQ(ErrorReportText("Wirklich!"), "Wirklich!");
    EXPECT_EQ(ErrorReportText("a-"), "a-");
    EXPECT_EQ(ErrorReportText("a/"), "a/.");
    EXPECT_EQ(ErrorReportText(""), "");
}

TEST(ErrorReport, RunReportedCatchesAtTheHandlerBoundary)
{
    ReportRecorder recorder;
    EXPECT_TRUE(RunReported(nullptr, [] {}));
    EXPECT_FALSE(RunReported(nullptr, [] { throw std::runtime_error("Datei nicht gefunden"); }));
    EXPECT_FALSE(RunReported(nullptr, [] { throw 42; }));
    ASSERT_EQ(recorder.reports.size(), 2);
    EXPECT_EQ(recorder.reports[0], "Datei nicht gefunden.");
}

}  // namespace
}  // namespace tavoxa::test
