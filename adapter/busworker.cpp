#include "adapter/busworker.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMetaObject>
#include <QTimer>
#include <algorithm>
#include <utility>

#include "engine/hardware.h"

#if defined(__SANITIZE_THREAD__)
#define TAVOXA_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TAVOXA_THREAD_SANITIZER 1
#endif
#endif
#ifdef TAVOXA_THREAD_SANITIZER
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

namespace tavoxa {

namespace {

// Qt's event queue orders a posted event before its delivery with a lock inside the Qt library,
// which ThreadSanitizer cannot see unless Qt itself was built with it; the hand-overs between the
// owner's thread and the bus thread tell it explicitly.
void HandedOver(void* token)
{
#ifdef TAVOXA_THREAD_SANITIZER
    __tsan_release(token);
#else
    (void)token;
#endif
}

void TakenOver(void* token)
{
#ifdef TAVOXA_THREAD_SANITIZER
    __tsan_acquire(token);
#else
    (void)token;
#endif
}

// A call run on the thread of the object it is posted to.
class Handover : public QEvent {
public:
    static QEvent::Type Kind()
    {
        static const auto kind = static_cast<QEvent::Type>(QEvent::registerEventType());
        return kind;
    }
    explicit Handover(std::function<void()> call) : QEvent(Kind()), call_(std::move(call)) {}
    void Run() { call_(); }

private:
    std::function<void()> call_;
};

void Post(QObject* to, std::function<void()> call)
{
    // The receiver's address stands for its queue: everything before a post is seen by whatever
    // the receiver does after taking the next event (RunHandover).
    auto* e = new Handover(std::move(call));
    HandedOver(to);
    QCoreApplication::postEvent(to, e);
}

bool RunHandover(QObject* receiver, QEvent* e)
{
    TakenOver(receiver);
    if (e->type() != Handover::Kind()) {
        return false;
    }
    static_cast<Handover*>(e)->Run();
    return true;
}

}  // namespace

void RegisterBusMetaTypes()
{
    qRegisterMetaType<tavoxa::BusStatus>("tavoxa::BusStatus");
    qRegisterMetaType<uint8_t>("uint8_t");
}

BusWorker::BusWorker(SerialLines& lines, BusDelay& delay, QObject* parent)
    : QObject(parent), lines_(lines), bus_(lines, delay), timer_(new QTimer(this))
{
    RegisterBusMetaTypes();
    timer_->setSingleShot(true);
    timer_->setTimerType(Qt::PreciseTimer);
    connect(timer_, &QTimer::timeout, this, &BusWorker::OnTimer);
}

BusWorker::~BusWorker()
{
    if (state_ == State::Running) {
        lines_.ComClose();
    }
    if (courier_ != nullptr) {
        HandedOver(courier_);  // the owner goes on once the thread has ended (BusThread::Finish)
    }
}

bool BusWorker::event(QEvent* e)
{
    return RunHandover(this, e) || QObject::event(e);
}

void BusWorker::Hand(std::function<void()> emitSignal)
{
    if (courier_ != nullptr) {
        Post(courier_, std::move(emitSignal));
    } else {
        emitSignal();
    }
}

void BusWorker::SetRelayByte(uint8_t byte)
{
    const uint8_t before = relayByte_.exchange(byte, std::memory_order_acq_rel);
    if (((before ^ byte) & ~kInputMask) == 0) {
        return;  // bits 6 and 7 are written high whatever they are
    }
    // One wake-up in the queue is enough: it looks at the byte as it is when it runs.
    if (!wakePosted_.exchange(true, std::memory_order_acq_rel)) {
        Post(this, [this] { Wake(); });
    }
}

void BusWorker::Open(int comNumber, uint8_t chipAddress)
{
    timer_->stop();
    if (state_ == State::Running) {
        lines_.ComClose();
    }
    state_ = State::Idle;
    comNumber_ = comNumber;
    chipAddress_ = chipAddress;
    debounce_ = InputDebounce{};
    stableOnce_ = false;
    status_ = BusStatus{};
    status_.ComNumber = comNumber;
    if (lines_.ComOpen(comNumber) != 1) {
        status_.Reason = lines_.LastErrorText();
        Publish();
        return;
    }
    status_.PortOpen = true;
    // Published with the first transaction's acknowledge, which runs at once: an open port
    // without it would show the adapter not connected for that instant.
    StartDriving();
}

void BusWorker::Stop()
{
    timer_->stop();
    if (state_ == State::Running) {
        lines_.ComClose();
    }
    state_ = State::Idle;
    status_ = BusStatus{};
    status_.ComNumber = comNumber_;
    Publish();
}

void BusWorker::ReleaseForExit()
{
    if (state_ == State::Idle || state_ == State::Released) {
        return;  // nothing held, nothing to release
    }
    timer_->stop();
    if (state_ == State::Running) {
        lines_.ComClose();
    }
    state_ = State::Released;
    status_.Acknowledged = false;
    status_.DeviceLost = false;
    status_.Reason.clear();
    status_.Released = true;
    Publish();
}

// A freshly opened port: the bus is idled and the relay byte written first, whatever was written
// before the port was lost.
void BusWorker::StartDriving()
{
    state_ = State::Running;
    bus_.I2cIdle();
    haveWritten_ = false;
    haveRaw_ = false;
    lastWasWrite_ = false;
    lastPutOffRead_ = false;
    due_ = Clock::now();
    timer_->start(0);
}

bool BusWorker::WritePending() const
{
    return !haveWritten_ || static_cast<uint8_t>(RelayByte() | kInputMask) != lastWritten_;
}

bool BusWorker::NextIsWrite() const
{
    if (!lastWasWrite_) {
        return true;  // the regular alternation
    }
    return WritePending() && !lastPutOffRead_;
}

void BusWorker::OnTimer()
{
    if (state_ == State::Running) {
        RunTransaction();
    } else if (state_ == State::Reopening) {
        TryReopen();
    }
}

void BusWorker::Wake()
{
    wakePosted_.store(false, std::memory_order_release);
    // Between transactions (a slot never runs during one): a change goes out now rather than at
    // the next tick, unless it has to wait for the read that is owed.
    if (state_ != State::Running || !WritePending() || !NextIsWrite()) {
        return;
    }
    timer_->stop();
    due_ = Clock::now();
    RunTransaction();
}

void BusWorker::RunTransaction()
{
    const bool write = NextIsWrite();
    lastPutOffRead_ = write && lastWasWrite_;
    lastWasWrite_ = write;
    if (write) {
        const uint8_t wire = WriteTransaction(bus_, chipAddress_, RelayByte());
        if (DeviceFailed(lines_.LastError())) {
            LoseDevice();
            return;
        }
        const bool changed = !haveWritten_ || wire != lastWritten_;
        haveWritten_ = true;
        lastWritten_ = wire;
        if (changed) {
            Hand([this, wire] { emit RelayByteWritten(wire); });
        }
    } else {
        const uint8_t read = ReadTransaction(bus_, chipAddress_);
        if (DeviceFailed(lines_.LastError())) {
            LoseDevice();  // what a dead device reads is no input
            return;
        }
        const auto raw = static_cast<uint8_t>(read & kInputMask);
        if (!haveRaw_ || raw != lastRaw_) {
            haveRaw_ = true;
            lastRaw_ = raw;
            Hand([this, raw] { emit RawInputsChanged(raw); });
        }
        const bool k1 = debounce_.K1Closed;
        const bool k2 = debounce_.K2Closed;
        if (DebounceRead(debounce_, read) &&
            (!stableOnce_ || k1 != debounce_.K1Closed || k2 != debounce_.K2Closed)) {
            stableOnce_ = true;
            Hand([this, k1 = debounce_.K1Closed, k2 = debounce_.K2Closed] { emit InputsChanged(k1, k2); });
        }
    }
    status_.Acknowledged = bus_.I2cAcknowledged();
    Publish();
    ScheduleNext();
}

// The next transaction is due one tick after this one was; one that ran past that starts the next
// at once, and the ticks count on from there, so a slow stretch leaves no backlog behind.
void BusWorker::ScheduleNext()
{
    const Clock::time_point now = Clock::now();
    due_ = std::max(due_ + kTick, now);
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(due_ - now);
    timer_->start(static_cast<int>(wait.count()));
}

void BusWorker::LoseDevice()
{
    status_.Reason = lines_.LastErrorText();
    status_.DeviceLost = true;
    status_.Acknowledged = false;
    lines_.ComClose();
    state_ = State::Reopening;
    // Counted afresh once it is back, since the contacts may have changed meanwhile; the
    // debounced state stays until then.
    debounce_.Count = 0;
    timer_->start(static_cast<int>(kReopenInterval.count()));
    Publish();
}

void BusWorker::TryReopen()
{
    if (lines_.ComOpen(comNumber_) != 1) {
        status_.Reason = lines_.LastErrorText();
        timer_->start(static_cast<int>(kReopenInterval.count()));
        Publish();
        return;
    }
    status_.DeviceLost = false;
    status_.Reason.clear();
    StartDriving();
    Publish();
}

void BusWorker::Publish()
{
    if (publishedOnce_ && status_ == published_) {
        return;
    }
    publishedOnce_ = true;
    published_ = status_;
    Hand([this, s = status_] { emit StatusChanged(s); });
}

bool BusThread::Courier::event(QEvent* e)
{
    return RunHandover(this, e) || QObject::event(e);
}

BusThread::BusThread(SerialLines& lines, BusDelay& delay) : worker_(new BusWorker(lines, delay))
{
    thread_.setObjectName("tavoxa-bus");
    worker_->courier_ = &courier_;
    worker_->moveToThread(&thread_);
    // Deleted on its own thread as the thread finishes, so its timer stops where it runs.
    QObject::connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
    thread_.start();
}

BusThread::~BusThread()
{
    Finish();
}

void BusThread::Open(int comNumber, uint8_t chipAddress)
{
    if (worker_ != nullptr) {
        BusWorker* w = worker_;
        Post(w, [w, comNumber, chipAddress] { w->Open(comNumber, chipAddress); });
    }
}

void BusThread::Stop()
{
    if (worker_ != nullptr) {
        BusWorker* w = worker_;
        Post(w, [w] { w->Stop(); });
    }
}

void BusThread::ReleaseForExit()
{
    if (worker_ != nullptr) {
        BusWorker* w = worker_;
        Post(w, [w] { w->ReleaseForExit(); });
    }
}

void BusThread::Finish()
{
    if (worker_ == nullptr) {
        return;
    }
    // Ended from the bus thread, behind every command handed over before.
    QThread* thread = &thread_;
    Post(worker_, [thread] { thread->quit(); });
    thread_.wait();
    TakenOver(&courier_);
    worker_ = nullptr;
    // Signals of the deleted worker that have not been delivered yet are dropped.
    QCoreApplication::removePostedEvents(&courier_);
}

}  // namespace tavoxa
