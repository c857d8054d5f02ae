#include "core/errorreport.h"

namespace tavoxa {

QString ErrorReportText(const QString& message)
{
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

}  // namespace tavoxa
