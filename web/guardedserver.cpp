#include "web/guardedserver.h"

#include <QSslSocket>
#include <QTimer>

#include "remote/connectionlimit.h"
#include "web/httpresponse.h"
#include "web/requestframer.h"

namespace tavoxa {

namespace {

// The socket holds at most one request's headers and body unread.
constexpr qint64 kReadBuffer = kMaxBodyBytes + kMaxHeaderBytes;
constexpr int kHandshakeMs = 10000;
constexpr int kRefusedCloseMs = 2000;

// Refuses the request under way: no handler sees another byte of this connection.
void Refuse(QTcpSocket* socket, int status, const QString& reason)
{
    QObject::disconnect(socket, &QIODevice::readyRead, nullptr, nullptr);
    if (socket->isTransactionStarted())
        socket->commitTransaction();
    socket->skip(socket->bytesAvailable());
    QObject::connect(socket, &QIODevice::readyRead, socket,
                     [socket] { socket->skip(socket->bytesAvailable()); });
    socket->write(HttpErrorBytes(status, reason, {}, true));
    socket->disconnectFromHost();
    QTimer::singleShot(kRefusedCloseMs, socket, [socket] { socket->abort(); });
}

}  // namespace

GuardedServer::GuardedServer(ConnectionLimit& limit, QObject* parent) : QTcpServer(parent), limit_(limit) {}

void GuardedServer::incomingConnection(qintptr handle)
{
    QTcpSocket* socket = tls_ ? new QSslSocket(this) : new QTcpSocket(this);
    if (!socket->setSocketDescriptor(handle) || !limit_.Admit(socket)) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    socket->setReadBufferSize(kReadBuffer);
    // Answers and live messages are small and wanted at once: no waiting to fill a segment.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    Watch(socket);
    if (!tls_) {
        addPendingConnection(socket);  // QTcpServer announces it once this returns
        return;
    }
    auto* ssl = static_cast<QSslSocket*>(socket);
    ssl->setSslConfiguration(*tls_);
    connect(ssl, &QSslSocket::encrypted, this, [this, ssl] {
        addPendingConnection(ssl);
        emit newConnection();
    });
    connect(ssl, &QAbstractSocket::errorOccurred, ssl, [ssl] {
        if (!ssl->isEncrypted())
            ssl->deleteLater();
    });
    QTimer::singleShot(kHandshakeMs, ssl, [ssl] {
        if (!ssl->isEncrypted())
            ssl->deleteLater();
    });
    ssl->startServerEncryption();
}

void GuardedServer::Watch(QTcpSocket* socket)
{
    // Connected before the HTTP server's own handler, so it sees each byte first; the HTTP server
    // reads everything available each time, so what is available here is new.
    auto framer = std::make_shared<RequestFramer>();
    connect(socket, &QIODevice::readyRead, socket, [this, socket, framer] {
        limit_.MarkActive(socket);
        const QByteArray fresh = socket->peek(socket->bytesAvailable());
        switch (framer->Feed(fresh.constData(), fresh.size())) {
            case RequestFramer::Verdict::Go:
            case RequestFramer::Verdict::Upgraded:
                return;
            case RequestFramer::Verdict::BodyTooLarge:
                Refuse(socket, 413, QStringLiteral("the body is larger than 64 KiB"));
                return;
            case RequestFramer::Verdict::HeadersTooLarge:
                Refuse(socket, 431, QStringLiteral("the headers are larger than 16 KiB"));
                return;
            case RequestFramer::Verdict::LengthRequired:
                Refuse(socket, 411, QStringLiteral("a body needs a Content-Length"));
                return;
            case RequestFramer::Verdict::Malformed:
                Refuse(socket, 400, QStringLiteral("malformed request"));
                return;
        }
    });
}

}  // namespace tavoxa
