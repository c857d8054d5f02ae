#include "web/sessions.h"

#include <sodium.h>

#include <QList>
#include <algorithm>

namespace tavoxa {

QByteArray Sessions::Create()
{
    if (static_cast<int>(sessions_.size()) >= kMaxSessions) {
        const auto oldest =
            std::min_element(sessions_.begin(), sessions_.end(),
                             [](const auto& a, const auto& b) { return a.second < b.second; });
        sessions_.erase(oldest);
    }
    unsigned char bytes[32];
    randombytes_buf(bytes, sizeof bytes);
    const QByteArray token = QByteArray(reinterpret_cast<const char*>(bytes), sizeof bytes)
                                 .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    sessions_[token] = ++uses_;
    return token;
}

bool Sessions::Touch(const QByteArray& token)
{
    const auto it = sessions_.find(token);
    if (token.isEmpty() || it == sessions_.end())
        return false;
    it->second = ++uses_;
    return true;
}

void Sessions::End(const QByteArray& token)
{
    sessions_.erase(token);
}

QByteArray SessionTokenOfCookies(const QByteArray& cookieHeader)
{
    for (const QByteArray& part : cookieHeader.split(';')) {
        const QByteArray p = part.trimmed();
        const qsizetype eq = p.indexOf('=');
        if (eq > 0 && p.left(eq) == kSessionCookie)
            return p.mid(eq + 1);
    }
    return {};
}

QByteArray SessionCookie(const QByteArray& token, bool secure)
{
    QByteArray c = QByteArray(kSessionCookie) + '=' + token + "; Path=/; HttpOnly; SameSite=Strict";
    if (token.isEmpty())
        c += "; Max-Age=0";
    if (secure)
        c += "; Secure";
    return c;
}

}  // namespace tavoxa
