// The simulated board behind serial lines whose every call takes a set time, as on a USB serial
// adapter, logging each bus transaction it sees with its start and end. Called from the bus thread
// while the test's thread reads the log: every access goes through the lock.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "adapter/simboard.h"

namespace tavoxa {

class TimedLines : public SerialLines {
public:
    using Clock = std::chrono::steady_clock;
    struct Transaction {
        bool write = false;
        uint8_t byte = 0;  // the data byte: written, or as read
        int calls = 0;     // driver calls from START to STOP
        Clock::time_point start;
        Clock::time_point end;
    };

    explicit TimedLines(std::chrono::microseconds perCall = {}) : perCall_(perCall.count())
    {
        board_.Model().SetBusLogEnabled(true);
    }

    // The next CTS sample takes this much longer, once. Samples fall inside transactions only.
    void StallNextCtsSample(std::chrono::milliseconds stall) { stallMs_ = static_cast<int>(stall.count()); }

    int ComOpen(int comNumber) override
    {
        const std::lock_guard<std::mutex> hold(lock_);
        return board_.ComOpen(comNumber);
    }
    void ComClose() override
    {
        const std::lock_guard<std::mutex> hold(lock_);
        board_.ComClose();
    }
    void ComSetDtr(int on) override
    {
        Timed([&] { board_.ComSetDtr(on); });
    }
    void ComSetRts(int on) override
    {
        Timed([&] { board_.ComSetRts(on); });
    }
    int ComGetCts() override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(stallMs_.exchange(0)));
        int cts = 0;
        Timed([&] { cts = board_.ComGetCts(); });
        return cts;
    }

    std::vector<Transaction> Transactions() const
    {
        const std::lock_guard<std::mutex> hold(lock_);
        return done_;
    }
    bool InRead() const
    {
        const std::lock_guard<std::mutex> hold(lock_);
        return inTransaction_ && addressSeen_ && !current_.write;
    }
    uint64_t Calls() const
    {
        const std::lock_guard<std::mutex> hold(lock_);
        return calls_;
    }
    // Runs f on the board, between two line operations of the bus thread: to set the contacts or
    // the chip, or to look at its pins and port.
    template <class F>
    auto WithBoard(F f)
    {
        const std::lock_guard<std::mutex> hold(lock_);
        return f(board_);
    }

private:
    // One line operation: the set time first, then the call on the board, logged.
    template <class F>
    void Timed(F call)
    {
        std::this_thread::sleep_for(std::chrono::microseconds(perCall_));
        const std::lock_guard<std::mutex> hold(lock_);
        call();
        Note();
    }
    // Turns the chip's bus monitor into transactions.
    void Note()
    {
        ++calls_;
        ++current_.calls;
        const Clock::time_point now = Clock::now();
        const std::vector<BusEvent>& log = board_.Model().BusLog();
        for (const BusEvent& e : log) {
            if (e.kind == BusEvent::Start) {
                current_ = Transaction{};
                current_.calls = 1;
                current_.start = now;
                inTransaction_ = true;
                addressSeen_ = false;
            } else if (e.kind == BusEvent::Byte && !addressSeen_) {
                addressSeen_ = true;
                current_.write = (e.value & 1) == 0;
            } else if (e.kind == BusEvent::Byte) {
                current_.byte = e.value;
            } else if (inTransaction_) {
                current_.end = now;
                inTransaction_ = false;
                done_.push_back(current_);
            }
        }
        board_.Model().ClearBusLog();
    }

    mutable std::mutex lock_;
    SimulatedBoard board_;
    const int64_t perCall_;
    std::atomic<int> stallMs_{0};
    uint64_t calls_ = 0;
    bool inTransaction_ = false;
    bool addressSeen_ = false;
    Transaction current_;
    std::vector<Transaction> done_;
};

}  // namespace tavoxa
