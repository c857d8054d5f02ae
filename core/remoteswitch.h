// The "Remote" switch: the TCP remote server switched on and off, a port that cannot be bound
// tried again while nobody can switch it (unattended), and the server's lines in the switching
// log. The server itself changes the relay byte; the core commits what it changed.
//
// Threads: the main thread, as the server and its sockets.
#pragma once

#include <QObject>
#include <memory>

#include "core/switchinglog.h"
#include "engine/model.h"
#include "remote/protocol.h"

class QTimer;

namespace tavoxa {

class RemoteServer;

class RemoteSwitch : public QObject {
    Q_OBJECT
public:
    RemoteSwitch(Model& model, SwitchingLog& log, QObject* parent = nullptr);
    ~RemoteSwitch() override;

    // Unattended a port that cannot be bound keeps the switch on and is tried again; with a
    // display the switch goes off, and the user sees it.
    void SetUnattended(bool unattended) { unattended_ = unattended; }
    // How often an unbound port is tried again while unattended (10 s).
    void SetRetryInterval(int ms);
    // Returns the state the switch must show: false when the server could not be opened.
    bool SetRemote(bool on);
    bool remoteOn() const { return remoteOn_; }
    // The server closed at shut-down; no retry after it.
    void Close();

    RemoteSettings& settings() { return remote_; }
    RemoteServer& server() { return *server_; }

signals:
    // The switch went off by itself (a port that could not be bound, with a display).
    void RemoteOnChanged(bool on);

private:
    void Retry();
    void NoteListening();

    SwitchingLog& log_;
    RemoteSettings remote_;
    std::unique_ptr<RemoteServer> server_;
    QTimer* retry_ = nullptr;
    bool unattended_ = false;
    bool remoteOn_ = false;
};

}  // namespace tavoxa
