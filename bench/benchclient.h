// The remote client side of the benchmarks that load the server: connections that are greeted,
// log in and send one request at a time with its round trip timed, the totals of a client
// process, and the second process the clients run in (the benchmark program started again with
// "client" and its own arguments), so their work never shares an event loop with the server's.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <QTcpSocket>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tavoxa::bench {

// Monotonic nanoseconds, for round trips.
int64_t NowNs();

// One connection to the server. It expects the greeting first, then (when a password is to be
// sent) the login answer, then one answer per request.
struct ClientConnection {
    QTcpSocket socket;
    enum Phase { Connecting, LoggingIn, Running } phase = Connecting;
    bool waiting = false;  // a request is out and its answer not back
    int64_t sentNs = 0;

    void Send(const QByteArray& request, int64_t nowNs);
};

// What all connections of a client process saw.
struct ClientTotals {
    long greeted = 0, login = 0, sent = 0, answered = 0, lost = 0, unexpected = 0, malformed = 0;
    long dropped = 0;
    std::vector<double> roundTripsMs;

    // Counts a request sent on `c`.
    void Sent(ClientConnection& c, const QByteArray& request, int64_t nowNs);
    // Takes bytes that arrived on `c` before it runs: the greeting and, when `password` is not
    // empty, the login answer ("Pass:<password>" is sent on the greeting). Returns false once
    // the connection runs, the bytes then being an answer for TakeAnswer.
    bool TakeHandshake(ClientConnection& c, const QByteArray& bytes, const QByteArray& password);
    // The answer to the request `c` waits for: counts it, times its round trip and returns true;
    // false (counted unexpected) when no request was waiting.
    bool TakeAnswer(ClientConnection& c, int64_t nowNs);
    // A request without an answer after `timeoutNs`: counted lost, the connection free again.
    bool ExpireRequest(ClientConnection& c, int64_t nowNs, int64_t timeoutNs);
};

// Whether an answer is the relay byte the server sends: one to three decimal digits, 0..255.
bool IsRelayByteAnswer(const QByteArray& bytes, int* value = nullptr);

// Connects every connection to the loopback port and waits until `greeted()` reaches their
// number or `timeoutMs` has passed. The server's listen queue holds kListenBacklog: a burst of
// more handshakes overflows it and the surplus stalls for seconds in SYN retries, so at most
// that many are under way at once. Returns whether all were greeted.
bool ConnectAll(std::vector<std::unique_ptr<ClientConnection>>& connections, uint16_t port,
                const std::function<long()>& greeted, int64_t timeoutMs);

// Closes every connection and waits up to `timeoutMs` for them to be closed.
void DisconnectAll(std::vector<std::unique_ptr<ClientConnection>>& connections, int64_t timeoutMs);

// The round trip at `fraction` of the sorted samples (0.5 the median, 1 the largest).
double RoundTripMs(const ClientTotals& totals, double fraction);

// This program started again as the client process; its standard output is handed over line
// by line (without the line end).
class ClientProcess {
public:
    explicit ClientProcess(std::function<void(const QByteArray& line)> onLine);
    ~ClientProcess();
    ClientProcess(const ClientProcess&) = delete;
    ClientProcess& operator=(const ClientProcess&) = delete;

    // Starts "<this program> client <arguments...>"; false when it cannot be started within
    // 10 s. Standard error goes to this program's own.
    bool Start(const QStringList& arguments);
    // Waits up to `timeoutMs` for the process to end by itself, then kills it; the last lines
    // are handed over. Returns its exit code, or -1 when it had to be killed or crashed.
    int Finish(int64_t timeoutMs);
    QProcess& process() { return process_; }

private:
    void ReadLines();

    QProcess process_;
    QByteArray pending_;
    std::function<void(const QByteArray&)> onLine_;
};

}  // namespace tavoxa::bench
