// ServerSocket1: the TCP server of remote access, on the user-interface thread.
//
// The server only moves bytes: each event goes through the pure steps of remote/protocol.h on
// the shared RemoteSettings and Model. It also holds the "Remote" check box logic, so the main
// window only forwards the box's state and shows the lamp.
#pragma once

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>

#include "engine/model.h"
#include "remote/protocol.h"

class QTcpSocket;

namespace tavoxa {

// The socket reads at most kMaxMessageBytes at a time, so a client streaming endless data is
// held back by TCP instead of growing the server's memory.
// Replies queued for a client that does not read them are dropped past this much.
constexpr qint64 kMaxPendingReplyBytes = 64 * 1024;
// Listen queue of connections not yet accepted.
constexpr int kListenBacklog = 5;
// Connections served at once; further ones are closed as they arrive, so idle connections cannot
// use up the file descriptors the program needs to write its files.
constexpr int kMaxConnections = 256;

class RemoteServer : public QObject {
    Q_OBJECT

public:
    RemoteServer(RemoteSettings& remote, Model& model, QObject* parent = nullptr);
    // Drops every connection without disconnect events.
    ~RemoteServer() override;

    // Sets the server's port to the low 16 bits of `portNumber` and listens. Fails when the
    // port cannot be bound, or when the server is already open on a different port; the same
    // port again succeeds and leaves the open server as it is. Port 0 lets the system choose.
    // After a failure, LastError() says why.
    bool Open(int32_t portNumber);
    // Why the last failed opening failed (the system's reason when the port could not be
    // bound); empty after a successful one.
    QString LastError() const { return lastError_; }
    // Drops every connection without disconnect events, then stops listening. Closing a closed
    // server does nothing. ClientConnectedLast and RemoteState are left as they are, and so are
    // the slowed-down addresses.
    void Close();
    bool IsOpen() const;
    // The port actually bound while open (the chosen one after opening on port 0), else 0.
    uint16_t BoundPort() const;
    // Client connections currently served.
    int ConnectionCount() const { return static_cast<int>(connections_.size()); }
    bool ClientConnectedLast() const { return remote_.ClientConnectedLast; }

    // The address to listen on; all local addresses unless a test or benchmark narrows it to
    // the loopback. Takes effect at the next opening.
    void SetListenAddress(const QHostAddress& address) { address_ = address; }

    // End of every second tick: when the close is due, closes the server and returns to Idle.
    void RemoteCloseStep();

    // The "Remote" switch changed to `checked`. Checked opens the server on
    // RemotePortNumber(RemotePort); on failure the server is closed and false is returned, and
    // the caller unchecks the box, which calls this again with false. Unchecked with
    // ClientConnectedLast set makes the close pending (the server stays open until the refused
    // client leaves); otherwise closes the server at once. Returns true in every other case.
    bool RemoteSwitched(bool checked);

signals:
    // RemoteSettings::ClientConnectedLast changed (the window's connection lamp shows it).
    void ClientConnectedLastChanged(bool connected);
    // A remote switching command from the client at address `peer` changed RelayBits.
    void RelayBitsChanged(const QString& peer);
    // A login attempt from address `peer` was refused.
    void LoginFailed(const QString& peer);
    // The bytes of one read of a client have been dealt with: every message in them handled
    // (replies queued), an unfinished line kept. A slowed-down login delays it.
    void MessageHandled();

private:
    struct Client {
        RemoteConnection record;
        std::string peer;  // the peer address as text (IPv4 without the IPv6 mapping)
        // Messages of the last read not handled yet: they wait behind a slowed-down login,
        // and the socket is not read meanwhile.
        std::deque<std::string> waiting;
        bool held = false;
    };

    void AcceptPending();
    void ServerSocket1ClientConnect(QTcpSocket* socket);
    void ServerSocket1ClientRead(QTcpSocket* socket);
    // Handles the waiting messages of `socket` in order, until one is a login that must wait.
    void HandleWaiting(QTcpSocket* socket);
    void HandleMessage(QTcpSocket* socket, Client& client, const std::string& message);
    void LoginWaitOver(QTcpSocket* socket);
    // Runs for a normal close and for a failed connection alike, once per connection.
    void ServerSocket1ClientDisconnect(QTcpSocket* socket);
    void Send(QTcpSocket* socket, std::string_view bytes);
    void ReportConnectedLast(bool before);

    RemoteSettings& remote_;
    Model& model_;
    QTcpServer server_;
    QHostAddress address_{QHostAddress::Any};
    uint16_t port_ = kDefaultRemotePort;  // the server's own port setting
    QString lastError_;
    std::unordered_map<QTcpSocket*, Client> connections_;
    RemoteLoginThrottle throttle_;
    QElapsedTimer clock_;  // the throttle's monotonic time
};

}  // namespace tavoxa
