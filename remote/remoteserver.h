// ServerSocket1: the TCP server of remote access, on the user-interface thread.
//
// The server only moves bytes: each event goes through the pure steps of remote/protocol.h on
// the shared RemoteSettings and Model. It also holds the "Remote" check box logic, so the main
// window only forwards the box's state and shows the lamp.
#pragma once

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <cstdint>
#include <unordered_map>

#include "engine/model.h"
#include "remote/protocol.h"

class QTcpSocket;

namespace tavoxa {

// A message is whatever one read delivers; the socket reads at most this much at a time, so a
// client streaming endless data is held back by TCP instead of growing the server's memory.
constexpr qint64 kMaxMessageBytes = 64 * 1024;
// Replies queued for a client that does not read them are dropped past this much.
constexpr qint64 kMaxPendingReplyBytes = 64 * 1024;
// Listen queue of connections not yet accepted.
constexpr int kListenBacklog = 5;

class RemoteServer : public QObject {
    Q_OBJECT

public:
    RemoteServer(RemoteSettings& remote, Model& model, QObject* parent = nullptr);
    // Drops every connection without disconnect events.
    ~RemoteServer() override;

    // Sets the server's port to the low 16 bits of `portNumber` and listens. Fails when the
    // port cannot be bound, or when the server is already open on a different port; the same
    // port again succeeds and leaves the open server as it is. Port 0 lets the system choose.
    bool Open(int32_t portNumber);
    // Drops every connection without disconnect events, then stops listening. Closing a closed
    // server does nothing. The lamp and RemoteState are left as they are.
    void Close();
    bool IsOpen() const;
    // The port actually bound while open (the chosen one after opening on port 0), else 0.
    uint16_t BoundPort() const;
    // Client connections currently served.
    int ConnectionCount() const { return static_cast<int>(connections_.size()); }
    bool LampGreen() const { return remote_.LampGreen; }

    // The address to listen on; all local addresses unless a test or benchmark narrows it to
    // the loopback. Takes effect at the next opening.
    void SetListenAddress(const QHostAddress& address) { address_ = address; }

    // End of every second tick: when the close is due, closes the server and returns to Idle.
    void RemoteCloseStep();

    // CheckBox7Click: the "Remote" box changed to `checked`. Checked opens the server on
    // TextToInt(RemotePort); on failure the server is closed and false is returned, and the
    // caller unchecks the box, which calls this again with false. Unchecked with the lamp
    // green makes the close pending (the server stays open until the refused client leaves);
    // with the lamp red closes the server at once. Returns true in every other case.
    bool RemoteSwitched(bool checked);

signals:
    // The connection lamp Label58 changed colour: green = a client connected.
    void LampChanged(bool green);
    // A remote switching command changed RelayBits.
    void RelayBitsChanged();
    // One message of a client has been handled (its reply, if any, is queued).
    void MessageHandled();

private:
    void AcceptPending();
    void ServerSocket1ClientConnect(QTcpSocket* socket);
    void ServerSocket1ClientRead(QTcpSocket* socket);
    // Runs for a normal close and for a failed connection alike, once per connection.
    void ServerSocket1ClientDisconnect(QTcpSocket* socket);
    void Send(QTcpSocket* socket, std::string_view bytes);
    void ReportLamp(bool before);

    RemoteSettings& remote_;
    Model& model_;
    QTcpServer server_;
    QHostAddress address_{QHostAddress::Any};
    uint16_t port_ = kDefaultRemotePort;  // the server's own port setting
    std::unordered_map<QTcpSocket*, RemoteConnection> connections_;
};

}  // namespace tavoxa
