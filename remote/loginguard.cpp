#include "remote/loginguard.h"

#include <algorithm>
#include <tuple>
#include <utility>

namespace tavoxa {

LoginGuard::LoginGuard(const MonotonicClock* clock, QObject* parent) : QObject(parent), clock_(clock)
{
    if (!clock_) {
        ownClock_ = std::make_unique<SteadyMonotonicClock>();
        clock_ = ownClock_.get();
    }
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &LoginGuard::ServeDue);
}

LoginGuard::~LoginGuard()
{
    for (Peer& peer : peers_)
        for (Waiter& waiter : peer.waiting)
            QObject::disconnect(waiter.dropOnDestroy);
}

int64_t LoginGuard::PeerDueMs(const Peer& peer)
{
    if (!peer.checked || peer.failures < kFreeLoginFailures)
        return 0;
    return peer.lastCheckMs + kThrottledCheckSpacingMs;
}

void LoginGuard::TakeBudget(Peer& peer, int64_t now)
{
    nextCheckMs_ = now + kLoginCheckSpacingMs;
    peer.lastCheckMs = now;
    peer.checked = true;
    ++checksRun_;
}

void LoginGuard::Enqueue(const QHostAddress& address, QObject* context, std::function<void()> check,
                         bool firstTry)
{
    const QString key = PeerKey(address);
    Forget(Now());
    Peer& peer = peers_[key];
    Waiter waiter;
    waiter.id = nextId_++;
    waiter.context = context;
    waiter.check = std::move(check);
    waiter.firstTry = firstTry;
    if (context)
        waiter.dropOnDestroy =
            connect(context, &QObject::destroyed, this, [this, key, id = waiter.id] { Drop(key, id); });
    if (peer.waiting.empty())
        turn_.push_back(key);
    peer.waiting.push_back(std::move(waiter));
    ++waitingCount_;
    // Served from the event loop, never inside the caller's own handling.
    if (!timer_.isActive() || timer_.remainingTime() > 0)
        timer_.start(0);
}

bool LoginGuard::TryAcquire(const QHostAddress& address, int* retryAfter)
{
    const int64_t now = Now();
    Forget(now);
    const QString key = PeerKey(address);
    const auto it = peers_.constFind(key);
    int64_t due = std::max(nextCheckMs_, it == peers_.constEnd() ? int64_t{0} : PeerDueMs(*it));
    // Attempts already waiting come first: a caller that cannot wait goes behind them.
    if (waitingCount_ > 0)
        due = std::max(due, nextCheckMs_ + waitingCount_ * kLoginCheckSpacingMs);
    if (due <= now) {
        TakeBudget(peers_[key], now);
        return true;
    }
    if (retryAfter)
        *retryAfter = static_cast<int>(std::max<int64_t>(1, (due - now + 999) / 1000));
    return false;
}

void LoginGuard::Record(const QHostAddress& address, bool success, const QString& door)
{
    const QString key = PeerKey(address);
    const int64_t now = Now();
    if (success) {
        const auto it = peers_.find(key);
        if (it != peers_.end())
            it->failures = 0;
        return;
    }
    Peer& peer = peers_[key];
    if (peer.failures < kFreeLoginFailures)
        ++peer.failures;
    if (heldFailures_ == 0 && now >= nextLogMs_) {
        nextLogMs_ = now + kLoginLogSpacingMs;
        emit LogLine(QStringLiteral("%1 login refused from %2").arg(door, PeerText(address)));
        return;
    }
    ++heldFailures_;
    heldAddress_ = PeerText(address);
    heldDoor_ = door;
    Arm(now);
}

void LoginGuard::WriteHeldLine()
{
    QString line = QStringLiteral("%1 login refused from %2").arg(heldDoor_, heldAddress_);
    if (heldFailures_ > 1)
        line += QStringLiteral(" (%1 more not logged)").arg(heldFailures_ - 1);
    heldFailures_ = 0;
    heldAddress_.clear();
    emit LogLine(line);
}

void LoginGuard::Drop(const QString& key, uint64_t id)
{
    const auto it = peers_.find(key);
    if (it == peers_.end())
        return;
    auto& waiting = it->waiting;
    const auto found =
        std::find_if(waiting.begin(), waiting.end(), [id](const Waiter& w) { return w.id == id; });
    if (found == waiting.end())
        return;
    waiting.erase(found);
    --waitingCount_;
    if (waiting.empty())
        turn_.erase(std::remove(turn_.begin(), turn_.end(), key), turn_.end());
}

void LoginGuard::Forget(int64_t now)
{
    if (peers_.size() < kMaxGuardedPeers)
        return;
    // Past its spacing, and with nothing waiting, an address constrains nothing but its count of
    // failures; thousands of addresses guessing at once are held by the overall budget anyway.
    for (auto it = peers_.begin(); it != peers_.end();)
        it = it->waiting.empty() && PeerDueMs(*it) <= now ? peers_.erase(it) : std::next(it);
}

void LoginGuard::Arm(int64_t now)
{
    int64_t due = -1;
    if (heldFailures_ > 0)
        due = nextLogMs_;
    if (waitingCount_ > 0) {
        int64_t earliestPeer = -1;
        for (const QString& key : turn_) {
            const auto it = peers_.constFind(key);
            if (it == peers_.constEnd() || it->waiting.empty())
                continue;
            const int64_t peerDue = PeerDueMs(*it);
            earliestPeer = earliestPeer < 0 ? peerDue : std::min(earliestPeer, peerDue);
        }
        if (earliestPeer >= 0) {
            const int64_t checkDue = std::max(nextCheckMs_, earliestPeer);
            due = due < 0 ? checkDue : std::min(due, checkDue);
        }
    }
    if (due < 0) {
        timer_.stop();
        return;
    }
    const auto waitMs = static_cast<int>(std::clamp<int64_t>(due - now, 0, 60000));
    if (!timer_.isActive() || timer_.remainingTime() > waitMs)
        timer_.start(waitMs);
}

void LoginGuard::ServeDue()
{
    if (serving_)
        return;  // a check that runs the event loop cannot start another one meanwhile
    serving_ = true;
    int64_t now = Now();
    if (heldFailures_ > 0 && now >= nextLogMs_) {
        nextLogMs_ = now + kLoginLogSpacingMs;
        WriteHeldLine();
    }
    while (waitingCount_ > 0 && now >= nextCheckMs_) {
        // Of the addresses whose own spacing allows a check: one with a first try waiting, then
        // the one served longest ago (never first), then the one with fewer attempts waiting.
        auto pick = turn_.end();
        std::tuple<bool, uint64_t, size_t> best{true, UINT64_MAX, SIZE_MAX};
        for (auto it = turn_.begin(); it != turn_.end();) {
            const auto peer = peers_.constFind(*it);
            if (peer == peers_.constEnd() || peer->waiting.empty()) {
                it = turn_.erase(it);
                continue;
            }
            if (PeerDueMs(*peer) <= now) {
                const bool noFirstTry = std::none_of(peer->waiting.begin(), peer->waiting.end(),
                                                     [](const Waiter& w) { return w.firstTry; });
                const std::tuple<bool, uint64_t, size_t> rank{noFirstTry, peer->servedSeq,
                                                              peer->waiting.size()};
                if (pick == turn_.end() || rank < best) {
                    pick = it;
                    best = rank;
                }
            }
            ++it;
        }
        if (pick == turn_.end())
            break;
        const QString key = *pick;
        turn_.erase(pick);
        Peer& peer = peers_[key];
        auto next = std::find_if(peer.waiting.begin(), peer.waiting.end(),
                                 [](const Waiter& w) { return w.firstTry; });
        if (next == peer.waiting.end())
            next = peer.waiting.begin();
        Waiter waiter = std::move(*next);
        peer.waiting.erase(next);
        --waitingCount_;
        if (!peer.waiting.empty())
            turn_.push_back(key);
        QObject::disconnect(waiter.dropOnDestroy);
        TakeBudget(peer, now);
        peer.servedSeq = ++servedSeq_;
        waiter.check();
        now = Now();
    }
    serving_ = false;
    Arm(now);
}

}  // namespace tavoxa
