// Connection rules for the servers that take connections from the network: at most 32
// connections per address (IPv6 per /64) and a total cap; when the total cap is reached the
// oldest connection that never logged in and sent nothing for 10 s makes room.
//
// Threads: main thread only.
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <cstdint>
#include <map>

class QTcpSocket;

namespace tavoxa {

class ConnectionLimit {
public:
    explicit ConnectionLimit(int totalCap = 512, int perAddress = 32);
    ~ConnectionLimit();
    ConnectionLimit(const ConnectionLimit&) = delete;
    ConnectionLimit& operator=(const ConnectionLimit&) = delete;

    bool Admit(QTcpSocket* socket);       // false: close it; true: tracked until destroyed
    void MarkActive(QTcpSocket* socket);  // it sent something / logged in
    int Count() const { return static_cast<int>(sockets_.size()); }

private:
    struct Entry {
        QString key;
        int64_t admittedMs = 0;
        bool active = false;
    };
    friend class ConnectionLimitTracker;
    void Forget(QTcpSocket* socket);

    int totalCap_;
    int perAddress_;
    QElapsedTimer clock_;
    std::map<QTcpSocket*, Entry> sockets_;
    std::map<QString, int> perKey_;
};

}  // namespace tavoxa
