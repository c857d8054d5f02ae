// Hostile and broken clients: floods, binary bytes, connection storms and silent peers. The
// server must keep serving the others, keep its memory bounded and let no one but a logged-in
// connection change a relay.
#include <sys/socket.h>

#include <memory>
#include <random>
#include <vector>

#include "testclient.h"

namespace tavoxa {
namespace {

using testing::kResidentMeaningful;
using testing::ResidentBytes;
using testing::ServerTest;
using testing::TestClient;
using testing::WaitUntil;

// How much the resident memory may grow while a flood is read and dropped.
constexpr long kResidentSlack = 8L * 1024 * 1024;

class BadInputTest : public ServerTest {
protected:
    void SetUp() override
    {
        ServerTest::SetUp();
        owner = std::make_unique<TestClient>(port);
        ASSERT_TRUE(owner->Greeted());
        owner->Send("Pass:pw");
        ASSERT_EQ(owner->Receive(5), "legal");
        model.RelayBits = 0x15;
    }

    // Writes everything, lets the server read it to the end and waits until it has seen the
    // client leave, so that every byte has been handled.
    void SendAllAndLeave(TestClient& client, const QByteArray& bytes)
    {
        const int before = server.ConnectionCount();
        client.socket.write(bytes);
        ASSERT_TRUE(WaitUntil([&] { return client.socket.bytesToWrite() == 0; }));
        client.socket.disconnectFromHost();
        ASSERT_TRUE(ConnectionsAre(before - 1));
    }

    // The logged-in owner is still served and the relays are as they were.
    void ExpectUntouched()
    {
        EXPECT_EQ(model.RelayBits, 0x15);
        EXPECT_EQ(owner->Repeat(), "21");
        owner->SendHandled(server, "2");
        EXPECT_EQ(model.RelayBits, 2);
    }

    std::unique_ptr<TestClient> owner;
};

TEST_F(BadInputTest, MegabyteMessagesFromAStrangerSwitchNothing)
{
    for (char fill : {'5', 'P', '\0'}) {
        TestClient stranger(port);
        ASSERT_TRUE(stranger.Greeted());
        QByteArray flood(1024 * 1024, fill);
        flood[0] = fill == 'P' ? 'P' : flood[0];
        flood[1] = fill == 'P' ? 'a' : flood[1];
        SendAllAndLeave(stranger, flood);
        EXPECT_EQ(model.RelayBits, 0x15) << int(fill);
    }
    ExpectUntouched();
}

TEST_F(BadInputTest, MegabyteWithoutANumberFromALoggedInClientSwitchesNothing)
{
    TestClient client(port);
    ASSERT_TRUE(client.Greeted());
    client.Send("Pass:pw");
    ASSERT_EQ(client.Receive(5), "legal");
    SendAllAndLeave(client, QByteArray(1024 * 1024, 'r'));
    ExpectUntouched();
}

TEST_F(BadInputTest, EndlessStreamKeepsMemoryBounded)
{
    TestClient stranger(port);
    ASSERT_TRUE(stranger.Greeted());
    const QByteArray chunk(1024 * 1024, '7');
    stranger.socket.write(chunk);
    ASSERT_TRUE(WaitUntil([&] { return stranger.socket.bytesToWrite() == 0; }));
    const long before = ResidentBytes();
    for (int i = 0; i < 32; ++i) {
        stranger.socket.write(chunk);
        ASSERT_TRUE(WaitUntil([&] { return stranger.socket.bytesToWrite() == 0; }));
    }
    SendAllAndLeave(stranger, chunk);
    QTest::qWait(10);
    const long after = ResidentBytes();
    if (kResidentMeaningful) {
        EXPECT_LT(after - before, kResidentSlack) << "before " << before << " after " << after;
    }
    ExpectUntouched();
}

TEST_F(BadInputTest, BinaryBytesSwitchOnlyForTheOwnerAndOnlyWithADigitFirst)
{
    // Every byte value, CR and LF among them: the connections use line ends from then on.
    QByteArray all(256, '\0');
    for (int i = 0; i < 256; ++i)
        all[i] = static_cast<char>(i);
    std::mt19937 random(7);
    QByteArray noise(4096, '\0');
    for (char& c : noise)
        c = static_cast<char>(random());

    TestClient stranger(port);
    ASSERT_TRUE(stranger.Greeted());
    stranger.SendHandled(server, all.toStdString());
    stranger.SendHandled(server, noise.toStdString() + "\n7\n");
    EXPECT_EQ(model.RelayBits, 0x15);

    TestClient client(port);
    ASSERT_TRUE(client.Greeted());
    client.Send("Pass:pw");
    ASSERT_EQ(client.Receive(5), "legal");
    client.SendHandled(server, all.toStdString() + "\n");  // no line of it starts with a digit
    EXPECT_EQ(model.RelayBits, 0x15);
    client.SendHandled(server, std::string("7\0\xff\x80\n", 5));
    EXPECT_EQ(model.RelayBits, 7);
    model.RelayBits = 0x15;
    stranger.Send("repeat\n");
    EXPECT_EQ(stranger.Receive(3), "21\n");
    ExpectUntouched();
}

TEST_F(BadInputTest, ThousandShortConnectionsLeaveNothingBehind)
{
    const long before = ResidentBytes();
    // Batches no larger than the listen queue, so no connection waits for a SYN retry.
    constexpr int kBatch = kListenBacklog;
    for (int opened = 0; opened < 1000; opened += kBatch) {
        std::vector<std::unique_ptr<TestClient>> batch;
        batch.reserve(kBatch);
        for (int i = 0; i < kBatch; ++i)
            batch.push_back(std::make_unique<TestClient>(port));
        ASSERT_TRUE(WaitUntil([&] {
            for (auto& c : batch)
                if (c->socket.state() != QAbstractSocket::ConnectedState)
                    return false;
            return true;
        })) << "after "
            << opened;
        for (int i = 0; i < kBatch; ++i) {
            TestClient& c = *batch[i];
            switch ((opened + i) % 4) {
                case 0:  // gone before the greeting
                    c.socket.abort();
                    break;
                case 1:  // a command and an orderly close
                    c.Send("63");
                    c.socket.disconnectFromHost();
                    break;
                case 2: {  // a reset
                    const linger hard{1, 0};
                    setsockopt(static_cast<int>(c.socket.socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard,
                               sizeof hard);
                    c.socket.abort();
                    break;
                }
                default:  // a failed login and a close
                    c.Send("Pass:x");
                    c.socket.disconnectFromHost();
                    break;
            }
        }
        QTest::qWait(0);
    }
    ASSERT_TRUE(ConnectionsAre(1));
    QTest::qWait(10);  // the server's sockets are deleted on the next turn of the loop
    const long after = ResidentBytes();
    if (kResidentMeaningful) {
        EXPECT_LT(after - before, kResidentSlack) << "before " << before << " after " << after;
    }
    EXPECT_TRUE(server.IsOpen());
    EXPECT_EQ(remote.RemoteState, LoggedIn);
    ExpectUntouched();
}

TEST_F(BadInputTest, SilentClientDoesNotHoldUpTheOthers)
{
    TestClient silent(port);
    ASSERT_TRUE(silent.Greeted());
    for (int i = 0; i < 3; ++i) {
        TestClient other(port);
        ASSERT_TRUE(other.Greeted());
        other.Send("Pass:pw");
        ASSERT_EQ(other.Receive(5), "legal");
        other.SendHandled(server, std::to_string(i + 40));
        EXPECT_EQ(other.Repeat(), std::to_string(i + 40));
        other.socket.disconnectFromHost();
        ASSERT_TRUE(ConnectionsAre(2));
    }
    EXPECT_EQ(silent.socket.state(), QAbstractSocket::ConnectedState);
    EXPECT_EQ(silent.socket.bytesAvailable(), 0);
    model.RelayBits = 0x15;
    ExpectUntouched();
}

}  // namespace
}  // namespace tavoxa
