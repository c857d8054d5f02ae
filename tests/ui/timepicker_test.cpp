#include "ui/timepicker.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

namespace tavoxa {
namespace {

// A focused picker showing `time` in the window's format.
struct Shown {
    explicit Shown(QTimeEdit& edit, const QTime& time = QTime(12, 34, 56)) : edit(edit)
    {
        edit.setDisplayFormat(QStringLiteral("HH:mm:ss"));
        edit.setTime(time);
        edit.show();
        edit.setFocus();
    }
    QTimeEdit& edit;
};

struct WholeFieldCase {
    const char* typed;
    QTime stored;
};

TEST(TimePicker, TypingOverTheWholeFieldStoresTheTimeTyped)
{
    const WholeFieldCase cases[] = {
        {"06:30:00", QTime(6, 30, 0)},
        {"23:00:00", QTime(23, 0, 0)},
        {"063000", QTime(6, 30, 0)},
        {"7:5:3", QTime(7, 5, 3)},
        {"23", QTime(23, 0, 0)},
        {"2930", QTime(23, 0, 0)},  // 29 is no hour: the 9 is ignored
        {"12:34:567", QTime(12, 34, 56)},
        {"0640\b\b\b7:15", QTime(7, 15, 0)},  // backspace takes the last digit back
    };
    for (const WholeFieldCase& c : cases) {
        SCOPED_TRACE(c.typed);
        TimePicker picker;
        Shown shown(picker, QTime(22, 11, 44));
        picker.selectAll();
        QTest::keyClicks(&picker, QString::fromLatin1(c.typed));
        QTest::keyClick(&picker, Qt::Key_Return);
        EXPECT_EQ(picker.time(), c.stored);
    }
}

// Section typing, arrow keys and setTime are QTimeEdit's own: the same times and the same
// timeChanged signals as a plain QTimeEdit.
TEST(TimePicker, OrdinaryEditsAndSetTimeAsQTimeEdit)
{
    QTimeEdit plain;
    TimePicker picker;
    Shown a(plain);
    Shown b(picker);
    QSignalSpy plainSpy(&plain, &QTimeEdit::timeChanged);
    QSignalSpy pickerSpy(&picker, &QTimeEdit::timeChanged);
    for (QTimeEdit* edit : {static_cast<QTimeEdit*>(&plain), static_cast<QTimeEdit*>(&picker)}) {
        edit->setSelectedSection(QDateTimeEdit::MinuteSection);
        QTest::keyClicks(edit, QStringLiteral("45"));
        QTest::keyClick(edit, Qt::Key_Up);
        edit->setTime(QTime(1, 2, 3));
        edit->setTime(QTime(1, 2, 3));
    }
    EXPECT_EQ(picker.time(), plain.time());
    ASSERT_EQ(pickerSpy.count(), plainSpy.count());
    for (int i = 0; i < plainSpy.count(); ++i)
        EXPECT_EQ(pickerSpy.at(i), plainSpy.at(i));
}

}  // namespace
}  // namespace tavoxa
