// Logged-in browsers: random tokens held in a cookie, at most 64 at a time; a new login beyond
// that ends the session used least recently.
//
// Threads: main thread only.
#pragma once

#include <QByteArray>
#include <cstdint>
#include <map>

namespace tavoxa {

constexpr int kMaxSessions = 64;
inline constexpr char kSessionCookie[] = "tavoxa_session";

class Sessions {
public:
    // A new session's token (43 characters of base64url from 32 random bytes).
    QByteArray Create();
    // Whether `token` is a live session; marks it used.
    bool Touch(const QByteArray& token);
    void End(const QByteArray& token);
    int Count() const { return static_cast<int>(sessions_.size()); }

private:
    std::map<QByteArray, uint64_t> sessions_;  // token -> last use (a counter)
    uint64_t uses_ = 0;
};

// The session token of a Cookie header value, or empty.
QByteArray SessionTokenOfCookies(const QByteArray& cookieHeader);
// The Set-Cookie value for `token` (empty: the cookie removed).
QByteArray SessionCookie(const QByteArray& token, bool secure);

}  // namespace tavoxa
