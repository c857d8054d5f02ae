#include "core/stderrreport.h"

#include <QCoreApplication>
#include <cstdio>

#include "core/switchinglog.h"

namespace tavoxa {

void StderrReport::Report(const QString& text)
{
    if (queue_) {
        queue_->Push(LogPriority::Error, LogTimeText(clock_.Now()),
                     QCoreApplication::applicationName() + QStringLiteral(": ") + text, false);
        return;
    }
    const QByteArray line =
        (LogTimeText(clock_.Now()) + QLatin1Char(' ') + QCoreApplication::applicationName() +
         QStringLiteral(": ") + text + QLatin1Char('\n'))
            .toUtf8();
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
    std::fflush(stderr);
}

}  // namespace tavoxa
