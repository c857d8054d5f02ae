#include "remote/connectionlimit.h"

#include <QHostAddress>
#include <QObject>
#include <QTcpSocket>

namespace tavoxa {

// A child of each tracked socket: it goes with the socket whatever disconnects the socket's
// signals (an upgraded web socket loses them all).
class ConnectionLimitTracker : public QObject {
public:
    ConnectionLimitTracker(ConnectionLimit* limit, QTcpSocket* socket)
        : QObject(socket), limit_(limit), socket_(socket)
    {
    }
    ~ConnectionLimitTracker() override
    {
        if (limit_)
            limit_->Forget(socket_);
    }
    ConnectionLimit* limit_;
    QTcpSocket* socket_;
};

namespace {

constexpr int64_t kIdleMs = 10000;

QString AddressKey(const QHostAddress& address)
{
    bool v4 = false;
    const quint32 ip4 = address.toIPv4Address(&v4);
    if (v4)
        return QHostAddress(ip4).toString();
    Q_IPV6ADDR ip6 = address.toIPv6Address();
    for (int i = 8; i < 16; ++i)
        ip6[i] = 0;
    return QHostAddress(ip6).toString() + QStringLiteral("/64");
}

}  // namespace

ConnectionLimit::ConnectionLimit(int totalCap, int perAddress) : totalCap_(totalCap), perAddress_(perAddress)
{
    clock_.start();
}

ConnectionLimit::~ConnectionLimit()
{
    for (auto& [socket, entry] : sockets_) {
        for (QObject* child : socket->children()) {
            if (auto* tracker = dynamic_cast<ConnectionLimitTracker*>(child))
                tracker->limit_ = nullptr;
        }
    }
}

bool ConnectionLimit::Admit(QTcpSocket* socket)
{
    const QString key = AddressKey(socket->peerAddress());
    if (perKey_[key] >= perAddress_)
        return false;
    if (static_cast<int>(sockets_.size()) >= totalCap_) {
        const int64_t now = clock_.elapsed();
        QTcpSocket* oldest = nullptr;
        int64_t oldestMs = 0;
        for (const auto& [s, e] : sockets_) {
            if (!e.active && now - e.admittedMs >= kIdleMs && (!oldest || e.admittedMs < oldestMs)) {
                oldest = s;
                oldestMs = e.admittedMs;
            }
        }
        if (!oldest)
            return false;
        Forget(oldest);
        oldest->abort();
        oldest->deleteLater();
    }
    sockets_[socket] = Entry{key, clock_.elapsed(), false};
    ++perKey_[key];
    new ConnectionLimitTracker(this, socket);
    return true;
}

void ConnectionLimit::MarkActive(QTcpSocket* socket)
{
    const auto it = sockets_.find(socket);
    if (it != sockets_.end())
        it->second.active = true;
}

void ConnectionLimit::Forget(QTcpSocket* socket)
{
    const auto it = sockets_.find(socket);
    if (it == sockets_.end())
        return;
    if (--perKey_[it->second.key] <= 0)
        perKey_.erase(it->second.key);
    sockets_.erase(it);
}

}  // namespace tavoxa
