// The client in-process against the real remote server on the loopback, with a Model the test
// controls; and against a small line-ended server that answers as one reading line ends does.
#include "ctl/session.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <memory>

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
    Outcome outcome;
    outcome.code = session.Run();
    outcome.out = out.data();
    outcome.err = err.data();
    return outcome;
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

TEST_F(CtlAgainstServer, SwitchingChangesOnlyTheNamedRelaysAndReadsBack)
{
    struct Case {
        QStringList arguments;
        uint8_t before;
        uint8_t after;
    };
    const std::vector<Case> cases{
        {{"on", "1", "3"}, 0xC0, 0xC5},
        {{"off", "3"}, 0xC5, 0xC1},
        {{"toggle", "1", "2"}, 0x01, 0x02},
        {{"set", "36"}, 0x3F, 36},
    };
    for (const Case& c : cases) {
        model.RelayBits = c.before;
        const Outcome outcome = RunCtl(port, c.arguments);
        EXPECT_EQ(outcome.code, ExitDone) << c.arguments.join(' ').toStdString() << outcome.err.toStdString();
        EXPECT_EQ(model.RelayBits, c.after) << c.arguments.join(' ').toStdString();
        EXPECT_TRUE(outcome.out.startsWith("relay 1 ")) << "the read-back is printed";
    }
}

TEST_F(CtlAgainstServer, WrongPasswordIsExitThreeAndSwitchesNothing)
{
    model.RelayBits = 0;
    const Outcome outcome = RunCtl(port, {"on", "1"}, "wrong");
    EXPECT_EQ(outcome.code, ExitLoginFailed);
    EXPECT_TRUE(outcome.err.contains("wrong password"));
    EXPECT_EQ(model.RelayBits, 0);
    EXPECT_TRUE(outcome.out.isEmpty());
}

TEST_F(CtlAgainstServer, ARelayItsEngineSwitchesBackIsReportedByNumber)
{
    // Relay 3 in a mode that decides it by itself: the engine undoes the remote's change.
    QObject::connect(&server, &RemoteServer::RelayBitsChanged, &server, [this] { ClearRelay(model, 2); });
    model.RelayBits = 0;
    const Outcome outcome = RunCtl(port, {"on", "2", "3"});
    EXPECT_EQ(outcome.code, ExitNotTaken);
    EXPECT_TRUE(outcome.err.contains("relay 3 did not take")) << outcome.err.toStdString();
    EXPECT_FALSE(outcome.err.contains("relay 2"));
}

TEST_F(CtlAgainstServer, ThisServerIsSpokenToWithLineEnds)
{
    model.RelayBits = 0;
    bool lineEnds = false;
    const Outcome outcome = RunCtl(port, {"on", "4"}, "pw", [&](CtlSession& session) {
        QObject::connect(&server, &RemoteServer::RelayBitsChanged, &server,
                         [&] { lineEnds = session.SpeaksLineEnds(); });
    });
    EXPECT_EQ(outcome.code, ExitDone) << outcome.err.toStdString();
    EXPECT_TRUE(lineEnds);
    EXPECT_EQ(model.RelayBits, 0x08);
}

// A server without line-end support: each read is one message, compared whole.
class BareServer : public QObject {
public:
    BareServer()
    {
        server.listen(QHostAddress::LocalHost, 0);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* socket = server.nextPendingConnection();
            socket->write("connect");
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
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
    }
    QTcpServer server;
    bool loggedIn = false;
    int bits = 0;
};

TEST(CtlAgainstBareServer, IsLoggedIntoAgainWithoutTheLineEnd)
{
    BareServer bare;
    bool lineEnds = true;
    const Outcome outcome = RunCtl(bare.server.serverPort(), {"on", "4"}, "pw", [&](CtlSession& session) {
        QTimer::singleShot(20, &bare, [&] { lineEnds = session.SpeaksLineEnds(); });
    });
    EXPECT_EQ(outcome.code, ExitDone) << outcome.err.toStdString();
    EXPECT_FALSE(lineEnds);
    EXPECT_EQ(bare.bits, 0x08) << "no line-ended text was taken as a switching command";
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

// A server that reads line ends: each line is a message, each answer ends with "\n". It can
// cut its refusal in two and can leave logins unanswered, as a server slowing logins does.
class LineServer : public QObject {
public:
    LineServer()
    {
        server.listen(QHostAddress::LocalHost, 0);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* socket = server.nextPendingConnection();
            socket->write("connect");
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Read(socket); });
        });
    }

    void Read(QTcpSocket* socket)
    {
        pending += socket->readAll();
        for (qsizetype end; (end = pending.indexOf('\n')) >= 0;) {
            const QByteArray line = pending.left(end);
            pending.remove(0, end + 1);
            received << line;
            if (line.startsWith("Pa")) {
                if (silentLogins)
                    continue;
                if (line != "Pass:pw") {
                    socket->write("nolegal");
                    socket->flush();
                    QTimer::singleShot(30, socket, [socket] { socket->write("\n"); });
                    continue;
                }
                socket->write("legal\n");
            } else if (line == "repeat") {
                socket->write(QByteArray::number(bits) + "\n");
            } else {
                bits = static_cast<uint8_t>(line.toInt());
            }
        }
        bare += pending;  // what never got a line end
    }

    QTcpServer server;
    QByteArray pending;
    QByteArray bare;
    QList<QByteArray> received;
    uint8_t bits = 0;
    bool silentLogins = false;
};

TEST(CtlWithLineServer, SpeaksInLinesOnceTheLineEndedLoginWorks)
{
    LineServer line;
    line.bits = 0x40;
    const Outcome outcome = RunCtl(line.server.serverPort(), {"toggle", "2"});
    EXPECT_EQ(outcome.code, ExitDone) << outcome.err.toStdString();
    EXPECT_EQ(line.bits, 0x42);
    EXPECT_EQ(line.received, (QList<QByteArray>{"Pass:pw", "repeat", "66", "repeat"}));
}

TEST(CtlWithLineServer, ARefusalWhoseLineEndComesLateIsStillARefusal)
{
    LineServer line;
    const Outcome outcome = RunCtl(line.server.serverPort(), {"on", "1"}, "wrong");
    EXPECT_EQ(outcome.code, ExitLoginFailed) << outcome.err.toStdString();
    EXPECT_EQ(line.received.size(), 1);
    EXPECT_EQ(line.bits, 0);
}

TEST(CtlWithLineServer, ALoginNotAnsweredInTimeIsReportedAsLate)
{
    LineServer line;
    line.silentLogins = true;
    const Outcome outcome = RunCtl(line.server.serverPort(), {"--timeout", "0.3", "on", "1"});
    EXPECT_EQ(outcome.code, ExitNoServer);
    EXPECT_TRUE(outcome.err.contains("logins late")) << outcome.err.toStdString();
}

}  // namespace
}  // namespace tavoxa
