#include "web/sessions.h"

#include <sodium.h>

#include <QList>
#include <algorithm>
#include <chrono>

namespace tavoxa {

Sessions::Sessions(std::function<int64_t()> nowMs) : nowMs_(std::move(nowMs))
{
    if (!nowMs_) {
        nowMs_ = [] {
            return std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now().time_since_epoch())
                .count();
        };
    }
}

QByteArray Sessions::Create()
{
    if (static_cast<int>(sessions_.size()) >= kMaxSessions) {
        const auto oldest =
            std::min_element(sessions_.begin(), sessions_.end(),
                             [](const auto& a, const auto& b) { return a.second.order < b.second.order; });
        sessions_.erase(oldest);
    }
    unsigned char bytes[32];
    randombytes_buf(bytes, sizeof bytes);
    QByteArray token = QByteArray(reinterpret_cast<const char*>(bytes), sizeof bytes)
                           .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    sessions_[token] = Use{++uses_, nowMs_()};
    return token;
}

bool Sessions::Touch(const QByteArray& token)
{
    const auto it = sessions_.find(token);
    if (token.isEmpty() || it == sessions_.end())
        return false;
    const int64_t now = nowMs_();
    if (now - it->second.atMs > kSessionIdleMs) {
        sessions_.erase(it);
        return false;
    }
    it->second = Use{++uses_, now};
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
