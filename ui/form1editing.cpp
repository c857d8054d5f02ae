// Settings editing: RefreshView copies the model into the rows, and each control's change
// handler writes its one field back at once. Nothing is validated; numbers go through TextToInt.
#include <QCheckBox>
#include <QDate>
#include <QDateEdit>
#include <QFrame>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTime>
#include <QTimeEdit>
#include <type_traits>

#include "engine/texttoint.h"
#include "ui/form1.h"
#include "ui/selector.h"

namespace tavoxa {
namespace {

QDate DateOf(double value)
{
    const LocalDateTime t = FromDateTime(DatePart(value));
    return QDate(t.year, t.month, t.day);
}

QTime TimeOf(double value)
{
    const LocalDateTime t = FromDateTime(value);
    return QTime(t.hour, t.minute, t.second, t.millisecond);
}

double TimeValue(const QTime& t)
{
    return EncodeTime(t.hour(), t.minute(), t.second(), t.msec());
}

int32_t EditValue(const QLineEdit* edit)
{
    return TextToInt(edit->text().toStdString());
}

// A picker set by the refresh keeps its handler silent.
template <typename Picker, typename Value>
void ShowValue(Picker* picker, const Value& value)
{
    const QSignalBlocker blocker(picker);
    if constexpr (std::is_same_v<Value, QDate>)
        picker->setDate(value);
    else
        picker->setTime(value);
}

}  // namespace

// SelectedProgram and SelectedWindow index the tables; a value from a hand-edited file or typed
// into the selector that lies outside them selects nothing, so nothing is shown or written.
int TForm1::ShownProgram(int relay) const
{
    const int p = model_.SelectedProgram(relay);
    return p >= 0 && p < kProgramCount ? p : -1;
}

int TForm1::ShownWindow(int relay) const
{
    const int w = model_.SelectedWindow(relay);
    return w >= 0 && w < kWindowCount ? w : -1;
}

void TForm1::RefreshView()
{
    // 1-3: selectors; setting a position runs no handler.
    for (int r = 0; r < kRelayCount; ++r)
        modeSelector_[r]->SetPosition(model_.RelayMode(r));
    for (int r = 0; r < kRelayCount; ++r)
        programSelector_[r]->SetPosition(model_.SelectedProgram(r));
    for (int r = 0; r < kRelayCount; ++r) {
        const int p = ShownProgram(r);
        daySelector_[r]->SetPosition(p >= 0 ? model_.DayCode(r, p) : -1);
    }

    // 4-6: pickers, silent as well.
    for (int r = 0; r < kRelayCount; ++r) {
        if (const int p = ShownProgram(r); p >= 0)
            ShowValue(datePicker_[r], DateOf(model_.ProgramDate(r, p)));
    }
    for (int r = 0; r < kRelayCount; ++r) {
        if (const int p = ShownProgram(r); p >= 0)
            ShowValue(startPicker_[r], TimeOf(model_.ProgramStart(r, p)));
    }
    for (int r = 0; r < kRelayCount; ++r) {
        if (const int p = ShownProgram(r); p >= 0)
            ShowValue(endPicker_[r], TimeOf(model_.ProgramEnd(r, p)));
    }
    for (int r = 0; r < kRelayCount; ++r) {
        if (const int w = ShownWindow(r); w >= 0) {
            ShowValue(windowStartPicker_[r], TimeOf(model_.WindowStart(r, w)));
            ShowValue(windowEndPicker_[r], TimeOf(model_.WindowEnd(r, w)));
        }
    }

    // 7-8: what the row offers follows the positions the selectors now show, not the model.
    for (int r = 0; r < kRelayCount; ++r)
        toggleButton_[r]->setEnabled(ToggleButtonEnabled(modeSelector_[r]->Position()));
    for (int r = 0; r < kRelayCount; ++r) {
        const int m = modeSelector_[r]->Position();
        const bool timer = m == ModeTimer;
        programSelector_[r]->setVisible(timer);
        daySelector_[r]->setVisible(timer);
        datePicker_[r]->setVisible(timer && daySelector_[r]->Position() == DayDate);
        startPicker_[r]->setVisible(timer);
        endPicker_[r]->setVisible(timer);
        // Relays 2..6 show their random panel inside the seconds panel.
        secondsPanel_[r]->setVisible(m == ModeSecondsTimer || (r > 0 && m == ModeRandom));
        randomPanel_[r]->setVisible(m == ModeRandom);

        const bool program = ShownProgram(r) >= 0;
        for (QWidget* field : {static_cast<QWidget*>(daySelector_[r]), static_cast<QWidget*>(datePicker_[r]),
                               static_cast<QWidget*>(startPicker_[r]), static_cast<QWidget*>(endPicker_[r])})
            field->setEnabled(program);
        const bool window = ShownWindow(r) >= 0;
        for (QWidget* field :
             {static_cast<QWidget*>(maxEdit_[r]), static_cast<QWidget*>(windowStartPicker_[r]),
              static_cast<QWidget*>(windowEndPicker_[r])})
            field->setEnabled(window);
    }

    // 9-10: Repeat boxes and seconds edits; their handlers run and store what they show.
    for (int r = 0; r < kRelayCount; ++r)
        repeatBox_[r]->setChecked(model_.SecondsTimer[r].Repeat == 1);
    for (int r = 0; r < kRelayCount; ++r) {
        startEdit_[r]->setText(QString::number(model_.SecondsTimer[r].StartAfter));
        endEdit_[r]->setText(QString::number(model_.SecondsTimer[r].EndAfter));
    }

    // 11-12: random windows.
    for (int r = 0; r < kRelayCount; ++r)
        windowSelector_[r]->SetPosition(model_.SelectedWindow(r));
    for (int r = 0; r < kRelayCount; ++r) {
        const int w = ShownWindow(r);
        maxEdit_[r]->setText(w >= 0 ? QString::number(model_.WindowMaxMinutes(r, w)) : QString());
    }
}

void TForm1::ProgramSelectorChange(int relay)
{
    model_.SelectedProgram(relay) = programSelector_[relay]->Position();
    RefreshView();
}

void TForm1::DaySelectorChange(int relay)
{
    if (const int p = ShownProgram(relay); p >= 0)
        model_.DayCode(relay, p) = daySelector_[relay]->Position();
    RefreshView();
}

void TForm1::DatePickerChange(int relay)
{
    // A dated program matches on the whole day number.
    const int p = ShownProgram(relay);
    if (p < 0)
        return;
    const QDate d = datePicker_[relay]->date();
    model_.ProgramDate(relay, p) = EncodeDate(d.year(), d.month(), d.day());
}

void TForm1::StartPickerChange(int relay)
{
    if (const int p = ShownProgram(relay); p >= 0)
        model_.ProgramStart(relay, p) = TimeValue(startPicker_[relay]->time());
}

void TForm1::EndPickerChange(int relay)
{
    if (const int p = ShownProgram(relay); p >= 0)
        model_.ProgramEnd(relay, p) = TimeValue(endPicker_[relay]->time());
}

void TForm1::RepeatBoxClick(int relay)
{
    model_.SecondsTimer[relay].Repeat = repeatBox_[relay]->isChecked() ? 1 : 0;
}

void TForm1::CheckBox1Click()
{
    RepeatBoxClick(0);
}
void TForm1::CheckBx2Click()
{
    RepeatBoxClick(1);
}
void TForm1::CheckBox3Click()
{
    RepeatBoxClick(2);
}
void TForm1::CheckBox4Click()
{
    RepeatBoxClick(3);
}
void TForm1::CheckBox5Click()
{
    RepeatBoxClick(4);
}
void TForm1::CheckBox6Click()
{
    RepeatBoxClick(5);
}

void TForm1::SecondsEditChange(int relay, bool endEdit)
{
    // Runs keystroke by keystroke: typing 120 stores 1, 12, then 120.
    SecondsTimerRecord& timer = model_.SecondsTimer[relay];
    if (endEdit)
        timer.EndAfter = EditValue(endEdit_[relay]);
    else
        timer.StartAfter = EditValue(startEdit_[relay]);
}

void TForm1::WindowSelectorChange(int relay)
{
    model_.SelectedWindow(relay) = windowSelector_[relay]->Position();
    RefreshView();
}

void TForm1::MaxEditChange(int relay)
{
    if (const int w = ShownWindow(relay); w >= 0)
        model_.WindowMaxMinutes(relay, w) = EditValue(maxEdit_[relay]);
}

void TForm1::WindowPickerChange(int relay, bool endPicker)
{
    const int w = ShownWindow(relay);
    if (w < 0)
        return;
    if (endPicker)
        model_.WindowEnd(relay, w) = TimeValue(windowEndPicker_[relay]->time());
    else
        model_.WindowStart(relay, w) = TimeValue(windowStartPicker_[relay]->time());
}

}  // namespace tavoxa
