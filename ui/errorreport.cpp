#include "ui/errorreport.h"

#include <QApplication>
#include <QMessageBox>

namespace tavoxa {

void MessageBoxReport::Report(const QString& text)
{
    if (other_) {
        other_->Report(text);
        return;
    }
    QWidget* over = QApplication::activeWindow() ? QApplication::activeWindow() : parent_;
    QMessageBox::critical(over, QGuiApplication::applicationDisplayName(), text);
}

}  // namespace tavoxa
