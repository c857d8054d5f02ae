#include "remote/passwordfile.h"

#include <QFile>

namespace tavoxa {

std::optional<QByteArray> ReadPasswordFile(const QString& path, QString& error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read the password file %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    QByteArray line = file.readLine(64 * 1024);
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return line;
}

}  // namespace tavoxa
