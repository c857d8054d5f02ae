// The error report of a program with a display: a modal critical box titled with the
// application's display name.
#pragma once

#include "core/errorreport.h"

class QWidget;

namespace tavoxa {

class MessageBoxReport : public ErrorReport {
public:
    // Boxes open over the active window, or over `parent` when none is active.
    explicit MessageBoxReport(QWidget* parent = nullptr) : parent_(parent) {}
    void SetParent(QWidget* parent) { parent_ = parent; }
    // From now on reports go to `other` instead of a box (once the program is stopping, nobody
    // may be left to answer one).
    void SendTo(ErrorReport* other) { other_ = other; }
    void Report(const QString& text) override;

private:
    QWidget* parent_;
    ErrorReport* other_ = nullptr;
};

}  // namespace tavoxa
