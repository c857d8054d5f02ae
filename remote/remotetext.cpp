#include "remote/remotetext.h"

namespace tavoxa {

QString RemoteText(const std::string& bytes)
{
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::optional<std::string> RemoteTextBytes(const QString& text, QChar* refused)
{
    for (const QChar c : text) {
        if (c.unicode() > 0xFF) {
            if (refused)
                *refused = c;
            return std::nullopt;
        }
    }
    return text.toLatin1().toStdString();
}

}  // namespace tavoxa
