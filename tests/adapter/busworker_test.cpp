// The bus worker on its thread against serial lines whose calls take time: the cadence of the
// transactions, a change of the relay byte overtaking a due read, what it hands back, and which
// ports it leaves alone.
#include "adapter/busworker.h"

#include <gtest/gtest.h>

#include <QTest>
#include <functional>
#include <vector>

#include "adapter/timedlines.h"
#include "testkit.h"

namespace tavoxa {
namespace {

using namespace std::chrono_literals;
using Ms = std::chrono::duration<double, std::milli>;
using testing::WaitUntil;

// The worker on its thread over timed lines, and what it handed back, received on the test's
// thread.
struct Bus {
    explicit Bus(std::chrono::microseconds perCall = {}) : lines(perCall), thread(lines, delay)
    {
        BusWorker& w = thread.Worker();
        QObject::connect(&w, &BusWorker::StatusChanged, &context,
                         [this](const BusStatus& s) { status.push_back(s); });
        QObject::connect(&w, &BusWorker::RawInputsChanged, &context, [this](uint8_t b) { raw.push_back(b); });
        QObject::connect(&w, &BusWorker::InputsChanged, &context, [this](bool k1, bool k2) {
            inputs.push_back({k1, k2});
        });
        QObject::connect(&w, &BusWorker::RelayByteWritten, &context,
                         [this](uint8_t b) { written.push_back(b); });
    }
    // Transactions so far, once at least n of them are there.
    std::vector<TimedLines::Transaction> Await(size_t n)
    {
        EXPECT_TRUE(WaitUntil([&] { return lines.Transactions().size() >= n; })) << n << " transactions";
        return lines.Transactions();
    }
    BusStatus Status() const { return status.empty() ? BusStatus{} : status.back(); }
    TimedLines lines;
    NoBusDelay delay;
    BusThread thread;
    QObject context;
    std::vector<BusStatus> status;
    std::vector<uint8_t> raw;
    std::vector<std::pair<bool, bool>> inputs;
    std::vector<uint8_t> written;
};

TEST(BusWorker, FastAdapterAlternatesWriteAndReadEveryTick)
{
    Bus b;
    b.thread.SetRelayByte(0x05);
    b.thread.Open(1, 0x20);
    const auto t = b.Await(20);
    for (size_t i = 0; i < t.size(); ++i) {
        EXPECT_EQ(t[i].write, i % 2 == 0) << i;
        EXPECT_EQ(t[i].calls, t[i].write ? 64 : 81) << i;  // line changes and CTS samples
        // Never ahead of its tick (a timer does not fire early), whatever the machine's load.
        EXPECT_GE(Ms(t[i].start - t[0].start).count(), 20.0 * static_cast<double>(i) - 1.0) << i;
    }
    EXPECT_EQ(t[0].byte, 0xC5);
    ASSERT_TRUE(WaitUntil([&] { return b.inputs.size() == 1; }));
    // Both contacts open read stable after eight reads, the raw bits from the first.
    EXPECT_EQ(b.inputs[0], std::make_pair(false, false));
    EXPECT_EQ(b.raw.at(0), 0xC0);
    EXPECT_EQ(b.written, std::vector<uint8_t>{0xC5});  // rewritten unchanged: no signal
    EXPECT_TRUE(b.Status().PortOpen);
    EXPECT_TRUE(b.Status().Acknowledged);
    EXPECT_EQ(b.Status().ComNumber, 1);

    b.lines.WithBoard([](SimulatedBoard& s) { s.SetK1Closed(true); });
    ASSERT_TRUE(WaitUntil([&] { return b.inputs.size() == 2; }));
    EXPECT_EQ(b.inputs[1], std::make_pair(true, false));
    EXPECT_EQ(b.raw.back(), 0x40);
}

// The status says whether the port is held and whether the chip answers at the address chosen.
TEST(BusWorker, StatusTellsWhetherThePortIsHeldAndTheChipAnswers)
{
    struct Case {
        const char* what;
        int com;
        uint8_t chip;    // chosen
        uint8_t fitted;  // on the board
        bool answering;
        bool open;
        bool acked;
    };
    for (const Case& c : {
             Case{"COM 5, PCF8574A", 5, 0x38, 0x38, true, true, true},
             Case{"COM 0, from text typed into the list", 0, 0x20, 0x20, true, false, false},
             Case{"PCF8574 chosen, PCF8574A fitted", 1, 0x20, 0x38, true, true, false},
             Case{"board that does not answer", 1, 0x20, 0x20, false, true, false},
         }) {
        SCOPED_TRACE(c.what);
        Bus b;
        b.lines.WithBoard([&](SimulatedBoard& s) {
            s.SetChipAddress(c.fitted);
            s.SetAnswering(c.answering);
        });
        b.thread.Open(c.com, c.chip);
        if (c.acked) {
            ASSERT_TRUE(WaitUntil([&] { return b.Status().Acknowledged; }));
        } else {
            ASSERT_TRUE(WaitUntil([&] { return !b.status.empty(); }));
            if (c.open)
                b.Await(5);
            for (const BusStatus& s : b.status) {
                EXPECT_FALSE(s.Acknowledged);
            }
        }
        EXPECT_EQ(b.Status().PortOpen, c.open);
        EXPECT_EQ(b.Status().ComNumber, c.com);
        EXPECT_EQ(b.lines.WithBoard([](SimulatedBoard& s) { return s.OpenComNumber(); }), c.open ? c.com : 0);
        EXPECT_EQ(b.lines.Calls() > 0, c.open);  // a port that did not open is not driven
        if (!c.answering) {
            b.lines.WithBoard([](SimulatedBoard& s) { s.SetAnswering(true); });
            EXPECT_TRUE(WaitUntil([&] { return b.Status().Acknowledged; }));
        }
    }
}

// STOP and the release for the program's exit leave the relays as they are: no line operation,
// whatever the relay byte does, until the port is opened again.
TEST(BusWorker, StoppedOrReleasedPortIsNotTouched)
{
    Bus b;
    b.thread.ReleaseForExit();  // nothing held: nothing released
    b.thread.SetRelayByte(0x05);
    b.thread.Open(1, 0x20);
    ASSERT_TRUE(WaitUntil([&] { return b.inputs.size() == 1; }));
    EXPECT_FALSE(b.status.front().Released);
    const auto untouched = [&b](const char* what) {
        SCOPED_TRACE(what);
        const uint64_t calls = b.lines.Calls();
        b.thread.SetRelayByte(b.thread.Worker().RelayByte() ^ 0x01);
        QTest::qWait(100);
        EXPECT_EQ(b.lines.Calls(), calls);
        EXPECT_EQ(b.lines.WithBoard([](SimulatedBoard& s) { return s.Model().Pins(); }), 0xC5);
    };

    b.thread.ReleaseForExit();
    ASSERT_TRUE(WaitUntil([&] { return b.Status().Released; }));
    EXPECT_TRUE(b.Status().PortOpen);  // until STOP
    EXPECT_FALSE(b.Status().Acknowledged);
    EXPECT_FALSE(b.lines.WithBoard([](SimulatedBoard& s) { return s.IsOpen(); }));
    untouched("released");

    b.thread.Stop();
    ASSERT_TRUE(WaitUntil([&] { return !b.Status().PortOpen; }));
    EXPECT_FALSE(b.Status().Released);
    b.thread.Stop();  // nothing more to do
    untouched("stopped");

    // Opened again: the current byte goes out and the contacts are reported once they read
    // stable again, unchanged as they are.
    b.thread.SetRelayByte(0x0A);
    b.thread.Open(1, 0x20);
    ASSERT_TRUE(WaitUntil([&] { return b.inputs.size() == 2; }));
    EXPECT_EQ(b.inputs[1], b.inputs[0]);
    EXPECT_EQ(b.lines.WithBoard([](SimulatedBoard& s) { return s.Model().Pins(); }), 0xCA);
    EXPECT_TRUE(b.Status().Acknowledged);
}

TEST(BusWorker, LongTransactionIsFollowedAtOnceWithoutCatchingUp)
{
    Bus b;
    b.thread.Open(1, 0x20);
    b.Await(4);
    b.lines.StallNextCtsSample(100ms);  // one transaction takes five ticks
    const auto t = b.Await(12);
    size_t slow = 0;
    for (size_t i = 1; i < t.size(); ++i) {
        if (Ms(t[i].end - t[i].start).count() >= 100.0) {
            slow = i;
            break;
        }
    }
    ASSERT_GT(slow, 0u);
    ASSERT_LT(slow + 2, t.size());
    // The next starts right after it rather than on a later tick ...
    EXPECT_LT(Ms(t[slow + 1].start - t[slow].end).count(), 20.0);
    // ... and the one after that a full tick later: the ticks missed are not made up in a burst.
    EXPECT_GE(Ms(t[slow + 2].start - t[slow + 1].start).count(), 19.0);
}

TEST(BusWorker, ChangedRelayByteGoesOutAheadOfADueRead)
{
    for (const auto perCall : {0us, 1000us}) {
        SCOPED_TRACE(perCall.count());
        Bus b(perCall);
        b.thread.Open(1, 0x20);
        b.Await(3);
        if (perCall.count() > 0) {
            // Set while a read runs: the write follows it at once.
            ASSERT_TRUE(WaitUntil([&] { return b.lines.InRead(); }));
        } else {
            // Set just after a write: the read that is due next waits for another write.
            ASSERT_TRUE(WaitUntil([&] {
                const auto t = b.lines.Transactions();
                return t.back().write && TimedLines::Clock::now() - t.back().end < 5ms;
            }));
        }
        const auto set = TimedLines::Clock::now();
        b.thread.SetRelayByte(0x2A);
        ASSERT_TRUE(WaitUntil([&] { return !b.written.empty() && b.written.back() == 0xEA; }));
        const auto t = b.lines.Transactions();
        size_t first = 0;
        while (first < t.size() && t[first].start < set) {
            ++first;
        }
        ASSERT_LT(first, t.size());
        EXPECT_TRUE(t[first].write);
        EXPECT_EQ(t[first].byte, 0xEA);
    }

    // A stream of changes still leaves every third transaction or more to the inputs.
    Bus b;
    b.thread.Open(1, 0x20);
    for (int i = 0; i < 60; ++i) {
        b.thread.SetRelayByte(static_cast<uint8_t>(i & 1 ? 0x01 : 0x02));
        QTest::qWait(5);
    }
    const auto t = b.lines.Transactions();
    ASSERT_GT(t.size(), 6u);
    for (size_t i = 2; i < t.size(); ++i) {
        EXPECT_FALSE(t[i].write && t[i - 1].write && t[i - 2].write) << i;
    }
}

}  // namespace
}  // namespace tavoxa
