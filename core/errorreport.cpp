#include "core/errorreport.h"

#include <QCoreApplication>

#include "storage/ioerror.h"

namespace tavoxa {

QString ErrorReportText(const QString& message)
{
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

QString ExceptionMessage(const std::exception& e)
{
    const auto* io = dynamic_cast<const IoError*>(&e);
    if (!io)
        return QString::fromUtf8(e.what());
    QString text = QCoreApplication::translate("tavoxa::IoError", IoErrorSourceText(io->Code()));
    if (text.contains(QLatin1String("%1")))
        text = text.arg(io->Code());
    return text;
}

QString UnknownErrorMessage()
{
    return QCoreApplication::translate("tavoxa::ErrorReport", "Unbekannter Fehler");
}

}  // namespace tavoxa
