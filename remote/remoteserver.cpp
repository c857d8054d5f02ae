#include "remote/remoteserver.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <chrono>

namespace tavoxa {

namespace {

// One address one text: a client reaching a dual-stack server over IPv4 is shown, and slowed
// down, under its IPv4 address, as it would be on an IPv4-only one.
std::string PeerText(const QHostAddress& address)
{
    bool isIPv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIPv4);
    return (isIPv4 ? QHostAddress(ipv4) : address).toString().toStdString();
}

}  // namespace

RemoteServer::RemoteServer(RemoteSettings& remote, Model& model, QObject* parent)
    : QObject(parent), remote_(remote), model_(model)
{
    clock_.start();
    server_.setListenBacklogSize(kListenBacklog);
    connect(&server_, &QTcpServer::newConnection, this, &RemoteServer::AcceptPending);
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
        if (connections_.size() >= static_cast<size_t>(kMaxConnections)) {
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
    connections_.emplace(socket, Client{RemoteConnection{}, PeerText(socket->peerAddress()), {}, false});
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
    const auto it = connections_.find(socket);
    // A connection whose login waits is not read: its bytes stay with the socket, and TCP
    // holds the client back once they fill the read buffer.
    if (it == connections_.end() || it->second.held)
        return;
    const QByteArray bytes = socket->readAll();
    if (bytes.isEmpty())
        return;
    for (std::string& message :
         RemoteSplitMessages(it->second.record, std::string_view(bytes.constData(), bytes.size())))
        it->second.waiting.push_back(std::move(message));
    HandleWaiting(socket);
}

void RemoteServer::HandleWaiting(QTcpSocket* socket)
{
    for (;;) {
        // Looked up again each time: a receiver of the signals below may have closed the server.
        const auto it = connections_.find(socket);
        if (it == connections_.end())
            return;
        Client& client = it->second;
        if (client.waiting.empty())
            break;
        const std::string message = std::move(client.waiting.front());
        client.waiting.pop_front();
        if (RemoteIsLoginAttempt(message)) {
            const int64_t waitMs = throttle_.AnswerDueMs(client.peer) - clock_.elapsed();
            if (waitMs > 0) {
                client.waiting.push_front(message);
                client.held = true;
                QTimer::singleShot(
                    std::chrono::milliseconds(waitMs), Qt::PreciseTimer, this,
                    [this, guard = QPointer<QTcpSocket>(socket)] { LoginWaitOver(guard.data()); });
                return;
            }
        }
        HandleMessage(socket, client, message);
    }
    emit MessageHandled();
}

void RemoteServer::HandleMessage(QTcpSocket* socket, Client& client, const std::string& message)
{
    const uint8_t relaysBefore = model_.RelayBits;
    RemoteLogin login = RemoteLogin::None;
    const std::optional<std::string> reply =
        RemoteClientRead(remote_, model_, client.record, message, &login);
    if (login == RemoteLogin::Accepted)
        throttle_.Succeeded(client.peer);
    // Rounded up, so the clock's granularity never shortens the wait that follows.
    if (login == RemoteLogin::Failed)
        throttle_.Failed(client.peer, clock_.elapsed() + 1);
    if (reply)
        Send(socket, RemoteAnswerBytes(client.record, *reply));
    const QString peer = QString::fromStdString(client.peer);
    if (login == RemoteLogin::Failed)
        emit LoginFailed(peer);
    if (model_.RelayBits != relaysBefore)
        emit RelayBitsChanged(peer);
}

void RemoteServer::LoginWaitOver(QTcpSocket* socket)
{
    // A connection that went away while its login waited gets no answer.
    const auto it = connections_.find(socket);
    if (socket == nullptr || it == connections_.end())
        return;
    it->second.held = false;
    HandleWaiting(socket);
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
