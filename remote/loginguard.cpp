#include "remote/loginguard.h"

#include <QTimer>
#include <algorithm>
#include <chrono>

namespace tavoxa {

namespace {

constexpr int64_t kGlobalSpacingMs = 100;  // 10 checks a second, evenly spaced
constexpr int64_t kPeerSpacingMs = 1000;
constexpr int kFreeFailures = 3;
constexpr size_t kMaxPeers = 4096;

}  // namespace

LoginGuard::LoginGuard(std::function<int64_t()> nowMs, QObject* parent)
    : QObject(parent), nowMs_(std::move(nowMs))
{
    if (!nowMs_) {
        nowMs_ = [] {
            return std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now().time_since_epoch())
                .count();
        };
    }
    timer_ = new QTimer(this);
    timer_->setSingleShot(true);
    connect(timer_, &QTimer::timeout, this, &LoginGuard::RunQueue);
}

int64_t LoginGuard::WaitMs(const QHostAddress& address) const
{
    const int64_t now = nowMs_();
    int64_t until = nextGlobalMs_;
    const auto it = peers_.find(address.toString());
    if (it != peers_.end())
        until = std::max(until, it->second.nextAllowedMs);
    return std::max<int64_t>(0, until - now);
}

void LoginGuard::Take(const QHostAddress& address)
{
    const int64_t now = nowMs_();
    nextGlobalMs_ = now + kGlobalSpacingMs;
    const auto it = peers_.find(address.toString());
    if (it != peers_.end() && it->second.failures >= kFreeFailures)
        it->second.nextAllowedMs = now + kPeerSpacingMs;
}

bool LoginGuard::TryAcquire(const QHostAddress& address, int* retryAfter)
{
    const int64_t wait = WaitMs(address);
    if (wait > 0) {
        if (retryAfter)
            *retryAfter = static_cast<int>(std::max<int64_t>(1, (wait + 999) / 1000));
        return false;
    }
    Take(address);
    return true;
}

void LoginGuard::Enqueue(const QHostAddress& address, QObject* context, std::function<void()> check)
{
    queue_.push_back({address, context, std::move(check)});
    RunQueue();
}

void LoginGuard::RunQueue()
{
    while (!queue_.empty()) {
        if (!queue_.front().context) {
            queue_.pop_front();
            continue;
        }
        const int64_t wait = WaitMs(queue_.front().address);
        if (wait > 0) {
            timer_->start(static_cast<int>(wait));
            return;
        }
        Waiting w = std::move(queue_.front());
        queue_.pop_front();
        Take(w.address);
        QTimer::singleShot(0, w.context.data(), std::move(w.check));
    }
}

void LoginGuard::Record(const QHostAddress& address, bool success)
{
    const QString key = address.toString();
    if (success) {
        peers_.erase(key);
        return;
    }
    if (peers_.size() >= kMaxPeers && peers_.find(key) == peers_.end()) {
        const int64_t now = nowMs_();
        for (auto it = peers_.begin(); it != peers_.end();)
            it = it->second.nextAllowedMs < now ? peers_.erase(it) : std::next(it);
    }
    Peer& peer = peers_[key];
    ++peer.failures;
    if (peer.failures >= kFreeFailures)
        peer.nextAllowedMs = std::max(peer.nextAllowedMs, nowMs_() + kPeerSpacingMs);
    const int64_t now = nowMs_();
    if (now - lastLogMs_ < 1000) {
        ++unlogged_;
        return;
    }
    QString line = QStringLiteral("login refused from %1").arg(key);
    if (unlogged_ > 0)
        line += QStringLiteral(" (%1 more not logged)").arg(unlogged_);
    unlogged_ = 0;
    lastLogMs_ = now;
    emit LogLine(line);
}

}  // namespace tavoxa
