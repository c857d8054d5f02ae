// RelayController: the application without its window. It owns the model, the adapter state
// and the bus, the files, the remote server and both ticks, runs the start-up and shut-down
// order, and takes the user's actions (START, STOP, RESET, T, Load, Save, the settings edits).
// The window only shows its state and forwards what the user does; a program without a display
// runs it alone.
//
// Threads: everything here runs on the thread that created the controller (the program's main
// thread), the second tick included; only the exchange with the board runs on the bus thread
// (BusThread), which takes the relay byte through one atomic hand-over and reports back through
// signals emitted on this thread.
#pragma once

#include <QObject>
#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "adapter/adapterstate.h"
#include "adapter/busworker.h"
#include "adapter/i2c.h"
#include "core/doors.h"
#include "core/errorreport.h"
#include "core/switchinglog.h"
#include "engine/clock.h"
#include "engine/model.h"
#include "engine/random.h"
#include "engine/switchcause.h"
#include "remote/protocol.h"
#include "storage/configfile.h"

class QTimer;

namespace tavoxa {

class MqttBridge;
class RemoteServer;
enum class MqttCommand;

// How far past the full second the second tick is armed: enough to be on the right side of the
// second even when the timer or the clock jitters by a few milliseconds.
constexpr int kSecondTickLagMs = 5;
// Interval from `now` to kSecondTickLagMs past the next full second of the clock.
int SecondTickDelayMs(const LocalDateTime& now);
// Seconds since day 0 of the clock reading `t`, to tell one second of the clock from the next.
int64_t ClockSecond(const LocalDateTime& t);

// What the status lines show of the port and the adapter.
struct BusFacts {
    bool PortOpen = false;
    int32_t ComNumber = 1;
    bool Connected = false;  // the chip acknowledged the last transaction on an open port
    bool operator==(const BusFacts& o) const
    {
        return PortOpen == o.PortOpen && ComNumber == o.ComNumber && Connected == o.Connected;
    }
    bool operator!=(const BusFacts& o) const { return !(*this == o); }
};

// A name from swcf.ini as text: UTF-8 when the bytes are, else one byte per character.
QString NameText(const std::string& bytes);

// Writes each report to standard error with the time and the program's name: a program without
// a display has nobody to answer a box.
class StderrReport : public ErrorReport {
public:
    explicit StderrReport(const Clock& clock) : clock_(clock) {}
    void Report(const QString& text) override;

private:
    const Clock& clock_;
};

class RelayController : public QObject {
    Q_OBJECT
public:
    // The ticks are created stopped; Startup starts them and runs the start-up work.
    RelayController(SerialLines& lines, const Clock& clock, RandomSource& random, BusDelay& delay,
                    ErrorReport& report, QObject* parent = nullptr);
    ~RelayController() override;

    // Unattended (no display): an error during start-up does not stop the start-up, since nobody
    // can press START, and a remote port that cannot be bound is tried again every 10 s.
    void SetUnattended(bool unattended) { unattended_ = unattended; }
    bool unattended() const { return unattended_; }
    // How often an unbound remote port is tried again while unattended (10 s).
    void SetRemoteRetryInterval(int ms);
    // At start-up (not after Load or an edit), every relay in "Timer" mode is set as its programs
    // of the past seven days left it, so a power cut in the middle of a program does not leave
    // its load off until the next start.
    void SetResumeTimers(bool resume) { resumeTimers_ = resume; }
    SwitchingLog& log() { return log_; }
    // Publishes relays, contacts and status on MQTT and takes its switching commands, which are
    // handled as remote switching commands are. The bridge must outlive the controller's use of it.
    void AttachMqtt(MqttBridge* bridge);
    // An MQTT command for relay 0..5; the relay's engine may switch it back.
    void MqttSet(int relay, MqttCommand command);

    // Reads swcf.ini (which may switch the remote on) and the configuration file or the
    // defaults, then opens the port. An error from the files is reported and skips the rest:
    // the program then runs with the model as far as it was read and no port, until a port is
    // chosen and START pressed. Both ticks run from here on.
    void Startup();
    // Port released, configuration and settings saved, server closed. A failing save is
    // reported and abandons the close (false): nothing is lost, the user can save elsewhere.
    bool Close();

    // User actions.
    void Start();  // every seconds count to 0, then the port is opened
    void Stop();
    void Reset();
    void Toggle(int relay);
    void SelectComPort(int itemIndex);
    void SelectChip(int item);
    // The "Remote" switch. Returns the state the switch must show: false when the server could
    // not be opened.
    bool SetRemote(bool on);
    // Load and Save with a full path picked by the user.
    void Load(const std::string& path);
    void Save(const std::string& path);

    // Settings edits, one field each (relay 0..5). Program and window fields are written only
    // while the relay's selection lies inside the tables.
    void SetRelayMode(int relay, int mode);
    void SetSelectedProgram(int relay, int program);
    void SetDayCode(int relay, int dayCode);
    void SetProgramDate(int relay, double date);
    void SetProgramStart(int relay, double time);
    void SetProgramEnd(int relay, double time);
    void SetRepeat(int relay, bool repeat);
    void SetStartAfter(int relay, int32_t seconds);
    void SetEndAfter(int relay, int32_t seconds);
    void SetSelectedWindow(int relay, int window);
    void SetWindowMaxMinutes(int relay, int32_t minutes);
    void SetWindowStart(int relay, double time);
    void SetWindowEnd(int relay, double time);
    // The name of relay 0..5 or input 6..7 as text.
    QString Name(int index) const { return NameText(names_[static_cast<size_t>(index)]); }

    // The switching door for front ends: each command applied in order, then the input-logic rule,
    // one hand-over to the bus, one log line per changed relay with `cause`.
    void Switch(const std::vector<RelayCommand>& commands, const SwitchCause& cause);
    void Edit(const SettingsEdit& edit);  // the settings door
    RelaySettings Settings(int relay) const;
    void SetSettings(int relay, const RelaySettings& settings);  // whole relay, same rules as Edit
    void SetNames(const std::array<std::string, 8>& names);  // relays 1-6, K1, K2 (emits SettingsFileRead)
    // Writes the configuration file and swcf.ini now (atomically); reports a failure, returns false.
    bool SaveFiles();

    // The program and window a relay's row shows, or -1 when the selection lies outside the tables.
    int ShownProgram(int relay) const;
    int ShownWindow(int relay) const;

    // The second tick; its timer calls it, tests may too.
    void SecondTimerFired();

    const Clock& clock() const { return clock_; }
    const Model& model() const { return model_; }
    Model& model() { return model_; }
    const AdapterState& adapter() const { return adapter_; }
    AdapterState& adapter() { return adapter_; }
    // The exchange runs on the bus thread; the controller hands it the relay byte.
    BusThread& bus() { return *bus_; }
    const BusStatus& busStatus() const { return busStatus_; }
    // Whether both inputs have read stable since the last START.
    bool inputsStable() const { return inputsStable_; }
    RemoteSettings& remote() { return remote_; }
    RemoteServer& server() { return *server_; }
    const std::string& configFileName() const { return configFileName_; }
    // Lines 4..11 of swcf.ini as read (relays 1..6, K1, K2): the names have no editor, so they
    // go back unchanged.
    const std::array<std::string, 8>& names() const { return names_; }
    bool remoteOn() const { return remoteOn_; }
    BusFacts busFacts() const;
    bool portControlsLocked() const { return portLocked_; }
    QTimer* secondTimer() const { return secondTimer_; }

signals:
    // The settings in force changed as a whole (start-up, Load): the view shows them anew.
    void SettingsReplaced();
    // swcf.ini was read: names and the remote switch.
    void SettingsFileRead();
    // The remote switch changed by itself (a port that could not be bound).
    void RemoteOnChanged(bool on);
    // Port opened or stopped: the port controls are usable only while the exchange is stopped.
    void PortControlsLockChanged(bool locked);
    // A write transaction sent the relays in bits 0..5 of `relayBits`.
    void RelaysWritten(uint8_t relayBits);
    // The inputs read stable (debounced).
    void InputsRead(bool k1Closed, bool k2Closed);
    void BusFactsChanged(const tavoxa::BusFacts& facts);
    // A second tick ran: the model's clock sample is new.
    void SecondTicked();
    // The last client event was a connect (lamp green) or a disconnect (red).
    void ClientConnectedChanged(bool connected);
    // A relay's settings changed through Edit or SetSettings.
    void SettingsEdited(int relay);

private:
    void LoadSettingsFile();
    void LoadConfiguration();
    void SaveConfiguration();
    void SaveSettingsFile();
    void OpenAdapterStep();
    // Applies the input logic and hands the relay byte to the bus thread for its next write.
    void HandOver();
    void OnBusStatus(const tavoxa::BusStatus& status);
    void OnRawInputs(uint8_t bits);
    void OnInputs(bool k1Closed, bool k2Closed);
    void EmitBusFacts();
    void LockPortControls(bool locked);
    void ArmSecondTick(const LocalDateTime& now);
    // Logs every relay whose state differs from the state last logged, with `cause`.
    void NoteRelays(const QString& cause, const std::vector<SwitchEvent>* events = nullptr);
    void NoteBusFacts(const BusFacts& facts);
    void RetryRemote();
    void NoteListening();
    template <typename Handler>
    bool Reported(Handler&& handler)
    {
        return RunReported(report_, std::forward<Handler>(handler));
    }

    const Clock& clock_;
    RandomSource& random_;
    ErrorReport& report_;
    Model model_;
    AdapterState adapter_;
    std::unique_ptr<BusThread> bus_;
    BusStatus busStatus_;
    bool openRequested_ = false;
    bool inputsStable_ = false;
    uint8_t rawInputs_ = 0;   // bits 7 and 6 as last read
    uint8_t handedOver_ = 0;  // relay bits last handed to the bus thread
    StorageState storage_;
    RemoteSettings remote_;
    std::unique_ptr<RemoteServer> server_;
    std::string configFileName_;
    std::array<std::string, 8> names_{};
    SwitchingLog log_;
    MqttBridge* mqtt_ = nullptr;
    uint8_t loggedRelays_ = 0;
    bool unattended_ = false;
    bool resumeTimers_ = false;
    QTimer* remoteRetry_ = nullptr;
    bool remoteOn_ = false;
    bool portLocked_ = false;
    BusFacts lastFacts_;
    bool factsShown_ = false;
    BusFacts loggedFacts_;
    bool factsLogged_ = false;
    // The clock second of the last second tick, so a timer firing early ticks no second twice.
    int64_t lastTickSecond_ = std::numeric_limits<int64_t>::min();
    QTimer* secondTimer_ = nullptr;
};

}  // namespace tavoxa

Q_DECLARE_METATYPE(tavoxa::BusFacts)
