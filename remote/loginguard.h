// LoginGuard: how fast passwords may be tried, shared by every way of logging in (the TCP
// remote and the web page), so that guessing from many addresses gains nothing and a shared
// address (everyone behind an SSH tunnel arrives as 127.0.0.1) is never locked out.
//
// The budget: over all addresses one password check every 100 ms (10 a second, no burst); from an
// address with three failures since its last success, one check a second. An attempt over the
// budget waits; it is never refused unchecked. Waiting attempts are served one address in turn:
// first addresses with a connection's first try waiting, then the address served longest ago
// (one never served first), then the one with fewer attempts waiting. So once guessers have
// failed, their stream of attempts delays a legitimate login by about one check from a fresh
// address, and by about its address's spacing from the guesser's own.
//
// Threads: a QObject of the main thread; checks run from its event loop.
#pragma once

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

#include "remote/peeraddress.h"

namespace tavoxa {

// Time between two password checks over all addresses.
constexpr int64_t kLoginCheckSpacingMs = 100;
// Failures since the last success after which an address gets one check a second.
constexpr int kFreeLoginFailures = 3;
constexpr int64_t kThrottledCheckSpacingMs = 1000;
// Failed logins are logged at most once in this time; the rest are counted.
constexpr int64_t kLoginLogSpacingMs = 1000;
// Addresses remembered at most; past it, those that constrain nothing any more are forgotten.
constexpr int kMaxGuardedPeers = 4096;

class LoginGuard : public QObject {
    Q_OBJECT

public:
    // `clock` (not owned, may be null for the steady clock) must outlive the guard.
    explicit LoginGuard(const MonotonicClock* clock = nullptr, QObject* parent = nullptr);
    ~LoginGuard() override;

    // Asks to check a password from `address`: `check` runs from the event loop once the budget
    // allows, waiting addresses served in turn, each address's attempts in order. `context`
    // being destroyed drops the wait. `firstTry`: the attempt comes from a connection (or
    // session) that has not failed yet; such attempts go first, so someone who types the right
    // password once is not queued behind a guesser's stream of attempts from the same address.
    void Enqueue(const QHostAddress& address, QObject* context, std::function<void()> check,
                 bool firstTry = false);
    // The non-waiting form (HTTP): true when a check may run now, and takes its budget; else
    // false with the whole seconds to wait in *retryAfter (at least 1).
    bool TryAcquire(const QHostAddress& address, int* retryAfter);
    // The outcome of a check that was let through.
    // `door` names where the login came in ("remote", "web") in the log line of a failure.
    void Record(const QHostAddress& address, bool success, const QString& door = QStringLiteral("remote"));

    // Runs every waiting check that is due and writes a held-back log line that is due; the
    // guard's own timer calls it, a test calls it after moving its clock.
    void ServeDue();

    // Attempts waiting now, over all addresses.
    int WaitingCount() const { return waitingCount_; }
    // Checks let through so far.
    int64_t ChecksRun() const { return checksRun_; }
    int PeerCount() const { return static_cast<int>(peers_.size()); }

signals:
    // A log line about failed logins, at most one a second.
    void LogLine(const QString& line);

private:
    struct Waiter {
        uint64_t id = 0;
        QObject* context = nullptr;
        QMetaObject::Connection dropOnDestroy;
        std::function<void()> check;
        bool firstTry = false;
    };
    struct Peer {
        int failures = 0;
        int64_t lastCheckMs = 0;
        bool checked = false;
        uint64_t servedSeq = 0;  // when it was last served: the longest unserved goes first
        std::deque<Waiter> waiting;
    };

    int64_t Now() const { return clock_->NowMs(); }
    // Earliest time `peer` may have its next check.
    static int64_t PeerDueMs(const Peer& peer);
    void TakeBudget(Peer& peer, int64_t now);
    void Drop(const QString& key, uint64_t id);
    void Forget(int64_t now);
    void Arm(int64_t now);
    void WriteHeldLine();

    std::unique_ptr<SteadyMonotonicClock> ownClock_;
    const MonotonicClock* clock_;
    QHash<QString, Peer> peers_;
    std::deque<QString> turn_;  // addresses with waiting attempts
    uint64_t servedSeq_ = 0;
    int64_t nextCheckMs_ = 0;
    uint64_t nextId_ = 1;
    int waitingCount_ = 0;
    int64_t checksRun_ = 0;
    bool serving_ = false;
    QTimer timer_;

    // The failed-login log: a line at most every kLoginLogSpacingMs, the last failure held back
    // meanwhile with a count of the others.
    int64_t nextLogMs_ = 0;
    int64_t heldFailures_ = 0;
    QString heldAddress_;
    QString heldDoor_;
};

}  // namespace tavoxa
