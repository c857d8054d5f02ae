// Test kit of the main window: the window on the simulated board with a clock stepped by hand,
// error reports recorded instead of shown, and the user's gestures on selectors and edits.
#pragma once

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <memory>

#include "adapter/i2c.h"
#include "adapter/simboard.h"
#include "engine/clock.h"
#include "engine/random.h"
#include "ui/errorreport.h"
#include "ui/form1.h"

namespace tavoxa::test {

class StepClock : public Clock {
public:
    LocalDateTime now{2024, 3, 15, 12, 34, 56, 300};  // a Friday
    LocalDateTime Now() const override { return now; }
};

// The error reports of one test, in place of modal boxes.
class ReportRecorder {
public:
    ReportRecorder()
    {
        previous_ = SetErrorReportHook([this](QWidget*, const QString& text) { reports << text; });
    }
    ~ReportRecorder() { SetErrorReportHook(previous_); }
    QStringList reports;

private:
    ErrorReportHook previous_;
};

template <typename Form = TForm1>
class FormFixture : public ::testing::Test {
protected:
    void SetUp() override { form = std::make_unique<Form>(board, clock, random, delay); }

    template <typename T>
    T* Find(const QString& name) const
    {
        T* widget = form->template findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << "no " << name.toStdString();
        return widget;
    }

    // The ticks are driven by hand; a running timer would tick between the steps of a test.
    void StopTimers()
    {
        Find<QTimer>("Timer1")->stop();
        Find<QTimer>("Timer2")->stop();
    }

    // Choosing an entry from the list, as the user does; the index moves first, as QComboBox
    // does before it reports the activation.
    void Choose(const QString& selector, int index)
    {
        QComboBox* combo = Find<QComboBox>(selector);
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }

    void TypeInto(QLineEdit* edit, const QString& text)
    {
        edit->setFocus();
        QTest::keyClicks(edit, text);
    }

    void ClearByKeyboard(QLineEdit* edit)
    {
        edit->setFocus();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
    }

    // What the user sees once the window is shown: the control and all its panels visible.
    bool Shown(const QString& name) const { return Find<QWidget>(name)->isVisibleTo(form.get()); }

    ReportRecorder recorder;
    SimulatedBoard board;
    StepClock clock;
    LcgRandom random;
    NoBusDelay delay;
    std::unique_ptr<Form> form;
};

}  // namespace tavoxa::test
