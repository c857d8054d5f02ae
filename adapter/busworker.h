// The exchange with the port expander on a thread of its own, so that no other thread ever waits
// for a driver call: a USB serial adapter takes 0.1 to 4 ms per modem-line call, 60 to 80 of them
// per transaction.
#pragma once

#include <QObject>
#include <QThread>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "adapter/i2c.h"
#include "adapter/seriallines.h"
#include "adapter/transaction.h"

class QTimer;

namespace tavoxa {

// What the worker knows about the port and the board.
struct BusStatus {
    // The port is held: opened by Open, until Stop or a failed open. Stays set while a device that
    // went away is being reopened and after ReleaseForExit.
    bool PortOpen = false;
    int ComNumber = 0;
    // The chip acknowledged the last byte of the last transaction ("connected").
    bool Acknowledged = false;
    // A driver call failed as a device that has gone away does; the port is reopened once a second.
    bool DeviceLost = false;
    // Closed for the program's exit: no bus operation until Stop or Open.
    bool Released = false;
    // The system's text when the open failed or the device failed, "" otherwise.
    std::string Reason;

    bool operator==(const BusStatus& o) const
    {
        return PortOpen == o.PortOpen && ComNumber == o.ComNumber && Acknowledged == o.Acknowledged &&
               DeviceLost == o.DeviceLost && Released == o.Released && Reason == o.Reason;
    }
    bool operator!=(const BusStatus& o) const { return !(*this == o); }
};

// Registers the types of the worker's signals for queued connections; the worker does it too.
void RegisterBusMetaTypes();

// Threads: everything but SetRelayByte and RelayByte runs on the thread the worker lives on (the
// bus thread, see BusThread): the slots, the timer, every call on the serial lines. SetRelayByte
// and RelayByte may be called from any thread. Under a BusThread the signals are handed over to the
// owner's thread and emitted there, so its receivers run there without waiting for the bus; a
// worker without one emits them on its own thread.
//
// Cadence: writes and reads alternate, one transaction every 20 ms. A transaction that takes longer
// than that is followed right away by the next, with no catching up afterwards. A relay byte that
// differs from the one last written goes out in the next transaction, ahead of a read that is due
// (at most one read is put off in a row, so the inputs are still read under a stream of changes).
class BusWorker : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kTick{20};
    static constexpr std::chrono::milliseconds kReopenInterval{1000};

    // The lines and the delay are used on the bus thread only and must outlive the worker.
    BusWorker(SerialLines& lines, BusDelay& delay, QObject* parent = nullptr);
    ~BusWorker() override;  // closes an open port, leaving the relays as they are

    // Any thread. The relay byte for the next write transaction (bits 6 and 7 are always written
    // high). A change wakes the worker, so it goes out in the next transaction.
    void SetRelayByte(uint8_t byte);
    uint8_t RelayByte() const { return relayByte_.load(std::memory_order_acquire); }

    bool event(QEvent* e) override;

public slots:
    // Opens COM comNumber and drives the chip at the 7-bit chipAddress, the relay byte first. The
    // inputs are debounced afresh: the first InputsChanged after it means "stable once".
    void Open(int comNumber, uint8_t chipAddress);
    // Closes the port and ends the retries; the relays stay as they are.
    void Stop();
    // Closes the port for the program's exit; the status keeps PortOpen until Stop.
    void ReleaseForExit();

    // A device that went away is being opened again once a second. Read it on another thread only
    // after a status report that followed the change (the report's hand-over orders the two).
    bool Reopening() const { return state_ == State::Reopening; }

signals:
    // Whenever any field changed.
    void StatusChanged(tavoxa::BusStatus status);
    // Bits 7 (K1) and 6 (K2) of a read, as read (low = closed), on the first read after an open and
    // whenever they differ from the read before.
    void RawInputsChanged(uint8_t bits);
    // The debounced contacts: the first time after Open that both read stable, then on each change.
    void InputsChanged(bool k1Closed, bool k2Closed);
    // The byte put on the wire (bits 6 and 7 high) by a write transaction, when it differs from the
    // byte written before and on the first write after an open or a reopen.
    void RelayByteWritten(uint8_t byte);

private:
    friend class BusThread;
    using Clock = std::chrono::steady_clock;
    enum class State { Idle, Running, Reopening, Released };

    bool WritePending() const;
    bool NextIsWrite() const;
    void OnTimer();
    void Wake();
    void RunTransaction();
    void ScheduleNext();
    void StartDriving();
    void LoseDevice();
    void TryReopen();
    void Publish();
    // Emits on the owner's thread when there is one (see BusThread).
    void Hand(std::function<void()> emitSignal);

    SerialLines& lines_;
    QObject* courier_ = nullptr;  // set by BusThread before the thread starts
    I2cBus bus_;
    QTimer* timer_;
    std::atomic<uint8_t> relayByte_{0};
    std::atomic<bool> wakePosted_{false};

    // Bus thread only.
    State state_ = State::Idle;
    int comNumber_ = 0;
    uint8_t chipAddress_ = 0x20;
    Clock::time_point due_{};
    bool lastWasWrite_ = false;
    bool lastPutOffRead_ = false;  // the last write was taken while a read was due
    bool haveWritten_ = false;
    uint8_t lastWritten_ = 0;
    bool haveRaw_ = false;
    uint8_t lastRaw_ = 0;
    bool stableOnce_ = false;
    InputDebounce debounce_;
    BusStatus status_;
    BusStatus published_;
    bool publishedOnce_ = false;
};

// The owner's side of the bus thread: creates the worker, moves it to a thread of its own and
// starts that thread; Finish (or the destructor) ends it. Threads: every member is called on the
// owner's thread (the core's); the commands are handed to the worker as queued calls and return at
// once, never waiting for a line operation.
//
// The queued calls are events of our own (Post/RunHandover in busworker.cpp), not
// QMetaObject::invokeMethod: the queue orders a call before its delivery with a lock inside the Qt
// library, which ThreadSanitizer cannot see, and Qt reads and frees a functor's slot object
// before any code of ours runs on the other side, so no annotation of ours can cover it. Tried
// with invokeMethod: ThreadSanitizer reported races on the slot object in adapter_tests and
// core_tests; with the events the receiver's event() takes the hand-over first and both run clean.
class BusThread {
    // Lives on the owner's thread and runs the worker's signals there.
    class Courier : public QObject {
    public:
        bool event(QEvent* e) override;
    };

public:
    BusThread(SerialLines& lines, BusDelay& delay);
    ~BusThread();
    BusThread(const BusThread&) = delete;
    BusThread& operator=(const BusThread&) = delete;

    // For connecting to its signals (queued, as it lives on the bus thread) and SetRelayByte.
    // Valid until Finish.
    BusWorker& Worker() { return *worker_; }

    void Open(int comNumber, uint8_t chipAddress);
    void Stop();
    void ReleaseForExit();
    void SetRelayByte(uint8_t byte) { worker_->SetRelayByte(byte); }

    // Ends the thread: the transaction under way completes, the worker closes an open port (the
    // relays stay as they are) and is deleted on its own thread. Waits for that; a second call
    // does nothing.
    void Finish();

private:
    Courier courier_;
    QThread thread_;
    BusWorker* worker_;
};

}  // namespace tavoxa

Q_DECLARE_METATYPE(tavoxa::BusStatus)
