// What keeps strangers out and the server usable, with real clients on the loopback: no login
// without a password or during a pending close, the slow-down of guessing, the connection
// limit, and line-ended messages.
#include <QElapsedTimer>
#include <memory>
#include <vector>

#include "testclient.h"

namespace tavoxa {
namespace {

using testing::ServerTest;
using testing::TestClient;
using testing::WaitUntil;

// A refused login leaves switching locked and the state as it was: with no password set, and
// while the close is due after the operator unchecked Remote (the refused client reconnects and
// tries its password before the second tick closes the server).
TEST_F(ServerTest, RefusedLoginsLockSwitchingAndEachFailureIsReported)
{
    for (const bool closing : {false, true}) {
        if (closing) {
            remote.RemotePassword = "pw";
            TestClient a(port);
            ASSERT_TRUE(a.Greeted());
            server.RemoteSwitched(false);
            a.Send("repeat");
            ASSERT_EQ(a.Receive(7), "nolegal");
            a.socket.disconnectFromHost();
            ASSERT_TRUE(WaitUntil([&] { return remote.RemoteState == CloseDue; }));
        } else {
            remote.RemotePassword.clear();
        }
        QSignalSpy failed(&server, &RemoteServer::LoginFailed);
        TestClient c(port);
        ASSERT_TRUE(c.Greeted());
        c.Send(closing ? "Pass:pw" : "Pass:");
        EXPECT_EQ(c.Receive(7), "nolegal");
        c.SendHandled(server, "63");
        EXPECT_EQ(model.RelayBits, 0) << closing;
        EXPECT_EQ(remote.RemoteState, closing ? CloseDue : Idle);
        ASSERT_EQ(failed.count(), 1);
        EXPECT_EQ(failed.at(0).at(0).toString(), "127.0.0.1");
        c.socket.disconnectFromHost();
        ASSERT_TRUE(ConnectionsAre(0));
    }
    server.RemoteCloseStep();
    EXPECT_FALSE(server.IsOpen());
}

TEST_F(ServerTest, GuessingIsSlowedDownPerAddressWithoutHoldingUpOthers)
{
    QSignalSpy failed(&server, &RemoteServer::LoginFailed);
    TestClient guesser(port), reader(port), leaver(port);
    ASSERT_TRUE(guesser.Greeted() && reader.Greeted() && leaver.Greeted());
    guesser.Send("Pass:a\n");
    EXPECT_EQ(guesser.Receive(8), "nolegal\n");
    guesser.Send("Pass:b\n");
    EXPECT_EQ(guesser.Receive(8), "nolegal\n");
    QElapsedTimer sinceThirdFailure;  // started before the server records the failure
    sinceThirdFailure.start();
    guesser.Send("Pass:c\n");
    EXPECT_EQ(guesser.Receive(8), "nolegal\n");

    guesser.Send("Pass:pw\n");  // even the right password waits
    leaver.Send("Pass:d");      // waits as well, and its connection goes away meanwhile
    model.RelayBits = 9;
    EXPECT_EQ(reader.Repeat(), "9");  // served meanwhile, from the same address
    leaver.socket.disconnectFromHost();
    EXPECT_EQ(guesser.Receive(6), "legal\n");
    EXPECT_GE(sinceThirdFailure.elapsed(), 1000);
    EXPECT_EQ(failed.count(), 3);  // the attempt of the connection that left was dropped

    // A success forgets the failures: the next wrong password is answered at once.
    QElapsedTimer afterSuccess;
    afterSuccess.start();
    reader.Send("Pass:e");
    EXPECT_EQ(reader.Receive(7), "nolegal");
    EXPECT_LT(afterSuccess.elapsed(), 900);
}

TEST_F(ServerTest, ConnectionsPastTheLimitAreClosedAtOnce)
{
    std::vector<std::unique_ptr<TestClient>> clients;
    for (int i = 0; i < kMaxConnections; ++i) {
        clients.push_back(std::make_unique<TestClient>(port));
        ASSERT_TRUE(clients.back()->Greeted()) << i;
    }
    QSignalSpy connectedLast(&server, &RemoteServer::ClientConnectedLastChanged);
    TestClient extra(port);
    EXPECT_TRUE(extra.Closed());
    EXPECT_EQ(extra.got.size(), 0);  // not even greeted
    EXPECT_EQ(server.ConnectionCount(), kMaxConnections);
    EXPECT_EQ(connectedLast.count(), 0);

    clients.front()->socket.disconnectFromHost();
    ASSERT_TRUE(ConnectionsAre(kMaxConnections - 1));
    TestClient next(port);
    EXPECT_TRUE(next.Greeted());
}

TEST_F(ServerTest, LineEndedMessagesAreCutIntoLinesAndAnsweredWithLineEnds)
{
    model.RelayBits = 7;
    TestClient c(port);
    ASSERT_TRUE(c.Greeted());
    EXPECT_EQ(c.Repeat(), "7");  // bare, as the existing client sends it
    c.Send("Pass:pw\r\n");
    EXPECT_EQ(c.Receive(6), "legal\n");

    QSignalSpy changed(&server, &RemoteServer::RelayBitsChanged);
    c.SendHandled(server, "5\r\n3\r\n");
    EXPECT_EQ(changed.count(), 2);
    EXPECT_EQ(model.RelayBits, 3);
    c.Send("repeat\nrepeat\n");
    EXPECT_EQ(c.Receive(4), "3\n3\n");
}

}  // namespace
}  // namespace tavoxa
