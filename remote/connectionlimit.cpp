#include "remote/connectionlimit.h"

#include <QTcpSocket>

namespace tavoxa {

// A child of each tracked socket that tells the limit when the socket goes. The socket's own
// `destroyed` signal would not do: a socket upgraded to a web socket loses every connection to
// its signals.
class ConnectionTracker : public QObject {
public:
    ConnectionTracker(ConnectionLimit* limit, QTcpSocket* socket)
        : QObject(socket), limit_(limit), socket_(socket)
    {
    }
    ~ConnectionTracker() override
    {
        if (limit_)
            limit_->Forget(socket_);
    }
    // The limit no longer tracks the socket (released, evicted, or the limit itself ends).
    void Disarm() { limit_ = nullptr; }

private:
    ConnectionLimit* limit_;
    QTcpSocket* socket_;  // a key only: never dereferenced here
};

ConnectionLimit::ConnectionLimit(int totalCap, const MonotonicClock* clock, QObject* parent)
    : QObject(parent), clock_(clock), totalCap_(totalCap)
{
    if (!clock_) {
        ownClock_ = std::make_unique<SteadyMonotonicClock>();
        clock_ = ownClock_.get();
    }
}

ConnectionLimit::~ConnectionLimit()
{
    for (auto& entry : entries_)
        entry.second.tracker->Disarm();
}

bool ConnectionLimit::Admit(QTcpSocket* socket)
{
    if (!socket || entries_.count(socket))
        return socket != nullptr;
    const QString key = PeerKey(socket->peerAddress());
    if (perPeer_.value(key) >= kMaxConnectionsPerAddress)
        return false;
    const int64_t now = clock_->NowMs();
    if (Count() >= totalCap_) {
        QTcpSocket* victim = Victim(key, now);
        if (!victim)
            return false;
        Forget(victim);
        ++evicted_;
        victim->abort();
    }
    Entry entry;
    entry.key = key;
    entry.order = nextOrder_++;
    entry.lastActiveMs = now;
    // A socket deleted without Release() leaves no stale entry, and its address is never
    // dereferenced again.
    entry.tracker = new ConnectionTracker(this, socket);
    entries_.emplace(socket, std::move(entry));
    ++perPeer_[key];
    return true;
}

QTcpSocket* ConnectionLimit::Victim(const QString& key, int64_t now) const
{
    QTcpSocket* idle = nullptr;
    uint64_t idleOrder = UINT64_MAX;
    QString busiest;
    int busiestCount = 0;
    for (auto it = perPeer_.cbegin(); it != perPeer_.cend(); ++it)
        if (it.value() > busiestCount) {
            busiest = it.key();
            busiestCount = it.value();
        }
    QTcpSocket* crowded = nullptr;
    uint64_t crowdedOrder = UINT64_MAX;
    const bool newcomerIsSmaller = busiestCount > perPeer_.value(key) + 1;
    for (const auto& [socket, entry] : entries_) {
        if (entry.loggedIn)
            continue;
        if (now - entry.lastActiveMs >= kIdleBeforeEvictionMs && entry.order < idleOrder) {
            idle = socket;
            idleOrder = entry.order;
        }
        if (newcomerIsSmaller && entry.key == busiest && entry.order < crowdedOrder) {
            crowded = socket;
            crowdedOrder = entry.order;
        }
    }
    return idle ? idle : crowded;
}

void ConnectionLimit::MarkActive(QTcpSocket* socket)
{
    const auto it = entries_.find(socket);
    if (it == entries_.end())
        return;
    it->second.lastActiveMs = clock_->NowMs();
}

void ConnectionLimit::MarkLoggedIn(QTcpSocket* socket)
{
    const auto it = entries_.find(socket);
    if (it != entries_.end())
        it->second.loggedIn = true;
}

void ConnectionLimit::Release(QTcpSocket* socket)
{
    Forget(socket);
}

void ConnectionLimit::Forget(QTcpSocket* socket)
{
    const auto it = entries_.find(socket);
    if (it == entries_.end())
        return;
    // Called from the tracker's own destructor too: disarming it there is harmless.
    it->second.tracker->Disarm();
    const auto count = perPeer_.find(it->second.key);
    if (count != perPeer_.end() && --count.value() <= 0)
        perPeer_.erase(count);
    entries_.erase(it);
}

}  // namespace tavoxa
