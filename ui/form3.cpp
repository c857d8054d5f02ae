#include "ui/form3.h"

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <algorithm>

#include "remote/remotetext.h"

namespace tavoxa {
namespace {

void SetBoldFont(QWidget* widget, int pixelHeight)
{
    QFont font = widget->font();
    font.setBold(true);
    font.setPixelSize(pixelHeight);
    widget->setFont(font);
}

// A caption keeps its place and grows to its text, so a wider system font never cuts it off.
void PlaceCaption(QLabel* label, int left, int top, int width, int height)
{
    const QSize text = label->sizeHint();
    label->setGeometry(left, top, std::max(width, text.width()), std::max(height, text.height()));
}

}  // namespace

TForm3::TForm3(RemoteSettings& remote, QWidget* parent) : QDialog(parent), remote_(remote)
{
    setObjectName("Form3");
    setWindowTitle(tr("IP Remote Config"));
    // A fixed frame with the close icon only.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(237, 157);

    // Created in tab order: Ok first, then port and password; the labels take no focus.
    Button1 = new QPushButton(tr("Ok"), this);
    Button1->setObjectName("Button1");
    Button1->setGeometry(72, 96, 75, 25);
    Button1->setDefault(true);
    Button1->setAutoDefault(true);
    SetBoldFont(Button1, 11);
    connect(Button1, &QPushButton::clicked, this, &TForm3::Button1Click);

    Edit1 = new QLineEdit(this);
    Edit1->setObjectName("Edit1");
    Edit1->setGeometry(88, 24, 89, 21);
    SetBoldFont(Edit1, 11);

    Edit2 = new QLineEdit(this);
    Edit2->setObjectName("Edit2");
    Edit2->setGeometry(88, 64, 89, 21);
    Edit2->setEchoMode(QLineEdit::Normal);
    SetBoldFont(Edit2, 11);

    Label1 = new QLabel(tr("Port "), this);
    Label1->setObjectName("Label1");
    SetBoldFont(Label1, 13);
    PlaceCaption(Label1, 48, 28, 33, 16);

    Label2 = new QLabel(tr("Kennwort"), this);
    Label2->setObjectName("Label2");
    SetBoldFont(Label2, 13);
    PlaceCaption(Label2, 15, 66, 63, 16);

    Label3 = new QLabel(tr("Remote switching stays locked\nuntil a password is set."), this);
    Label3->setObjectName("Label3");
    Label3->setGeometry(8, 124, 221, 30);
    Label3->setAlignment(Qt::AlignCenter);
    QPalette warning = Label3->palette();
    warning.setColor(QPalette::WindowText, Qt::darkRed);
    Label3->setPalette(warning);
    connect(Edit2, &QLineEdit::textChanged, this,
            [this](const QString& text) { Label3->setVisible(text.isEmpty()); });
    Label3->setVisible(Edit2->text().isEmpty());

    Button1->setFocus();
}

void TForm3::Refill()
{
    Edit1->setText(RemoteText(remote_.RemotePort));
    Edit2->setText(RemoteText(remote_.RemotePassword));
}

void TForm3::Button1Click()
{
    QChar refused;
    const std::optional<std::string> port = RemoteTextBytes(Edit1->text(), &refused);
    const std::optional<std::string> password =
        port ? RemoteTextBytes(Edit2->text(), &refused) : std::nullopt;
    if (!port || !password) {
        QMessageBox::warning(this, windowTitle(),
                             tr("\"%1\" cannot be stored: port and password take only "
                                "characters of one byte (Latin-1), such as \"Ä\" or \"ß\".")
                                 .arg(refused));
        return;
    }
    remote_.RemotePort = *port;
    remote_.RemotePassword = *password;
    accept();
}

}  // namespace tavoxa
