// Real TCP clients for the server tests, on the loopback in the same thread as the server.
//
// The server only runs while the test spins the event loop, so every wait here spins it, and
// every wait is bounded: a server that never answers fails the test instead of hanging it.
#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QHostAddress>
#include <QSignalSpy>
#include <QTcpSocket>
#include <string>

#include "remote/remoteserver.h"
#include "testkit.h"

namespace tavoxa::testing {

class TestClient {
public:
    // `from`, when given, is the client's own address (any 127.x.y.z reaches the loopback).
    explicit TestClient(uint16_t port, const QHostAddress& from = QHostAddress())
    {
        if (!from.isNull())
            socket.bind(from);
        socket.connectToHost(QHostAddress::LocalHost, port);
    }

    // Connected and greeted with "connect".
    bool Greeted() { return Receive(7) == "connect"; }

    void Send(std::string_view text)
    {
        socket.write(text.data(), static_cast<qint64>(text.size()));
        socket.flush();
    }

    // Waits until at least `count` bytes have arrived, then returns and consumes everything
    // that has (a reply arrives in one piece on the loopback). Empty when nothing came.
    std::string Receive(int count = 1)
    {
        WaitUntil([&] {
            got += socket.readAll();
            return got.size() >= count || socket.state() == QAbstractSocket::UnconnectedState;
        });
        got += socket.readAll();
        std::string text = got.toStdString();
        got.clear();
        return text;
    }

    // Sends one message and waits until the server has handled it.
    void SendHandled(RemoteServer& server, std::string_view text)
    {
        QSignalSpy handled(&server, &RemoteServer::MessageHandled);
        Send(text);
        EXPECT_TRUE(WaitUntil([&] { return handled.count() > 0; })) << "not handled: " << text;
    }

    // Sends "repeat" and returns the answer. The connection keeps order, so a reply that an
    // earlier message got (and should not have) shows up in front of the number.
    std::string Repeat()
    {
        Send("repeat");
        return Receive();
    }

    bool Closed()
    {
        return WaitUntil([&] { return socket.state() == QAbstractSocket::UnconnectedState; });
    }

    QTcpSocket socket;
    QByteArray got;
};

// A server on a port the system picks, listening on the loopback only.
class ServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        remote.RemotePassword = "pw";
        server.SetListenAddress(QHostAddress::LocalHost);
        ASSERT_TRUE(server.Open(0));
        port = server.BoundPort();
        ASSERT_NE(port, 0);
    }

    bool ConnectionsAre(int count)
    {
        return WaitUntil([&] { return server.ConnectionCount() == count; });
    }

    Model model;
    RemoteSettings remote;
    RemoteServer server{remote, model};
    uint16_t port = 0;
};

}  // namespace tavoxa::testing
