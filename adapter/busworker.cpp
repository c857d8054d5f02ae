#include "adapter/busworker.h"

#include <QMetaObject>
#include <QTimer>
#include <algorithm>

#include "engine/hardware.h"

namespace tavoxa {

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
}

void BusWorker::SetRelayByte(uint8_t byte)
{
    const uint8_t before = relayByte_.exchange(byte, std::memory_order_acq_rel);
    if (((before ^ byte) & ~kInputMask) == 0) {
        return;  // bits 6 and 7 are written high whatever they are
    }
    // One wake-up in the queue is enough: it looks at the byte as it is when it runs.
    if (!wakePosted_.exchange(true, std::memory_order_acq_rel)) {
        QMetaObject::invokeMethod(this, &BusWorker::Wake, Qt::QueuedConnection);
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
    StartDriving();
    Publish();
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
            emit RelayByteWritten(wire);
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
            emit RawInputsChanged(raw);
        }
        const bool k1 = debounce_.K1Closed;
        const bool k2 = debounce_.K2Closed;
        if (DebounceRead(debounce_, read) &&
            (!stableOnce_ || k1 != debounce_.K1Closed || k2 != debounce_.K2Closed)) {
            stableOnce_ = true;
            emit InputsChanged(debounce_.K1Closed, debounce_.K2Closed);
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
    emit StatusChanged(status_);
}

BusThread::BusThread(SerialLines& lines, BusDelay& delay) : worker_(new BusWorker(lines, delay))
{
    thread_.setObjectName("tavoxa-bus");
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
    BusWorker* w = worker_;
    if (w == nullptr) {
        return;
    }
    QMetaObject::invokeMethod(
        w, [w, comNumber, chipAddress] { w->Open(comNumber, chipAddress); }, Qt::QueuedConnection);
}

void BusThread::Stop()
{
    if (worker_ == nullptr) {
        return;
    }
    QMetaObject::invokeMethod(worker_, &BusWorker::Stop, Qt::QueuedConnection);
}

void BusThread::ReleaseForExit()
{
    if (worker_ == nullptr) {
        return;
    }
    QMetaObject::invokeMethod(worker_, &BusWorker::ReleaseForExit, Qt::QueuedConnection);
}

void BusThread::Finish()
{
    if (!thread_.isRunning()) {
        return;
    }
    thread_.quit();
    thread_.wait();
    worker_ = nullptr;
}

}  // namespace tavoxa
