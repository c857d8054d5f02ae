// Slows down password guessing for every front end that takes a password (the TCP remote and the
// web page): over all addresses at most 10 checks a second with no burst, and per address after
// three failures one check a second. Failed logins are logged, at most one line a second.
//
// Threads: main thread only.
#pragma once

#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>

class QTimer;

namespace tavoxa {

class LoginGuard : public QObject {
    Q_OBJECT
public:
    // `nowMs` is a monotonic clock in milliseconds; the steady clock when empty.
    explicit LoginGuard(std::function<int64_t()> nowMs = {}, QObject* parent = nullptr);

    // Asks to check a password from `address`; `check` runs (on the event loop) once the budget
    // allows, serving waiting addresses in turn. `context` dying drops the wait.
    void Enqueue(const QHostAddress& address, QObject* context, std::function<void()> check);
    // Non-waiting form for HTTP: true when a check may run now (and takes its budget), else false
    // with the seconds to wait in *retryAfter (>= 1).
    bool TryAcquire(const QHostAddress& address, int* retryAfter);
    void Record(const QHostAddress& address, bool success);  // the outcome of a check

signals:
    void LogLine(const QString& line);

private:
    struct Peer {
        int failures = 0;
        int64_t nextAllowedMs = 0;
    };
    struct Waiting {
        QHostAddress address;
        QPointer<QObject> context;
        std::function<void()> check;
    };
    int64_t WaitMs(const QHostAddress& address) const;
    void Take(const QHostAddress& address);
    void RunQueue();

    std::function<int64_t()> nowMs_;
    int64_t nextGlobalMs_ = 0;
    std::map<QString, Peer> peers_;
    std::deque<Waiting> queue_;
    QTimer* timer_ = nullptr;
    int64_t lastLogMs_ = -1000000;
    int unlogged_ = 0;
};

}  // namespace tavoxa
