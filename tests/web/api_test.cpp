// The web API against the real server in-process: the controller on the simulated board, the
// server on the loopback, raw HTTP requests from a socket so every header is the test's own.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSslSocket>
#include <QWebSocket>

#include "engine/hardware.h"
#include "remote/connectionlimit.h"
#include "remote/loginguard.h"
#include "storage/settingsfile.h"
#include "tests/core/controllerfixture.h"
#include "web/webconfig.h"
#include "web/webserver.h"

namespace tavoxa::testing {
namespace {

const QByteArray kOn = R"({"on": true})";
const QString kDevice = QStringLiteral("/dev/serial/by-id/usb-test");

struct Response {
    int status = 0;
    QByteArray head, body;  // head: the status line and the headers as sent
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

class WebApi : public ControllerFixture {
protected:
    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(WritePasswordFile(work.Path(kPasswordFileName), "pw", &error)) << error.toStdString();
        Start();
        StartWeb();
    }
    // The page as the program starts it with --device and German as its language, on a free
    // loopback port; over TLS with `cert` and `key`.
    void StartWeb(const QString& cert = {}, const QString& key = {})
    {
        WebConfig config;
        config.address = QHostAddress::LocalHost;
        config.port = 0;
        config.device = kDevice;
        config.language = QStringLiteral("de");
        config.certFile = cert;
        config.keyFile = key;
        tls = !cert.isEmpty();
        web = std::make_unique<WebServer>(*core, guard, limit);
        QString error;
        ASSERT_TRUE(web->Start(config, &error)) << error.toStdString();
    }

    // One request on a connection of its own, closed after the answer; with the session's cookie
    // once logged in, and a body as JSON unless the `extra` header lines say otherwise.
    Response Request(const QByteArray& method, const QByteArray& path, const QByteArray& body = {},
                     const QByteArray& extra = {})
    {
        QByteArray head = method + ' ' + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra;
        if (!cookie.isEmpty())
            head += "Cookie: " + cookie + "\r\n";
        if (!extra.contains("Connection:"))
            head += "Connection: close\r\n";
        if (!body.isNull() && !extra.contains("Content-Type:"))
            head += "Content-Type: application/json\r\n";
        if (!body.isNull() && !extra.contains("Content-Length:"))
            head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
        // Written at once: the socket holds the bytes until it is connected (and handshaken).
        QSslSocket socket;
        socket.setPeerVerifyMode(QSslSocket::VerifyNone);
        if (tls)
            socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), web->Port());
        else
            socket.connectToHost(QHostAddress::LocalHost, web->Port());
        socket.write(head + "\r\n" + body);
        // The server answers on this thread: wait with the event loop turning.
        WaitUntil([&] { return socket.state() == QAbstractSocket::UnconnectedState; });
        const QByteArray in = socket.readAll();
        const qsizetype end = in.indexOf("\r\n\r\n");
        return {in.mid(9, 3).toInt(), in.left(end + 2), in.mid(end + 4)};
    }
    // "POST /api/relays/1", perhaps with header lines after '|'; a body that would switch unless
    // the method is GET.
    Response Send(const QByteArray& line)
    {
        QList<QByteArray> lines = line.split('|');
        const QList<QByteArray> request = lines.takeFirst().split(' ');
        const QByteArray extra = lines.isEmpty() ? QByteArray() : lines.join("\r\n") + "\r\n";
        return Request(request[0], request[1], request[0] == "GET" ? QByteArray() : kOn, extra);
    }
    Response LogIn(const QByteArray& password = "pw")
    {
        Response r = Request("POST", "/api/login", R"({"password": ")" + password + R"("})");
        if (r.status == 200)
            cookie = r.head.mid(r.head.indexOf("tavoxa_session=")).split(';').first();
        return r;
    }

    // The login guard's clock, driven by the tests.
    struct TestClock : MonotonicClock {
        int64_t NowMs() const override { return ms; }
        int64_t ms = 1000000;
    } monotonic;
    ConnectionLimit limit{kMaxWebConnections};
    LoginGuard guard{&monotonic};
    std::unique_ptr<WebServer> web;
    bool tls = false;
    QByteArray cookie;
};

TEST_F(WebApi, OnlyThePageAndTheLoginGoWithoutASession)
{
    for (const char* route :
         {"GET /api/state", "POST /api/logout", "POST /api/relays", "POST /api/relays/1",
          "GET /api/relays/1/settings", "PUT /api/relays/1/settings", "GET /api/names", "PUT /api/names",
          "GET /api/plan?days=2", "GET /api/log", "GET /api/port", "PUT /api/port", "POST /api/port/start",
          "POST /api/port/stop", "POST /api/reset", "GET /api/remote", "PUT /api/remote", "GET /api/nothing",
          "GET /api/live|Upgrade: websocket|Connection: Upgrade"})
        EXPECT_EQ(Send(route).status, 401) << route;
    EXPECT_EQ(RelayIsOn(model(), 0), false);
    EXPECT_EQ(Request("GET", "/app.js").status, 200);
    // In the program's language for a browser that names none.
    EXPECT_TRUE(Request("GET", "/").body.contains(R"(data-fallback="de")"));
}

TEST_F(WebApi, LoginsAreThrottledAndLogoutEndsTheSession)
{
    for (int i = 0; i < 3; ++i, monotonic.ms += kLoginCheckSpacingMs)
        EXPECT_EQ(LogIn("wrong").status, 401);
    // After three failures one check a second per address; the right password waits too.
    const Response throttled = LogIn();
    EXPECT_EQ(throttled.status, 429);
    EXPECT_TRUE(throttled.head.contains("\r\nRetry-After: 1\r\n"));
    monotonic.ms += kThrottledCheckSpacingMs;
    const Response r = LogIn();
    ASSERT_EQ(r.status, 200);
    EXPECT_TRUE(r.head.contains("; HttpOnly; SameSite=Strict"));
    EXPECT_EQ(Request("GET", "/api/state").status, 200);
    EXPECT_EQ(Request("POST", "/api/logout", "{}").status, 200);
    EXPECT_EQ(Request("GET", "/api/state").status, 401);
}

TEST_F(WebApi, RefusedRequestsChangeNothingAndASwitchReachesTheBoardInOneStep)
{
    ASSERT_EQ(LogIn().status, 200);
    // The status awaited, then the request and its header lines. The long body is announced, never sent: the
    // answer cannot wait for it.
    for (const QByteArray c :
         {"403 POST /api/relays/1|Origin: http://evil.example",
          "403 POST /api/relays/1|Sec-Fetch-Site: cross-site", "403 POST /api/login|Origin: null",
          "415 POST /api/relays/1|Content-Type: text/plain", "413 PUT /api/names|Content-Length: 10000000",
          "404 GET /index.html/..", "404 GET /../CMakeLists.txt", "404 GET /%2e%2e/web.passwd",
          "404 GET /web.passwd", "404 GET /api/relays/7", "404 GET /api/relays/0/settings"})
        EXPECT_EQ(Send(c.mid(4)).status, c.left(3).toInt()) << c.data();
    EXPECT_EQ(RelayIsOn(model(), 0), false);
    // From the page's own site: all in one step on the board, logged with the address.
    CaptureLog();
    const QByteArray many = R"({"on": [1, 3], "off": [2]})";
    ASSERT_EQ(Request("POST", "/api/relays", many, "Origin: http://127.0.0.1\r\n").status, 200);
    EXPECT_TRUE(Settled([this] { return board.RelayPins() == 0b101; }));
    EXPECT_TRUE(lines.contains("relay 3 on: web (127.0.0.1)"));
}

TEST_F(WebApi, GoodSettingsAreSavedAtOnceAndBadOnesChangeNothing)
{
    ASSERT_EQ(LogIn().status, 200);
    QJsonObject settings = Request("GET", "/api/relays/2/settings").json();
    settings["mode"] = "Timer";
    ASSERT_EQ(Request("PUT", "/api/relays/2/settings", QJsonDocument(settings).toJson()).status, 200);
    ASSERT_EQ(Request("PUT", "/api/names", R"({"names": ["", "", "", "", "", "", "Tür", ""]})").status, 200);
    // On disk now, not at the close.
    Model read;
    int32_t com = 0;
    uint8_t chip = 0;
    ConfigTarget target(read, com, chip);
    StorageState storage;
    ASSERT_TRUE(LoadConfigurationFile(core->files().configFileName(), target, storage));
    EXPECT_EQ(read.RelayMode(1), ModeTimer);
    EXPECT_EQ(LoadSettingsFile().Names[6], "Tür");
    // The remote's password one byte a character, as the window stores it and clients send it.
    const QByteArray remote = R"({"on": false, "port": "26535", "password": "Tür"})";
    ASSERT_EQ(Request("PUT", "/api/remote", remote).status, 200);
    EXPECT_EQ(LoadSettingsFile().RemotePassword, "T\xfcr");
    EXPECT_EQ(Request("PUT", "/api/remote", R"({"on": false, "port": "26535", "password": "5€"})").status,
              400);
    EXPECT_EQ(core->remoteSwitch().settings().RemotePassword, "T\xfcr");
    // A bad field after a good one: nothing of the body is taken.
    settings["mode"] = "Random";
    settings["windows"] = QJsonArray{};
    EXPECT_EQ(Request("PUT", "/api/relays/2/settings", QJsonDocument(settings).toJson()).status, 400);
    EXPECT_EQ(model().RelayMode(1), ModeTimer);
}

TEST_F(WebApi, PortControlsWaitForStopAndTheDeviceFromTheCommandLineStays)
{
    ASSERT_EQ(LogIn().status, 200);
    ASSERT_TRUE(Settled([this] { return core->portControlsLocked(); }));
    const QByteArray chipA = R"({"com": 1, "chip": "PCF 8574 A"})";
    EXPECT_EQ(Request("PUT", "/api/port", chipA).status, 409);
    EXPECT_EQ(Request("POST", "/api/port/stop", "{}").status, 200);
    // The device is shown and not chosen from the page; the chip still is.
    EXPECT_EQ(Request("GET", "/api/port").json().value("device"), kDevice);
    EXPECT_EQ(Request("PUT", "/api/port", R"({"com": 5, "chip": "PCF 8574"})").status, 409);
    EXPECT_EQ(Request("PUT", "/api/port", chipA).status, 200);
    EXPECT_EQ(core->adapter().ChipAddress, kChipAddressPcf8574A);
}

TEST_F(WebApi, LiveSocketCarriesChanges)
{
    ASSERT_EQ(LogIn().status, 200);
    QNetworkRequest request(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/live").arg(web->Port())));
    request.setRawHeader("Cookie", cookie);
    QWebSocket live;
    QList<QJsonObject> states;
    QObject::connect(&live, &QWebSocket::textMessageReceived, [&](const QString& m) {
        const QJsonObject message = QJsonDocument::fromJson(m.toUtf8()).object();
        if (message["type"] == "state")
            states << message["state"].toObject();
    });
    live.open(request);
    ASSERT_TRUE(WaitUntil([&] { return !states.isEmpty(); }));  // the state at once
    core->Switch({{4, RelayAction::On}}, SwitchCause{CauseKind::Remote, 0, "10.0.0.2"});
    EXPECT_TRUE(WaitUntil([&] { return states.last()["relays"].toArray()[4].toObject()["on"] == true; }));
}

// Over TLS the guarded listener hands the HTTP server only sockets whose handshake is done, and
// the session cookie is marked Secure.
TEST_F(WebApi, HttpsServesTheApiWithASecureCookie)
{
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=localhost",
                   "-keyout", work.Path("key.pem"), "-out", work.Path("cert.pem")});
    if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0)
        GTEST_SKIP() << "no openssl to make a certificate";
    StartWeb(work.Path("cert.pem"), work.Path("key.pem"));
    const Response r = LogIn();
    EXPECT_EQ(r.status, 200);
    EXPECT_TRUE(r.head.contains("; Secure\r\n"));
}

}  // namespace
}  // namespace tavoxa::testing
