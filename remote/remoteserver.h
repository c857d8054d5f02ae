// ServerSocket1: the TCP server of remote access, on the user-interface thread.
//
// The server only moves bytes: each event goes through the pure steps of remote/protocol.h on
// the shared RemoteSettings and Model. It also holds the "Remote" check box logic, so the main
// window only forwards the box's state and shows the lamp.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QTimer>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "engine/model.h"
#include "remote/connectionlimit.h"
#include "remote/loginguard.h"
#include "remote/protocol.h"

class QTcpSocket;

namespace tavoxa {

// The socket reads at most kMaxMessageBytes at a time, so a client streaming endless data is
// held back by TCP instead of growing the server's memory.
// Replies queued for a client that does not read them are dropped past this much.
constexpr qint64 kMaxPendingReplyBytes = 64 * 1024;
// Listen queue of connections not yet accepted.
constexpr int kListenBacklog = 5;
// Connections served at once, so idle connections cannot use up the file descriptors the
// program needs to write its files; ConnectionLimit decides who makes room.
constexpr int kMaxConnections = 256;
// At the descriptor limit the server stops accepting for this long rather than retrying at once.
constexpr int kAcceptPauseMs = 500;
// How often connections held behind the login guard are looked at for a peer that has gone.
constexpr int kHeldSweepMs = 250;

class RemoteServer : public QObject {
    Q_OBJECT

public:
    // `clock` (may be null for the steady clock) times the login budget and idle connections;
    // it must outlive the server.
    RemoteServer(RemoteSettings& remote, Model& model, QObject* parent = nullptr,
                 const MonotonicClock* clock = nullptr);
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

    // The login guard the server asks before each password check; its own one unless the
    // program shares one between all ways of logging in. `guard` must outlive the server.
    void SetLoginGuard(LoginGuard* guard);
    LoginGuard& loginGuard() { return *guard_; }
    ConnectionLimit& connectionLimit() { return limit_; }
    // Bytes read from clients and not yet handled, over all connections.
    qint64 UnreadBytes() const;

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
    // A log line of the login guard (failed logins, at most one line a second).
    void LogLine(const QString& line);
    // Accepting stopped for kAcceptPauseMs: no descriptor was left for a new connection.
    void AcceptPaused();
    // The bytes of one read of a client have been dealt with: every message in them handled
    // (replies queued), an unfinished line kept. A slowed-down login delays it.
    void MessageHandled();

private:
    struct Client {
        RemoteConnection record;
        QHostAddress address;
        std::string peer;  // the peer address as text (IPv4 without the IPv6 mapping)
        // The last read, not yet all handled: it waits, uncut, behind a login the guard holds,
        // and the socket is not read meanwhile. So one connection holds at most one read
        // (kMaxMessageBytes) and one waiting login.
        QByteArray unread;
        qsizetype unreadAt = 0;
        bool held = false;
        int failedLogins = 0;
    };

    void AcceptPending();
    void PauseAccepting();
    void ServerSocket1ClientConnect(QTcpSocket* socket);
    void ServerSocket1ClientRead(QTcpSocket* socket);
    // Handles the unread messages of `socket` in order, until one is a login that must wait.
    // False when the connection is gone or held.
    bool HandleWaiting(QTcpSocket* socket);
    void HandleMessage(QTcpSocket* socket, Client& client, const std::string& message);
    void LoginChecked(QTcpSocket* socket, const std::string& message);
    // Ends held connections whose peer has gone: Qt does not watch a socket whose read buffer
    // is full, so without this a closed connection would keep its memory until its check.
    void SweepHeld();
    void ScheduleTrim();
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
    LoginGuard ownGuard_;
    LoginGuard* guard_ = &ownGuard_;
    ConnectionLimit limit_;
    QTimer* sweep_ = nullptr;
    bool trimPending_ = false;
};

}  // namespace tavoxa
