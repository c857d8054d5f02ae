// Logged-in browsers: random tokens held in a cookie, at most 64 at a time; a new login beyond
// that ends the session used least recently, and a session unused for a week ends by itself.
//
// Threads: main thread only.
#pragma once

#include <QByteArray>
#include <cstdint>
#include <functional>
#include <map>

namespace tavoxa {

constexpr int kMaxSessions = 64;
constexpr int64_t kSessionIdleMs = 7LL * 24 * 3600 * 1000;
inline constexpr char kSessionCookie[] = "tavoxa_session";

class Sessions {
public:
    // `nowMs` is a monotonic clock in milliseconds; the steady clock when empty.
    explicit Sessions(std::function<int64_t()> nowMs = {});

    // A new session's token (43 characters of base64url from 32 random bytes).
    QByteArray Create();
    // Whether `token` is a live session; marks it used.
    bool Touch(const QByteArray& token);
    void End(const QByteArray& token);
    int Count() const { return static_cast<int>(sessions_.size()); }

private:
    struct Use {
        uint64_t order = 0;  // larger: used more recently
        int64_t atMs = 0;
    };
    std::function<int64_t()> nowMs_;
    std::map<QByteArray, Use> sessions_;
    uint64_t uses_ = 0;
};

// The session token of a Cookie header value, or empty.
QByteArray SessionTokenOfCookies(const QByteArray& cookieHeader);
// The Set-Cookie value for `token` (empty: the cookie removed).
QByteArray SessionCookie(const QByteArray& token, bool secure);

}  // namespace tavoxa
