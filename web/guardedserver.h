// The web page's listening socket, given to the HTTP server through bind(): it admits each
// connection by the connection rules, speaks TLS when configured, and follows each request's
// headers before the HTTP server reads them, so an oversized body is refused (413) without being
// read and no connection holds more than one request's worth of bytes.
//
// Threads: main thread only.
#pragma once

#include <QSslConfiguration>
#include <QTcpServer>
#include <optional>

namespace tavoxa {

class ConnectionLimit;

class GuardedServer : public QTcpServer {
    Q_OBJECT
public:
    GuardedServer(ConnectionLimit& limit, QObject* parent = nullptr);
    void SetTls(const QSslConfiguration& tls) { tls_ = tls; }
    bool Secure() const { return tls_.has_value(); }

protected:
    void incomingConnection(qintptr handle) override;

private:
    void Watch(QTcpSocket* socket);
    ConnectionLimit& limit_;
    std::optional<QSslConfiguration> tls_;
};

}  // namespace tavoxa
