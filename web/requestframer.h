// Follows the requests on one HTTP connection as their bytes arrive, before the HTTP server
// buffers them, so a request whose body is too large is refused from its headers alone and
// never read into memory. Pure: fed bytes, it says whether the connection may go on.
#pragma once

#include <QByteArray>
#include <cstdint>

namespace tavoxa {

constexpr int64_t kMaxBodyBytes = 64 * 1024;
constexpr int kMaxHeaderBytes = 16 * 1024;

class RequestFramer {
public:
    enum class Verdict {
        Go,               // nothing wrong so far
        BodyTooLarge,     // 413
        HeadersTooLarge,  // 431
        LengthRequired,   // 411: a body without Content-Length (chunked)
        Malformed,        // 400
        Upgraded,         // a protocol upgrade: the bytes after it are no longer HTTP
    };
    Verdict Feed(const char* data, int64_t size);

private:
    Verdict EndOfHeaders();

    QByteArray header_;
    int64_t bodyLeft_ = 0;
    Verdict final_ = Verdict::Go;
};

}  // namespace tavoxa
