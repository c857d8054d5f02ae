// ConnectionLimit: which client connections a server takes, so that no address can shut the
// others out by opening connections and leaving them idle.
//
// At most kMaxConnectionsPerAddress per address (an IPv6 address counted by its /64). At the
// total cap a newcomer makes room by closing the oldest connection that has never logged in and
// has sent nothing for the last kIdleBeforeEvictionMs; when there is none, the oldest never-logged-in
// connection of the address holding the most, if that address holds more than the newcomer's.
// So a client from another address is served however many connections one address holds.
//
// Threads: main thread, like the sockets it tracks.
#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <unordered_map>

#include "remote/peeraddress.h"

class QTcpSocket;

namespace tavoxa {

class ConnectionTracker;

constexpr int kMaxConnectionsPerAddress = 32;
constexpr int64_t kIdleBeforeEvictionMs = 10000;

class ConnectionLimit : public QObject {
    Q_OBJECT

public:
    // `clock` (not owned, may be null for the steady clock) must outlive the limit.
    explicit ConnectionLimit(int totalCap, const MonotonicClock* clock = nullptr, QObject* parent = nullptr);
    ~ConnectionLimit() override;

    // False: the caller closes `socket` unserved. True: it is tracked until it is destroyed or
    // Release()d. Making room aborts another tracked socket, which stops being tracked at once
    // (its owner sees it disconnect).
    bool Admit(QTcpSocket* socket);
    // `socket` sent something.
    void MarkActive(QTcpSocket* socket);
    // `socket` logged in: it is never closed to make room.
    void MarkLoggedIn(QTcpSocket* socket);
    // Stops tracking `socket` (its owner is done with it before destroying it).
    void Release(QTcpSocket* socket);

    int Count() const { return static_cast<int>(entries_.size()); }
    int CountFor(const QHostAddress& address) const { return perPeer_.value(PeerKey(address)); }
    int TotalCap() const { return totalCap_; }
    void SetTotalCap(int cap) { totalCap_ = cap; }
    // Connections closed to make room so far.
    int64_t Evicted() const { return evicted_; }

private:
    struct Entry {
        QString key;
        uint64_t order = 0;  // admission order: lower is older
        int64_t lastActiveMs = 0;
        bool loggedIn = false;
        ConnectionTracker* tracker = nullptr;  // a child of the socket, gone with it
    };

    // The tracked socket to close for a newcomer from `key`, or null.
    QTcpSocket* Victim(const QString& key, int64_t now) const;
    void Forget(QTcpSocket* socket);
    friend class ConnectionTracker;

    std::unique_ptr<SteadyMonotonicClock> ownClock_;
    const MonotonicClock* clock_;
    int totalCap_;
    std::unordered_map<QTcpSocket*, Entry> entries_;
    QHash<QString, int> perPeer_;
    uint64_t nextOrder_ = 0;
    int64_t evicted_ = 0;
};

}  // namespace tavoxa
