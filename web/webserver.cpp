#include "web/webserver.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpSocket>
#include <QUrlQuery>
#include <QWebSocket>
#include <vector>

#include "core/relaycontroller.h"
#include "engine/hardware.h"
#include "engine/schedule.h"
#include "remote/connectionlimit.h"
#include "remote/loginguard.h"
#include "remote/remotetext.h"
#include "web/guardedserver.h"
#include "web/httpresponse.h"
#include "web/requestframer.h"
#include "web/webjson.h"

namespace tavoxa {

namespace {

constexpr int kHorizonDays = 7;
constexpr int kMaxPlanDays = 31;
constexpr int kMaxRemoteText = 200;
constexpr qint64 kMaxLiveMessage = 4096;
constexpr qint64 kMaxLiveBacklog = 1024 * 1024;

using Method = QHttpServerRequest::Method;

bool IsJson(const QHttpServerRequest& request)
{
    const QByteArray type = request.value("content-type").toLower();
    return type == "application/json" || type.startsWith("application/json;");
}

QByteArray Json(const QJsonObject& o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

// As the HTTP server decides that a request hands its socket to the WebSocket server.
bool WantsWebSocket(const QHttpServerRequest& request)
{
    return request.value("upgrade").compare("websocket", Qt::CaseInsensitive) == 0 &&
           request.value("connection").toLower().contains("upgrade");
}

// The host and port part of an origin or Host header, in lower case.
QByteArray Authority(QByteArray text)
{
    const qsizetype scheme = text.indexOf("://");
    if (scheme >= 0)
        text = text.mid(scheme + 3);
    return text.trimmed().toLower();
}

}  // namespace

struct WebServer::Reply {
    int status = 200;
    QByteArray type = "application/json";
    QByteArray body;
    HeaderList headers;

    static Reply Ok(const QJsonObject& o) { return {200, "application/json", Json(o), {}}; }
    static Reply Error(int status, const QString& reason)
    {
        return {status, "application/json", Json(QJsonObject{{QStringLiteral("error"), reason}}), {}};
    }
};

WebServer::WebServer(RelayController& core, LoginGuard& guard, ConnectionLimit& limit, QObject* parent)
    : QAbstractHttpServer(parent), core_(core), guard_(guard), limit_(limit)
{
    connect(this, &QAbstractHttpServer::newWebSocketConnection, this, &WebServer::OnWebSocket);
    const auto publish = [this] { PublishState(); };
    connect(&core_, &RelayController::RelaysWritten, this, publish);
    connect(&core_, &RelayController::InputsRead, this, publish);
    connect(&core_, &RelayController::BusFactsChanged, this, publish);
    connect(&core_, &RelayController::PortControlsLockChanged, this, publish);
    connect(&core_, &RelayController::RemoteOnChanged, this, publish);
    connect(&core_, &RelayController::SettingsReplaced, this, [this] {
        Broadcast({{QStringLiteral("type"), QStringLiteral("settings")}, {QStringLiteral("relay"), 0}});
        PublishState();
    });
    connect(&core_, &RelayController::SettingsEdited, this, [this](int relay) {
        Broadcast(
            {{QStringLiteral("type"), QStringLiteral("settings")}, {QStringLiteral("relay"), relay + 1}});
        PublishState();
    });
    connect(&core_, &RelayController::SettingsFileRead, this, [this] {
        Broadcast({{QStringLiteral("type"), QStringLiteral("names")}});
        PublishState();
    });
    connect(&core_, &RelayController::SecondTicked, this, [this] {
        const LocalDateTime t = core_.ticker().clock().Now();
        // The next switchings move on with the clock: the whole state once a minute, else the time.
        if (t.second == 0)
            PublishState(true);
        else if (!live_.empty())
            Broadcast(
                {{QStringLiteral("type"), QStringLiteral("time")}, {QStringLiteral("time"), LogTimeText(t)}});
    });
    connect(&core_.log(), &SwitchingLog::LineWritten, this, [this](const QString& line) {
        log_.push_back(line);
        if (static_cast<int>(log_.size()) > kLogLinesKept)
            log_.pop_front();
        Broadcast({{QStringLiteral("type"), QStringLiteral("log")}, {QStringLiteral("line"), line}});
    });
}

WebServer::~WebServer()
{
    for (auto& [socket, session] : live_)
        delete socket;
}

bool WebServer::Start(const WebConfig& config, QString* error)
{
    config_ = config;
    QByteArray hash;
    if (!SodiumReady()) {
        *error = QStringLiteral("libsodium cannot start");
        return false;
    }
    if (!ReadPasswordFile(config.passwordFile, &hash, error))
        return false;
    auto listener = std::make_unique<GuardedServer>(limit_);
    if (!config.certFile.isEmpty() || !config.keyFile.isEmpty()) {
        QFile certFile(config.certFile), keyFile(config.keyFile);
        if (config.certFile.isEmpty() || config.keyFile.isEmpty()) {
            *error = QStringLiteral("HTTPS needs both --http-cert and --http-key");
            return false;
        }
        if (!certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("cannot read the certificate or key: %1")
                         .arg(certFile.isOpen() ? keyFile.errorString() : certFile.errorString());
            return false;
        }
        const QList<QSslCertificate> chain = QSslCertificate::fromDevice(&certFile, QSsl::Pem);
        QSslKey key(&keyFile, QSsl::Rsa, QSsl::Pem);
        if (key.isNull()) {
            keyFile.seek(0);
            key = QSslKey(&keyFile, QSsl::Ec, QSsl::Pem);
        }
        if (chain.isEmpty() || key.isNull()) {
            *error = QStringLiteral("%1 holds no PEM certificate or %2 no PEM key")
                         .arg(config.certFile, config.keyFile);
            return false;
        }
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setLocalCertificateChain(chain);
        tls.setPrivateKey(key);
        tls.setPeerVerifyMode(QSslSocket::VerifyNone);
        listener->SetTls(tls);
    }
    if (!listener->listen(config.address, config.port)) {
        *error = QStringLiteral("cannot listen on %1 port %2: %3")
                     .arg(config.address.toString())
                     .arg(config.port)
                     .arg(listener->errorString());
        return false;
    }
    listener_ = listener.release();
    bind(listener_);
    core_.log().Write(
        QStringLiteral("web page on %1://%2:%3/")
            .arg(listener_->Secure() ? QStringLiteral("https") : QStringLiteral("http"))
            .arg(config.address == QHostAddress::Any ? QStringLiteral("*") : config.address.toString())
            .arg(listener_->serverPort()));
    return true;
}

quint16 WebServer::Port() const
{
    return listener_ ? listener_->serverPort() : 0;
}

QJsonObject WebServer::State() const
{
    StateView v;
    const Model& m = core_.model();
    const LocalDateTime now = core_.ticker().clock().Now();
    for (int r = 0; r < kRelayCount; ++r) {
        RelayView& rv = v.relays[static_cast<size_t>(r)];
        rv.name = core_.files().Name(r);
        rv.mode = m.RelayMode(r);
        rv.on = RelayIsOn(m, r);
        rv.next = NextSwitching(m, r, now, kHorizonDays);
    }
    const AdapterState& a = core_.adapter();
    v.k1Closed = a.K1Closed;
    v.k2Closed = a.K2Closed;
    const BusFacts facts = core_.busFacts();
    v.comNumber = facts.ComNumber;
    v.device = config_.device;
    v.portOpen = facts.PortOpen;
    v.connected = facts.Connected;
    v.portLocked = core_.portControlsLocked();
    v.chipItem = ChipItemOfAddress(a.ChipAddress);
    v.remoteOn = core_.remoteSwitch().remoteOn();
    v.time = now;
    v.horizonDays = kHorizonDays;
    return StateJson(v);
}

void WebServer::PublishState(bool force)
{
    if (live_.empty()) {
        lastState_.clear();
        return;
    }
    // What the state shows apart from the clock and the next switchings: unchanged, nothing is sent.
    const Model& m = core_.model();
    const AdapterState& a = core_.adapter();
    const BusFacts f = core_.busFacts();
    QByteArray key;
    key += char(m.RelayBits & kRelayMask);
    for (int r = 0; r < kRelayCount; ++r)
        key += QByteArray::number(m.RelayMode(r)) + ',' + core_.files().Name(r).toUtf8() + ',';
    key += QByteArray::number(int(a.K1Closed) | int(a.K2Closed) << 1 | int(f.PortOpen) << 2 |
                              int(f.Connected) << 3 | int(core_.portControlsLocked()) << 4 |
                              int(core_.remoteSwitch().remoteOn()) << 5);
    key += ',' + QByteArray::number(f.ComNumber) + ',' + QByteArray::number(a.ChipAddress);
    if (!force && key == lastState_)
        return;
    lastState_ = key;
    Broadcast({{QStringLiteral("type"), QStringLiteral("state")}, {QStringLiteral("state"), State()}});
    emit StateSent();
}

void WebServer::Broadcast(const QJsonObject& message)
{
    if (live_.empty())
        return;
    const QString text = QString::fromUtf8(Json(message));
    // A copy: a socket may close while it is written to. A page that reads nothing is closed
    // before its backlog grows without bound.
    std::vector<QPointer<QWebSocket>> sockets;
    for (auto& [socket, session] : live_)
        sockets.emplace_back(socket);
    for (const QPointer<QWebSocket>& socket : sockets) {
        if (!socket)
            continue;
        if (socket->bytesToWrite() > kMaxLiveBacklog)
            socket->abort();
        else
            socket->sendTextMessage(text);
    }
}

QByteArray WebServer::SessionOf(const QHttpServerRequest& request) const
{
    return SessionTokenOfCookies(request.value("cookie"));
}

bool WebServer::SameOrigin(const QHttpServerRequest& request) const
{
    // Browsers name the page that sent a request; one from another site is refused. Clients
    // without an Origin (curl, scripts) send no cookie a browser would add for them.
    if (request.value("sec-fetch-site") == "cross-site")
        return false;
    const QByteArray origin = request.value("origin");
    if (origin.isEmpty())
        return true;
    return origin != "null" && Authority(origin) == Authority(request.value("host"));
}

bool WebServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    const QString path = request.url().path();
    if (WantsWebSocket(request)) {
        // Handing the socket to the WebSocket server needs a live session from this site.
        if (path != QLatin1String("/api/live") || !sessions_.Touch(SessionOf(request)) ||
            !SameOrigin(request))
            return false;
        limit_.MarkActive(socket);
        return true;
    }
    if (path == QLatin1String("/api/login") && request.method() == Method::Post) {
        Login(request, socket);
        return true;
    }
    const Reply r = Route(request, socket, SessionOf(request));
    HeaderList headers = r.headers;
    if (path.startsWith(QLatin1String("/api/")))
        headers.append(qMakePair(QByteArray("Cache-Control"), QByteArray("no-store")));
    Send(socket, request, HttpResponseBytes(r.status, r.type, r.body, headers));
    return true;
}

void WebServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket)
{
    // Only refused upgrades come here: the HTTP server closes the connection after it.
    int status = 404;
    QString why = QStringLiteral("not found");
    if (request.url().path() == QLatin1String("/api/live")) {
        const bool session = sessions_.Touch(SessionOf(request));
        status = session ? 403 : 401;
        why = session ? QStringLiteral("another site") : QStringLiteral("log in first");
    }
    socket->write(HttpErrorBytes(status, why, {}, true));
    socket->disconnectFromHost();
}

void WebServer::Send(QTcpSocket* socket, const QHttpServerRequest& request, const QByteArray& bytes)
{
    socket->write(bytes);
    if (request.value("connection").toLower() == "close")
        socket->disconnectFromHost();
}

void WebServer::Login(const QHttpServerRequest& request, QTcpSocket* socket)
{
    const auto refuse = [this, socket, &request](int status, const QString& why, const HeaderList& h = {}) {
        Send(socket, request, HttpErrorBytes(status, why, h));
    };
    if (!SameOrigin(request))
        return refuse(403, QStringLiteral("another site"));
    if (!IsJson(request))
        return refuse(415, QStringLiteral("send JSON"));
    const QJsonObject body = QJsonDocument::fromJson(request.body()).object();
    const QJsonValue password = body.value(QLatin1String("password"));
    if (!password.isString())
        return refuse(400, QStringLiteral("password: missing"));
    const QHostAddress peer = request.remoteAddress();
    int retryAfter = 1;
    if (!guard_.TryAcquire(peer, &retryAfter))
        return refuse(429, QStringLiteral("too many attempts: try again later"),
                      {{"Retry-After", QByteArray::number(retryAfter)}});
    QByteArray hash;
    QString error;
    if (!ReadPasswordFile(config_.passwordFile, &hash, &error)) {
        core_.log().Write(QStringLiteral("web login impossible: ") + error);
        return refuse(500, QStringLiteral("no password is set on the board"));
    }
    const bool close = request.value("connection").toLower() == "close";
    QPointer<QTcpSocket> target(socket);
    checker_.Check(hash, password.toString().toUtf8(), socket, [this, target, peer, close](bool ok) {
        guard_.Record(peer, ok, QStringLiteral("web"));
        if (!target)
            return;
        QByteArray reply;
        if (ok) {
            limit_.MarkActive(target);
            const QByteArray token = sessions_.Create();
            reply = HttpResponseBytes(
                200, "application/json", Json(State()),
                {{"Set-Cookie", SessionCookie(token, listener_->Secure())}, {"Cache-Control", "no-store"}});
        } else {
            reply = HttpErrorBytes(401, QStringLiteral("wrong password"));
        }
        target->write(reply);
        if (close)
            target->disconnectFromHost();
    });
}

WebServer::Reply WebServer::Static(const QString& path) const
{
    static const std::map<QString, std::pair<QString, QByteArray>> kFiles = {
        {QStringLiteral("/"), {QStringLiteral(":/web/index.html"), "text/html; charset=utf-8"}},
        {QStringLiteral("/app.js"), {QStringLiteral(":/web/app.js"), "text/javascript; charset=utf-8"}},
        {QStringLiteral("/app.css"), {QStringLiteral(":/web/app.css"), "text/css; charset=utf-8"}},
        {QStringLiteral("/icon.svg"), {QStringLiteral(":/web/icon.svg"), "image/svg+xml"}},
    };
    const auto it = kFiles.find(path);
    if (it == kFiles.end())
        return Reply::Error(404, QStringLiteral("not found"));
    QFile file(it->second.first);
    if (!file.open(QIODevice::ReadOnly))
        return Reply::Error(404, QStringLiteral("not found"));
    QByteArray content = file.readAll();
    // The program's language, for a browser that names none.
    if (path == QLatin1String("/"))
        content.replace("data-fallback=\"en\"", "data-fallback=\"" + config_.language.toLatin1() + '"');
    return {200,
            it->second.second,
            content,
            {{"Cache-Control", "no-cache"},
             {"Content-Security-Policy",
              "default-src 'self'; img-src 'self' data:; style-src 'self'; connect-src 'self'; "
              "frame-ancestors 'none'; base-uri 'none'; form-action 'self'"}}};
}

WebServer::Reply WebServer::Saved(const QJsonObject& body)
{
    PublishState();
    if (!core_.SaveFiles())
        return Reply::Error(500,
                            QStringLiteral("the change is in force but could not be saved: see the log"));
    return Reply::Ok(body);
}

WebServer::Reply WebServer::Route(const QHttpServerRequest& request, QTcpSocket* socket,
                                  const QByteArray& session)
{
    const QString path = request.url().path();
    const Method method = request.method();
    if (method == Method::Head)
        return Reply::Error(405, QStringLiteral("method not allowed"));
    if (!path.startsWith(QLatin1String("/api/"))) {
        if (method != Method::Get)
            return Reply::Error(405, QStringLiteral("only GET"));
        return Static(path);
    }
    if (!sessions_.Touch(session))
        return Reply::Error(401, QStringLiteral("log in first"));
    limit_.MarkActive(socket);
    const bool changing = method != Method::Get;
    QJsonObject body;
    if (changing) {
        if (!SameOrigin(request))
            return Reply::Error(403, QStringLiteral("another site"));
        if (!IsJson(request))
            return Reply::Error(415, QStringLiteral("send JSON"));
        if (request.body().size() > kMaxBodyBytes)
            return Reply::Error(413, QStringLiteral("the body is larger than 64 KiB"));
        QJsonParseError parseError{};
        const QJsonDocument doc = QJsonDocument::fromJson(request.body(), &parseError);
        if (!doc.isObject())
            return Reply::Error(400, QStringLiteral("the body is not a JSON object"));
        body = doc.object();
    }
    const auto wrongMethod = [] { return Reply::Error(405, QStringLiteral("method not allowed")); };
    const SwitchCause cause{CauseKind::Web, 0, request.remoteAddress().toString().toStdString()};
    QString error;

    if (path == QLatin1String("/api/state"))
        return changing ? wrongMethod() : Reply::Ok(State());
    if (path == QLatin1String("/api/logout")) {
        if (method != Method::Post)
            return wrongMethod();
        sessions_.End(session);
        for (auto it = live_.begin(); it != live_.end();) {
            QWebSocket* ws = it->first;
            if (it->second == session) {
                it = live_.erase(it);
                ws->close();
                ws->deleteLater();
            } else {
                ++it;
            }
        }
        Reply r = Reply::Ok({});
        r.headers.append(
            qMakePair(QByteArray("Set-Cookie"), SessionCookie({}, listener_ && listener_->Secure())));
        return r;
    }
    if (path == QLatin1String("/api/relays")) {
        if (method != Method::Post)
            return wrongMethod();
        std::vector<RelayCommand> commands;
        if (!ParseSwitchMany(body, &commands, &error))
            return Reply::Error(400, error);
        core_.Switch(commands, cause);
        PublishState();
        return Reply::Ok(State());
    }
    static const QRegularExpression relayPath(QStringLiteral("^/api/relays/([1-6])(/settings)?$"));
    if (const QRegularExpressionMatch m = relayPath.match(path); m.hasMatch()) {
        const int relay = m.captured(1).toInt() - 1;
        if (m.captured(2).isEmpty()) {
            if (method != Method::Post)
                return wrongMethod();
            RelayAction action{};
            if (!ParseSwitchOne(body, &action, &error))
                return Reply::Error(400, error);
            core_.Switch({{relay, action}}, cause);
            PublishState();
            return Reply::Ok(State());
        }
        if (method == Method::Get)
            return Reply::Ok(SettingsJson(relay, core_.Settings(relay)));
        if (method != Method::Put)
            return wrongMethod();
        RelaySettings settings;
        if (!ParseSettings(relay, body, &settings, &error))
            return Reply::Error(400, error);
        core_.SetSettings(relay, settings);
        return Saved(SettingsJson(relay, core_.Settings(relay)));
    }
    if (path == QLatin1String("/api/names")) {
        if (method == Method::Put) {
            std::array<std::string, 8> names;
            if (!ParseNames(body, &names, &error))
                return Reply::Error(400, error);
            core_.SetNames(names);
        } else if (changing) {
            return wrongMethod();
        }
        std::array<QString, 8> names;
        for (int i = 0; i < 8; ++i)
            names[static_cast<size_t>(i)] = core_.files().Name(i);
        return method == Method::Put ? Saved(NamesJson(names)) : Reply::Ok(NamesJson(names));
    }
    if (path == QLatin1String("/api/plan")) {
        if (changing)
            return wrongMethod();
        const QString daysText = request.query().queryItemValue(QStringLiteral("days"));
        bool ok = true;
        const int days = daysText.isEmpty() ? kHorizonDays : daysText.toInt(&ok);
        if (!ok || days < 1 || days > kMaxPlanDays)
            return Reply::Error(400, QStringLiteral("days: a number from 1 to %1").arg(kMaxPlanDays));
        std::array<QString, 6> names;
        for (int r = 0; r < kRelayCount; ++r)
            names[static_cast<size_t>(r)] = core_.files().Name(r);
        return Reply::Ok(PlanJson(PlanSwitchings(core_.model(), core_.ticker().clock().Now(), days), names));
    }
    if (path == QLatin1String("/api/log")) {
        if (changing)
            return wrongMethod();
        const QString linesText = request.query().queryItemValue(QStringLiteral("lines"));
        bool ok = true;
        const int lines = linesText.isEmpty() ? 100 : linesText.toInt(&ok);
        if (!ok || lines < 1 || lines > kLogLinesKept)
            return Reply::Error(400, QStringLiteral("lines: a number from 1 to %1").arg(kLogLinesKept));
        QJsonArray out;
        for (auto it = log_.rbegin(); it != log_.rend() && out.size() < lines; ++it)
            out.append(*it);
        return Reply::Ok({{QStringLiteral("lines"), out}});
    }
    const auto portJson = [this] {
        const BusFacts f = core_.busFacts();
        return QJsonObject{{QStringLiteral("com"), f.ComNumber},
                           {QStringLiteral("chip"), ChipText(ChipItemOfAddress(core_.adapter().ChipAddress))},
                           {QStringLiteral("open"), f.PortOpen},
                           {QStringLiteral("connected"), f.Connected},
                           {QStringLiteral("locked"), core_.portControlsLocked()},
                           {QStringLiteral("device"), config_.device.isEmpty() ? QJsonValue(QJsonValue::Null)
                                                                               : QJsonValue(config_.device)}};
    };
    if (path == QLatin1String("/api/port")) {
        if (method == Method::Get)
            return Reply::Ok(portJson());
        if (method != Method::Put)
            return wrongMethod();
        const QJsonValue com = body.value(QLatin1String("com"));
        const std::optional<int> chip = ChipOfText(body.value(QLatin1String("chip")).toString());
        if (!com.isDouble() || com.toDouble() != std::floor(com.toDouble()) || com.toDouble() < 1 ||
            com.toDouble() > 8)
            return Reply::Error(400, QStringLiteral("com: a number from 1 to 8"));
        if (!chip)
            return Reply::Error(400, QStringLiteral("chip: \"PCF 8574\" or \"PCF 8574 A\""));
        if (core_.portControlsLocked())
            return Reply::Error(409, QStringLiteral("press STOP before choosing the port or the chip"));
        if (!config_.device.isEmpty() && com.toInt() != core_.busFacts().ComNumber)
            return Reply::Error(
                409,
                QStringLiteral("the port is the device %1, given on the command line").arg(config_.device));
        core_.SelectPort(com.toInt() - 1, *chip);
        return Saved(portJson());
    }
    if (path == QLatin1String("/api/port/start") || path == QLatin1String("/api/port/stop") ||
        path == QLatin1String("/api/reset")) {
        if (method != Method::Post)
            return wrongMethod();
        if (path.endsWith(QLatin1String("start")))
            core_.Start();
        else if (path.endsWith(QLatin1String("stop")))
            core_.Stop();
        else
            core_.Reset();
        PublishState();
        return Reply::Ok(State());
    }
    const auto remoteJson = [this] {
        return QJsonObject{
            {QStringLiteral("on"), core_.remoteSwitch().remoteOn()},
            {QStringLiteral("port"), RemoteText(core_.remoteSwitch().settings().RemotePort)},
            {QStringLiteral("password"), RemoteText(core_.remoteSwitch().settings().RemotePassword)}};
    };
    if (path == QLatin1String("/api/remote")) {
        if (method == Method::Get)
            return Reply::Ok(remoteJson());
        if (method != Method::Put)
            return wrongMethod();
        const QJsonValue on = body.value(QLatin1String("on"));
        const QJsonValue port = body.value(QLatin1String("port"));
        const QJsonValue password = body.value(QLatin1String("password"));
        const auto oneLine = [](const QJsonValue& v) {
            const QString t = v.toString();
            return v.isString() && t.size() <= kMaxRemoteText && !t.contains(QLatin1Char('\n')) &&
                   !t.contains(QLatin1Char('\r'));
        };
        if (!on.isBool() || !oneLine(port) || !oneLine(password))
            return Reply::Error(
                400, QStringLiteral("expected {\"on\": true|false, \"port\": text, \"password\": text}"));
        // As the dialog's Ok: both texts as typed, one byte a character; the port counts the next
        // time the switch goes on.
        QChar refused;
        const std::optional<std::string> portBytes = RemoteTextBytes(port.toString(), &refused);
        const std::optional<std::string> passwordBytes =
            portBytes ? RemoteTextBytes(password.toString(), &refused) : std::nullopt;
        if (!portBytes || !passwordBytes)
            return Reply::Error(400, QStringLiteral("\"%1\" cannot be stored: port and password take only "
                                                    "characters of one byte (Latin-1)")
                                         .arg(refused));
        core_.remoteSwitch().settings().RemotePort = *portBytes;
        core_.remoteSwitch().settings().RemotePassword = *passwordBytes;
        if (on.toBool() != core_.remoteSwitch().remoteOn())
            core_.remoteSwitch().SetRemote(on.toBool());
        return Saved(remoteJson());
    }
    return Reply::Error(404, QStringLiteral("not found"));
}

void WebServer::OnWebSocket()
{
    while (hasPendingWebSocketConnections()) {
        QWebSocket* ws = nextPendingWebSocketConnection().release();
        if (!ws)
            break;
        ws->setParent(this);
        ws->setMaxAllowedIncomingMessageSize(kMaxLiveMessage);
        ws->setMaxAllowedIncomingFrameSize(kMaxLiveMessage);
        // The upgrade was let through with a session; the socket's own request says it again.
        const QByteArray session = SessionTokenOfCookies(ws->request().rawHeader("Cookie"));
        if (!sessions_.Touch(session)) {
            ws->close(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("log in first"));
            ws->deleteLater();
            continue;
        }
        live_[ws] = session;
        connect(ws, &QWebSocket::disconnected, this, [this, ws] {
            if (live_.erase(ws))
                ws->deleteLater();
        });
        lastState_.clear();
        ws->sendTextMessage(QString::fromUtf8(
            Json({{QStringLiteral("type"), QStringLiteral("state")}, {QStringLiteral("state"), State()}})));
    }
}

}  // namespace tavoxa
