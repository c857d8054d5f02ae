// The help window: a fixed help text, German or English, and an OK button.
#pragma once

#include <QDialog>

namespace tavoxa {

class TForm2 : public QDialog {
    Q_OBJECT
public:
    // `language` "en" shows the English help, any other the German one.
    explicit TForm2(QWidget* parent = nullptr, const QString& language = QStringLiteral("de"));

    // The help text shown in Memo1.
    static QString HelpText(const QString& language = QStringLiteral("de"));

    // The help closes with OK (or Enter) only; Esc is not a way out of it.
    void reject() override {}

private:
    void BitBtn1Click();
};

}  // namespace tavoxa
