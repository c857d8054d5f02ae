#include "ui/form2.h"

#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>

namespace tavoxa {
namespace {

QLabel* FreewareLabel(QWidget* parent, const char* name, const char* colour, int left, int top)
{
    auto* label = new QLabel("FREEWARE", parent);
    label->setObjectName(name);
    QFont font = label->font();
    font.setBold(true);
    font.setPointSize(font.pointSize() + 2);
    label->setFont(font);
    label->setStyleSheet(QString("color: %1;").arg(colour));
    label->adjustSize();
    label->move(left, top);
    return label;
}

}  // namespace

TForm2::TForm2(QWidget* parent, const QString& language) : QDialog(parent)
{
    setObjectName("Form2");
    setWindowTitle(tr("Help Tavoxa"));
    // No title-bar buttons at all: the OK button is the way out.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(664, 408);

    auto* memo = new QPlainTextEdit(this);
    memo->setObjectName("Memo1");
    memo->setReadOnly(true);
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    memo->setGeometry(0, 0, 664, 360);
    QFont font("Arial");
    font.setStyleHint(QFont::SansSerif);
    font.setBold(true);
    font.setPointSize(10);
    memo->setFont(font);
    memo->setStyleSheet("QPlainTextEdit { background-color: #800000; color: #FFFFFF; }");
    memo->setTabStopDistance(120);
    memo->setPlainText(HelpText(language));

    FreewareLabel(this, "Label1", "#FF0000", 40, 368);
    FreewareLabel(this, "Label2", "#008000", 170, 380);
    FreewareLabel(this, "Label3", "#FF00FF", 410, 368);
    FreewareLabel(this, "Label4", "#0000FF", 540, 380);

    auto* ok = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), tr("OK"), this);
    ok->setObjectName("BitBtn1");
    ok->setGeometry(294, 370, 75, 28);
    ok->setDefault(true);
    ok->setAutoDefault(true);
    connect(ok, &QPushButton::clicked, this, &TForm2::BitBtn1Click);
    setTabOrder(ok, memo);
    ok->setFocus();
}

QString TForm2::HelpText(const QString& language)
{
    QFile file(language == QLatin1String("en") ? QStringLiteral(":/help_en.txt")
                                               : QStringLiteral(":/help_de.txt"));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

void TForm2::BitBtn1Click()
{
    accept();
}

}  // namespace tavoxa
