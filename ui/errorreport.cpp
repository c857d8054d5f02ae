#include "ui/errorreport.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <utility>

namespace tavoxa {
namespace {

ErrorReportHook& Hook()
{
    static ErrorReportHook hook;
    return hook;
}

}  // namespace

QString ErrorReportText(const QString& message)
{
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

void ShowErrorReport(QWidget* parent, const QString& message)
{
    const QString text = ErrorReportText(message);
    if (Hook()) {
        Hook()(parent, text);
        return;
    }
    QMessageBox::critical(parent, QGuiApplication::applicationDisplayName(), text);
}

ErrorReportHook SetErrorReportHook(ErrorReportHook hook)
{
    return std::exchange(Hook(), std::move(hook));
}

}  // namespace tavoxa
