// The TCP server with real clients on the loopback: conversation, connect flag, opening and shut-down.
#include <sys/socket.h>

#include <QTcpServer>
#include <memory>

#include "testclient.h"

namespace tavoxa {
namespace {

using testing::ServerTest;
using testing::TestClient;
using testing::WaitUntil;

// Makes the next close of `socket` a reset (RST) instead of an orderly close.
void ResetOnClose(QTcpSocket& socket)
{
    const linger hard{1, 0};
    ASSERT_EQ(
        setsockopt(static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard),
        0);
}

TEST_F(ServerTest, EveryClientIsGreetedAndConnectedLastFollowsTheLastEvent)
{
    QSignalSpy connectedLast(&server, &RemoteServer::ClientConnectedLastChanged);
    TestClient a(port);
    ASSERT_TRUE(a.Greeted());
    EXPECT_TRUE(server.ClientConnectedLast());
    ASSERT_EQ(connectedLast.count(), 1);
    EXPECT_TRUE(connectedLast.at(0).at(0).toBool());
    TestClient b(port);
    ASSERT_TRUE(b.Greeted());
    EXPECT_EQ(server.ConnectionCount(), 2);

    a.socket.disconnectFromHost();
    ASSERT_TRUE(ConnectionsAre(1));
    EXPECT_FALSE(server.ClientConnectedLast());  // b is still there: not a count
    EXPECT_FALSE(connectedLast.last().at(0).toBool());
    EXPECT_EQ(remote.RemoteState, Idle);
}

TEST_F(ServerTest, RepeatIsAnsweredBeforeLogin)
{
    model.RelayBits = 129;
    TestClient c(port);
    ASSERT_TRUE(c.Greeted());
    EXPECT_EQ(c.Repeat(), "129");
    EXPECT_EQ(remote.RemoteState, Idle);
}

TEST_F(ServerTest, LoginThenSwitch)
{
    TestClient c(port);
    ASSERT_TRUE(c.Greeted());
    c.Send("Pass:pw");
    EXPECT_EQ(c.Receive(5), "legal");
    EXPECT_EQ(remote.RemoteState, LoggedIn);

    QSignalSpy changed(&server, &RemoteServer::RelayBitsChanged);
    c.SendHandled(server, "5");
    EXPECT_EQ(model.RelayBits, 5);
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed.at(0).at(0).toString(), "127.0.0.1");
    c.SendHandled(server, "256");
    EXPECT_EQ(model.RelayBits, 0);
    c.SendHandled(server, "-1");
    EXPECT_EQ(model.RelayBits, 255);
    // No reply to a switching command: the next answer is the number alone.
    EXPECT_EQ(c.Repeat(), "255");
}

TEST_F(ServerTest, WrongPasswordIsRefusedAndANewPasswordAppliesAtOnce)
{
    remote.RemotePassword = "alt";
    TestClient c(port);
    ASSERT_TRUE(c.Greeted());
    c.Send("Pass:alt ");
    EXPECT_EQ(c.Receive(7), "nolegal");
    remote.RemotePassword = "neu";  // "Ok" in the dialog while the server runs
    c.Send("Pass:alt");
    EXPECT_EQ(c.Receive(7), "nolegal");
    c.Send("Pass:neu");
    EXPECT_EQ(c.Receive(5), "legal");
}

TEST_F(ServerTest, SwitchOffWithTwoClientsRunsTheWholeShutDown)
{
    TestClient a(port), b(port);
    ASSERT_TRUE(a.Greeted());
    ASSERT_TRUE(b.Greeted());
    a.Send("Pass:pw");
    ASSERT_EQ(a.Receive(5), "legal");
    model.RelayBits = 3;

    EXPECT_TRUE(server.RemoteSwitched(false));  // a client connected last: stays open
    EXPECT_EQ(remote.RemoteState, ClosePending);
    EXPECT_TRUE(server.IsOpen());

    b.Send("repeat");
    EXPECT_EQ(b.Receive(7), "nolegal");
    EXPECT_EQ(remote.RemoteState, Refusing);
    a.SendHandled(server, "60");  // ignored, even from the logged-in client
    b.SendHandled(server, "repeat");
    EXPECT_EQ(model.RelayBits, 3);
    EXPECT_EQ(remote.RemoteState, Refusing);

    b.socket.disconnectFromHost();  // the client leaves on "nolegal"
    ASSERT_TRUE(WaitUntil([&] { return remote.RemoteState == CloseDue; }));
    EXPECT_FALSE(server.ClientConnectedLast());
    EXPECT_TRUE(server.IsOpen());

    server.RemoteCloseStep();  // the second tick
    EXPECT_EQ(remote.RemoteState, Idle);
    EXPECT_FALSE(server.IsOpen());
    EXPECT_EQ(server.ConnectionCount(), 0);
    EXPECT_TRUE(a.Closed());  // dropped silently
    EXPECT_EQ(a.got.size(), 0);
    EXPECT_FALSE(server.ClientConnectedLast());

    server.RemoteCloseStep();  // nothing more to do
    EXPECT_EQ(remote.RemoteState, Idle);
}

TEST_F(ServerTest, SwitchOffAfterAClientLeftClosesAtOnceAndKeepsTheLogin)
{
    TestClient a(port), b(port);
    ASSERT_TRUE(a.Greeted());
    ASSERT_TRUE(b.Greeted());
    a.Send("Pass:pw");
    ASSERT_EQ(a.Receive(5), "legal");
    a.socket.disconnectFromHost();
    ASSERT_TRUE(ConnectionsAre(1));
    ASSERT_FALSE(server.ClientConnectedLast());

    QSignalSpy connectedLast(&server, &RemoteServer::ClientConnectedLastChanged);
    EXPECT_TRUE(server.RemoteSwitched(false));
    EXPECT_FALSE(server.IsOpen());
    EXPECT_EQ(server.ConnectionCount(), 0);
    EXPECT_TRUE(b.Closed());
    EXPECT_EQ(remote.RemoteState, LoggedIn);
    EXPECT_EQ(connectedLast.count(), 0);
}

TEST_F(ServerTest, ClientLeavingWhileClosePendingLeavesTheRefusalForTheNext)
{
    TestClient a(port);
    ASSERT_TRUE(a.Greeted());
    server.RemoteSwitched(false);
    a.socket.disconnectFromHost();
    ASSERT_TRUE(ConnectionsAre(0));
    EXPECT_EQ(remote.RemoteState, ClosePending);
    TestClient b(port);
    ASSERT_TRUE(b.Greeted());
    b.Send("Pass:pw");
    EXPECT_EQ(b.Receive(7), "nolegal");
    EXPECT_EQ(remote.RemoteState, Refusing);
}

TEST_F(ServerTest, OpeningAnOpenServerAcceptsOnlyTheSamePort)
{
    EXPECT_TRUE(server.Open(0));
    EXPECT_EQ(server.BoundPort(), port);
    EXPECT_FALSE(server.Open(port == 65535 ? 1 : port + 1));
    EXPECT_TRUE(server.IsOpen());  // Open alone closes nothing; the box logic does

    // Remote switched on again with a different port during a pending shut-down: the server is
    // closed at once, and the unchecking that follows finds ClientConnectedLast set.
    TestClient c(port);
    ASSERT_TRUE(c.Greeted());
    server.RemoteSwitched(false);
    ASSERT_EQ(remote.RemoteState, ClosePending);
    remote.RemotePort = "1";
    EXPECT_FALSE(server.RemoteSwitched(true));
    EXPECT_FALSE(server.IsOpen());
    EXPECT_TRUE(c.Closed());
    EXPECT_TRUE(server.RemoteSwitched(false));
    EXPECT_EQ(remote.RemoteState, ClosePending);
    EXPECT_TRUE(server.ClientConnectedLast());
}

TEST_F(ServerTest, RemoteOnAgainWithTheSamePortKeepsTheShutDownGoing)
{
    remote.RemotePort = "0";
    TestClient c(port);
    ASSERT_TRUE(c.Greeted());
    server.RemoteSwitched(false);
    EXPECT_TRUE(server.RemoteSwitched(true));
    EXPECT_TRUE(server.IsOpen());
    EXPECT_EQ(remote.RemoteState, ClosePending);
    c.Send("repeat");
    EXPECT_EQ(c.Receive(7), "nolegal");
}

TEST(RemoteSwitched, PortInUseFailsAndClosesTheServer)
{
    QTcpServer blocker;
    ASSERT_TRUE(blocker.listen(QHostAddress::LocalHost, 0));
    Model model;
    RemoteSettings remote;
    remote.RemotePort = std::to_string(blocker.serverPort()) + "x";  // trailing letters are ignored
    RemoteServer server(remote, model);
    server.SetListenAddress(QHostAddress::LocalHost);
    EXPECT_FALSE(server.RemoteSwitched(true));
    EXPECT_FALSE(server.IsOpen());
    EXPECT_FALSE(server.LastError().isEmpty());  // the system's reason, for the report
    // The caller unchecks the box, which runs the logic again for the unchecked state.
    EXPECT_TRUE(server.RemoteSwitched(false));
    EXPECT_FALSE(server.IsOpen());

    blocker.close();
    EXPECT_TRUE(server.RemoteSwitched(true));
    EXPECT_TRUE(server.IsOpen());
    EXPECT_TRUE(server.LastError().isEmpty());
}

TEST(RemoteSwitched, EmptyPortTextListensOnTheDefaultPort)
{
    // With the default port taken (by this blocker, or by something else on the machine), an
    // opening there fails; one on a port the system picks would succeed.
    QTcpServer blocker;
    blocker.listen(QHostAddress::LocalHost, kDefaultRemotePort);
    Model model;
    RemoteSettings remote;
    RemoteServer server(remote, model);
    server.SetListenAddress(QHostAddress::LocalHost);
    EXPECT_FALSE(server.RemoteSwitched(true));
    EXPECT_FALSE(server.IsOpen());
}

TEST_F(ServerTest, AStrangerCannotSwitchOnSomeoneElsesLogin)
{
    TestClient owner(port), present(port);
    ASSERT_TRUE(owner.Greeted());
    ASSERT_TRUE(present.Greeted());
    owner.Send("Pass:pw");
    ASSERT_EQ(owner.Receive(5), "legal");
    model.RelayBits = 1;

    present.SendHandled(server, "63");  // connected at the same time
    EXPECT_EQ(model.RelayBits, 1);
    owner.socket.disconnectFromHost();
    ASSERT_TRUE(ConnectionsAre(1));
    TestClient later(port);  // connects after the owner has left
    ASSERT_TRUE(later.Greeted());
    later.SendHandled(server, "63");
    EXPECT_EQ(model.RelayBits, 1);
    EXPECT_EQ(remote.RemoteState, LoggedIn);
    EXPECT_EQ(later.Repeat(), "1");  // and no answer to the refused command

    later.Send("Pass:pw");
    ASSERT_EQ(later.Receive(5), "legal");
    later.SendHandled(server, "63");
    EXPECT_EQ(model.RelayBits, 63);
}

TEST_F(ServerTest, LowerCaseKeywordAndMergedRepeatsSwitchNothing)
{
    TestClient c(port);
    ASSERT_TRUE(c.Greeted());
    c.Send("Pass:pw");
    ASSERT_EQ(c.Receive(5), "legal");
    model.RelayBits = 0x2A;
    c.SendHandled(server, "pass:");
    c.SendHandled(server, "repeatrepeat");
    EXPECT_EQ(model.RelayBits, 0x2A);
    c.SendHandled(server, "0");  // a number still switches, 0 included
    EXPECT_EQ(model.RelayBits, 0);
}

TEST_F(ServerTest, ResetConnectionCountsAsDisconnect)
{
    TestClient a(port), b(port);
    ASSERT_TRUE(a.Greeted());
    ASSERT_TRUE(b.Greeted());
    server.RemoteSwitched(false);
    a.Send("repeat");
    ASSERT_EQ(a.Receive(7), "nolegal");
    ASSERT_EQ(remote.RemoteState, Refusing);

    ResetOnClose(a.socket);
    a.socket.abort();
    ASSERT_TRUE(ConnectionsAre(1));
    EXPECT_EQ(remote.RemoteState, CloseDue);
    EXPECT_FALSE(server.ClientConnectedLast());
    server.RemoteCloseStep();
    EXPECT_FALSE(server.IsOpen());
    EXPECT_TRUE(b.Closed());
}

TEST_F(ServerTest, ResetWhileTheReplyIsUnderWayLeavesOthersServed)
{
    TestClient stay(port);
    ASSERT_TRUE(stay.Greeted());
    for (int i = 0; i < 20; ++i) {
        auto gone = std::make_unique<TestClient>(port);
        ASSERT_TRUE(gone->Greeted());
        gone->Send(i % 2 ? "repeat" : "Pass:pw");
        ResetOnClose(gone->socket);
        gone->socket.abort();
    }
    ASSERT_TRUE(ConnectionsAre(1));
    model.RelayBits = 17;
    EXPECT_EQ(stay.Repeat(), "17");
}

TEST_F(ServerTest, DestroyingTheServerDropsItsClients)
{
    TestClient c(port);
    ASSERT_TRUE(c.Greeted());
    RemoteSettings otherRemote;
    auto other = std::make_unique<RemoteServer>(otherRemote, model);
    other->SetListenAddress(QHostAddress::LocalHost);
    ASSERT_TRUE(other->Open(0));
    TestClient d(other->BoundPort());
    ASSERT_TRUE(d.Greeted());
    other.reset();  // as at program exit
    EXPECT_TRUE(d.Closed());
    EXPECT_EQ(c.Repeat(), "0");  // a server of its own is not touched
}

}  // namespace
}  // namespace tavoxa
