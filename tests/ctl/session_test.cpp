// The client in-process against the real remote server on the loopback, with a Model the test
// controls; and against a bare server that reads each message whole, without line ends.
#include "ctl/session.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include "engine/model.h"
#include "remote/remoteserver.h"

namespace tavoxa {
namespace {

struct Outcome {
    int code = -1;
    QByteArray out;
    QByteArray err;
};

// Runs one command line; `prepare` may reach the session before it runs (to stop a watch).
Outcome RunCtl(uint16_t port, QStringList arguments, const std::optional<QByteArray>& password = "pw",
               const std::function<void(CtlSession&)>& prepare = {})
{
    arguments = QStringList{"--port", QString::number(port), "--timeout", "3"} + arguments;
    const CtlParse parse = ParseCtlArguments(arguments, password);
    EXPECT_EQ(parse.outcome, CtlParse::Outcome::Run) << parse.error.toStdString();
    QBuffer out;
    QBuffer err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    CtlSession session(parse.request, out, err);
    session.SetReadbackDelay(50);
    session.SetWatchInterval(20);
    if (prepare)
        prepare(session);
    const int code = session.Run();
    return {code, out.data(), err.data()};
}

class CtlAgainstServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        remote.RemotePassword = "pw";
        server.SetListenAddress(QHostAddress::LocalHost);
        ASSERT_TRUE(server.Open(0));
        port = server.BoundPort();
    }

    Model model;
    RemoteSettings remote;
    RemoteServer server{remote, model};
    uint16_t port = 0;
};

TEST_F(CtlAgainstServer, StatusAsLinesAndAsJson)
{
    model.RelayBits = 0x85;  // relays 1 and 3 on, K1 line high (open), K2 low (closed)
    Outcome status = RunCtl(port, {"status"}, std::nullopt);
    EXPECT_EQ(status.code, ExitDone) << status.err.toStdString();
    EXPECT_EQ(status.out,
              "relay 1 on\nrelay 2 off\nrelay 3 on\nrelay 4 off\nrelay 5 off\nrelay 6 off\n"
              "K1 open\nK2 closed\n");

    status = RunCtl(port, {"status", "--json"}, std::nullopt);
    ASSERT_EQ(status.code, ExitDone);
    const QJsonObject json = QJsonDocument::fromJson(status.out).object();
    EXPECT_EQ(json["byte"].toInt(), 0x85);
    EXPECT_EQ(json["relays"].toArray(), (QJsonArray{true, false, true, false, false, false}));
    EXPECT_FALSE(json["k1_closed"].toBool());
    EXPECT_TRUE(json["k2_closed"].toBool());
    EXPECT_EQ(remote.RemoteState, Idle) << "reading needs no login";
}

// Each switching command changes only the named relays, is spoken with line ends to this server
// and prints the read-back; a wrong password switches nothing; a relay its engine switches back
// (one in a mode that decides it by itself) is reported by its number.
TEST_F(CtlAgainstServer, SwitchingChangesOnlyTheNamedRelaysAndReadsBack)
{
    const struct {
        QStringList arguments;
        const char* password;
        uint8_t before;
        uint8_t after;
        int code;
        const char* err;
        int undone = -1;  // the relay the engine clears again
    } cases[] = {
        {{"on", "1", "3", "1"}, "pw", 0xC0, 0xC5, ExitDone, ""},
        {{"off", "3"}, "pw", 0xC5, 0xC1, ExitDone, ""},
        {{"toggle", "1", "2"}, "pw", 0x01, 0x02, ExitDone, ""},
        {{"set", "36"}, "pw", 0x3F, 36, ExitDone, ""},
        {{"on", "1"}, "wrong", 0x00, 0x00, ExitLoginFailed, "wrong password"},
        {{"on", "2", "3"}, "pw", 0x00, 0x02, ExitNotTaken, "relay 3 did not take", 2},
    };
    for (const auto& c : cases) {
        const std::string name = c.arguments.join(' ').toStdString() + " " + c.password;
        model.RelayBits = c.before;
        bool lineEnds = false;
        const Outcome outcome = RunCtl(port, c.arguments, c.password, [&](CtlSession& session) {
            QObject::connect(&server, &RemoteServer::RelayBitsChanged, &session, [&] {
                lineEnds = session.SpeaksLineEnds();
                if (c.undone >= 0)
                    ClearRelay(model, c.undone);
            });
        });
        EXPECT_EQ(outcome.code, c.code) << name << outcome.err.toStdString();
        EXPECT_EQ(model.RelayBits, c.after) << name;
        EXPECT_EQ(lineEnds, c.code != ExitLoginFailed) << name;
        EXPECT_TRUE(outcome.err.contains(c.err) && !outcome.err.contains("relay 2"))
            << name << outcome.err.toStdString();
        EXPECT_EQ(outcome.out.startsWith("relay 1 "), c.code != ExitLoginFailed) << name;
    }
}

TEST_F(CtlAgainstServer, WatchPrintsEachChangeUntilStopped)
{
    model.RelayBits = 0xC0;
    const Outcome outcome = RunCtl(port, {"watch", "--json"}, std::nullopt, [&](CtlSession& session) {
        QTimer::singleShot(150, &server, [&] { model.RelayBits = 0xC1; });
        QTimer::singleShot(400, &server, [&] { session.Stop(); });
    });
    EXPECT_EQ(outcome.code, ExitDone);
    const QList<QByteArray> lines = outcome.out.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 2) << outcome.out.toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(lines[0]).object()["byte"].toInt(), 0xC0);
    EXPECT_EQ(QJsonDocument::fromJson(lines[1]).object()["byte"].toInt(), 0xC1);
    EXPECT_FALSE(QJsonDocument::fromJson(lines[1]).object()["time"].toString().isEmpty());
}

TEST(CtlWithoutServer, AClosedPortIsExitTwo)
{
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const uint16_t port = probe.serverPort();
    probe.close();
    const Outcome outcome = RunCtl(port, {"status"});
    EXPECT_EQ(outcome.code, ExitNoServer);
    EXPECT_TRUE(outcome.err.contains("cannot connect"));
}

// A server without line-end support: each read is one message, compared whole. The client
// logs in again without the line end and must not send line-ended text as a switching command.
TEST(CtlAgainstBareServer, IsLoggedIntoAgainWithoutTheLineEnd)
{
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    bool loggedIn = false;
    int bits = 0;
    QObject::connect(&server, &QTcpServer::newConnection, &server, [&] {
        QTcpSocket* socket = server.nextPendingConnection();
        socket->write("connect");
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [&, socket] {
            const QByteArray message = socket->readAll();
            if (message.startsWith("Pa")) {
                loggedIn = message == "Pass:pw";
                socket->write(loggedIn ? "legal" : "nolegal");
            } else if (message == "repeat") {
                socket->write(QByteArray::number(bits));
            } else if (loggedIn) {
                bits = message.toInt();  // a line-ended text would read as 0 here
            }
        });
    });
    bool lineEnds = true;
    const Outcome outcome = RunCtl(server.serverPort(), {"on", "4"}, "pw", [&](CtlSession& session) {
        QTimer::singleShot(20, &server, [&] { lineEnds = session.SpeaksLineEnds(); });
    });
    EXPECT_EQ(outcome.code, ExitDone) << outcome.err.toStdString();
    EXPECT_FALSE(lineEnds);
    EXPECT_EQ(bits, 0x08);
}

}  // namespace
}  // namespace tavoxa
