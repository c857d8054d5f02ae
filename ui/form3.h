// Form3, "IP Remote Config": edits the port and password of remote access.
#pragma once

#include <QDialog>

#include "remote/protocol.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace tavoxa {

class TForm3 : public QDialog {
    Q_OBJECT
public:
    // Reads and writes RemotePort and RemotePassword of `remote`; the fields start empty until
    // the main window's activation calls Refill.
    explicit TForm3(RemoteSettings& remote, QWidget* parent = nullptr);

    // FormActivate of the main window: the fields show the stored port and password again, so
    // texts abandoned with the close icon are gone the next time the dialog opens.
    void Refill();

    // "Ok": both texts taken over as typed (no check; a new port counts the next time remote
    // access is switched on), then the dialog closes.
    // A text with a character that does not fit in one byte (such as "€") is refused with a
    // message and nothing is taken over: the stored texts and the login compare single bytes.
    void Button1Click();

    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;    // says that remote switching stays locked while the password is empty
    QLineEdit* Edit1;  // port
    QLineEdit* Edit2;  // password, shown in clear
    QPushButton* Button1;

private:
    RemoteSettings& remote_;
};

}  // namespace tavoxa
