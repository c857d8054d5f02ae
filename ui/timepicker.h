// A time field in which a time typed over the whole selected text is the time stored.
//
// QTimeEdit types section by section: with the whole text selected, "06:30:00" lands partly in
// the wrong sections (it stored 22:30:00). Here, a digit typed while the whole text is selected
// starts the time afresh: digits fill hours, minutes and seconds in turn (two each, or fewer
// ended by ':'), Backspace takes the last digit back, and the time shown follows every key.
// Any other key, a click or leaving the field ends that and is handled as QTimeEdit does.
// Ordinary section editing and setTime behave exactly as in QTimeEdit, timeChanged included.
// Lives on the user-interface thread like every widget.
#pragma once

#include <QTimeEdit>

namespace tavoxa {

class TimePicker : public QTimeEdit {
    Q_OBJECT

public:
    explicit TimePicker(QWidget* parent = nullptr);
    TimePicker(const QTime& time, QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    bool TypeWholeField(QKeyEvent* event);
    bool WholeTextSelected() const;
    int PartCount() const;
    void ShowTyped();

    bool typing_ = false;
    int part_ = 0;
    int values_[3] = {};
    int digits_[3] = {};
};

}  // namespace tavoxa
