#include "ui/timepicker.h"

#include <QKeyEvent>
#include <QLineEdit>

namespace tavoxa {

TimePicker::TimePicker(QWidget* parent) : QTimeEdit(parent) {}

TimePicker::TimePicker(const QTime& time, QWidget* parent) : QTimeEdit(time, parent) {}

// Hours, minutes and seconds in this order from the start of the format ("HH", "HH:mm",
// "HH:mm:ss"); any other format keeps QTimeEdit's own typing.
int TimePicker::PartCount() const
{
    static const Section kOrder[3] = {HourSection, MinuteSection, SecondSection};
    const int count = sectionCount();
    if (count < 1 || count > 3)
        return 0;
    for (int i = 0; i < count; ++i)
        if (sectionAt(i) != kOrder[i])
            return 0;
    return count;
}

bool TimePicker::WholeTextSelected() const
{
    const QLineEdit* edit = lineEdit();
    return edit->hasSelectedText() && edit->selectedText() == edit->text();
}

void TimePicker::keyPressEvent(QKeyEvent* event)
{
    if (!TypeWholeField(event)) {
        typing_ = false;
        QTimeEdit::keyPressEvent(event);
    }
}

void TimePicker::focusOutEvent(QFocusEvent* event)
{
    typing_ = false;
    QTimeEdit::focusOutEvent(event);
}

void TimePicker::mousePressEvent(QMouseEvent* event)
{
    typing_ = false;
    QTimeEdit::mousePressEvent(event);
}

// Returns whether the key belonged to whole-field typing and was taken.
bool TimePicker::TypeWholeField(QKeyEvent* event)
{
    const int parts = PartCount();
    const QString text = event->text();
    const bool plain = !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    const bool digit = plain && text.size() == 1 && text[0].isDigit() && text[0].unicode() < 128;
    if (!typing_) {
        if (!digit || parts == 0 || isReadOnly() || !WholeTextSelected())
            return false;
        typing_ = true;
        part_ = 0;
        for (int i = 0; i < 3; ++i)
            values_[i] = digits_[i] = 0;
    }
    if (digit) {
        if (digits_[part_] == 2) {
            if (part_ + 1 >= parts)
                return true;  // the last section is full: further digits are ignored
            ++part_;
        }
        const int value = values_[part_] * 10 + (text[0].unicode() - '0');
        if (value > (part_ == 0 ? 23 : 59))
            return true;  // no such time: the key is ignored
        values_[part_] = value;
        ++digits_[part_];
    } else if (plain && (text == QLatin1String(":") || text == QLatin1String("."))) {
        if (digits_[part_] > 0 && part_ + 1 < parts)
            ++part_;
    } else if (event->key() == Qt::Key_Backspace) {
        if (digits_[part_] == 0 && part_ > 0)
            --part_;
        if (digits_[part_] > 0) {
            values_[part_] /= 10;
            --digits_[part_];
        }
    } else {
        return false;
    }
    ShowTyped();
    return true;
}

void TimePicker::ShowTyped()
{
    setTime(QTime(values_[0], values_[1], values_[2]));
    // The cursor stands after the last digit typed, in the section being filled.
    lineEdit()->setCursorPosition(3 * part_ + digits_[part_]);
}

}  // namespace tavoxa
