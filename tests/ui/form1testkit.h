// Test kit of the main window: the window over a controller on the simulated board (see
// tests/core/controllerfixture.h), file dialogs answered by the test, and the user's gestures on
// selectors and edits.
#pragma once

#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <memory>

#include "tests/core/controllerfixture.h"
#include "ui/form1.h"

namespace tavoxa::testing {

class AnsweredDialogs : public FileDialogs {
public:
    QString AskOpenName() override { return answer; }
    QString AskSaveName() override { return answer; }
    QString answer;  // empty: cancelled
};

class WindowFixture : public ControllerFixture {
protected:
    void SetUp() override { Open(); }

    // The program as it starts: controller, window over it, then the start-up.
    void Open()
    {
        form.reset();
        Create();
        form = std::make_unique<TForm1>(*core, &dialogs);
        core->Startup();
        StopTimers();
        // The port opens on the bus thread; the window shows it once it is reported (a stored
        // chip that is not on the board never answers).
        WaitUntil([this] { return core->busFacts().Connected; }, 1000);
    }

    template <typename T>
    T* Find(const QString& name) const
    {
        return testing::Find<T>(form.get(), name);
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

    AnsweredDialogs dialogs;
    std::unique_ptr<TForm1> form;
};

}  // namespace tavoxa::testing
