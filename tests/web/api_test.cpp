// The web API against the real server in-process: the controller on the simulated board, the
// server on the loopback, raw HTTP requests from a socket so every header is the test's own.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSslSocket>
#include <QTcpSocket>
#include <QWebSocket>
#include <map>

#include "remote/connectionlimit.h"
#include "remote/loginguard.h"
#include "storage/configfile.h"
#include "storage/settingsfile.h"
#include "tests/core/controllerfixture.h"
#include "web/webconfig.h"
#include "web/webjson.h"
#include "web/webserver.h"

namespace tavoxa::testing {
namespace {

struct Response {
    int status = 0;
    std::map<QByteArray, QByteArray> headers;  // names in lower case
    QByteArray body;
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

class WebApi : public ControllerFixture {
protected:
    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(WritePasswordFile(work.Path(kPasswordFileName), "pw", &error)) << error.toStdString();
        Start();
        guard = std::make_unique<LoginGuard>(&monotonic);
        // As the program does: the guard's lines into the switching log.
        QObject::connect(guard.get(), &LoginGuard::LogLine, core.get(),
                         [this](const QString& line) { core->log().Write(line); });
        StartWeb();
    }
    // The page anew, with `device` as given on the command line and the program's `language`.
    void StartWeb(const QString& device = {}, const QString& language = QStringLiteral("en"))
    {
        web.reset();
        cookie.clear();
        web = std::make_unique<WebServer>(*core, *guard, limit);
        WebConfig config;
        config.address = QHostAddress::LocalHost;
        config.port = 0;
        config.passwordFile = work.Path(kPasswordFileName);
        config.device = device;
        config.language = language;
        QString error;
        ASSERT_TRUE(web->Start(config, &error)) << error.toStdString();
    }
    void TearDown() override { web.reset(); }

    // One request on a connection of its own; the answer once complete.
    Response Request(const QByteArray& method, const QByteArray& path, const QByteArray& body = {},
                     const QList<QPair<QByteArray, QByteArray>>& headers = {}, bool withSession = true,
                     bool json = true)
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, web->Port());
        EXPECT_TRUE(socket.waitForConnected(kWaitMs));
        QByteArray out = method + ' ' + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
        if (withSession && !cookie.isEmpty())
            out += "Cookie: " + cookie + "\r\n";
        if (json && !body.isNull())
            out += "Content-Type: application/json\r\n";
        for (const auto& [name, value] : headers)
            out += name + ": " + value + "\r\n";
        if (!body.isNull())
            out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
        socket.write(out + "\r\n" + body);
        return Read(socket);
    }
    static Response Read(QTcpSocket& socket)
    {
        QByteArray in;
        Response r;
        WaitUntil([&] {
            in += socket.readAll();
            const qsizetype end = in.indexOf("\r\n\r\n");
            if (end < 0)
                return false;
            r.headers.clear();
            const QList<QByteArray> lines = in.left(end).split('\n');
            r.status = lines[0].split(' ').value(1).toInt();
            for (qsizetype i = 1; i < lines.size(); ++i) {
                const qsizetype colon = lines[i].indexOf(':');
                r.headers[lines[i].left(colon).trimmed().toLower()] = lines[i].mid(colon + 1).trimmed();
            }
            r.body = in.mid(end + 4);
            return r.body.size() >= r.headers["content-length"].toInt();
        });
        return r;
    }
    Response LogIn(const QByteArray& password = "pw")
    {
        Response r = Request("POST", "/api/login", R"({"password": ")" + password + R"("})", {}, false);
        if (r.status == 200)
            cookie = r.headers["set-cookie"].split(';').first();
        return r;
    }

    // The login guard's clock, driven by the tests.
    struct TestClock : MonotonicClock {
        int64_t NowMs() const override { return ms; }
        int64_t ms = 1000000;
    } monotonic;
    ConnectionLimit limit{kMaxWebConnections};
    std::unique_ptr<LoginGuard> guard;
    std::unique_ptr<WebServer> web;
    QByteArray cookie;
};

TEST_F(WebApi, EveryRouteButLoginAndPageNeedsASession)
{
    const std::pair<QByteArray, QByteArray> routes[] = {
        {"GET", "/api/state"},
        {"POST", "/api/logout"},
        {"POST", "/api/relays"},
        {"POST", "/api/relays/1"},
        {"GET", "/api/relays/1/settings"},
        {"PUT", "/api/relays/1/settings"},
        {"GET", "/api/names"},
        {"PUT", "/api/names"},
        {"GET", "/api/plan?days=2"},
        {"GET", "/api/log"},
        {"GET", "/api/port"},
        {"PUT", "/api/port"},
        {"POST", "/api/port/stop"},
        {"POST", "/api/reset"},
        {"GET", "/api/remote"},
        {"PUT", "/api/remote"},
        {"GET", "/api/nothing"},
    };
    for (const auto& [method, path] : routes) {
        const QByteArray body = method == "GET" ? QByteArray() : QByteArray(R"({"on": true})");
        EXPECT_EQ(Request(method, path, body).status, 401) << method.data() << ' ' << path.data();
    }
    EXPECT_EQ(Request("GET", "/").status, 200);
    EXPECT_EQ(Request("GET", "/app.js").status, 200);
    EXPECT_EQ(RelayIsOn(model(), 0), false);
}

TEST_F(WebApi, LoginSetsAStrictCookieAndLogoutEndsIt)
{
    EXPECT_EQ(LogIn("wrong").status, 401);
    monotonic.ms += 1000;
    const Response r = LogIn();
    ASSERT_EQ(r.status, 200);
    EXPECT_TRUE(r.headers.at("set-cookie").contains("HttpOnly; SameSite=Strict"));
    EXPECT_EQ(Request("GET", "/api/state").status, 200);
    EXPECT_EQ(Request("POST", "/api/logout", "{}").status, 200);
    EXPECT_EQ(Request("GET", "/api/state").status, 401);
}

TEST_F(WebApi, ThrottledLoginsAnswer429WithRetryAfterAndAreLogged)
{
    CaptureLog();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(LogIn("wrong").status, 401);
        monotonic.ms += 100;
    }
    // After three failures one check a second per address; the right password waits too.
    const Response r = LogIn();
    EXPECT_EQ(r.status, 429);
    EXPECT_EQ(r.headers.at("retry-after"), "1");
    monotonic.ms += 1000;
    EXPECT_EQ(LogIn().status, 200);
    // At most one line a second: the failures 100 ms apart are counted into the next line.
    EXPECT_EQ(lines.filter("web login refused from 127.0.0.1").size(), 1);
}

TEST_F(WebApi, ForeignOriginsAndOtherBodiesAreRefused)
{
    ASSERT_EQ(LogIn().status, 200);
    const QByteArray on = R"({"on": true})";
    EXPECT_EQ(Request("POST", "/api/relays/1", on, {{"Origin", "http://evil.example"}}).status, 403);
    EXPECT_EQ(Request("POST", "/api/relays/1", on, {{"Sec-Fetch-Site", "cross-site"}}).status, 403);
    EXPECT_EQ(Request("POST", "/api/relays/1", on, {{"Content-Type", "text/plain"}}, true, false).status,
              415);
    EXPECT_EQ(Request("POST", "/api/login", R"({"password": "pw"})", {{"Origin", "null"}}, false).status,
              403);
    EXPECT_EQ(RelayIsOn(model(), 0), false);
    EXPECT_EQ(Request("POST", "/api/relays/1", on, {{"Origin", "http://127.0.0.1"}}).status, 200);
    EXPECT_EQ(RelayIsOn(model(), 0), true);
}

TEST_F(WebApi, OversizedBodyIsRefusedFromItsHeaders)
{
    ASSERT_EQ(LogIn().status, 200);
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, web->Port());
    ASSERT_TRUE(socket.waitForConnected(kWaitMs));
    // The body is announced, never sent: the answer cannot wait for it.
    socket.write("PUT /api/names HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: " + cookie +
                 "\r\nContent-Type: application/json\r\nContent-Length: 10000000\r\n\r\n{");
    EXPECT_EQ(Read(socket).status, 413);
}

TEST_F(WebApi, UnknownPathsAndFilesOutsideThePage)
{
    ASSERT_EQ(LogIn().status, 200);
    for (const QByteArray path : {"/index.html/..", "/../CMakeLists.txt", "/%2e%2e/web.passwd", "/web.passwd",
                                  "/api/relays/7", "/api/relays/0/settings"})
        EXPECT_EQ(Request("GET", path).status, 404) << path.data();
}

TEST_F(WebApi, SwitchingReachesTheBoardInOneStep)
{
    ASSERT_EQ(LogIn().status, 200);
    CaptureLog();
    const Response r = Request("POST", "/api/relays", R"({"on": [1, 3], "off": [2]})");
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(r.json()["relays"].toArray()[2].toObject()["on"], true);
    EXPECT_TRUE(Settled([this] { return board.RelayPins() == 0b101; }));
    EXPECT_TRUE(lines.contains("relay 3 on: web (127.0.0.1)"));
}

TEST_F(WebApi, SettingsBadValuesChangeNothingAndGoodOnesAreSavedAtOnce)
{
    ASSERT_EQ(LogIn().status, 200);
    const Response got = Request("GET", "/api/relays/2/settings");
    ASSERT_EQ(got.status, 200);
    EXPECT_EQ(Request("PUT", "/api/relays/2/settings", got.body).status, 200)
        << "GET's body goes back as it is";

    QJsonObject bad = got.json();
    bad["mode"] = "Zeitschaltuhr";
    const Response refused = Request("PUT", "/api/relays/2/settings", QJsonDocument(bad).toJson());
    EXPECT_EQ(refused.status, 400);
    EXPECT_TRUE(refused.json()["error"].toString().startsWith("mode"));
    EXPECT_EQ(model().RelayMode(1), ModeToggle);

    QJsonObject timer = got.json();
    timer["mode"] = "Timer";
    QJsonArray programs = timer["programs"].toArray();
    programs[0] =
        QJsonObject{{"day", "Mo-Fr"}, {"date", "2026-12-24"}, {"start", "06:30:00"}, {"end", "07:45:00"}};
    timer["programs"] = programs;
    ASSERT_EQ(Request("PUT", "/api/relays/2/settings", QJsonDocument(timer).toJson()).status, 200);
    // On disk now, not at the close.
    Model read;
    int32_t com = 0;
    uint8_t chip = 0;
    ConfigTarget target(read, com, chip);
    StorageState storage;
    ASSERT_TRUE(LoadConfigurationFile(core->files().configFileName(), target, storage));
    EXPECT_EQ(read.RelayMode(1), ModeTimer);
    EXPECT_EQ(read.DayCode(1, 0), DayMonToFri);
    EXPECT_EQ(TimeText(read.ProgramStart(1, 0)), "06:30:00");

    ASSERT_EQ(Request("PUT", "/api/names", R"({"names": ["Pumpe", "", "", "", "", "", "Tür", ""]})").status,
              200);
    EXPECT_EQ(LoadSettingsFile().Names[6], "Tür");
}

TEST_F(WebApi, PortControlsWaitForStop)
{
    ASSERT_EQ(LogIn().status, 200);
    ASSERT_TRUE(Settled([this] { return core->portControlsLocked(); }));
    const QByteArray com3 = R"({"com": 3, "chip": "PCF 8574 A"})";
    EXPECT_EQ(Request("PUT", "/api/port", com3).status, 409);
    EXPECT_EQ(Request("POST", "/api/port/stop", "{}").status, 200);
    EXPECT_EQ(Request("PUT", "/api/port", com3).status, 200);
    EXPECT_EQ(core->adapter().ComNumber, 3);
    // A device from the command line is shown and not chosen from the page; the chip still is.
    StartWeb(QStringLiteral("/dev/serial/by-id/usb-test"));
    monotonic.ms += 1000;  // the login budget's next check
    ASSERT_EQ(LogIn().status, 200);
    EXPECT_EQ(Request("GET", "/api/port").json().value("device").toString(), "/dev/serial/by-id/usb-test");
    EXPECT_EQ(Request("PUT", "/api/port", R"({"com": 5, "chip": "PCF 8574"})").status, 409);
    EXPECT_EQ(Request("PUT", "/api/port", R"({"com": 3, "chip": "PCF 8574"})").status, 200);
    EXPECT_EQ(core->adapter().ComNumber, 3);
}

TEST_F(WebApi, ThePageTakesTheProgramsLanguageForABrowserThatNamesNone)
{
    StartWeb({}, QStringLiteral("de"));
    EXPECT_TRUE(Request("GET", "/", {}, {}, false).body.contains(R"(data-fallback="de")"));
}

TEST_F(WebApi, LiveSocketNeedsASessionAndCarriesChanges)
{
    QWebSocket anonymous;
    bool refused = false;
    QObject::connect(&anonymous, &QWebSocket::disconnected, [&] { refused = true; });
    anonymous.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/live").arg(web->Port())));
    ASSERT_TRUE(WaitUntil([&] { return refused || anonymous.state() == QAbstractSocket::ConnectedState; }));
    EXPECT_TRUE(refused);
    EXPECT_EQ(web->LiveClients(), 0);

    ASSERT_EQ(LogIn().status, 200);
    QNetworkRequest request(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/live").arg(web->Port())));
    request.setRawHeader("Cookie", cookie);
    QWebSocket live;
    QStringList messages;
    QObject::connect(&live, &QWebSocket::textMessageReceived, [&](const QString& m) { messages << m; });
    live.open(request);
    ASSERT_TRUE(WaitUntil([&] { return !messages.isEmpty(); }));
    EXPECT_TRUE(messages.first().contains(R"("type":"state")"));
    messages.clear();
    core->Switch({{4, RelayAction::On}}, SwitchCause{CauseKind::Remote, 0, "10.0.0.2"});
    ASSERT_TRUE(WaitUntil([&] { return messages.filter(R"("type":"state")").size() > 0; }));
    const QJsonObject state = QJsonDocument::fromJson(messages.filter(R"("type":"state")").first().toUtf8())
                                  .object()["state"]
                                  .toObject();
    EXPECT_EQ(state["relays"].toArray()[4].toObject()["on"], true);
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
    WebServer tls(*core, *guard, limit);
    WebConfig config;
    config.address = QHostAddress::LocalHost;
    config.port = 0;
    config.passwordFile = work.Path(kPasswordFileName);
    config.certFile = work.Path("cert.pem");
    config.keyFile = work.Path("key.pem");
    QString error;
    ASSERT_TRUE(tls.Start(config, &error)) << error.toStdString();

    QSslSocket socket;
    socket.setPeerVerifyMode(QSslSocket::VerifyNone);
    socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), tls.Port());
    // The server answers on this thread: wait with the event loop turning.
    ASSERT_TRUE(WaitUntil([&] { return socket.isEncrypted(); })) << socket.errorString().toStdString();
    const QByteArray body = R"({"password": "pw"})";
    socket.write(
        "POST /api/login HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
        "Content-Length: " +
        QByteArray::number(body.size()) + "\r\n\r\n" + body);
    const Response r = Read(socket);
    EXPECT_EQ(r.status, 200);
    EXPECT_TRUE(r.headers.at("set-cookie").endsWith("; Secure"));
}

}  // namespace
}  // namespace tavoxa::testing
