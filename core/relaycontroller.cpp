#include "core/relaycontroller.h"

#include <QCoreApplication>
#include <QTimer>

#include "core/relayrestore.h"
#include "engine/hardware.h"
#include "engine/inputlogic.h"
#include "engine/schedule.h"
#include "engine/secondtick.h"
#include "remote/remoteserver.h"

namespace tavoxa {

namespace {

// The clock of one second the tick runs, which may be a second the program missed.
class SecondClock : public Clock {
public:
    explicit SecondClock(const LocalDateTime& at) : at_(at) {}
    LocalDateTime Now() const override { return at_; }

private:
    LocalDateTime at_;
};

SwitchCause Cause(CauseKind kind)
{
    return SwitchCause{kind, 0, {}};
}

}  // namespace

RelayController::RelayController(SerialLines& lines, const Clock& clock, RandomSource& random,
                                 BusDelay& delay, ErrorReport& report, QObject* parent,
                                 const MonotonicClock* monotonic)
    : QObject(parent),
      clock_(clock),
      random_(random),
      report_(report),
      bus_(std::make_unique<BusThread>(lines, delay)),
      log_(clock),
      files_(model_, adapter_, clock)
{
    qRegisterMetaType<tavoxa::BusFacts>();
    if (!monotonic) {
        ownMonotonic_ = std::make_unique<SteadyMonotonicClock>();
        monotonic = ownMonotonic_.get();
    }
    remote_ = std::make_unique<RemoteSwitch>(model_, log_);
    RemoteServer& server = remote_->server();
    connect(&server, &RemoteServer::ClientConnectedLastChanged, this,
            &RelayController::ClientConnectedChanged);
    // The server has set the whole byte as the client sent it.
    connect(&server, &RemoteServer::RelayBitsChanged, this,
            [this](const QString& peer) { Commit(RemoteCause(peer.toStdString())); });
    connect(remote_.get(), &RemoteSwitch::RemoteOnChanged, this, &RelayController::RemoteOnChanged);

    // The worker's signals are emitted on this thread.
    BusWorker* worker = &bus_->Worker();
    connect(worker, &BusWorker::StatusChanged, this, &RelayController::OnBusStatus);
    connect(worker, &BusWorker::RawInputsChanged, this, &RelayController::OnRawInputs);
    connect(worker, &BusWorker::InputsChanged, this, &RelayController::OnInputs);
    connect(worker, &BusWorker::RelayByteWritten, this,
            [this](uint8_t wireByte) { emit RelaysWritten(static_cast<uint8_t>(wireByte & kRelayMask)); });
    ticker_ = new SecondTicker(clock_, *monotonic, this);
    connect(ticker_, &SecondTicker::Second, this,
            [this](const LocalDateTime& at) { Reported([this, &at] { RunSecond(at); }); });
    connect(this, &RelayController::BusFactsChanged, this, &RelayController::NoteBusFacts);
}

RelayController::~RelayController()
{
    // The server goes first: its connections must not report to a half-destroyed controller.
    remote_.reset();
}

void RelayController::SetRunOptions(const RunOptions& options)
{
    options_ = options;
    remote_->SetUnattended(options.unattended);
}

void RelayController::Startup()
{
    // The second tick runs from here on; it fires once the event loop runs.
    ticker_->Start();

    remote_->settings().RemoteState = Idle;
    adapter_.ComNumber = 1;
    adapter_.ChipAddress = kChipAddressPcf8574;
    // With a display an error from the files skips the rest of the start-up, and the user sees
    // the port closed; unattended, the port opens and the ticks run on what was read.
    const bool filesRead = Reported([this] {
        LoadSettingsFile();
        LoadConfiguration();
    });
    if (!filesRead && !options_.unattended) {
        EmitBusFacts();  // the status lines name the port in force, closed
        return;
    }
    loggedRelays_ = static_cast<uint8_t>(model_.RelayBits & kRelayMask);
    if (options_.resumeTimers && filesRead) {
        // Before the port opens, so the first byte written is the resumed one.
        const std::vector<SwitchEvent> resumed = ResumeTimers(model_, clock_.Now());
        NoteRelays(Cause(CauseKind::ResumedAtStartUp), &resumed, nullptr);
    }
    if (options_.restoredRelays && filesRead) {
        RestoreUndrivenRelays(model_, *options_.restoredRelays);
        NoteRelays(Cause(CauseKind::RestoredAtStartUp), nullptr, nullptr);
    }
    Reported([this] {
        model_.MinuteCounter = 0;
        model_.MinuteTick = false;
        OpenAdapterStep();
        ForgetCounts(model_);
    });
    HandOver();
}

bool RelayController::Close()
{
    bus_->ReleaseForExit();
    if (!SaveFiles())
        return false;
    remote_->Close();
    // The transaction under way completes; the relays stay as they were last written.
    bus_->Finish();
    ticker_->Stop();
    return true;
}

bool RelayController::SaveFiles()
{
    return Reported([this] {
        files_.SaveConfiguration();
        const RemoteSettings& remote = remote_->settings();
        files_.SaveSettingsFile(remote.RemotePassword, remote.RemotePort, remote_->remoteOn());
    });
}

void RelayController::LoadSettingsFile()
{
    const SettingsFileContent content = files_.ReadSettingsFile();
    for (const std::string& removed : files_.RemoveLeftOvers())
        log_.Write(QStringLiteral("removed %1, left by a save that was cut off")
                       .arg(QString::fromStdString(removed)),
                   LogPriority::Warning);
    RemoteSettings& remote = remote_->settings();
    remote.RemotePassword = content.RemotePassword;
    remote.RemotePort = content.RemotePort;
    if (content.Remote)
        remote_->SetRemote(true);
    emit SettingsFileRead();
}

void RelayController::LoadConfiguration()
{
    int valuesRead = -1;
    try {
        valuesRead = files_.LoadConfiguration();
    } catch (...) {
        // The view shows the settings in force, as far as they were read, also when the load
        // fails half way.
        emit SettingsReplaced();
        throw;
    }
    emit SettingsReplaced();
    if (valuesRead >= 0)
        report_.Report(ErrorReportText(tr("%1: ends after %2 of %3 values")
                                           .arg(QString::fromStdString(files_.configFileName()))
                                           .arg(valuesRead)
                                           .arg(kConfigLineCount)));
}

void RelayController::SetNames(const std::array<std::string, 8>& names)
{
    files_.SetNames(names);
    emit SettingsFileRead();
}

void RelayController::OpenAdapterStep()
{
    // The port opens on the bus thread: the controls lock once it reports the port open. The
    // inputs count as unknown until they have read stable again.
    openRequested_ = true;
    adapter_.InputsStable = false;
    HandOver();
    bus_->Open(adapter_.ComNumber, adapter_.ChipAddress);
}

void RelayController::Switch(const std::vector<RelayCommand>& commands, const SwitchCause& cause)
{
    for (const RelayCommand& c : commands) {
        if (c.relay < 0 || c.relay >= kRelayCount)
            continue;
        switch (c.action) {
            case RelayAction::On:
                SetRelay(model_, c.relay);
                break;
            case RelayAction::Off:
                ClearRelay(model_, c.relay);
                break;
            case RelayAction::Toggle:
                ToggleRelay(model_, c.relay);
                break;
        }
    }
    Commit(cause);
}

void RelayController::Commit(const SwitchCause& cause, const std::vector<SwitchEvent>* events,
                             const LocalDateTime* at)
{
    HandOver();
    NoteRelays(cause, events, at);
}

void RelayController::HandOver()
{
    // The input logic runs only while the port is open: then the byte handed over always has the
    // input-logic modes applied with the debounced inputs, so RESET, T or a remote byte never reach
    // the wire for such a relay, and until the inputs have read stable once after START those
    // relays keep the state they had. While the port is closed what T, RESET, a mode change or a
    // remote byte did holds, bits 6 and 7 included, until the port opens.
    if (busStatus_.PortOpen) {
        uint8_t logicRelays = 0;
        for (int r = 0; r < kRelayCount; ++r) {
            if (model_.RelayMode(r) >= ModeIfK1 && model_.RelayMode(r) <= ModeK1XorK2)
                logicRelays = static_cast<uint8_t>(logicRelays | 1u << r);
        }
        if (adapter_.InputsStable)
            ApplyInputLogic(model_, adapter_.K1Closed, adapter_.K2Closed);
        else
            model_.RelayBits =
                static_cast<uint8_t>((model_.RelayBits & ~logicRelays) | (handedOver_ & logicRelays));
        // Between writes bits 6 and 7 carry the contacts as last read.
        model_.RelayBits = static_cast<uint8_t>((model_.RelayBits & kRelayMask) | rawInputs_);
    }
    handedOver_ = static_cast<uint8_t>(model_.RelayBits & kRelayMask);
    bus_->SetRelayByte(handedOver_);
}

void RelayController::NoteRelays(const SwitchCause& cause, const std::vector<SwitchEvent>* events,
                                 const LocalDateTime* at)
{
    const auto now = static_cast<uint8_t>(model_.RelayBits & kRelayMask);
    const uint8_t changed = now ^ loggedRelays_;
    loggedRelays_ = now;
    if (changed == 0)
        return;
    const LocalDateTime t = at ? *at : clock_.Now();
    for (int r = 0; r < kRelayCount; ++r) {
        if (!(changed >> r & 1))
            continue;
        const SwitchCause* why = &cause;
        if (events) {
            for (const SwitchEvent& e : *events) {
                if (e.relay == r)
                    why = &e.cause;
            }
        }
        const QString name = files_.Name(r);
        log_.WriteAt(t, QStringLiteral("relay %1%2 %3: %4")
                            .arg(r + 1)
                            .arg(name.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(name))
                            .arg(now >> r & 1 ? QStringLiteral("on") : QStringLiteral("off"))
                            .arg(QString::fromStdString(CauseText(*why))));
    }
}

void RelayController::OnBusStatus(const BusStatus& status)
{
    const BusStatus before = busStatus_;
    busStatus_ = status;
    // The controls follow the port as the bus thread reports it, once START has asked for it.
    if (openRequested_ && status.PortOpen != portLocked_)
        LockPortControls(status.PortOpen);
    if (!status.PortOpen && !status.Reason.empty() && (before.PortOpen || before.Reason != status.Reason))
        log_.Write(QStringLiteral("port COM %1 cannot be opened: %2")
                       .arg(adapter_.ComNumber)
                       .arg(QString::fromStdString(status.Reason)),
                   LogPriority::Warning);
    if (status.DeviceLost && !before.DeviceLost)
        log_.Write(QStringLiteral("adapter on COM %1 lost: %2; opening it again once a second")
                       .arg(status.ComNumber)
                       .arg(QString::fromStdString(status.Reason)),
                   LogPriority::Warning);
    else if (!status.DeviceLost && before.DeviceLost && status.PortOpen)
        log_.Write(QStringLiteral("adapter on COM %1 back").arg(status.ComNumber));
    EmitBusFacts();
}

void RelayController::OnRawInputs(uint8_t bits)
{
    rawInputs_ = static_cast<uint8_t>(bits & kInputMask);
    if (busStatus_.PortOpen)
        model_.RelayBits = static_cast<uint8_t>((model_.RelayBits & kRelayMask) | rawInputs_);
}

void RelayController::OnInputs(bool k1Closed, bool k2Closed)
{
    adapter_.K1Closed = k1Closed;
    adapter_.K2Closed = k2Closed;
    adapter_.InputsStable = true;
    emit InputsRead(k1Closed, k2Closed);
    Commit(InputLogicCause(k1Closed, k2Closed));
}

void RelayController::EmitBusFacts()
{
    const BusFacts facts = busFacts();
    if (factsShown_ && facts == lastFacts_)
        return;
    factsShown_ = true;
    lastFacts_ = facts;
    emit BusFactsChanged(facts);
}

void RelayController::LockPortControls(bool locked)
{
    portLocked_ = locked;
    emit PortControlsLockChanged(locked);
}

BusFacts RelayController::busFacts() const
{
    BusFacts f;
    f.PortOpen = busStatus_.PortOpen;
    f.ComNumber = adapter_.ComNumber;
    // A released port has had no transaction since it was closed: the last acknowledge is stale.
    f.Connected =
        busStatus_.PortOpen && !busStatus_.Released && !busStatus_.DeviceLost && busStatus_.Acknowledged;
    return f;
}

void RelayController::Start()
{
    StartSeconds(model_);
    OpenAdapterStep();
}

void RelayController::Stop()
{
    bus_->Stop();
    openRequested_ = false;
    busStatus_.PortOpen = false;
    LockPortControls(false);
    EmitBusFacts();
}

void RelayController::Reset()
{
    ResetSwitching(model_);
    Commit(Cause(CauseKind::Reset));
}

void RelayController::SelectPort(int comItemIndex, int chipItem)
{
    SelectComPort(adapter_, comItemIndex);
    SelectChip(adapter_, chipItem);
    EmitBusFacts();
}

void RelayController::NoteBusFacts(const BusFacts& facts)
{
    if (facts.PortOpen != loggedFacts_.PortOpen || facts.ComNumber != loggedFacts_.ComNumber || !factsLogged_)
        log_.Write(
            QStringLiteral("port COM %1 %2").arg(facts.ComNumber).arg(facts.PortOpen ? "open" : "closed"));
    if (facts.Connected != loggedFacts_.Connected || !factsLogged_)
        log_.Write(facts.Connected ? QStringLiteral("adapter connected")
                                   : QStringLiteral("adapter not connected"));
    loggedFacts_ = facts;
    factsLogged_ = true;
}

void RelayController::Load(const std::string& path)
{
    Reported([this, &path] {
        files_.SetConfigFileName(path);
        LoadConfiguration();
        ResetSwitching(model_);
        Start();
        NoteRelays(Cause(CauseKind::StartAfterLoad), nullptr, nullptr);
    });
    EmitBusFacts();  // a failed load may have read another COM number
}

void RelayController::Save(const std::string& path)
{
    Reported([this, &path] {
        files_.SetConfigFileName(path);
        files_.SaveConfiguration();
        Start();
    });
}

void RelayController::Edit(const SettingsEdit& edit)
{
    // A changed mode neither switches the relay nor resets its counters; an input-logic mode
    // follows the contacts from now on.
    if (ApplyEdit(model_, edit))
        Commit(InputLogicCause(adapter_.K1Closed, adapter_.K2Closed));
    if (edit.relay >= 0 && edit.relay < kRelayCount)
        emit SettingsEdited(edit.relay);
}

RelaySettings RelayController::Settings(int relay) const
{
    return ReadRelaySettings(model_, relay);
}

void RelayController::SetSettings(int relay, const RelaySettings& settings)
{
    if (relay < 0 || relay >= kRelayCount)
        return;
    if (WriteRelaySettings(model_, relay, settings))
        Commit(InputLogicCause(adapter_.K1Closed, adapter_.K2Closed));
    emit SettingsEdited(relay);
}

void RelayController::RunSecond(const LocalDateTime& at)
{
    EmitBusFacts();  // the status lines follow the port every tick
    std::vector<SwitchEvent> events;
    const SecondClock clock(at);
    SecondTick(model_, clock, random_, &events);
    Commit(Cause(CauseKind::TimerProgram), &events, &at);
    emit SecondTicked();
    remote_->server().RemoteCloseStep();
}

}  // namespace tavoxa
