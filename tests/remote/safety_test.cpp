// What keeps strangers out and the server usable, with real clients on the loopback: no login
// without a password or during a pending close, and line-ended messages. The budget of logins
// and connections is in guard_test.cpp.
#include <sys/resource.h>
#include <unistd.h>

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

// Out of descriptors, the server stops accepting for a moment instead of trying again at once,
// and takes the waiting connections once descriptors are free.
TEST_F(ServerTest, AtTheDescriptorLimitAcceptingPausesAndGoesOn)
{
#ifdef __SANITIZE_ADDRESS__
    // Out of descriptors, the sanitizers' runtime cannot check a virtual call's type and reports
    // it as a fault of the program.
    GTEST_SKIP() << "the sanitizers' runtime needs descriptors of its own";
#endif
    QSignalSpy paused(&server, &RemoteServer::AcceptPaused);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int lowestFree = ::dup(0);
    ::close(lowestFree);
    rlimit low = saved;
    low.rlim_cur = static_cast<rlim_t>(lowestFree) + 2;  // room for one client and no accept
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    TestClient first(port);
    const bool pausedAtLimit = WaitUntil([&] { return paused.count() > 0; });
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_TRUE(pausedAtLimit);
    EXPECT_EQ(paused.count(), 1);  // not retried in a loop meanwhile
    EXPECT_TRUE(first.Greeted());
    TestClient second(port);
    EXPECT_TRUE(second.Greeted());
}

}  // namespace
}  // namespace tavoxa
