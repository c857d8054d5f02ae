// What keeps strangers out and the server usable, with real clients on the loopback: no login
// without a password or during a pending close, and line-ended messages. The budget of logins
// and connections is in guard_test.cpp.
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
