#include "bench/benchclient.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <algorithm>
#include <chrono>

#include "bench/benchkit.h"
#include "remote/remoteserver.h"

namespace tavoxa::bench {

int64_t NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void ClientConnection::Send(const QByteArray& request, int64_t nowNs)
{
    waiting = true;
    sentNs = nowNs;
    socket.write(request);
}

void ClientTotals::Sent(ClientConnection& c, const QByteArray& request, int64_t nowNs)
{
    c.Send(request, nowNs);
    ++sent;
}

bool ClientTotals::TakeHandshake(ClientConnection& c, const QByteArray& bytes, const QByteArray& password)
{
    if (c.phase == ClientConnection::Connecting) {
        if (!bytes.startsWith("connect")) {
            ++unexpected;
            return true;
        }
        ++greeted;
        if (password.isEmpty()) {
            c.phase = ClientConnection::Running;
        } else {
            c.phase = ClientConnection::LoggingIn;
            c.socket.write("Pass:" + password);
        }
        return true;
    }
    if (c.phase == ClientConnection::LoggingIn) {
        if (bytes == "legal") {
            ++login;
            c.phase = ClientConnection::Running;
        } else {
            ++unexpected;
        }
        return true;
    }
    return false;
}

bool ClientTotals::TakeAnswer(ClientConnection& c, int64_t nowNs)
{
    if (!c.waiting) {
        ++unexpected;
        return false;
    }
    c.waiting = false;
    ++answered;
    roundTripsMs.push_back(static_cast<double>(nowNs - c.sentNs) / 1e6);
    return true;
}

bool ClientTotals::ExpireRequest(ClientConnection& c, int64_t nowNs, int64_t timeoutNs)
{
    if (!c.waiting || nowNs - c.sentNs <= timeoutNs)
        return false;
    ++lost;
    c.waiting = false;
    return true;
}

bool IsRelayByteAnswer(const QByteArray& bytes, int* value)
{
    const bool digits =
        !bytes.isEmpty() && bytes.size() <= 3 &&
        std::all_of(bytes.begin(), bytes.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
    const int number = digits ? bytes.toInt() : -1;
    if (value)
        *value = number;
    return digits && number <= 255;
}

bool ConnectAll(std::vector<std::unique_ptr<ClientConnection>>& connections, uint16_t port,
                const std::function<long()>& greeted, int64_t timeoutMs)
{
    const long count = static_cast<long>(connections.size());
    long started = 0;
    return WaitUntil(
        [&] {
            while (started < count && started - greeted() < kListenBacklog) {
                // Independent clients come from addresses of their own: the server serves at most
                // 32 connections per address. Any 127.x.y.z reaches the loopback.
                QTcpSocket& socket = connections[static_cast<size_t>(started)]->socket;
                socket.bind(QHostAddress(
                    QStringLiteral("127.0.%1.%2").arg(100 + started / 200).arg(1 + started % 200)));
                socket.connectToHost(QHostAddress::LocalHost, port);
                ++started;
            }
            return greeted() >= count;
        },
        timeoutMs);
}

void DisconnectAll(std::vector<std::unique_ptr<ClientConnection>>& connections, int64_t timeoutMs)
{
    for (auto& c : connections)
        c->socket.disconnectFromHost();
    WaitUntil(
        [&] {
            return std::all_of(connections.begin(), connections.end(), [](const auto& c) {
                return c->socket.state() == QAbstractSocket::UnconnectedState;
            });
        },
        timeoutMs);
}

double RoundTripMs(const ClientTotals& totals, double fraction)
{
    return Percentile(totals.roundTripsMs, fraction);
}

ClientProcess::ClientProcess(std::function<void(const QByteArray& line)> onLine) : onLine_(std::move(onLine))
{
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QObject::connect(&process_, &QProcess::readyReadStandardOutput, [this] { ReadLines(); });
}

ClientProcess::~ClientProcess()
{
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

bool ClientProcess::Start(const QStringList& arguments)
{
    process_.start(QCoreApplication::applicationFilePath(),
                   QStringList{QStringLiteral("client")} + arguments);
    return process_.waitForStarted(10000);
}

int ClientProcess::Finish(int64_t timeoutMs)
{
    bool killed = false;
    if (!WaitUntil([this] { return process_.state() == QProcess::NotRunning; }, timeoutMs)) {
        process_.kill();
        process_.waitForFinished(5000);
        killed = true;
    }
    ReadLines();
    if (killed || process_.exitStatus() != QProcess::NormalExit)
        return -1;
    return process_.exitCode();
}

void ClientProcess::ReadLines()
{
    pending_ += process_.readAllStandardOutput();
    qsizetype end;
    while ((end = pending_.indexOf('\n')) >= 0) {
        const QByteArray line = pending_.left(end);
        pending_.remove(0, end + 1);
        onLine_(line);
    }
}

}  // namespace tavoxa::bench
