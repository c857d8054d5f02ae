#include "remote/remoteserver.h"

#include <poll.h>

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <vector>
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace tavoxa {

RemoteServer::RemoteServer(RemoteSettings& remote, Model& model, QObject* parent, const MonotonicClock* clock)
    : QObject(parent), remote_(remote), model_(model), ownGuard_(clock), limit_(kMaxConnections, clock)
{
    server_.setListenBacklogSize(kListenBacklog);
    connect(&server_, &QTcpServer::newConnection, this, &RemoteServer::AcceptPending);
    connect(&server_, &QTcpServer::acceptError, this, [this](QAbstractSocket::SocketError error) {
        if (error == QAbstractSocket::SocketResourceError)
            PauseAccepting();
        else
            server_.resumeAccepting();  // a connection that failed on its way in stops nothing
    });
    SetLoginGuard(&ownGuard_);
    sweep_ = new QTimer(this);
    sweep_->setInterval(kHeldSweepMs);
    connect(sweep_, &QTimer::timeout, this, &RemoteServer::SweepHeld);
}

void RemoteServer::SetLoginGuard(LoginGuard* guard)
{
    QObject::disconnect(guard_, &LoginGuard::LogLine, this, &RemoteServer::LogLine);
    guard_ = guard ? guard : &ownGuard_;
    // A guard of its own reports through the server; a shared one is logged by its owner, once.
    if (guard_ == &ownGuard_)
        connect(guard_, &LoginGuard::LogLine, this, &RemoteServer::LogLine);
}

void RemoteServer::SweepHeld()
{
    std::vector<QTcpSocket*> gone;
    bool anyHeld = false;
    for (const auto& [socket, client] : connections_) {
        if (!client.held)
            continue;
        anyHeld = true;
        pollfd watch{static_cast<int>(socket->socketDescriptor()), POLLRDHUP, 0};
        if (watch.fd >= 0 && ::poll(&watch, 1, 0) == 1 && (watch.revents & (POLLRDHUP | POLLHUP | POLLERR)))
            gone.push_back(socket);
    }
    // A peer that closed while its login waited gets no answer, as before the guard.
    for (QTcpSocket* socket : gone)
        ServerSocket1ClientDisconnect(socket);
    if (!anyHeld)
        sweep_->stop();
}

void RemoteServer::ScheduleTrim()
{
    // Many connections' buffers freed at once leave the heap in pieces; hand the free memory
    // back to the system once things have settled.
    if (trimPending_)
        return;
    trimPending_ = true;
    QTimer::singleShot(1000, this, [this] {
        trimPending_ = false;
#ifdef __GLIBC__
        ::malloc_trim(0);
#endif
    });
}

qint64 RemoteServer::UnreadBytes() const
{
    qint64 total = 0;
    for (const auto& entry : connections_)
        total += entry.first->bytesAvailable() + entry.second.unread.size() - entry.second.unreadAt +
                 static_cast<qint64>(entry.second.record.Partial.size());
    return total;
}

void RemoteServer::PauseAccepting()
{
    // No descriptor is left: the connection stays in the listen queue, and retrying at once
    // would only spin. Qt has already stopped accepting; it resumes after a pause.
    server_.pauseAccepting();
    emit AcceptPaused();
    QTimer::singleShot(kAcceptPauseMs, this, [this] {
        if (server_.isListening())
            server_.resumeAccepting();
    });
}

RemoteServer::~RemoteServer()
{
    Close();
}

bool RemoteServer::Open(int32_t portNumber)
{
    const auto port = static_cast<uint16_t>(static_cast<uint32_t>(portNumber) & 0xFFFFu);
    if (server_.isListening()) {
        if (port == port_)
            return true;
        lastError_ = QStringLiteral("already listening on port %1").arg(port_);
        return false;
    }
    port_ = port;
    if (!server_.listen(address_, port)) {
        lastError_ = server_.errorString();
        return false;
    }
    lastError_.clear();
    return true;
}

void RemoteServer::Close()
{
    for (auto& entry : connections_) {
        QTcpSocket* socket = entry.first;
        QObject::disconnect(socket, nullptr, this, nullptr);
        limit_.Release(socket);
        socket->abort();
        socket->deleteLater();
    }
    connections_.clear();
    server_.close();
}

bool RemoteServer::IsOpen() const
{
    return server_.isListening();
}

uint16_t RemoteServer::BoundPort() const
{
    return server_.isListening() ? server_.serverPort() : 0;
}

void RemoteServer::RemoteCloseStep()
{
    if (!RemoteCloseIsDue(remote_))
        return;
    Close();
    RemoteCloseDone(remote_);
}

bool RemoteServer::RemoteSwitched(bool checked)
{
    if (checked) {
        if (Open(RemotePortNumber(remote_.RemotePort)))
            return true;
        Close();
        return false;
    }
    if (RemoteSwitchOffClosesNow(remote_))
        Close();
    return true;
}

void RemoteServer::AcceptPending()
{
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        if (!limit_.Admit(socket)) {
            socket->abort();  // unanswered, and no connect event: nobody was let in
            delete socket;
            continue;
        }
        ServerSocket1ClientConnect(socket);
    }
}

void RemoteServer::ServerSocket1ClientConnect(QTcpSocket* socket)
{
    socket->setReadBufferSize(kMaxMessageBytes);
    // Every message is a single small exchange: send replies at once rather than gathering them.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    Client client;
    client.address = socket->peerAddress();
    client.peer = PeerText(client.address).toStdString();
    connections_.emplace(socket, std::move(client));
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { ServerSocket1ClientRead(socket); });
    connect(socket, &QTcpSocket::disconnected, this,
            [this, socket] { ServerSocket1ClientDisconnect(socket); });
    // A reset or otherwise failed connection ends that client like a disconnect: no error box
    // that any peer could raise on the operator's screen, and a refused client that vanishes
    // still lets the pending close go on.
    connect(socket, &QTcpSocket::errorOccurred, this,
            [this, socket](QAbstractSocket::SocketError) { ServerSocket1ClientDisconnect(socket); });

    const bool before = remote_.ClientConnectedLast;
    Send(socket, RemoteClientConnect(remote_));
    ReportConnectedLast(before);
}

void RemoteServer::ServerSocket1ClientRead(QTcpSocket* socket)
{
    for (;;) {
        const auto it = connections_.find(socket);
        // A connection whose login waits is not read: its bytes stay with the socket, and TCP
        // holds the client back once they fill the read buffer.
        if (it == connections_.end() || it->second.held || it->second.unreadAt < it->second.unread.size())
            return;
        socket->setReadBufferSize(kMaxMessageBytes);
        QByteArray bytes = socket->read(kMaxMessageBytes);
        if (bytes.isEmpty())
            return;
        limit_.MarkActive(socket);
        it->second.unread = std::move(bytes);
        it->second.unreadAt = 0;
        if (!HandleWaiting(socket))
            return;
    }
}

bool RemoteServer::HandleWaiting(QTcpSocket* socket)
{
    for (;;) {
        // Looked up again each time: a receiver of the signals below may have closed the server.
        const auto it = connections_.find(socket);
        if (it == connections_.end())
            return false;
        Client& client = it->second;
        if (client.held)
            return false;
        const std::string_view rest(client.unread.constData() + client.unreadAt,
                                    static_cast<size_t>(client.unread.size() - client.unreadAt));
        size_t used = 0;
        std::optional<std::string> message = RemoteTakeMessage(client.record, rest, &used);
        client.unreadAt += static_cast<qsizetype>(used);
        if (!message) {
            client.unread = QByteArray();  // memory back at once, not at the next read
            client.unreadAt = 0;
            break;
        }
        if (RemoteIsLoginAttempt(*message)) {
            // Every password check goes through the guard, which runs it when the budget allows.
            client.held = true;
            if (!sweep_->isActive())
                sweep_->start();
            // Meanwhile the socket takes from the system only what fills one read with the rest
            // of this one, so a held connection keeps at most kMaxMessageBytes here.
            const qint64 rest = client.unread.size() - client.unreadAt;
            socket->setReadBufferSize(std::max<qint64>(1, kMaxMessageBytes - rest));
            guard_->Enqueue(
                client.address, socket,
                [self = QPointer<RemoteServer>(this), socket, m = std::move(*message)] {
                    if (self)
                        self->LoginChecked(socket, m);
                },
                client.failedLogins == 0);
            return false;
        }
        HandleMessage(socket, client, *message);
    }
    emit MessageHandled();
    return true;
}

void RemoteServer::HandleMessage(QTcpSocket* socket, Client& client, const std::string& message)
{
    const uint8_t relaysBefore = model_.RelayBits;
    RemoteLogin login = RemoteLogin::None;
    const std::optional<std::string> reply =
        RemoteClientRead(remote_, model_, client.record, message, &login);
    if (login == RemoteLogin::Accepted) {
        guard_->Record(client.address, true);
        limit_.MarkLoggedIn(socket);
    }
    if (login == RemoteLogin::Failed) {
        guard_->Record(client.address, false);
        ++client.failedLogins;
    }
    if (reply)
        Send(socket, RemoteAnswerBytes(client.record, *reply));
    const QString peer = QString::fromStdString(client.peer);
    if (login == RemoteLogin::Failed)
        emit LoginFailed(peer);
    if (model_.RelayBits != relaysBefore)
        emit RelayBitsChanged(peer);
}

void RemoteServer::LoginChecked(QTcpSocket* socket, const std::string& message)
{
    // The guard drops the wait of a socket that is destroyed; one that is closing is still here.
    const auto it = connections_.find(socket);
    if (it == connections_.end())
        return;
    it->second.held = false;
    HandleMessage(socket, it->second, message);
    if (HandleWaiting(socket))
        ServerSocket1ClientRead(socket);  // what arrived while the login waited
}

void RemoteServer::ServerSocket1ClientDisconnect(QTcpSocket* socket)
{
    const auto it = connections_.find(socket);
    if (it == connections_.end())
        return;
    const bool before = remote_.ClientConnectedLast;
    RemoteClientDisconnect(remote_, it->second.record);
    connections_.erase(it);
    limit_.Release(socket);
    ScheduleTrim();
    QObject::disconnect(socket, nullptr, this, nullptr);
    // Deleting the socket closes a failed connection too; not now, since its own signal is
    // still being delivered.
    socket->deleteLater();
    ReportConnectedLast(before);
}

void RemoteServer::Send(QTcpSocket* socket, std::string_view bytes)
{
    if (socket->bytesToWrite() > kMaxPendingReplyBytes)
        return;
    socket->write(bytes.data(), static_cast<qint64>(bytes.size()));
}

void RemoteServer::ReportConnectedLast(bool before)
{
    if (remote_.ClientConnectedLast != before)
        emit ClientConnectedLastChanged(remote_.ClientConnectedLast);
}

}  // namespace tavoxa
