// The help window: fixed text, read-only memo, OK (Enter) closes it, Esc does not.
#include "ui/form2.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>

#include "testkit.h"

using tavoxa::TForm2;

TEST(HelpWindow, ControlsTitleAndTextByName)
{
    TForm2 form;
    EXPECT_EQ(form.windowTitle(), "Help Tavoxa");
    for (Qt::WindowType button : {Qt::WindowCloseButtonHint, Qt::WindowSystemMenuHint,
                                  Qt::WindowMinimizeButtonHint, Qt::WindowMaximizeButtonHint})
        EXPECT_FALSE(form.windowFlags() & button) << button;
    const std::pair<const char*, const char*> controls[] = {{"Label1", "FREEWARE"},
                                                            {"Label2", "FREEWARE"},
                                                            {"Label3", "FREEWARE"},
                                                            {"Label4", "FREEWARE"},
                                                            {"BitBtn1", "OK"}};
    for (const auto& [name, text] : controls) {
        auto* control = tavoxa::testing::Find<QWidget>(&form, name);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->property("text").toString(), text) << name;
    }
    EXPECT_TRUE(form.findChild<QPushButton*>("BitBtn1")->isDefault());

    // The text: a framed title with the version, then every heading in order.
    const QString text = TForm2::HelpText();
    EXPECT_TRUE(text.section('\n', 0, 0).startsWith("*") && text.section('\n', 0, 0).endsWith("*"));
    EXPECT_TRUE(text.section('\n', 0, 5).contains("Version 4.1b"));
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
        at = std::max(at, found);
    }
}

TEST(HelpWindow, MemoIsReadOnlyEscLeavesTheWindowOpenAndEnterClosesIt)
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
        QTest::keyClick(focus ? focus : &form, Qt::Key_Escape);
        EXPECT_TRUE(form.isVisible()) << "Esc closed the help";
        QTest::keyClick(focus ? focus : &form, Qt::Key_Return);
    });
    QTimer::singleShot(2000, &form, [&form] { form.done(QDialog::Rejected); });  // never hang the suite
    result = form.exec();
    EXPECT_EQ(result, QDialog::Accepted);
}
