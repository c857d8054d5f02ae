// The main window as a view of the controller: its controls, the port controls' states, the
// status lines and lamps from the controller's facts, the files' settings shown at start-up,
// the Remote box, Load and Save through the file dialogs, and the close box.
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QDateEdit>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QTcpServer>
#include <QTimeEdit>

#include "storage/configfile.h"
#include "tests/ui/form1testkit.h"

namespace tavoxa::testing {
namespace {

const QColor kRed(0xFF, 0x00, 0x00);
const QColor kGreen(0x00, 0xFF, 0x00);
const QColor kAqua(0x00, 0xFF, 0xFF);

QString N(const char* prefix, int n)
{
    return QStringLiteral("%1%2").arg(QLatin1String(prefix)).arg(n);
}

// What a control shows as its text: caption, title or current entry.
QString Text(const QObject* control)
{
    if (auto* combo = qobject_cast<const QComboBox*>(control))
        return combo->currentText();
    if (auto* group = qobject_cast<const QGroupBox*>(control))
        return group->title();
    const QVariant text = control->property("text");
    return text.isValid() ? text.toString() : QString();
}

// Fields are coloured in their base, lamps and panels in their background.
QColor Colour(const QWidget* w)
{
    const bool field = qobject_cast<const QComboBox*>(w) || qobject_cast<const QLineEdit*>(w) ||
                       qobject_cast<const QAbstractSpinBox*>(w);
    return w->palette().color(field ? QPalette::Base : w->backgroundRole());
}

using Form1Window = WindowFixture;

TEST_F(Form1Window, ControlsByNameWithTheirClassTextAndColourOnTheDefaults)
{
    const QColor moneyGreen(0xC0, 0xDC, 0xC0),
        unknown = QGuiApplication::palette().color(QPalette::Highlight);
    struct Row {
        const char* prefix;
        int first, last;  // numbers appended to the prefix; 0: the prefix is the whole name
        const char* className;
        const char* text;  // nullptr: not checked
        QColor colour;     // invalid: not checked
    };
    const Row rows[] = {
        {"Label", 1, 6, "QLabel", "", kRed},  // relay names come from swcf.ini
        {"Label", 7, 8, "QLabel", "", unknown},
        {"Label", 9, 9, "QLabel", "COM 1   Open", {}},
        {"Label", 10, 11, "QLabel", "-", {}},  // date and time: "-" until the second tick
        {"Label", 12, 12, "QLabel", nullptr, {}},
        {"Label", 13, 13, "QLabel", "Adapter  connected", {}},
        {"Label", 58, 58, "QLabel", "", kRed},
        {"Button", 1, 6, "QPushButton", "T", {}},
        {"Button7", 0, 0, "QPushButton", "START", {}},
        {"Button8", 0, 0, "QPushButton", "STOP", {}},
        {"Button9", 0, 0, "QPushButton", "RESET", {}},
        {"Button10", 0, 0, "QPushButton", "Help", {}},
        {"Button11", 0, 0, "QPushButton", "Save", {}},
        {"Button12", 0, 0, "QPushButton", "Load", {}},
        {"Button13", 0, 0, "QPushButton", "IP", {}},
        {"ComboBox", 1, 6, "QComboBox", "Toggle", kAqua},
        {"ComboBox", 7, 12, "QComboBox", "1", kAqua},
        {"ComboBox", 13, 18, "QComboBox", "Date", kAqua},
        {"ComboBox19", 0, 0, "QComboBox", "COM  1", kAqua},
        {"ComboBox", 20, 25, "QComboBox", "1", kAqua},
        {"Edit", 1, 18, "QLineEdit", "0", kAqua},
        {"DateTimePicker", 1, 6, "QDateEdit", nullptr, kAqua},
        {"DateTimePicker", 7, 30, "QTimeEdit", nullptr, kAqua},
        {"CheckBox", 1, 6, "QCheckBox", "Repeat", {}},
        {"CheckBox7", 0, 0, "QCheckBox", "Remote", QColor(0xFF, 0xFF, 0x00)},
        {"Panel1", 0, 0, "QFrame", nullptr, moneyGreen},
        {"Panel2", 0, 0, "QFrame", nullptr, kGreen},
        {"Panel3", 0, 0, "QFrame", nullptr, QColor(0x00, 0x00, 0xFF)},
        {"Panel", 4, 15, "QFrame", nullptr, moneyGreen},
        {"GroupBox1", 0, 0, "QGroupBox", "Input Channel", {}},
        {"GroupBox2", 0, 0, "QGroupBox", "COM Port", {}},
        {"RadioGroup1", 0, 0, "QGroupBox", "I2C Chip", {}},
        {"RadioGroup1Item0", 0, 0, "QRadioButton", "PCF 8574", {}},
        {"RadioGroup1Item1", 0, 0, "QRadioButton", "PCF 8574 A", {}},
    };
    for (const Row& row : rows) {
        for (int n = row.first; n <= row.last; ++n) {
            const QString name = n ? N(row.prefix, n) : QString::fromLatin1(row.prefix);
            QWidget* w = Find<QWidget>(name);
            ASSERT_NE(w, nullptr);
            EXPECT_TRUE(w->inherits(row.className)) << name.toStdString();
            EXPECT_TRUE(!row.text || Text(w) == row.text)
                << name.toStdString() << ": " << Text(w).toStdString();
            EXPECT_TRUE(!row.colour.isValid() || Colour(w) == row.colour) << name.toStdString();
        }
    }
    EXPECT_EQ(form->objectName(), "Form1");
    EXPECT_EQ(form->windowTitle(), "Tavoxa V4.1b");
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    EXPECT_FALSE(form->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    // Only relay 6 drives a slave clock.
    EXPECT_EQ(Find<QComboBox>("ComboBox6")->itemText(10), "Uhr - Steuerung");
    EXPECT_EQ(Find<QComboBox>("ComboBox5")->count(), 10);
    EXPECT_EQ(Find<QTimeEdit>("DateTimePicker7")->displayFormat(), "HH:mm:ss");
    EXPECT_EQ(Find<QTimeEdit>("DateTimePicker7")->time(), QTime(12, 34, 56, 300));
    EXPECT_TRUE(Find<QDateEdit>("DateTimePicker1")->calendarPopup());
    EXPECT_TRUE(Find<QRadioButton>("RadioGroup1Item0")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>("CheckBox7")->isChecked());
    for (int n = 1; n <= 6; ++n) {
        EXPECT_FALSE(Shown(N("ComboBox", 6 + n))) << "no mode fields in Toggle";
        EXPECT_FALSE(Shown(N("Panel", 3 + n)));
        EXPECT_FALSE(Shown(N("Panel", 9 + n)));
    }
}

TEST_F(Form1Window, PortControlsAreUsableOnlyWhileTheExchangeIsStopped)
{
    const auto expectRunning = [this](bool running) {
        for (const char* control : {"RadioGroup1", "ComboBox19", "Button7", "Button11", "Button12"})
            EXPECT_EQ(Find<QWidget>(control)->isEnabled(), !running) << control;
        EXPECT_EQ(Find<QWidget>("Button8")->isEnabled(), running);
    };
    expectRunning(true);
    Find<QPushButton>("Button8")->click();
    expectRunning(false);
    EXPECT_TRUE(Settled([this] { return !board.IsOpen(); }));
    Find<QPushButton>("Button7")->click();
    EXPECT_TRUE(Settled([this] { return core->portControlsLocked(); }));
    EXPECT_TRUE(board.IsOpen());
    expectRunning(true);
}

// A stored port that cannot open leaves every port control usable, STOP too; STOP greys STOP out.
TEST_F(Form1Window, AfterAFailedOpenAtStartUpStopIsUsableToo)
{
    PutFile(work.Path("neun.dat"), WriteConfiguration(Model(), 9, 0x20));
    PutFile(work.Path("swcf.ini"), JoinLines({"neun.dat"}));
    Open();
    for (const char* control : {"RadioGroup1", "ComboBox19", "Button7", "Button11", "Button12", "Button8"})
        EXPECT_TRUE(Find<QWidget>(control)->isEnabled()) << control;
    Find<QPushButton>("Button8")->click();
    EXPECT_FALSE(Find<QWidget>("Button8")->isEnabled());
    EXPECT_TRUE(Find<QWidget>("Button7")->isEnabled());
}

TEST_F(Form1Window, OnlyTheUsersChoiceOfAComPortReachesTheController)
{
    Find<QPushButton>("Button8")->click();
    Choose("ComboBox19", 4);
    EXPECT_EQ(adapter().ComNumber, 5);
    Find<QComboBox>("ComboBox19")->setCurrentIndex(6);
    EXPECT_EQ(adapter().ComNumber, 5);
    TypeInto(Find<QComboBox>("ComboBox19")->lineEdit(), "x");
    EXPECT_EQ(adapter().ComNumber, 0) << "typed text is no port";
}

// --device: the path stands where the COM selector was, and cannot be edited there.
TEST_F(Form1Window, AGivenDeviceIsShownReadOnlyInsteadOfTheComSelector)
{
    form->ShowDevice("/dev/serial/by-id/usb-FTDI-if00-port0");
    auto* edit = Find<QLineEdit>("DeviceEdit");
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->text(), "/dev/serial/by-id/usb-FTDI-if00-port0");
    EXPECT_TRUE(edit->isReadOnly());
    EXPECT_TRUE(Shown("DeviceEdit"));
    EXPECT_FALSE(Shown("ComboBox19"));
}

TEST_F(Form1Window, StatusLinesShowTheControllersFacts)
{
    const struct {
        BusFacts facts;
        const char *port, *adapter;
    } cases[] = {{{true, 5, true}, "COM 5   Open", "Adapter  connected"},
                 {{true, 1, false}, "COM 1   Open", "Adapter  not connected"},
                 {{false, 0, false}, "COM 0   Close", "Adapter  not connected"}};
    for (const auto& c : cases) {
        emit core->BusFactsChanged(c.facts);
        EXPECT_EQ(Find<QLabel>("Label9")->text(), c.port);
        EXPECT_EQ(Find<QLabel>("Label13")->text(), c.adapter);
    }
}

TEST_F(Form1Window, LampsShowTheRelaysWrittenTheInputsReadAndTheLastClientEvent)
{
    const auto colour = [this](const char* prefix, int n) { return Colour(Find<QWidget>(N(prefix, n))); };
    Find<QPushButton>("Button3")->click();
    ASSERT_TRUE(Settled([this] { return board.RelayPins() == 0x04; }));  // through the board
    QTest::qWait(50);
    for (int n = 1; n <= 6; ++n)
        EXPECT_EQ(colour("Label", n), n == 3 ? kGreen : kRed) << n;
    emit core->RelaysWritten(0x21);
    for (int n = 1; n <= 6; ++n)
        EXPECT_EQ(colour("Label", n), n == 1 || n == 6 ? kGreen : kRed) << n;

    emit core->InputsRead(true, false);
    EXPECT_EQ(colour("Label", 7), kGreen);
    EXPECT_EQ(colour("Label", 8), kRed);
    emit core->ClientConnectedChanged(true);
    EXPECT_EQ(colour("Label", 58), kGreen);
    emit core->ClientConnectedChanged(false);
    EXPECT_EQ(colour("Label", 58), kRed);
}

TEST_F(Form1Window, TheSecondTickShowsWeekdayDateAndTime)
{
    core->ticker().Fire();
    EXPECT_EQ(Find<QLabel>("Label11")->text(), "12:34:56");
    EXPECT_EQ(Find<QLabel>("Label10")->text(),
              "Fr ,  " + QLocale().toString(QDate(2024, 3, 15), QLocale::ShortFormat));
    clock.now = {2024, 3, 16, 0, 0, 0, 5};
    core->ticker().Fire();
    EXPECT_EQ(Find<QLabel>("Label11")->text(), "00:00:00");
    EXPECT_TRUE(Find<QLabel>("Label10")->text().startsWith("Sa ,  "));
}

TEST_F(Form1Window, StartupShowsTheStoredSettingsNamesAndChip)
{
    Model stored;
    stored.RelayMode(2) = ModeTimer;
    PutFile(work.Path("haus.dat"), WriteConfiguration(stored, 5, 56));
    // UTF-8 is shown as such; a byte that is no UTF-8 shows as one character.
    PutFile(work.Path("swcf.ini"), JoinLines({"haus.dat", "", "", " Licht ", "K\xc3\xbc", "Tor\xe4"}));
    Open();
    EXPECT_EQ(Find<QComboBox>("ComboBox3")->currentIndex(), ModeTimer);
    EXPECT_TRUE(Shown("ComboBox9"));
    EXPECT_EQ(Find<QComboBox>("ComboBox19")->currentIndex(), 4);
    EXPECT_TRUE(Find<QRadioButton>("RadioGroup1Item1")->isChecked());
    EXPECT_EQ(Find<QLabel>("Label1")->text(), " Licht ");
    EXPECT_EQ(Find<QLabel>("Label2")->text(), QString::fromUtf8("K\xc3\xbc"));
    EXPECT_EQ(Find<QLabel>("Label3")->text(), QString::fromLatin1("Tor\xe4"));
}

TEST_F(Form1Window, TheChipChooserSetsTheAddressAndShowsTheLoadedOne)
{
    Find<QPushButton>("Button8")->click();
    Find<QRadioButton>("RadioGroup1Item0")->click();
    EXPECT_EQ(adapter().ChipAddress, 0x20);
    // A stored address other than 32 is the PCF 8574 A, and the chooser shows it.
    PutFile(work.Path("chip.dat"), WriteConfiguration(Model(), 1, 0x21));
    dialogs.answer = work.Path("chip.dat");
    Find<QPushButton>("Button12")->click();
    EXPECT_EQ(adapter().ChipAddress, 0x38);
    EXPECT_TRUE(Find<QRadioButton>("RadioGroup1Item1")->isChecked());
}

TEST_F(Form1Window, TheRemoteBoxShowsWhetherTheServerCouldOpen)
{
    QTcpServer other;
    ASSERT_TRUE(other.listen(QHostAddress::LocalHost, 0));
    PutFile(work.Path("swcf.ini"), JoinLines({"", "", "0", "", "", "", "", "", "", "", "", "1"}));
    Open();
    QCheckBox* box = Find<QCheckBox>("CheckBox7");
    EXPECT_TRUE(box->isChecked());
    box->click();
    EXPECT_FALSE(box->isChecked());
    EXPECT_FALSE(core->remoteSwitch().server().IsOpen());
    core->remoteSwitch().settings().RemotePort = std::to_string(other.serverPort());
    box->click();
    EXPECT_FALSE(box->isChecked()) << "a port in use switches Remote off again";
    EXPECT_TRUE(report.reports.isEmpty());
}

TEST_F(Form1Window, LoadAndSaveAskForANameAndACancelChangesNothing)
{
    Find<QPushButton>("Button8")->click();
    dialogs.answer = work.Path("zwei.dat");
    Find<QPushButton>("Button11")->click();
    EXPECT_EQ(core->files().configFileName(), work.Path("zwei.dat").toStdString());
    EXPECT_TRUE(Settled([this] { return core->portControlsLocked(); })) << "Save ends with START";

    Find<QPushButton>("Button8")->click();
    Find<QPushButton>("Button4")->click();
    dialogs.answer.clear();
    Find<QPushButton>("Button12")->click();
    Find<QPushButton>("Button11")->click();
    EXPECT_TRUE(RelayIsOn(model(), 3));
    EXPECT_TRUE(Settled([this] { return !board.IsOpen(); }));
    dialogs.answer = work.Path("zwei.dat");
    Find<QPushButton>("Button12")->click();
    EXPECT_FALSE(RelayIsOn(model(), 3)) << "Load runs RESET";
    EXPECT_TRUE(Settled([this] { return board.IsOpen(); }));
}

TEST_F(Form1Window, TheCloseBoxClosesThroughTheControllerAndStaysWhenTheSaveFails)
{
    core->Save(work.Path("no/such/folder/x.dat").toStdString());
    EXPECT_FALSE(form->close());
    EXPECT_EQ(report.reports.size(), 2);
    core->Save(work.Path("x.dat").toStdString());
    EXPECT_TRUE(form->close());
    EXPECT_TRUE(QFile::exists(work.Path("swcf.ini")));
    EXPECT_FALSE(board.IsOpen()) << "the close waits for the bus thread to end";
}

}  // namespace
}  // namespace tavoxa::testing
