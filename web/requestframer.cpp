#include "web/requestframer.h"

#include <QList>
#include <algorithm>

namespace tavoxa {

RequestFramer::Verdict RequestFramer::Feed(const char* data, int64_t size)
{
    int64_t i = 0;
    while (final_ == Verdict::Go && i < size) {
        if (bodyLeft_ > 0) {
            const int64_t n = std::min(bodyLeft_, size - i);
            bodyLeft_ -= n;
            i += n;
            continue;
        }
        // Headers: up to the empty line; CR LF between requests is tolerated.
        const char c = data[i++];
        if (header_.isEmpty() && (c == '\r' || c == '\n'))
            continue;
        header_.append(c);
        if (header_.size() > kMaxHeaderBytes) {
            final_ = Verdict::HeadersTooLarge;
            break;
        }
        if (header_.endsWith("\r\n\r\n") || header_.endsWith("\n\n")) {
            final_ = EndOfHeaders();
            header_.clear();
        }
    }
    return final_;
}

RequestFramer::Verdict RequestFramer::EndOfHeaders()
{
    const QList<QByteArray> lines = header_.split('\n');
    if (lines.isEmpty() || lines.first().trimmed().split(' ').size() != 3)
        return Verdict::Malformed;
    bool haveLength = false;
    int64_t length = 0;
    bool upgrade = false;
    for (qsizetype l = 1; l < lines.size(); ++l) {
        const QByteArray line = lines[l].trimmed();
        if (line.isEmpty())
            continue;
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            return Verdict::Malformed;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "content-length") {
            bool ok = false;
            const qlonglong n = value.toLongLong(&ok);
            if (!ok || n < 0 || (haveLength && n != length))
                return Verdict::Malformed;
            haveLength = true;
            length = n;
        } else if (name == "transfer-encoding") {
            return Verdict::LengthRequired;
        } else if (name == "upgrade") {
            upgrade = true;
        }
    }
    if (length > kMaxBodyBytes)
        return Verdict::BodyTooLarge;
    if (upgrade)
        return Verdict::Upgraded;
    bodyLeft_ = length;
    return Verdict::Go;
}

}  // namespace tavoxa
