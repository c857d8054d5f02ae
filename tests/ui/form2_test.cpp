// The help window: fixed text, read-only memo, OK closes it and has the focus.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "ui/form2.h"

using tavoxa::TForm2;

TEST(HelpWindow, CaptionControlsAndNoTitleBarButtons)
{
    TForm2 form;
    EXPECT_EQ(form.windowTitle(), "Help Tavoxa");
    const Qt::WindowFlags flags = form.windowFlags();
    EXPECT_FALSE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowSystemMenuHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    for (const char* name : {"Label1", "Label2", "Label3", "Label4"}) {
        auto* label = form.findChild<QLabel*>(name);
        ASSERT_NE(label, nullptr) << name;
        EXPECT_EQ(label->text(), "FREEWARE");
    }
    auto* ok = form.findChild<QPushButton*>("BitBtn1");
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->text(), "OK");
    EXPECT_TRUE(ok->isDefault());
}

TEST(HelpWindow, TextHasTitleAndEveryHeadingInOrder)
{
    const QString text = TForm2::HelpText();
    ASSERT_FALSE(text.isEmpty());
    const QString firstLine = text.section('\n', 0, 0);
    EXPECT_TRUE(firstLine.startsWith("*"));
    EXPECT_TRUE(text.section('\n', 0, 5).contains("Version 4.1b"));
    EXPECT_TRUE(firstLine.endsWith("*"));
    EXPECT_TRUE(text.section('\n', 0, 5).contains("T A V O X A"));
    EXPECT_TRUE(text.contains("swcf.dat"));
    const char* headings[] = {
        "0.  Allgemeines",
        "1.  Tavoxa",
        "2.  Software",
        "2.1.  Funktionen",
        "2.1.1.  Toggle  -   Direkt Schalten",
        "2.1.2.  K1 / K2  -  Schalten mit den Eingängen",
        "2.1.3.  Schalten durch die Timer",
        "2.1.4.  Sekunden Timer",
        "2.1.5.  Random  ( Zufallsgenerator )",
        "2.1.6.  Uhren-Steuerung",
        "2.2.  Fernsteuerung über Netzwerk / Internet",
        "2.3. Belegung der Bezeichner REL-Namen und Eingänge",
    };
    qsizetype at = 0;
    for (const char* heading : headings) {
        const qsizetype found = text.indexOf("\n" + QString::fromUtf8(heading) + "\n", at);
        EXPECT_GE(found, at) << heading;
        if (found >= 0)
            at = found;
    }
}

TEST(HelpWindow, MemoIsReadOnlyAndEnterClosesTheWindow)
{
    TForm2 form;
    auto* memo = form.findChild<QPlainTextEdit*>("Memo1");
    ASSERT_NE(memo, nullptr);
    EXPECT_TRUE(memo->isReadOnly());
    const QString before = memo->toPlainText();
    QTest::keyClicks(memo, "xyz");
    EXPECT_EQ(memo->toPlainText(), before);

    int result = -1;
    QTimer::singleShot(0, &form, [&form] {
        QWidget* focus = form.focusWidget();
        EXPECT_EQ(focus ? focus->objectName() : QString(), "BitBtn1");
        QTest::keyClick(focus ? focus : &form, Qt::Key_Return);
    });
    QTimer::singleShot(2000, &form, [&form] { form.reject(); });  // never hang the suite
    result = form.exec();
    EXPECT_EQ(result, QDialog::Accepted);
}
