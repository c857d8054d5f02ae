// RelayController: the application without its window. It owns the model, the adapter state
// and the bus, the files, the remote switch and the second tick, runs the start-up and shut-down
// order, and offers the front ends two doors: Switch for every relay change and Edit/SetSettings
// for every settings change. Front ends observe its signals and call its doors; none of them
// needs a method of its own here.
//
// Threads: everything here runs on the thread that created the controller (the program's main
// thread), the second tick included; only the exchange with the board runs on the bus thread
// (BusThread), which takes the relay byte through one atomic hand-over and reports back through
// signals emitted on this thread. The hand-over is an atomic byte the worker reads at each write,
// with at most one wake-up queued (BusThread says why that queue is not invokeMethod): under a
// flood of remote commands faster than the bus the changes merge into the next write.
#pragma once

#include <QObject>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "adapter/adapterstate.h"
#include "adapter/busworker.h"
#include "adapter/i2c.h"
#include "core/busfacts.h"
#include "core/configfiles.h"
#include "core/doors.h"
#include "core/errorreport.h"
#include "core/remoteswitch.h"
#include "core/secondticker.h"
#include "core/switchinglog.h"
#include "engine/clock.h"
#include "engine/model.h"
#include "engine/random.h"
#include "engine/switchcause.h"

namespace tavoxa {

// How the program runs, set before Startup.
struct RunOptions {
    // No display: an error during start-up does not stop the start-up, since nobody can press
    // START, and a remote port that cannot be bound is tried again every 10 s.
    bool unattended = false;
    // At start-up (not after Load or an edit), every relay in "Timer" mode is set as its programs
    // of the past seven days left it, so a power cut in the middle of a program does not leave
    // its load off until the next start.
    bool resumeTimers = false;
    // At start-up the relays no engine drives (Toggle mode) are set as this byte has them: the
    // relays as they were at the last stop (--restore-relays).
    std::optional<uint8_t> restoredRelays;
};

class RelayController : public QObject {
    Q_OBJECT
public:
    // The ticks are created stopped; Startup starts them and runs the start-up work. Lateness of
    // the second tick is measured on `monotonic` (the steady clock when none is given).
    RelayController(SerialLines& lines, const Clock& clock, RandomSource& random, BusDelay& delay,
                    ErrorReport& report, QObject* parent = nullptr,
                    const MonotonicClock* monotonic = nullptr);
    ~RelayController() override;

    void SetRunOptions(const RunOptions& options);
    SwitchingLog& log() { return log_; }

    // Reads swcf.ini (which may switch the remote on) and the configuration file or the
    // defaults, then opens the port. An error from the files is reported and skips the rest:
    // the program then runs with the model as far as it was read and no port, until a port is
    // chosen and START pressed. Both ticks run from here on.
    void Startup();
    // Port released, both files saved, server closed. A failing save is reported and abandons
    // the close (false): nothing is lost, the user can save elsewhere.
    bool Close();

    // The port: START (every seconds count to 0, then the port is opened), STOP, and the COM list
    // and chip chooser (item index; opening is left to START).
    void Start();
    void Stop();
    void SelectPort(int comItemIndex, int chipItem);
    // RESET: every relay off, the running counts forgotten.
    void Reset();
    // Load and Save with a full path picked by the user.
    void Load(const std::string& path);
    void Save(const std::string& path);

    // The switching door: each command applied in order, then the input-logic rule, one
    // hand-over to the bus, one log line per changed relay with `cause`.
    void Switch(const std::vector<RelayCommand>& commands, const SwitchCause& cause);
    // The settings door: one field, or a relay's whole settings, with the same rules.
    void Edit(const SettingsEdit& edit);
    RelaySettings Settings(int relay) const;
    void SetSettings(int relay, const RelaySettings& settings);
    // The names of relays 1-6, K1 and K2 (emits SettingsFileRead).
    void SetNames(const std::array<std::string, 8>& names);
    // Writes the configuration file and swcf.ini now (each replaced whole); a failure is
    // reported and returns false.
    bool SaveFiles();

    Model& model() { return model_; }
    const AdapterState& adapter() const { return adapter_; }
    BusFacts busFacts() const;
    bool portControlsLocked() const { return portLocked_; }
    const ConfigFiles& files() const { return files_; }
    RemoteSwitch& remoteSwitch() { return *remote_; }
    SecondTicker& ticker() { return *ticker_; }

signals:
    // The settings in force changed as a whole (start-up, Load): the view shows them anew.
    void SettingsReplaced();
    // One relay's settings were edited through the settings door.
    void SettingsEdited(int relay);
    // swcf.ini was read, or the names were set: names and the remote switch.
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

private:
    void LoadSettingsFile();
    void LoadConfiguration();
    void OpenAdapterStep();
    // The one way a relay change leaves the core: the input-logic rule, the hand-over to the bus,
    // one log line per changed relay with its cause (or the event's own cause), stamped with `at`
    // (a second the tick runs late) or the clock's time.
    void Commit(const SwitchCause& cause, const std::vector<SwitchEvent>* events = nullptr,
                const LocalDateTime* at = nullptr);
    void HandOver();
    void NoteRelays(const SwitchCause& cause, const std::vector<SwitchEvent>* events,
                    const LocalDateTime* at);
    void RunSecond(const LocalDateTime& at);
    void OnBusStatus(const tavoxa::BusStatus& status);
    void OnRawInputs(uint8_t bits);
    void OnInputs(bool k1Closed, bool k2Closed);
    void EmitBusFacts();
    void LockPortControls(bool locked);
    void NoteBusFacts(const BusFacts& facts);
    template <typename Handler>
    bool Reported(Handler&& handler)
    {
        return RunReported(report_, std::forward<Handler>(handler));
    }

    const Clock& clock_;
    RandomSource& random_;
    ErrorReport& report_;
    std::unique_ptr<MonotonicClock> ownMonotonic_;
    Model model_;
    AdapterState adapter_;
    std::unique_ptr<BusThread> bus_;
    BusStatus busStatus_;  // the bus thread's last report: the one truth of "port open"
    bool openRequested_ = false;
    uint8_t rawInputs_ = 0;   // bits 7 and 6 as last read
    uint8_t handedOver_ = 0;  // relay bits last handed to the bus thread
    SwitchingLog log_;
    ConfigFiles files_;
    std::unique_ptr<RemoteSwitch> remote_;
    SecondTicker* ticker_ = nullptr;
    uint8_t loggedRelays_ = 0;
    RunOptions options_;
    bool portLocked_ = false;
    BusFacts lastFacts_;
    bool factsShown_ = false;
    BusFacts loggedFacts_;
    bool factsLogged_ = false;
};

}  // namespace tavoxa
