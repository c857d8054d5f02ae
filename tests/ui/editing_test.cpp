// Settings editing through the real widgets: each row shows the fields of its relay's mode, and
// each control writes its one field of the model, and nothing else.
#include <QCheckBox>
#include <QDateEdit>
#include <QPushButton>
#include <QTimeEdit>

#include "tests/ui/form1testkit.h"

namespace tavoxa::testing {
namespace {

QString N(const char* prefix, int n)
{
    return QStringLiteral("%1%2").arg(QLatin1String(prefix)).arg(n);
}

using Form1Editing = WindowFixture;

TEST_F(Form1Editing, TheTButtonIsUsableInToggleTimerAndXorOnly)
{
    for (int n = 1; n <= 6; ++n) {
        const int count = Find<QComboBox>(N("ComboBox", n))->count();
        for (int position = 0; position < count; ++position) {
            Choose(N("ComboBox", n), position);
            EXPECT_EQ(model().RelayMode(n - 1), position);
            EXPECT_EQ(Find<QPushButton>(N("Button", n))->isEnabled(),
                      position == 0 || position == 1 || position == 7)
                << "relay " << n << " position " << position;
        }
    }
}

TEST_F(Form1Editing, TimerShowsTheProgramFieldsAndTheDateOnlyForADatedProgram)
{
    Choose("ComboBox3", ModeTimer);
    for (const char* field : {"ComboBox9", "ComboBox15", "DateTimePicker9", "DateTimePicker15"})
        EXPECT_TRUE(Shown(field)) << field;
    EXPECT_TRUE(Shown("DateTimePicker3"));  // the defaults date every program

    Choose("ComboBox15", DayMonToFri);
    EXPECT_EQ(model().DayCode(2, 0), DayMonToFri);
    EXPECT_FALSE(Shown("DateTimePicker3"));
    EXPECT_TRUE(Shown("DateTimePicker9"));

    Choose("ComboBox15", DayDate);
    EXPECT_TRUE(Shown("DateTimePicker3"));
    // The other rows stay as they were.
    EXPECT_FALSE(Shown("ComboBox8"));
    EXPECT_FALSE(Shown("DateTimePicker4"));
}

TEST_F(Form1Editing, EachModeShowsOnlyItsOwnFields)
{
    // Relay 1 has its two mode panels side by side; relays 2..6 carry the random panel inside
    // the seconds panel.
    for (int n : {1, 4}) {
        const int seconds = 3 + n, random = 9 + n;
        for (int position = 0; position < 10; ++position) {
            Choose(N("ComboBox", n), position);
            EXPECT_EQ(Shown(N("ComboBox", 6 + n)), position == ModeTimer) << n << "/" << position;
            EXPECT_EQ(Shown(N("DateTimePicker", 12 + n)), position == ModeTimer) << n << "/" << position;
            EXPECT_EQ(Shown(N("Panel", random)), position == ModeRandom) << n << "/" << position;
            EXPECT_EQ(Shown(N("Edit", 2 * n - 1)) && !Shown(N("Panel", random)), position == ModeSecondsTimer)
                << n << "/" << position;
            if (n == 1)
                EXPECT_EQ(Shown("Panel4"), position == ModeSecondsTimer) << position;
            else
                EXPECT_EQ(Shown(N("Panel", seconds)), position == ModeSecondsTimer || position == ModeRandom);
        }
    }
    Choose("ComboBox6", ModeClock);
    for (const char* field : {"ComboBox12", "Panel9", "Panel15"})
        EXPECT_FALSE(Shown(field)) << field;
}

TEST_F(Form1Editing, ChangingTheModeNeitherSwitchesNorResets)
{
    Find<QPushButton>("Button1")->click();
    model().SecondsTimer[0].SecondCount = 5;
    Choose("ComboBox1", ModeRandom);
    EXPECT_TRUE(RelayIsOn(model(), 0));
    EXPECT_EQ(model().SecondsTimer[0].SecondCount, 5);
}

TEST_F(Form1Editing, ProgramFourIsShownAndEditedAlone)
{
    model().DayCode(0, 3) = 5;  // "Do"
    model().ProgramStart(0, 3) = EncodeTime(6, 0, 0);
    model().ProgramEnd(0, 3) = EncodeTime(6, 30, 0);
    Choose("ComboBox1", ModeTimer);
    Choose("ComboBox7", 3);
    EXPECT_EQ(model().SelectedProgram(0), 3);
    EXPECT_EQ(Find<QComboBox>("ComboBox13")->currentText(), "Do");
    EXPECT_EQ(Find<QTimeEdit>("DateTimePicker7")->time(), QTime(6, 0, 0));
    EXPECT_EQ(Find<QTimeEdit>("DateTimePicker13")->time(), QTime(6, 30, 0));
    EXPECT_FALSE(Shown("DateTimePicker1"));

    Model expected = model();
    Choose("ComboBox13", DaySatSun);
    expected.DayCode(0, 3) = DaySatSun;
    QTimeEdit* start = Find<QTimeEdit>("DateTimePicker7");
    start->setCurrentSection(QDateTimeEdit::HourSection);
    QTest::keyClick(start, Qt::Key_Up);
    expected.ProgramStart(0, 3) = EncodeTime(7, 0, 0);
    Find<QTimeEdit>("DateTimePicker13")->setTime(QTime(8, 30, 15));
    expected.ProgramEnd(0, 3) = EncodeTime(8, 30, 15);
    EXPECT_TRUE(SameStoredSettings(model(), expected));

    // A picked date is stored as its whole day number.
    Choose("ComboBox13", DayDate);
    Find<QDateEdit>("DateTimePicker1")->setDate(QDate(2025, 12, 24));
    EXPECT_EQ(model().ProgramDate(0, 3), EncodeDate(2025, 12, 24));
    EXPECT_EQ(model().ProgramDate(0, 0), EncodeDate(2024, 3, 15));

    // Back on program 1 the row shows program 1 again.
    Choose("ComboBox7", 0);
    EXPECT_EQ(Find<QComboBox>("ComboBox13")->currentText(), "Date");
    EXPECT_EQ(Find<QDateEdit>("DateTimePicker1")->date(), QDate(2024, 3, 15));
}

TEST_F(Form1Editing, WindowTwoOfARandomRelayIsShownAndEditedAlone)
{
    model().WindowMaxMinutes(4, 1) = 25;
    model().WindowStart(4, 1) = EncodeTime(20, 0, 0);
    Choose("ComboBox5", ModeRandom);
    EXPECT_TRUE(Shown("ComboBox24"));
    EXPECT_EQ(Find<QLineEdit>("Edit17")->text(), "0");

    Choose("ComboBox24", 1);
    EXPECT_EQ(model().SelectedWindow(4), 1);
    QLineEdit* max = Find<QLineEdit>("Edit17");
    EXPECT_EQ(max->text(), "25");
    EXPECT_EQ(Find<QTimeEdit>("DateTimePicker27")->time(), QTime(20, 0, 0));

    ClearByKeyboard(max);
    TypeInto(max, "40");
    EXPECT_EQ(model().WindowMaxMinutes(4, 1), 40);
    EXPECT_EQ(model().WindowMaxMinutes(4, 0), 0);
    Find<QTimeEdit>("DateTimePicker28")->setTime(QTime(22, 15, 0));
    EXPECT_EQ(model().WindowEnd(4, 1), EncodeTime(22, 15, 0));
    EXPECT_NE(model().WindowEnd(4, 0), EncodeTime(22, 15, 0));
}

TEST_F(Form1Editing, SecondsEditsStoreWhatTextToIntReads)
{
    Choose("ComboBox2", ModeSecondsTimer);
    QLineEdit* start = Find<QLineEdit>("Edit3");
    ClearByKeyboard(start);
    EXPECT_EQ(model().SecondsTimer[1].StartAfter, 0);
    TypeInto(start, "12a");
    EXPECT_EQ(model().SecondsTimer[1].StartAfter, 12);
    EXPECT_EQ(start->text(), "12a");  // shown as typed until the next refresh
    ClearByKeyboard(start);
    EXPECT_EQ(start->text(), "");
    EXPECT_EQ(model().SecondsTimer[1].StartAfter, 0);
    TypeInto(start, "120");
    EXPECT_EQ(model().SecondsTimer[1].StartAfter, 120);

    QLineEdit* end = Find<QLineEdit>("Edit4");
    ClearByKeyboard(end);
    TypeInto(end, "-5");
    EXPECT_EQ(model().SecondsTimer[1].EndAfter, -5);
    EXPECT_EQ(model().SecondsTimer[1].StartAfter, 120);
    form->RefreshView();
    EXPECT_EQ(end->text(), "-5");
}

TEST_F(Form1Editing, RepeatBoxesWriteOneOrZero)
{
    QCheckBox* box = Find<QCheckBox>("CheckBox2");
    box->click();
    EXPECT_EQ(model().SecondsTimer[1].Repeat, 1);
    box->click();
    EXPECT_EQ(model().SecondsTimer[1].Repeat, 0);

    model().SecondsTimer[2].Repeat = 1;
    form->RefreshView();
    EXPECT_TRUE(Find<QCheckBox>("CheckBox3")->isChecked());
    model().SecondsTimer[2].Repeat = 0;
    form->RefreshView();
    EXPECT_FALSE(Find<QCheckBox>("CheckBox3")->isChecked());

    // Another value shows unchecked; it becomes 0 only when the box changes state.
    Find<QCheckBox>("CheckBox4")->setChecked(true);
    model().SecondsTimer[3].Repeat = 5;
    model().SecondsTimer[4].Repeat = 5;
    form->RefreshView();
    EXPECT_FALSE(Find<QCheckBox>("CheckBox4")->isChecked());
    EXPECT_EQ(model().SecondsTimer[3].Repeat, 0);
    EXPECT_EQ(model().SecondsTimer[4].Repeat, 5);
}

TEST_F(Form1Editing, TheRefreshShowsTheModelAndStoresNothingNew)
{
    for (int r = 0; r < kRelayCount; ++r) {
        model().RelayMode(r) = r == 5 ? ModeClock : r;
        model().SelectedProgram(r) = (r + 2) % kProgramCount;
        model().SelectedWindow(r) = r % kWindowCount;
        for (int p = 0; p < kProgramCount; ++p) {
            model().DayCode(r, p) = (r + p) % 11;
            model().ProgramDate(r, p) = EncodeDate(2023, 1 + p, 1 + r);
            model().ProgramStart(r, p) = EncodeTime(r, p, 7);
            model().ProgramEnd(r, p) = EncodeTime(12 + r, p, 59);
        }
        for (int w = 0; w < kWindowCount; ++w) {
            model().WindowMaxMinutes(r, w) = 10 * r + w - 3;
            model().WindowStart(r, w) = EncodeTime(18, w, r);
            model().WindowEnd(r, w) = EncodeTime(23, w, r);
        }
        model().SecondsTimer[r] = {r % 2, 10 + r, -20 - r, 0};
    }
    const Model before = model();
    form->RefreshView();
    EXPECT_TRUE(SameStoredSettings(model(), before));

    EXPECT_EQ(Find<QComboBox>("ComboBox6")->currentText(), "Uhr - Steuerung");
    EXPECT_EQ(Find<QComboBox>("ComboBox9")->currentText(), "5");
    EXPECT_EQ(Find<QComboBox>("ComboBox15")->currentText(), "Fr");  // relay 3, program 5: code 6
    EXPECT_EQ(Find<QTimeEdit>("DateTimePicker9")->time(), QTime(2, 4, 7));
    EXPECT_EQ(Find<QTimeEdit>("DateTimePicker15")->time(), QTime(14, 4, 59));
    EXPECT_EQ(Find<QDateEdit>("DateTimePicker3")->date(), QDate(2023, 5, 3));
    EXPECT_EQ(Find<QLineEdit>("Edit17")->text(), "38");
    EXPECT_EQ(Find<QTimeEdit>("DateTimePicker27")->time(), QTime(18, 1, 4));
    EXPECT_EQ(Find<QLineEdit>("Edit9")->text(), "14");
    EXPECT_EQ(Find<QLineEdit>("Edit10")->text(), "-24");
    EXPECT_TRUE(Find<QCheckBox>("CheckBox2")->isChecked());
}

TEST_F(Form1Editing, SelectorsAndPickersSetByTheProgramRunNoHandler)
{
    Find<QComboBox>("ComboBox1")->setCurrentIndex(ModeRandom);
    Find<QComboBox>("ComboBox7")->setCurrentIndex(4);
    Find<QComboBox>("ComboBox20")->setCurrentIndex(2);
    EXPECT_EQ(model().RelayMode(0), ModeToggle);
    EXPECT_EQ(model().SelectedProgram(0), 0);
    EXPECT_EQ(model().SelectedWindow(0), 0);
    EXPECT_TRUE(Find<QPushButton>("Button1")->isEnabled());
}

TEST_F(Form1Editing, ALoadedClockModeOnRelayOneShowsNoEntryAndNoFields)
{
    model().RelayMode(0) = ModeClock;
    form->RefreshView();
    QComboBox* mode = Find<QComboBox>("ComboBox1");
    EXPECT_EQ(mode->currentIndex(), -1);
    EXPECT_EQ(mode->currentText(), "");
    EXPECT_FALSE(Find<QPushButton>("Button1")->isEnabled());
    for (const char* field : {"ComboBox7", "ComboBox13", "DateTimePicker1", "DateTimePicker7",
                              "DateTimePicker13", "Panel4", "Panel10"})
        EXPECT_FALSE(Shown(field)) << field;
    EXPECT_EQ(model().RelayMode(0), ModeClock);
}

TEST_F(Form1Editing, TypedModeTextMeansNoModeUntilAnEntryIsChosen)
{
    Choose("ComboBox2", ModeTimer);
    QLineEdit* field = Find<QComboBox>("ComboBox2")->lineEdit();
    ClearByKeyboard(field);
    TypeInto(field, "Tim");
    EXPECT_EQ(model().RelayMode(1), -1);
    EXPECT_EQ(field->text(), "Tim");
    EXPECT_FALSE(Find<QPushButton>("Button2")->isEnabled());
    EXPECT_FALSE(Shown("ComboBox8"));

    TypeInto(field, "er");
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(model().RelayMode(1), ModeTimer);
    EXPECT_TRUE(Find<QPushButton>("Button2")->isEnabled());
    EXPECT_TRUE(Shown("ComboBox8"));
}

TEST_F(Form1Editing, SelectionsOutsideTheTablesShowNothingAndWriteNothing)
{
    model().RelayMode(0) = ModeTimer;
    model().SelectedProgram(0) = 7;
    model().RelayMode(1) = ModeRandom;
    model().SelectedWindow(1) = -3;
    form->RefreshView();
    EXPECT_EQ(Find<QComboBox>("ComboBox7")->currentText(), "");
    EXPECT_EQ(Find<QComboBox>("ComboBox13")->currentIndex(), -1);
    EXPECT_FALSE(Shown("DateTimePicker1"));
    EXPECT_FALSE(Find<QWidget>("DateTimePicker7")->isEnabled());
    EXPECT_FALSE(Find<QWidget>("ComboBox13")->isEnabled());
    EXPECT_EQ(Find<QLineEdit>("Edit14")->text(), "");
    EXPECT_FALSE(Find<QWidget>("Edit14")->isEnabled());

    const Model before = model();
    Choose("ComboBox13", DaySatSun);
    Find<QDateEdit>("DateTimePicker1")->setDate(QDate(2025, 1, 2));
    Find<QTimeEdit>("DateTimePicker7")->setTime(QTime(4, 5, 6));
    Find<QTimeEdit>("DateTimePicker13")->setTime(QTime(1, 2, 3));
    Find<QTimeEdit>("DateTimePicker21")->setTime(QTime(7, 8, 9));
    Find<QTimeEdit>("DateTimePicker22")->setTime(QTime(7, 8, 9));
    Find<QLineEdit>("Edit14")->setText("99");
    EXPECT_TRUE(SameStoredSettings(model(), before));

    // Typed text in a program selector selects no program either.
    Choose("ComboBox3", ModeTimer);
    ClearByKeyboard(Find<QComboBox>("ComboBox9")->lineEdit());
    TypeInto(Find<QComboBox>("ComboBox9")->lineEdit(), "9");
    EXPECT_EQ(model().SelectedProgram(2), -1);
    const Model typed = model();
    Find<QTimeEdit>("DateTimePicker9")->setTime(QTime(3, 4, 5));
    EXPECT_TRUE(SameStoredSettings(model(), typed));
    EXPECT_EQ(Find<QComboBox>("ComboBox9")->lineEdit()->text(), "9");
}

}  // namespace
}  // namespace tavoxa::testing
