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

void TForm1::RefreshView()
{
    const Model& model = core_.model();
    // Selectors first; setting a position runs no handler.
    for (int r = 0; r < kRelayCount; ++r)
        modeSelector_[r]->SetPosition(model.RelayMode(r));
    for (int r = 0; r < kRelayCount; ++r)
        programSelector_[r]->SetPosition(model.SelectedProgram(r));
    for (int r = 0; r < kRelayCount; ++r) {
        const int p = ShownProgram(model, r);
        daySelector_[r]->SetPosition(p >= 0 ? model.DayCode(r, p) : -1);
    }

    // Pickers, silent as well.
    for (int r = 0; r < kRelayCount; ++r) {
        if (const int p = ShownProgram(model, r); p >= 0)
            ShowValue(datePicker_[r], DateOf(model.ProgramDate(r, p)));
    }
    for (int r = 0; r < kRelayCount; ++r) {
        if (const int p = ShownProgram(model, r); p >= 0)
            ShowValue(startPicker_[r], TimeOf(model.ProgramStart(r, p)));
    }
    for (int r = 0; r < kRelayCount; ++r) {
        if (const int p = ShownProgram(model, r); p >= 0)
            ShowValue(endPicker_[r], TimeOf(model.ProgramEnd(r, p)));
    }
    for (int r = 0; r < kRelayCount; ++r) {
        if (const int w = ShownWindow(model, r); w >= 0) {
            ShowValue(windowStartPicker_[r], TimeOf(model.WindowStart(r, w)));
            ShowValue(windowEndPicker_[r], TimeOf(model.WindowEnd(r, w)));
        }
    }

    // What the row offers follows the positions the selectors now show, not the model.
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

        const bool program = ShownProgram(model, r) >= 0;
        for (QWidget* field : {static_cast<QWidget*>(daySelector_[r]), static_cast<QWidget*>(datePicker_[r]),
                               static_cast<QWidget*>(startPicker_[r]), static_cast<QWidget*>(endPicker_[r])})
            field->setEnabled(program);
        const bool window = ShownWindow(model, r) >= 0;
        for (QWidget* field :
             {static_cast<QWidget*>(maxEdit_[r]), static_cast<QWidget*>(windowStartPicker_[r]),
              static_cast<QWidget*>(windowEndPicker_[r])})
            field->setEnabled(window);
    }

    // Repeat boxes and seconds edits; their handlers run and store what they show.
    for (int r = 0; r < kRelayCount; ++r)
        repeatBox_[r]->setChecked(model.SecondsTimer[r].Repeat == 1);
    for (int r = 0; r < kRelayCount; ++r) {
        startEdit_[r]->setText(QString::number(model.SecondsTimer[r].StartAfter));
        endEdit_[r]->setText(QString::number(model.SecondsTimer[r].EndAfter));
    }

    // Random windows.
    for (int r = 0; r < kRelayCount; ++r)
        windowSelector_[r]->SetPosition(model.SelectedWindow(r));
    for (int r = 0; r < kRelayCount; ++r) {
        const int w = ShownWindow(model, r);
        maxEdit_[r]->setText(w >= 0 ? QString::number(model.WindowMaxMinutes(r, w)) : QString());
    }
}

void TForm1::Edit(int relay, RelayField field, double value)
{
    core_.Edit(SettingsEdit{relay, field, value});
}

void TForm1::ModeSelectorChange(int relay)
{
    Edit(relay, RelayField::Mode, modeSelector_[relay]->Position());
    RefreshView();
}

void TForm1::ProgramSelectorChange(int relay)
{
    Edit(relay, RelayField::SelectedProgram, programSelector_[relay]->Position());
    RefreshView();
}

void TForm1::DaySelectorChange(int relay)
{
    Edit(relay, RelayField::DayCode, daySelector_[relay]->Position());
    RefreshView();
}

void TForm1::DatePickerChange(int relay)
{
    // A dated program matches on the whole day number.
    const QDate d = datePicker_[relay]->date();
    Edit(relay, RelayField::ProgramDate, EncodeDate(d.year(), d.month(), d.day()));
}

void TForm1::StartPickerChange(int relay)
{
    Edit(relay, RelayField::ProgramStart, TimeValue(startPicker_[relay]->time()));
}

void TForm1::EndPickerChange(int relay)
{
    Edit(relay, RelayField::ProgramEnd, TimeValue(endPicker_[relay]->time()));
}

void TForm1::SecondsEditChange(int relay, bool endEdit)
{
    // Runs keystroke by keystroke: typing 120 stores 1, 12, then 120.
    if (endEdit)
        Edit(relay, RelayField::EndAfter, EditValue(endEdit_[relay]));
    else
        Edit(relay, RelayField::StartAfter, EditValue(startEdit_[relay]));
}

void TForm1::WindowSelectorChange(int relay)
{
    Edit(relay, RelayField::SelectedWindow, windowSelector_[relay]->Position());
    RefreshView();
}

void TForm1::MaxEditChange(int relay)
{
    Edit(relay, RelayField::WindowMaxMinutes, EditValue(maxEdit_[relay]));
}

void TForm1::WindowPickerChange(int relay, bool endPicker)
{
    if (endPicker)
        Edit(relay, RelayField::WindowEnd, TimeValue(windowEndPicker_[relay]->time()));
    else
        Edit(relay, RelayField::WindowStart, TimeValue(windowStartPicker_[relay]->time()));
}

}  // namespace tavoxa
