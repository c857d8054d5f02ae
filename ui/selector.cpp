#include "ui/selector.h"

#include <QLineEdit>
#include <QSignalBlocker>

namespace tavoxa {

Selector::Selector(const QStringList& entries, QWidget* parent) : QComboBox(parent)
{
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    // No completion: the field holds exactly what was typed, and typed text is no choice.
    setCompleter(nullptr);
    addItems(entries);
    setMaxVisibleItems(static_cast<int>(entries.size()));

    connect(this, &QComboBox::activated, this, [this](int index) {
        typed_ = false;
        emit UserChanged(index);
    });
    connect(lineEdit(), &QLineEdit::textEdited, this, [this] {
        typed_ = true;
        emit UserChanged(-1);
    });
    // QComboBox activates a typed entry on Enter only when it differs from the current one;
    // typing the current entry's text again and pressing Enter chooses it as well.
    connect(lineEdit(), &QLineEdit::editingFinished, this, [this] {
        if (!typed_)
            return;
        const int index = findText(lineEdit()->text(), Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (index < 0)
            return;
        {
            const QSignalBlocker blocker(this);
            setCurrentIndex(index);
        }
        typed_ = false;
        emit UserChanged(index);
    });
}

void Selector::SetPosition(int position)
{
    if (position < 0 || position >= count())
        position = -1;
    if (position == Position())
        return;
    const QSignalBlocker blocker(this);
    typed_ = false;
    setCurrentIndex(position);
}

}  // namespace tavoxa
