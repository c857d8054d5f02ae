// The web page: a front end of the controller like the window, served over HTTP(S) with a JSON
// API and a WebSocket (/api/live) that carries every change as it happens. It observes the
// controller's signals and calls its doors; every change made here is saved at once.
//
// Threads: main thread (the controller's); password checks run on the checker's own thread.
#pragma once

#include <QAbstractHttpServer>
#include <QByteArray>
#include <QHostAddress>
#include <QJsonObject>
#include <QString>
#include <deque>
#include <map>
#include <memory>

#include "web/passwordchecker.h"
#include "web/sessions.h"
#include "web/webconfig.h"

class QTcpSocket;
class QWebSocket;

namespace tavoxa {

class ConnectionLimit;
class GuardedServer;
class LoginGuard;
class RelayController;

constexpr int kLogLinesKept = 500;
// Connections the web page serves at once (at most 32 of them from one address).
constexpr int kMaxWebConnections = 256;

class WebServer : public QAbstractHttpServer {
    Q_OBJECT
public:
    WebServer(RelayController& core, LoginGuard& guard, ConnectionLimit& limit, QObject* parent = nullptr);
    ~WebServer() override;

    // Reads the password file and listens; false with the reason (no password file, a TLS file
    // that cannot be read, a port that cannot be bound).
    bool Start(const WebConfig& config, QString* error);
    quint16 Port() const;
    int LiveClients() const { return static_cast<int>(live_.size()); }

    // The state as /api/state and the live socket give it.
    QJsonObject State() const;

signals:
    // The state went out to the live sockets (benchmarks and tests count it).
    void StateSent();

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    struct Reply;
    Reply Route(const QHttpServerRequest& request, QTcpSocket* socket, const QByteArray& session);
    Reply Static(const QString& path) const;
    void Login(const QHttpServerRequest& request, QTcpSocket* socket);
    void Send(QTcpSocket* socket, const QHttpServerRequest& request, const QByteArray& bytes);
    bool SameOrigin(const QHttpServerRequest& request) const;
    QByteArray SessionOf(const QHttpServerRequest& request) const;
    Reply Saved(const QJsonObject& body);
    void OnWebSocket();
    void Broadcast(const QJsonObject& message);
    void PublishState(bool force = false);

    RelayController& core_;
    LoginGuard& guard_;
    ConnectionLimit& limit_;
    WebConfig config_;
    GuardedServer* listener_ = nullptr;
    PasswordChecker checker_;
    Sessions sessions_;
    std::map<QWebSocket*, QByteArray> live_;  // socket -> its session
    std::deque<QString> log_;
    QByteArray lastState_;
};

}  // namespace tavoxa
