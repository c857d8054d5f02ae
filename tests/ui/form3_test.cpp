// The "IP Remote Config" dialog: its controls, taking over the texts, refusing what does not fit
// in one byte, refilling them, the note on an empty password.
#include "ui/form3.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>

#include "testkit.h"

namespace tavoxa {
namespace {

TEST(Form3, ControlsByNameWithTheirTextPlaceAndFont)
{
    RemoteSettings remote;
    TForm3 form(remote);
    EXPECT_EQ(form.objectName(), "Form3");
    EXPECT_EQ(form.windowTitle(), "IP Remote Config");
    EXPECT_EQ(form.size(), QSize(237, 157));
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    EXPECT_EQ(form.windowFlags() &
                  (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint),
              Qt::WindowCloseButtonHint);

    const struct {
        const char* name;
        const char* text;
        QRect geometry;
        int pixelSize;
    } controls[] = {{"Label1", "Port ", QRect(48, 28, 33, 16), 13},
                    {"Label2", "Kennwort", QRect(15, 66, 63, 16), 13},
                    {"Edit1", "", QRect(88, 24, 89, 21), 11},
                    {"Edit2", "", QRect(88, 64, 89, 21), 11},
                    {"Button1", "Ok", QRect(72, 96, 75, 25), 11}};
    for (const auto& c : controls) {
        auto* w = testing::Find<QWidget>(&form, c.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->property("text").toString(), c.text) << c.name;
        EXPECT_EQ(w->pos(), c.geometry.topLeft()) << c.name;
        // Captions grow to their text.
        if (qobject_cast<QLabel*>(w))
            EXPECT_GE(w->width(), std::max(c.geometry.width(), w->sizeHint().width())) << c.name;
        else
            EXPECT_EQ(w->size(), c.geometry.size()) << c.name;
        EXPECT_TRUE(w->font().bold()) << c.name;
        EXPECT_EQ(w->font().pixelSize(), c.pixelSize) << c.name;
    }
    EXPECT_TRUE(form.Button1->isDefault());
    EXPECT_EQ(form.Edit2->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(form.Button1->nextInFocusChain(), form.Edit1);
    EXPECT_EQ(form.Edit1->nextInFocusChain(), form.Edit2);
}

TEST(Form3, OkTakesOverBothTextsAsTypedAndCloses)
{
    RemoteSettings remote;
    remote.RemotePort = "26535";
    remote.RemotePassword = "alt";
    remote.RemoteState = LoggedIn;
    TForm3 form(remote);
    form.Refill();
    form.show();
    form.Edit1->setText("12ab");  // not checked: TextToInt reads it when the server opens
    form.Edit2->setText("Gr\u00FC\u00DFe Neu");
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    EXPECT_EQ(remote.RemotePort, "12ab");
    EXPECT_EQ(remote.RemotePassword,
              "Gr\xFC\xDF"
              "e Neu");  // one byte per character
    EXPECT_EQ(remote.RemoteState, LoggedIn);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.result(), QDialog::Accepted);
}

TEST(Form3, EmptyTextsAreTakenOverToo)
{
    RemoteSettings remote;
    remote.RemotePort = "1";
    remote.RemotePassword = "x";
    TForm3 form(remote);
    form.Button1Click();
    EXPECT_EQ(remote.RemotePort, "");
    EXPECT_EQ(remote.RemotePassword, "");
}

TEST(Form3, AbandonedTextsAreReplacedByTheStoredOnesOnRefill)
{
    RemoteSettings remote;
    remote.RemotePort = "4711";
    remote.RemotePassword = "Geheim\xE4";
    TForm3 form(remote);
    EXPECT_EQ(form.Edit1->text(), "");
    form.Refill();
    EXPECT_EQ(form.Edit1->text(), "4711");
    EXPECT_EQ(form.Edit2->text(), QString("Geheim\u00E4"));

    form.show();
    form.Edit1->setText("9999");
    form.Edit2->setText("abandoned");
    form.reject();  // the close icon
    EXPECT_EQ(remote.RemotePort, "4711");
    EXPECT_EQ(remote.RemotePassword, "Geheim\xE4");
    form.Refill();  // the main window becomes active again
    EXPECT_EQ(form.Edit1->text(), "4711");
    EXPECT_EQ(form.Edit2->text(), QString("Geheim\u00E4"));
}

TEST(Form3, RefusesACharacterOfMoreThanOneByteButTakesLatin1AsOneByte)
{
    RemoteSettings remote;
    remote.RemotePassword = "alt";
    TForm3 form(remote);
    form.Refill();
    form.show();
    form.Edit2->setText("pa\u20AC");
    QString warning;
    // The refusal is a modal box: answer it from the event loop it runs.
    QTimer::singleShot(0, &form, [&warning] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            warning = box->text();
            box->done(QMessageBox::Ok);
        }
    });
    form.Button1Click();
    EXPECT_TRUE(warning.contains(QChar(0x20AC))) << "no box naming the character";
    EXPECT_EQ(remote.RemotePassword, "alt");
    EXPECT_TRUE(form.isVisible());

    form.Edit2->setText("\u00C4");
    form.Button1Click();
    EXPECT_EQ(remote.RemotePassword, "\xC4");
    EXPECT_EQ(form.result(), QDialog::Accepted);
}

TEST(Form3, LockedRemoteNoteShowsExactlyWhileThePasswordIsEmpty)
{
    RemoteSettings remote;
    TForm3 form(remote);
    form.show();
    EXPECT_TRUE(form.Label3->isVisible());
    remote.RemotePassword = "pw";
    form.Refill();
    EXPECT_FALSE(form.Label3->isVisible());
    form.Edit2->selectAll();
    QTest::keyClick(form.Edit2, Qt::Key_Backspace);
    EXPECT_TRUE(form.Label3->isVisible());
    QTest::keyClicks(form.Edit2, "x");
    EXPECT_FALSE(form.Label3->isVisible());
}

}  // namespace
}  // namespace tavoxa
