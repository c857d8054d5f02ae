// An editable drop-down selector whose position is the index of the chosen entry, -1 while its
// field holds typed text instead of a chosen entry.
//
// Only the user moves a selector through UserChanged: choosing an entry (list, arrow keys,
// wheel, or Enter on a text equal to an entry) or typing. SetPosition is for the view refresh
// and never echoes, so a handler that refreshes the view cannot call itself.
#pragma once

#include <QComboBox>
#include <QStringList>

namespace tavoxa {

class Selector : public QComboBox {
    Q_OBJECT
public:
    explicit Selector(const QStringList& entries, QWidget* parent = nullptr);

    int Position() const { return typed_ ? -1 : currentIndex(); }
    // A position outside the entries shows no entry (and clears the field). Setting the position
    // the selector already has changes nothing, so text being typed survives a refresh that
    // shows -1.
    void SetPosition(int position);

signals:
    void UserChanged(int position);

private:
    bool typed_ = false;
};

}  // namespace tavoxa
