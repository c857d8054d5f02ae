#include "core/switchinglog.h"

#include <cstdio>

namespace tavoxa {

QString LogTimeText(const LocalDateTime& t)
{
    return QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                             t.second);
}

SwitchingLog::SwitchingLog(const Clock& clock) : clock_(clock)
{
    sink_ = [](const QByteArray& line) {
        std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
        std::fflush(stderr);
    };
}

bool SwitchingLog::OpenFile(const QString& path, QString* error)
{
    file_.close();
    file_.setFileName(path);
    fileFailed_ = false;
    if (file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return true;
    if (error)
        *error = file_.errorString();
    return false;
}

void SwitchingLog::Write(const QString& text)
{
    WriteAt(clock_.Now(), text);
}

void SwitchingLog::WriteAt(const LocalDateTime& t, const QString& text)
{
    const QByteArray line = (LogTimeText(t) + QLatin1Char(' ') + text + QLatin1Char('\n')).toUtf8();
    sink_(line);
    emit LineWritten(LogTimeText(t) + QLatin1Char(' ') + text);
    if (!file_.isOpen() || fileFailed_)
        return;
    if (file_.write(line) != line.size()) {
        fileFailed_ = true;
        const QByteArray report = (LogTimeText(t) + QStringLiteral(" log file ") + file_.fileName() +
                                   QStringLiteral(" cannot be written: ") + file_.errorString() +
                                   QStringLiteral("; logging to standard error only\n"))
                                      .toUtf8();
        sink_(report);
    }
}

}  // namespace tavoxa
