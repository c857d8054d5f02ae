// The help window: a fixed German help text and an OK button.
#pragma once

#include <QDialog>

namespace tavoxa {

class TForm2 : public QDialog {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);

    // The help text shown in Memo1.
    static QString HelpText();

    // The help closes with OK (or Enter) only; Esc is not a way out of it.
    void reject() override {}

private:
    void BitBtn1Click();
};

}  // namespace tavoxa
