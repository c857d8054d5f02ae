// The error report: what the user sees when an error escapes an event handler.
//
// Errors are raised, not returned (file errors carry their German message); each event handler
// of the window lets them run up to its own boundary, where RunReported shows them and the
// program carries on with the next event.
#pragma once

#include <QString>
#include <exception>
#include <functional>

class QWidget;

namespace tavoxa {

// The text shown: the message with a full stop added when its last character sorts above ".".
QString ErrorReportText(const QString& message);

// A modal critical box titled with the application's display name, showing ErrorReportText.
void ShowErrorReport(QWidget* parent, const QString& message);

// Replaces the modal box, e.g. with a recorder in tests; it receives the finished text. An
// empty function restores the box. Returns the hook that was installed before.
using ErrorReportHook = std::function<void(QWidget* parent, const QString& text)>;
ErrorReportHook SetErrorReportHook(ErrorReportHook hook);

// Runs one event handler and reports what escapes it. True when it ran to its end.
template <typename Handler>
bool RunReported(QWidget* parent, Handler&& handler)
{
    try {
        handler();
        return true;
    } catch (const std::exception& e) {
        ShowErrorReport(parent, QString::fromUtf8(e.what()));
    } catch (...) {
        ShowErrorReport(parent, QStringLiteral("Unbekannter Fehler"));
    }
    return false;
}

}  // namespace tavoxa
