// The error report: how a failure the user must know of reaches the user. The window shows it
// in a box; a program without a display writes it to standard error and goes on.
#pragma once

#include <QString>
#include <exception>

namespace tavoxa {

// The text shown: the message with a full stop added when its last character sorts above ".".
QString ErrorReportText(const QString& message);

// The message of what escaped a handler, in the language of the installed translation: a file
// error's by its code, any other's as it says. Without a translation it is the German text.
QString ExceptionMessage(const std::exception& e);
QString UnknownErrorMessage();

class ErrorReport {
public:
    virtual ~ErrorReport() = default;
    // `text` is the finished text (ErrorReportText of the message).
    virtual void Report(const QString& text) = 0;
};

// Runs one user action or tick and reports what escapes it. True when it ran to its end.
template <typename Handler>
bool RunReported(ErrorReport& report, Handler&& handler)
{
    try {
        handler();
        return true;
    } catch (const std::exception& e) {
        report.Report(ErrorReportText(ExceptionMessage(e)));
    } catch (...) {
        report.Report(ErrorReportText(UnknownErrorMessage()));
    }
    return false;
}

}  // namespace tavoxa
