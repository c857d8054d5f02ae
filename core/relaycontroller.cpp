#include "core/relaycontroller.h"

#include <QTimer>

#include "engine/hardware.h"
#include "engine/secondtick.h"
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

RelayController::RelayController(SerialLines& lines, const Clock& clock, RandomSource& random,
                                 BusDelay& delay, ErrorReport& report, QObject* parent)
    : QObject(parent), lines_(lines), clock_(clock), random_(random), report_(report), bus_(lines, delay)
{
    qRegisterMetaType<tavoxa::BusFacts>();
    server_ = std::make_unique<RemoteServer>(remote_, model_);
    connect(server_.get(), &RemoteServer::LampChanged, this, &RelayController::ClientConnectedChanged);

    exchangeTimer_ = new QTimer(this);
    exchangeTimer_->setObjectName(QStringLiteral("Timer1"));
    exchangeTimer_->setTimerType(Qt::PreciseTimer);
    exchangeTimer_->setInterval(20);
    connect(exchangeTimer_, &QTimer::timeout, this, [this] { Reported([this] { ExchangeTimerFired(); }); });
    secondTimer_ = new QTimer(this);
    secondTimer_->setObjectName(QStringLiteral("Timer2"));
    secondTimer_->setTimerType(Qt::PreciseTimer);
    secondTimer_->setSingleShot(true);
    connect(secondTimer_, &QTimer::timeout, this, [this] { Reported([this] { SecondTimerFired(); }); });
}

RelayController::~RelayController()
{
    // The server goes first: its connections must not report to a half-destroyed controller.
    server_.reset();
}

void RelayController::Startup()
{
    // Both ticks run from here on; they fire once the event loop runs.
    exchangeTimer_->start();
    ArmSecondTick(clock_.Now());

    remote_.RemoteState = Idle;
    adapter_.ComNumber = 1;
    adapter_.ChipAddress = kChipAddressPcf8574;
    Reported([this] {
        LoadSettingsFile();
        LoadConfiguration();
        adapter_.DebounceCount = 0;
        model_.MinuteCounter = 0;
        model_.MinuteTick = false;
        adapter_.PortSettings = BuildPortSettings("Com", adapter_.ComNumber);
        OpenAdapterStep();
        // Counts are never restored from a file: every seconds timer waits for RESET or START.
        for (int r = 0; r < kRelayCount; ++r) {
            model_.SecondsTimer[r].SecondCount = -1;
            for (int w = 0; w < kWindowCount; ++w)
                model_.MinutesToOff(r, w) = 0;
        }
    });
}

bool RelayController::Close()
{
    ReleasePortForExit(adapter_, lines_);
    const bool closed = Reported([this] {
        SaveConfiguration();
        SaveSettingsFile();
        server_->Close();
    });
    if (!closed)
        return false;
    exchangeTimer_->stop();
    secondTimer_->stop();
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
    // After the switch, so the view shows whether the server could open.
    emit SettingsFileRead();
}

void RelayController::LoadConfiguration()
{
    ConfigTarget target(model_, adapter_.ComNumber, adapter_.ChipAddress);
    // The chooser knows two chips: whatever else the file holds selects the PCF8574.
    target.ChipAddressRead = [this](uint8_t chipAddress) {
        adapter_.ChipAddress = ChipAddressOfItem(ChipItemOfAddress(chipAddress));
    };
    try {
        if (!LoadConfigurationFile(configFileName_, target, storage_))
            ApplyDefaults(model_, clock_);
    } catch (...) {
        // The view shows what was read so far also when the load fails half way.
        emit SettingsReplaced();
        throw;
    }
    emit SettingsReplaced();
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
    if (OpenAdapter(adapter_, lines_, bus_))
        LockPortControls(true);
}

void RelayController::LockPortControls(bool locked)
{
    portLocked_ = locked;
    emit PortControlsLockChanged(locked);
}

BusFacts RelayController::busFacts() const
{
    BusFacts f;
    f.PortOpen = adapter_.PortOpen;
    f.ComNumber = adapter_.ComNumber;
    // A released port has had no transaction since it was closed: the last acknowledge is stale.
    f.Connected = adapter_.PortOpen && !adapter_.PortReleased && bus_.I2cAcknowledged();
    return f;
}

void RelayController::Start()
{
    StartSeconds(model_);
    OpenAdapterStep();
}

void RelayController::Stop()
{
    StopAdapter(adapter_, lines_);
    LockPortControls(false);
}

void RelayController::Reset()
{
    ResetSwitching(model_);
}

void RelayController::Toggle(int relay)
{
    ToggleRelay(model_, relay);
}

void RelayController::SelectComPort(int itemIndex)
{
    tavoxa::SelectComPort(adapter_, itemIndex);
}

void RelayController::SelectChip(int item)
{
    tavoxa::SelectChip(adapter_, item);
}

bool RelayController::SetRemote(bool on)
{
    remoteOn_ = on;
    if (server_->RemoteSwitched(on))
        return on;
    // A port that cannot be bound switches Remote off again, without a message.
    remoteOn_ = false;
    server_->RemoteSwitched(false);
    emit RemoteOnChanged(false);
    return false;
}

void RelayController::Load(const std::string& path)
{
    Reported([this, &path] {
        configFileName_ = path;
        LoadConfiguration();
        adapter_.PortSettings = BuildPortSettings("COM", adapter_.ComNumber);
        ResetSwitching(model_);
        Start();
    });
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
    // Neither the relay nor its counters change with the mode.
    model_.RelayMode(relay) = mode;
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

void RelayController::ExchangeTimerFired()
{
    const ExchangeResult result = ExchangeTick(adapter_, model_, bus_);
    if (result.RelayLampsChanged)
        emit RelaysWritten(static_cast<uint8_t>(model_.RelayBits & kRelayMask));
    if (result.InputLampsChanged)
        emit InputsRead(adapter_.K1Closed, adapter_.K2Closed);
    const BusFacts facts = busFacts();
    if (!factsShown_ || facts != lastFacts_) {
        factsShown_ = true;
        lastFacts_ = facts;
        emit BusFactsChanged(facts);
    }
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

    SecondTick(model_, clock_, random_);
    emit SecondTicked();
    server_->RemoteCloseStep();
}

}  // namespace tavoxa
