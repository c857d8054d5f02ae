#include "remote/remoteserver.h"

#include <QTcpSocket>

#include "engine/texttoint.h"

namespace tavoxa {

RemoteServer::RemoteServer(RemoteSettings& remote, Model& model, QObject* parent)
    : QObject(parent), remote_(remote), model_(model)
{
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
    if (server_.isListening())
        return port == port_;
    port_ = port;
    return server_.listen(address_, port);
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
        if (Open(TextToInt(remote_.RemotePort)))
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
    while (QTcpSocket* socket = server_.nextPendingConnection())
        ServerSocket1ClientConnect(socket);
}

void RemoteServer::ServerSocket1ClientConnect(QTcpSocket* socket)
{
    socket->setReadBufferSize(kMaxMessageBytes);
    // Every message is a single small exchange: send replies at once rather than gathering them.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connections_.emplace(socket, RemoteConnection{});
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { ServerSocket1ClientRead(socket); });
    connect(socket, &QTcpSocket::disconnected, this,
            [this, socket] { ServerSocket1ClientDisconnect(socket); });
    // A reset or otherwise failed connection ends that client like a disconnect: no error box
    // that any peer could raise on the operator's screen, and a refused client that vanishes
    // still lets the pending close go on.
    connect(socket, &QTcpSocket::errorOccurred, this,
            [this, socket](QAbstractSocket::SocketError) { ServerSocket1ClientDisconnect(socket); });

    const bool before = remote_.LampGreen;
    Send(socket, RemoteClientConnect(remote_));
    ReportLamp(before);
}

void RemoteServer::ServerSocket1ClientRead(QTcpSocket* socket)
{
    const QByteArray bytes = socket->readAll();
    const auto it = connections_.find(socket);
    if (it == connections_.end() || bytes.isEmpty())
        return;
    const uint8_t relaysBefore = model_.RelayBits;
    const std::optional<std::string> reply =
        RemoteClientRead(remote_, model_, it->second, std::string_view(bytes.constData(), bytes.size()));
    if (reply)
        Send(socket, *reply);
    if (model_.RelayBits != relaysBefore)
        emit RelayBitsChanged();
    emit MessageHandled();
}

void RemoteServer::ServerSocket1ClientDisconnect(QTcpSocket* socket)
{
    const auto it = connections_.find(socket);
    if (it == connections_.end())
        return;
    const bool before = remote_.LampGreen;
    RemoteClientDisconnect(remote_, it->second);
    connections_.erase(it);
    QObject::disconnect(socket, nullptr, this, nullptr);
    // Deleting the socket closes a failed connection too; not now, since its own signal is
    // still being delivered.
    socket->deleteLater();
    ReportLamp(before);
}

void RemoteServer::Send(QTcpSocket* socket, std::string_view bytes)
{
    if (socket->bytesToWrite() > kMaxPendingReplyBytes)
        return;
    socket->write(bytes.data(), static_cast<qint64>(bytes.size()));
}

void RemoteServer::ReportLamp(bool before)
{
    if (remote_.LampGreen != before)
        emit LampChanged(remote_.LampGreen);
}

}  // namespace tavoxa
