// The remote conversation without sockets: every state, answer and relay change.
#include "remote/protocol.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace tavoxa {
namespace {

using Reply = std::optional<std::string>;

class ProtocolTest : public ::testing::Test {
protected:
    Reply Read(RemoteConnection& c, std::string_view text)
    {
        return RemoteClientRead(remote, model, c, text);
    }
    // A connection that has itself logged in, with the server LoggedIn.
    RemoteConnection LoggedInConnection()
    {
        RemoteConnection c;
        EXPECT_EQ(Read(c, "Pass:" + remote.RemotePassword), Reply("legal"));
        return c;
    }

    Model model;
    RemoteSettings remote{Idle, "pw", "", false};
};

TEST_F(ProtocolTest, ConnectSetsClientConnectedLastAndAnyDisconnectClearsIt)
{
    EXPECT_EQ(RemoteClientConnect(remote), "connect");
    EXPECT_TRUE(remote.ClientConnectedLast);
    RemoteConnection a, b;
    RemoteClientConnect(remote);
    // One flag for all connections: the first disconnect turns it red although b stays.
    RemoteClientDisconnect(remote, a);
    EXPECT_FALSE(remote.ClientConnectedLast);
    EXPECT_EQ(remote.RemoteState, Idle);
}

TEST_F(ProtocolTest, RepeatAnswersRelayBitsWithoutLogin)
{
    RemoteConnection c;
    model.RelayBits = 129;  // relay 1 on, K1 open, K2 closed
    for (int32_t state : {Idle, LoggedIn, CloseDue}) {
        remote.RemoteState = state;
        EXPECT_EQ(Read(c, "repeat"), Reply("129"));
        EXPECT_EQ(remote.RemoteState, state);
    }
    model.RelayBits = 0;
    EXPECT_EQ(Read(c, "repeat"), Reply("0"));
    model.RelayBits = 255;
    EXPECT_EQ(Read(c, "repeat"), Reply("255"));
}

TEST_F(ProtocolTest, LoginComparesTheWholeTextByteForByte)
{
    remote.RemotePassword = "Geheim";
    RemoteConnection c;
    EXPECT_EQ(Read(c, "Pass:Geheim\r\n"), Reply("nolegal"));
    EXPECT_EQ(Read(c, "Pass:geheim"), Reply("nolegal"));
    EXPECT_EQ(Read(c, "Pass:Gehei"), Reply("nolegal"));
    EXPECT_EQ(Read(c, "PASS:Geheim"), Reply());  // not "Pa": not a login, and not logged in
    EXPECT_EQ(remote.RemoteState, Idle);
    EXPECT_FALSE(c.LoggedIn);

    EXPECT_EQ(Read(c, "Pass:Geheim"), Reply("legal"));
    EXPECT_EQ(remote.RemoteState, LoggedIn);
    EXPECT_TRUE(c.LoggedIn);
    // A wrong attempt afterwards leaves the login standing.
    EXPECT_EQ(Read(c, "Pass:falsch"), Reply("nolegal"));
    EXPECT_EQ(remote.RemoteState, LoggedIn);
    EXPECT_TRUE(c.LoggedIn);
}

TEST_F(ProtocolTest, EmptyPasswordNeverLogsIn)
{
    remote.RemotePassword.clear();
    RemoteConnection c;
    RemoteLogin login = RemoteLogin::None;
    EXPECT_EQ(RemoteClientRead(remote, model, c, "Pass:", &login), Reply("nolegal"));
    EXPECT_EQ(login, RemoteLogin::Failed);
    EXPECT_EQ(Read(c, "Pa"), Reply("nolegal"));
    EXPECT_EQ(remote.RemoteState, Idle);
    EXPECT_FALSE(c.LoggedIn);
}

TEST_F(ProtocolTest, AnythingStartingPaIsAFailedLoginNeverASwitch)
{
    RemoteConnection c = LoggedInConnection();
    model.RelayBits = 9;
    EXPECT_EQ(Read(c, "Pa"), Reply("nolegal"));
    EXPECT_EQ(Read(c, "Pa12"), Reply("nolegal"));
    EXPECT_EQ(model.RelayBits, 9);
    // "P" alone is too short to be a login attempt, and holds no number.
    EXPECT_EQ(Read(c, "P"), Reply());
    EXPECT_EQ(model.RelayBits, 9);
}

TEST_F(ProtocolTest, SwitchingCommandSetsTheLowEightBitsOfTheNumber)
{
    RemoteConnection c = LoggedInConnection();
    struct Case {
        const char* text;
        int expected;
    };
    for (const Case& k : {Case{"5\r\n", 5}, Case{"256", 0}, Case{"-1", 255}, Case{"63", 63}, Case{"0", 0},
                          Case{"x1F", 31}, Case{" 12abc", 12}, Case{"-12a", 12}, Case{"$FF", 255}}) {
        model.RelayBits = 170;
        EXPECT_EQ(Read(c, k.text), Reply()) << k.text;
        EXPECT_EQ(model.RelayBits, k.expected) << k.text;
    }
}

TEST_F(ProtocolTest, MessageWithoutANumberIsIgnoredInsteadOfSwitchingEverythingOff)
{
    RemoteConnection c = LoggedInConnection();
    model.RelayBits = 0x3F;
    for (std::string_view text : {"pass:", "pass:geheim", "repeatrepeat", "repeat\r\n", "hello", "-", "0x",
                                  "$", " ", "\r\n", "+x1"}) {
        EXPECT_EQ(Read(c, text), Reply()) << text;
        EXPECT_EQ(model.RelayBits, 0x3F) << text;
    }
    const std::string binary("\0\1\2\xff\x80", 5);
    EXPECT_EQ(Read(c, binary), Reply());
    EXPECT_EQ(model.RelayBits, 0x3F);
}

TEST_F(ProtocolTest, OnlyAConnectionThatLoggedInItselfMaySwitch)
{
    RemoteConnection owner = LoggedInConnection();
    RemoteConnection stranger;
    model.RelayBits = 1;
    EXPECT_EQ(Read(stranger, "63"), Reply());
    EXPECT_EQ(model.RelayBits, 1);
    // The stranger still reads the state and can log in itself.
    EXPECT_EQ(Read(stranger, "repeat"), Reply("1"));
    EXPECT_EQ(Read(stranger, "Pass:pw"), Reply("legal"));
    EXPECT_EQ(Read(stranger, "63"), Reply());
    EXPECT_EQ(model.RelayBits, 63);
    EXPECT_EQ(Read(owner, "2"), Reply());
    EXPECT_EQ(model.RelayBits, 2);
}

TEST_F(ProtocolTest, NoSwitchingBeforeLoginOrOutsideLoggedIn)
{
    RemoteConnection c;
    model.RelayBits = 4;
    EXPECT_EQ(Read(c, "1"), Reply());
    EXPECT_EQ(model.RelayBits, 4);
    // A connection's own login counts only while the server is LoggedIn.
    c = LoggedInConnection();
    remote.RemoteState = CloseDue;
    EXPECT_EQ(Read(c, "1"), Reply());
    EXPECT_EQ(model.RelayBits, 4);
}

TEST_F(ProtocolTest, SwitchOffWithAClientConnectedRunsTheDeferredShutDown)
{
    RemoteConnection a = LoggedInConnection();
    RemoteConnection b;
    RemoteClientConnect(remote);
    EXPECT_FALSE(RemoteSwitchOffClosesNow(remote));
    EXPECT_EQ(remote.RemoteState, ClosePending);

    model.RelayBits = 7;
    EXPECT_EQ(Read(a, "repeat"), Reply("nolegal"));  // "repeat" included
    EXPECT_EQ(remote.RemoteState, Refusing);
    for (std::string_view text : {"repeat", "Pass:", "0"})
        EXPECT_EQ(Read(b, text), Reply()) << text;
    EXPECT_EQ(remote.RemoteState, Refusing);
    EXPECT_EQ(model.RelayBits, 7);
    EXPECT_FALSE(RemoteCloseIsDue(remote));

    RemoteClientDisconnect(remote, a);
    EXPECT_EQ(remote.RemoteState, CloseDue);
    EXPECT_FALSE(remote.ClientConnectedLast);
    EXPECT_TRUE(RemoteCloseIsDue(remote));
    RemoteCloseDone(remote);
    EXPECT_EQ(remote.RemoteState, Idle);
}

TEST_F(ProtocolTest, DisconnectOutsideRefusingKeepsTheStateAndCountsOnce)
{
    RemoteConnection a;
    remote.RemoteState = ClosePending;
    RemoteClientDisconnect(remote, a);
    EXPECT_EQ(remote.RemoteState, ClosePending);
    // A failed connection may report an error and a close: the second report changes nothing.
    remote.RemoteState = Refusing;
    RemoteClientDisconnect(remote, a);
    EXPECT_EQ(remote.RemoteState, Refusing);
    RemoteConnection b;
    RemoteClientDisconnect(remote, b);
    EXPECT_EQ(remote.RemoteState, CloseDue);
    remote.RemoteState = LoggedIn;
    RemoteConnection c;
    RemoteClientDisconnect(remote, c);
    EXPECT_EQ(remote.RemoteState, LoggedIn);
}

TEST_F(ProtocolTest, NoLoginWhileTheCloseIsDue)
{
    remote.RemoteState = CloseDue;
    RemoteConnection c;
    RemoteLogin login = RemoteLogin::None;
    EXPECT_EQ(RemoteClientRead(remote, model, c, "Pass:pw", &login), Reply("nolegal"));
    EXPECT_EQ(login, RemoteLogin::Failed);
    EXPECT_EQ(remote.RemoteState, CloseDue);
    EXPECT_FALSE(c.LoggedIn);
    EXPECT_TRUE(RemoteCloseIsDue(remote));
}

TEST_F(ProtocolTest, SwitchOffAfterAClientLeftClosesAtOnceAndKeepsTheState)
{
    remote.RemoteState = LoggedIn;
    EXPECT_TRUE(RemoteSwitchOffClosesNow(remote));
    EXPECT_EQ(remote.RemoteState, LoggedIn);
}

TEST(RemotePortNumber, TakesLeadingDigitsAndTheLow16Bits)
{
    EXPECT_EQ(RemotePortNumber("26535"), 26535);
    EXPECT_EQ(RemotePortNumber("26535x"), 26535);
    EXPECT_EQ(RemotePortNumber("65537"), 1);
    EXPECT_EQ(RemotePortNumber("0"), 0);
    EXPECT_EQ(RemotePortNumber("abc"), 0);
    // No port text is the default port, not one the system picks.
    EXPECT_EQ(RemotePortNumber(""), 26535);
    EXPECT_EQ(RemotePortNumber("  \t"), 26535);
    EXPECT_EQ(RemotePortNumber("-1"), 65535);
}

// Answers carry a line end only once the client has sent one.
TEST(RemoteSplitMessages, CutsLinesAndEndsAnswersOnceTheConnectionUsesLineEnds)
{
    using Lines = std::vector<std::string>;
    const std::string full(static_cast<size_t>(kMaxMessageBytes), '7');
    struct Case {
        const char* name;
        std::vector<std::string> reads;
        std::vector<Lines> messages;  // per read
        bool lineEnds = true;
    };
    const Case cases[] = {
        {"bare messages as they are", {"repeat", "12 3", "repe"}, {{"repeat"}, {"12 3"}, {"repe"}}, false},
        {"CRLF", {"Pass:pw\r\n"}, {{"Pass:pw"}}},
        {"two commands in one read", {"5\n3\n"}, {{"5", "3"}}},
        {"empty lines and a CR alone", {"a\r\r\nb\n\n"}, {{"a", "b"}}},
        {"a piece is never a message", {"\n", "repe", "at\n"}, {{}, {}, {"repeat"}}},
        {"a line end split", {"5\r", "\n6", "\r\n"}, {{"5"}, {}, {"6"}}},
        {"bare after line ends waits", {"1\n", "2", "3"}, {{"1"}, {}, {}}},
        {"the longest line", {"\n", full, "\n"}, {{}, {}, {full}}},
        {"an over-long line is dropped", {"\n", full, "8", "9\n5\n"}, {{}, {}, {}, {"5"}}},
    };
    for (const Case& k : cases) {
        RemoteConnection c;
        for (size_t i = 0; i < k.reads.size(); ++i)
            EXPECT_EQ(RemoteSplitMessages(c, k.reads[i]), k.messages[i]) << k.name << ", read " << i;
        EXPECT_EQ(RemoteAnswerBytes(c, "21"), k.lineEnds ? "21\n" : "21") << k.name;
    }
}

}  // namespace
}  // namespace tavoxa
