// The "IP Remote Config" dialog: its controls, taking over the texts, refilling them.
#include "ui/form3.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace tavoxa {
namespace {

TEST(Form3, ControlsAsLaidOut)
{
    RemoteSettings remote;
    TForm3 form(remote);
    EXPECT_EQ(form.objectName(), "Form3");
    EXPECT_EQ(form.windowTitle(), "IP Remote Config");
    EXPECT_EQ(form.size(), QSize(237, 137));
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(form.windowFlags() & Qt::WindowCloseButtonHint);

    struct Control {
        const char* name;
        QRect geometry;
        int pixelSize;
    };
    for (const Control& c :
         {Control{"Label1", QRect(48, 28, 33, 16), 13}, Control{"Label2", QRect(15, 66, 63, 16), 13},
          Control{"Edit1", QRect(88, 24, 89, 21), 11}, Control{"Edit2", QRect(88, 64, 89, 21), 11},
          Control{"Button1", QRect(72, 96, 75, 25), 11}}) {
        auto* w = form.findChild<QWidget*>(c.name);
        ASSERT_NE(w, nullptr) << c.name;
        if (qobject_cast<QLabel*>(w)) {  // captions grow to their text
            EXPECT_EQ(w->pos(), c.geometry.topLeft()) << c.name;
            EXPECT_GE(w->width(), c.geometry.width()) << c.name;
            EXPECT_GE(w->width(), w->sizeHint().width()) << c.name;
        } else {
            EXPECT_EQ(w->geometry(), c.geometry) << c.name;
        }
        EXPECT_TRUE(w->font().bold()) << c.name;
        EXPECT_EQ(w->font().pixelSize(), c.pixelSize) << c.name;
    }
    EXPECT_EQ(form.Label1->text(), "Port ");
    EXPECT_EQ(form.Label2->text(), "Kennwort");
    EXPECT_EQ(form.Button1->text(), "Ok");
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

}  // namespace
}  // namespace tavoxa
