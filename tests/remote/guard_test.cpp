// The budget of connections and password checks, against the real server on the loopback with
// clients from several 127.x addresses and an injected clock: every case counts what the server
// did (checks run, connections held) instead of waiting to see that nothing happens.
#include <sys/socket.h>

#include <QSignalSpy>
#include <functional>
#include <memory>
#include <vector>

#include "remote/connectionlimit.h"
#include "remote/loginguard.h"
#include "testclient.h"

namespace tavoxa {
namespace {

using testing::TestClient;
using testing::WaitUntil;

struct FakeClock : MonotonicClock {
    int64_t now = 1'000'000;
    int64_t NowMs() const override { return now; }
};

QHostAddress From(int host)
{
    return QHostAddress(QStringLiteral("127.0.0.%1").arg(host));
}

// One server per case, on its own fake clock.
struct Rig {
    Rig()
    {
        remote.RemotePassword = "pw";
        server.SetListenAddress(QHostAddress::LocalHost);
        EXPECT_TRUE(server.Open(0));
    }
    LoginGuard& guard() { return server.loginGuard(); }

    // A greeted client from 127.0.0.`host`.
    TestClient& Connect(int host)
    {
        clients.push_back(std::make_unique<TestClient>(server.BoundPort(), From(host)));
        EXPECT_TRUE(clients.back()->Greeted()) << "from host " << host;
        return *clients.back();
    }
    // A client that must be closed without a greeting.
    bool Refused(int host)
    {
        TestClient c(server.BoundPort(), From(host));
        return c.Closed() && c.got.isEmpty();
    }
    // Sends a login attempt and waits until the guard has it (waiting or checked).
    void Try(TestClient& c, std::string_view text)
    {
        const int64_t before = guard().WaitingCount() + guard().ChecksRun();
        c.Send(text);
        EXPECT_TRUE(WaitUntil([&] { return guard().WaitingCount() + guard().ChecksRun() > before; }));
    }
    // Moves the clock and serves what became due.
    void Advance(int64_t ms)
    {
        clock.now += ms;
        guard().ServeDue();
    }

    FakeClock clock;
    Model model;
    RemoteSettings remote;
    RemoteServer server{remote, model, nullptr, &clock};
    std::vector<std::unique_ptr<TestClient>> clients;
};

TEST(ServerGuard, ConnectionAndLoginRules)
{
    const std::pair<const char*, std::function<void(Rig&)>> cases[] = {
        {"32 connections per address; another address is still served",
         [](Rig& r) {
             for (int i = 0; i < kMaxConnectionsPerAddress; ++i)
                 r.Connect(2);
             EXPECT_TRUE(r.Refused(2));
             r.Connect(3);
             EXPECT_EQ(r.server.ConnectionCount(), kMaxConnectionsPerAddress + 1);
         }},
        {"at the total cap the oldest connection silent for 10 s makes room, a logged-in one never",
         [](Rig& r) {
             r.server.connectionLimit().SetTotalCap(3);
             TestClient& first = r.Connect(2);
             TestClient& talker = r.Connect(2);
             TestClient& member = r.Connect(2);
             r.Try(member, "Pass:pw");
             EXPECT_EQ(member.Receive(5), "legal");
             r.clock.now += kIdleBeforeEvictionMs - 1;
             talker.SendHandled(r.server, "repeat");
             EXPECT_EQ(talker.Receive(1), "0");
             EXPECT_TRUE(r.Refused(2));  // nobody silent for 10 s yet
             r.clock.now += 1;
             r.Connect(2);
             EXPECT_TRUE(first.Closed());
             r.clock.now += kIdleBeforeEvictionMs;
             r.Connect(2);
             EXPECT_TRUE(talker.Closed());
             EXPECT_EQ(member.socket.state(), QAbstractSocket::ConnectedState);
             EXPECT_EQ(r.server.connectionLimit().Evicted(), 2);
         }},
        {"at the total cap a newcomer from another address gets in at once",
         [](Rig& r) {
             r.server.connectionLimit().SetTotalCap(3);
             TestClient& oldest = r.Connect(2);
             r.Connect(2);
             r.Connect(2);
             r.Connect(3);
             EXPECT_TRUE(oldest.Closed());
             EXPECT_EQ(r.server.ConnectionCount(), 3);
         }},
        {"ten checks a second over all addresses, without a burst, none refused unchecked",
         [](Rig& r) {
             std::vector<TestClient*> guessers;
             for (int host = 10; host < 22; ++host)
                 guessers.push_back(&r.Connect(host));
             for (TestClient* g : guessers)
                 r.Try(*g, "Pass:guess");
             r.guard().ServeDue();
             EXPECT_EQ(r.guard().ChecksRun(), 1);
             r.Advance(kLoginCheckSpacingMs - 1);
             EXPECT_EQ(r.guard().ChecksRun(), 1);
             for (int i = 0; i < 11; ++i)
                 r.Advance(i == 0 ? 1 : kLoginCheckSpacingMs);
             EXPECT_EQ(r.guard().ChecksRun(), 12);
             for (TestClient* g : guessers)
                 EXPECT_EQ(g->Receive(7), "nolegal");
         }},
        {"after three failures one check a second, never longer, and the right password gets in",
         [](Rig& r) {
             TestClient& c = r.Connect(2);
             for (int i = 0; i < 3; ++i) {
                 r.Advance(kLoginCheckSpacingMs);
                 r.Try(c, "Pass:wrong");
                 EXPECT_EQ(c.Receive(7), "nolegal") << i;
             }
             for (int i = 0; i < 4; ++i) {
                 const int64_t before = r.guard().ChecksRun();
                 r.Try(c, i < 3 ? "Pass:wrong" : "Pass:pw");
                 r.Advance(kThrottledCheckSpacingMs - 1);
                 EXPECT_EQ(r.guard().ChecksRun(), before) << i;
                 r.Advance(1);
                 EXPECT_EQ(c.Receive(5), i < 3 ? "nolegal" : "legal") << i;
             }
             // The success forgets the failures.
             r.Advance(kLoginCheckSpacingMs);
             r.Try(c, "Pass:wrong");
             EXPECT_EQ(c.Receive(7), "nolegal");
         }},
        {"waiting attempts are served one address in turn",
         [](Rig& r) {
             TestClient& a1 = r.Connect(2);
             TestClient& a2 = r.Connect(2);
             TestClient& a3 = r.Connect(2);
             TestClient& b = r.Connect(3);
             for (TestClient* c : {&a1, &a2, &a3, &b})
                 r.Try(*c, "Pass:wrong");
             r.guard().ServeDue();
             EXPECT_EQ(a1.Receive(7), "nolegal");
             r.Advance(kLoginCheckSpacingMs);
             EXPECT_EQ(b.Receive(7), "nolegal");  // before a2 and a3, which came earlier
             EXPECT_EQ(r.guard().ChecksRun(), 2);
             EXPECT_EQ(r.guard().WaitingCount(), 2);
         }},
        {"one waiting attempt per connection, its unread bytes uncut and bounded",
         [](Rig& r) {
             TestClient& c = r.Connect(2);
             r.guard().ServeDue();
             std::string flood;
             for (int i = 0; i < 21845 * 4; ++i)
                 flood += "Pa\n";
             r.Try(c, flood);
             EXPECT_TRUE(WaitUntil([&] { return r.server.UnreadBytes() >= kMaxMessageBytes - 3; }));
             r.guard().ServeDue();
             EXPECT_LE(r.guard().WaitingCount(), 1);
             EXPECT_LE(r.server.UnreadBytes(), kMaxMessageBytes + 1);
             const linger reset{1, 0};  // the client resets its end
             ::setsockopt(static_cast<int>(c.socket.socketDescriptor()), SOL_SOCKET, SO_LINGER, &reset,
                          sizeof reset);
             c.socket.abort();
             EXPECT_TRUE(WaitUntil([&] { return r.server.ConnectionCount() == 0; }));
             EXPECT_TRUE(WaitUntil([&] { return r.guard().WaitingCount() == 0; }));
         }},
        {"failed logins: one log line a second, with a count of those not written",
         [](Rig& r) {
             QSignalSpy lines(&r.server, &RemoteServer::LogLine);
             std::vector<TestClient*> guessers;
             for (int host = 30; host < 35; ++host)
                 guessers.push_back(&r.Connect(host));
             for (TestClient* g : guessers) {
                 r.Try(*g, "Pass:x");
                 r.Advance(kLoginCheckSpacingMs);
                 EXPECT_EQ(g->Receive(7), "nolegal");
             }
             ASSERT_EQ(lines.count(), 1);
             EXPECT_EQ(lines.at(0).at(0).toString(), "remote login refused from 127.0.0.30");
             r.Advance(kLoginLogSpacingMs);
             ASSERT_EQ(lines.count(), 2);
             EXPECT_EQ(lines.at(1).at(0).toString(),
                       "remote login refused from 127.0.0.34 (3 more not logged)");
         }},
    };
    for (const auto& [name, run] : cases) {
        SCOPED_TRACE(name);
        Rig rig;
        run(rig);
    }
}

// The non-waiting form the web page uses shares the same budget.
TEST(LoginGuard, TryAcquireSharesTheBudgetAndSaysHowLongToWait)
{
    FakeClock clock;
    LoginGuard guard(&clock);
    const QHostAddress a = From(2), b(QStringLiteral("2001:db8::1")), b2(QStringLiteral("2001:db8::2"));
    int retry = 0;
    EXPECT_TRUE(guard.TryAcquire(a, &retry));
    EXPECT_FALSE(guard.TryAcquire(b, &retry));  // 100 ms not yet over
    EXPECT_EQ(retry, 1);
    for (int i = 0; i < 3; ++i) {
        clock.now += kLoginCheckSpacingMs;
        ASSERT_TRUE(guard.TryAcquire(b, &retry)) << i;
        guard.Record(b, false);
    }
    clock.now += kLoginCheckSpacingMs;
    EXPECT_FALSE(guard.TryAcquire(b2, &retry));  // the same /64
    EXPECT_TRUE(guard.TryAcquire(a, &retry));
    clock.now += kThrottledCheckSpacingMs;
    EXPECT_TRUE(guard.TryAcquire(b2, &retry));
}

}  // namespace
}  // namespace tavoxa
