#include "core/relaycontroller.h"

#include <QCoreApplication>
#include <QStringDecoder>
#include <QTimer>
#include <cstdio>

#include "engine/hardware.h"
#include "engine/inputlogic.h"
#include "engine/schedule.h"
#include "engine/secondtick.h"
#include "remote/mqttbridge.h"
#include "remote/remoteserver.h"
#include "storage/settingsfile.h"

namespace tavoxa {

int SecondTickDelayMs(const LocalDateTime& now)
{
    int ms = now.millisecond;
    if (ms < 0 || ms > 999)
        ms = 0;
    return 1000 - ms + kSecondTickLagMs;
}

int64_t ClockSecond(const LocalDateTime& t)
{
    return static_cast<int64_t>(EncodeDate(t.year, t.month, t.day)) * kSecondsPerDay +
           (t.hour * 60 + t.minute) * 60 + t.second;
}

QString NameText(const std::string& bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(QByteArray::fromStdString(bytes));
    return utf8.hasError() ? QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size())) : text;
}

void StderrReport::Report(const QString& text)
{
    const QByteArray line =
        (LogTimeText(clock_.Now()) + QLatin1Char(' ') + QCoreApplication::applicationName() +
         QStringLiteral(": ") + text + QLatin1Char('\n'))
            .toUtf8();
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
    std::fflush(stderr);
}

RelayController::RelayController(SerialLines& lines, const Clock& clock, RandomSource& random,
                                 BusDelay& delay, ErrorReport& report, QObject* parent)
    : QObject(parent),
      clock_(clock),
      random_(random),
      report_(report),
      bus_(std::make_unique<BusThread>(lines, delay)),
      log_(clock)
{
    qRegisterMetaType<tavoxa::BusFacts>();
    server_ = std::make_unique<RemoteServer>(remote_, model_);
    connect(server_.get(), &RemoteServer::ClientConnectedLastChanged, this,
            &RelayController::ClientConnectedChanged);
    connect(server_.get(), &RemoteServer::RelayBitsChanged, this, [this](const QString& peer) {
        HandOver();
        NoteRelays(QString::fromStdString(CauseText(RemoteCause(peer.toStdString()))));
    });
    connect(server_.get(), &RemoteServer::LoginFailed, this, [this](const QString& peer) {
        log_.Write(QStringLiteral("remote login refused from %1").arg(peer));
    });

    // The worker's signals are emitted on this thread.
    BusWorker* worker = &bus_->Worker();
    connect(worker, &BusWorker::StatusChanged, this, &RelayController::OnBusStatus);
    connect(worker, &BusWorker::RawInputsChanged, this, &RelayController::OnRawInputs);
    connect(worker, &BusWorker::InputsChanged, this, &RelayController::OnInputs);
    connect(worker, &BusWorker::RelayByteWritten, this,
            [this](uint8_t wireByte) { emit RelaysWritten(static_cast<uint8_t>(wireByte & kRelayMask)); });
    secondTimer_ = new QTimer(this);
    secondTimer_->setObjectName(QStringLiteral("Timer2"));
    secondTimer_->setTimerType(Qt::PreciseTimer);
    secondTimer_->setSingleShot(true);
    connect(secondTimer_, &QTimer::timeout, this, [this] { Reported([this] { SecondTimerFired(); }); });
    remoteRetry_ = new QTimer(this);
    remoteRetry_->setInterval(10000);
    connect(remoteRetry_, &QTimer::timeout, this, &RelayController::RetryRemote);
    connect(this, &RelayController::BusFactsChanged, this, &RelayController::NoteBusFacts);
}

RelayController::~RelayController()
{
    // The server goes first: its connections must not report to a half-destroyed controller.
    server_.reset();
}

void RelayController::Startup()
{
    // The second tick runs from here on; it fires once the event loop runs.
    ArmSecondTick(clock_.Now());

    remote_.RemoteState = Idle;
    adapter_.ComNumber = 1;
    adapter_.ChipAddress = kChipAddressPcf8574;
    // With a display an error from the files skips the rest of the start-up, and the user sees
    // the port closed; unattended, the port opens and the ticks run on what was read.
    const bool filesRead = Reported([this] {
        LoadSettingsFile();
        LoadConfiguration();
    });
    if (!filesRead && !unattended_) {
        EmitBusFacts();  // the status lines name the port in force, closed
        return;
    }
    loggedRelays_ = static_cast<uint8_t>(model_.RelayBits & kRelayMask);
    if (resumeTimers_ && filesRead) {
        // Before the port opens, so the first byte written is the resumed one.
        const std::vector<SwitchEvent> resumed = ResumeTimers(model_, clock_.Now());
        NoteRelays(QString::fromStdString(CauseText(SwitchCause{CauseKind::ResumedAtStartUp, 0, {}})),
                   &resumed);
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
    const bool closed = Reported([this] {
        SaveConfiguration();
        SaveSettingsFile();
        server_->Close();
    });
    if (!closed)
        return false;
    // The transaction under way completes; the relays stay as they were last written.
    bus_->Finish();
    if (mqtt_)
        mqtt_->Stop();
    secondTimer_->stop();
    remoteRetry_->stop();
    return true;
}

void RelayController::LoadSettingsFile()
{
    const SettingsFileContent content = tavoxa::LoadSettingsFile();
    // Without a stored name the program works on "tavoxa.dat" in the current directory, so the
    // first close writes it and the next start loads it.
    configFileName_ = EffectiveConfigName(content.ConfigFileName);
    remote_.RemotePassword = content.RemotePassword;
    remote_.RemotePort = content.RemotePort;
    names_ = content.Names;
    if (content.Remote)
        SetRemote(true);
    emit SettingsFileRead();
}

void RelayController::LoadConfiguration()
{
    ConfigTarget target(model_, adapter_.ComNumber, adapter_.ChipAddress);
    // The chooser knows two chips: 32 selects the PCF8574, whatever else the file holds the
    // PCF8574A, and the address used and kept in the file is the one the chooser shows.
    const auto settle = [this] {
        adapter_.ChipAddress = ChipAddressOfItem(ChipItemOfAddress(adapter_.ChipAddress));
        emit SettingsReplaced();
    };
    bool opened = false;
    try {
        opened = LoadConfigurationFile(configFileName_, target, storage_);
    } catch (...) {
        // The view shows the settings in force, as far as they were read, also when the load
        // fails half way.
        settle();
        throw;
    }
    if (!opened)
        ApplyDefaults(model_, clock_);
    settle();
    if (opened && target.ValuesRead < kConfigLineCount)
        report_.Report(ErrorReportText(
            QString::fromStdString(configFileName_ + ": " + ShortFileMessage(target.ValuesRead))));
}

void RelayController::SaveConfiguration()
{
    SaveConfigurationFile(configFileName_, model_, adapter_.ComNumber, adapter_.ChipAddress, storage_);
}

void RelayController::SaveSettingsFile()
{
    configFileName_ = StripDirectory(configFileName_);
    SettingsFileContent content;
    content.ConfigFileName = configFileName_;
    content.RemotePassword = remote_.RemotePassword;
    content.RemotePort = remote_.RemotePort;
    content.Names = names_;
    content.Remote = remoteOn_;
    tavoxa::SaveSettingsFile(content);
}

void RelayController::OpenAdapterStep()
{
    // The port opens on the bus thread: the controls lock once it reports the port open. The
    // inputs count as unknown until they have read stable again.
    openRequested_ = true;
    inputsStable_ = false;
    HandOver();
    bus_->Open(adapter_.ComNumber, adapter_.ChipAddress);
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
        if (inputsStable_)
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

void RelayController::OnBusStatus(const BusStatus& status)
{
    const BusStatus before = busStatus_;
    busStatus_ = status;
    adapter_.PortOpen = status.PortOpen;
    // The controls follow the port as the bus thread reports it, once START has asked for it.
    if (openRequested_ && status.PortOpen != portLocked_)
        LockPortControls(status.PortOpen);
    if (!status.PortOpen && !status.Reason.empty() && (before.PortOpen || before.Reason != status.Reason))
        log_.Write(QStringLiteral("port COM %1 cannot be opened: %2")
                       .arg(adapter_.ComNumber)
                       .arg(QString::fromStdString(status.Reason)));
    if (status.DeviceLost && !before.DeviceLost)
        log_.Write(QStringLiteral("adapter on COM %1 lost: %2; opening it again once a second")
                       .arg(status.ComNumber)
                       .arg(QString::fromStdString(status.Reason)));
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
    inputsStable_ = true;
    emit InputsRead(k1Closed, k2Closed);
    HandOver();
    NoteRelays(QString::fromStdString(CauseText(InputLogicCause(k1Closed, k2Closed))));
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
    adapter_.PortOpen = false;
    busStatus_.PortOpen = false;
    LockPortControls(false);
    EmitBusFacts();
}

void RelayController::Reset()
{
    ResetSwitching(model_);
    HandOver();
    NoteRelays(QStringLiteral("RESET"));
}

void RelayController::Toggle(int relay)
{
    ToggleRelay(model_, relay);
    HandOver();
    NoteRelays(QStringLiteral("T button"));
}

void RelayController::SelectComPort(int itemIndex)
{
    tavoxa::SelectComPort(adapter_, itemIndex);
    EmitBusFacts();
}

void RelayController::SelectChip(int item)
{
    tavoxa::SelectChip(adapter_, item);
}

bool RelayController::SetRemote(bool on)
{
    remoteOn_ = on;
    remoteRetry_->stop();
    const bool wasOpen = server_->IsOpen();
    if (server_->RemoteSwitched(on)) {
        if (server_->IsOpen() && !wasOpen)
            NoteListening();
        else if (!server_->IsOpen() && wasOpen)
            log_.Write(QStringLiteral("remote server closed"));
        return on;
    }
    log_.Write(QStringLiteral("remote server cannot listen on port %1: %2")
                   .arg(RemotePortNumber(remote_.RemotePort))
                   .arg(server_->LastError()));
    server_->RemoteSwitched(false);
    if (unattended_) {
        // Nobody can switch it on again: keep the user's choice and try again.
        remoteRetry_->start();
        return on;
    }
    // With a display the switch goes off again, and the user sees it.
    remoteOn_ = false;
    emit RemoteOnChanged(false);
    return false;
}

void RelayController::SetRemoteRetryInterval(int ms)
{
    remoteRetry_->setInterval(ms);
}

void RelayController::RetryRemote()
{
    if (!remoteOn_ || server_->IsOpen()) {
        remoteRetry_->stop();
        return;
    }
    if (server_->RemoteSwitched(true)) {
        remoteRetry_->stop();
        NoteListening();
        return;
    }
    server_->RemoteSwitched(false);
}

void RelayController::AttachMqtt(MqttBridge* bridge)
{
    mqtt_ = bridge;
    const auto names = [this] {
        std::array<QString, 6> relays;
        for (int r = 0; r < kRelayCount; ++r)
            relays[static_cast<size_t>(r)] = Name(r);
        mqtt_->SetNames(relays, {Name(6), Name(7)}, QCoreApplication::applicationVersion());
    };
    names();
    connect(this, &RelayController::SettingsFileRead, bridge, names);
    connect(this, &RelayController::RelaysWritten, bridge, &MqttBridge::PublishRelays);
    connect(this, &RelayController::InputsRead, bridge, &MqttBridge::PublishInputs);
    connect(this, &RelayController::BusFactsChanged, bridge,
            [bridge](const BusFacts& facts) { bridge->PublishStatus(facts.Connected, facts.ComNumber); });
    connect(bridge, &MqttBridge::SetRequested, this, &RelayController::MqttSet);
    connect(bridge, &MqttBridge::LogLine, this, [this](const QString& line) { log_.Write(line); });
}

void RelayController::MqttSet(int relay, MqttCommand command)
{
    if (relay < 0 || relay >= kRelayCount)
        return;
    switch (command) {
        case MqttCommand::On:
            SetRelay(model_, relay);
            break;
        case MqttCommand::Off:
            ClearRelay(model_, relay);
            break;
        case MqttCommand::Toggle:
            ToggleRelay(model_, relay);
            break;
    }
    HandOver();
    NoteRelays(QString::fromStdString(CauseText(SwitchCause{CauseKind::Mqtt, 0, {}})));
}

void RelayController::NoteListening()
{
    log_.Write(QStringLiteral("remote server listening on port %1").arg(server_->BoundPort()));
    if (remote_.RemotePassword.empty())
        log_.Write(QStringLiteral("remote switching stays locked until a password is set"));
}

void RelayController::NoteRelays(const QString& cause, const std::vector<SwitchEvent>* events)
{
    const auto now = static_cast<uint8_t>(model_.RelayBits & kRelayMask);
    const uint8_t changed = now ^ loggedRelays_;
    loggedRelays_ = now;
    if (changed == 0)
        return;
    const LocalDateTime t = clock_.Now();
    for (int r = 0; r < kRelayCount; ++r) {
        if (!(changed >> r & 1))
            continue;
        QString why = cause;
        if (events) {
            for (const SwitchEvent& e : *events) {
                if (e.relay == r)
                    why = QString::fromStdString(CauseText(e.cause));
            }
        }
        const QString name = Name(r);
        log_.WriteAt(t, QStringLiteral("relay %1%2 %3: %4")
                            .arg(r + 1)
                            .arg(name.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(name))
                            .arg(now >> r & 1 ? QStringLiteral("on") : QStringLiteral("off"))
                            .arg(why));
    }
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
        configFileName_ = path;
        LoadConfiguration();
        ResetSwitching(model_);
        Start();
        NoteRelays(QStringLiteral("START after Load"));
    });
    EmitBusFacts();  // a failed load may have read another COM number
}

void RelayController::Save(const std::string& path)
{
    Reported([this, &path] {
        configFileName_ = path;
        SaveConfiguration();
        Start();
    });
}

int RelayController::ShownProgram(int relay) const
{
    const int p = model_.SelectedProgram(relay);
    return p >= 0 && p < kProgramCount ? p : -1;
}

int RelayController::ShownWindow(int relay) const
{
    const int w = model_.SelectedWindow(relay);
    return w >= 0 && w < kWindowCount ? w : -1;
}

void RelayController::SetRelayMode(int relay, int mode)
{
    // Neither the relay nor its counters change with the mode; an input-logic mode follows the
    // contacts from now on.
    model_.RelayMode(relay) = mode;
    HandOver();
    NoteRelays(QString::fromStdString(CauseText(InputLogicCause(adapter_.K1Closed, adapter_.K2Closed))));
}

void RelayController::SetSelectedProgram(int relay, int program)
{
    model_.SelectedProgram(relay) = program;
}

void RelayController::SetDayCode(int relay, int dayCode)
{
    if (const int p = ShownProgram(relay); p >= 0)
        model_.DayCode(relay, p) = dayCode;
}

void RelayController::SetProgramDate(int relay, double date)
{
    if (const int p = ShownProgram(relay); p >= 0)
        model_.ProgramDate(relay, p) = date;
}

void RelayController::SetProgramStart(int relay, double time)
{
    if (const int p = ShownProgram(relay); p >= 0)
        model_.ProgramStart(relay, p) = time;
}

void RelayController::SetProgramEnd(int relay, double time)
{
    if (const int p = ShownProgram(relay); p >= 0)
        model_.ProgramEnd(relay, p) = time;
}

void RelayController::SetRepeat(int relay, bool repeat)
{
    model_.SecondsTimer[relay].Repeat = repeat ? 1 : 0;
}

void RelayController::SetStartAfter(int relay, int32_t seconds)
{
    model_.SecondsTimer[relay].StartAfter = seconds;
}

void RelayController::SetEndAfter(int relay, int32_t seconds)
{
    model_.SecondsTimer[relay].EndAfter = seconds;
}

void RelayController::SetSelectedWindow(int relay, int window)
{
    model_.SelectedWindow(relay) = window;
}

void RelayController::SetWindowMaxMinutes(int relay, int32_t minutes)
{
    if (const int w = ShownWindow(relay); w >= 0)
        model_.WindowMaxMinutes(relay, w) = minutes;
}

void RelayController::SetWindowStart(int relay, double time)
{
    if (const int w = ShownWindow(relay); w >= 0)
        model_.WindowStart(relay, w) = time;
}

void RelayController::SetWindowEnd(int relay, double time)
{
    if (const int w = ShownWindow(relay); w >= 0)
        model_.WindowEnd(relay, w) = time;
}

void RelayController::ArmSecondTick(const LocalDateTime& now)
{
    secondTimer_->start(SecondTickDelayMs(now));
}

void RelayController::SecondTimerFired()
{
    // Timer intervals drift against the clock; arming each tick anew for just past the next
    // full second gives every second of the clock its tick, so no exact-second event is lost.
    const LocalDateTime now = clock_.Now();
    ArmSecondTick(now);
    const int64_t second = ClockSecond(now);
    if (second == lastTickSecond_)
        return;  // woke before the full second: this second has had its tick
    lastTickSecond_ = second;

    EmitBusFacts();  // the status lines follow the port every tick
    std::vector<SwitchEvent> events;
    SecondTick(model_, clock_, random_, &events);
    HandOver();
    NoteRelays(QStringLiteral("timer"), &events);
    emit SecondTicked();
    server_->RemoteCloseStep();
}

}  // namespace tavoxa
