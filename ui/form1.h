// Form1, the main window: relay lamps and T buttons, per-relay settings rows, input lamps, chip
// type, remote switch, COM port with START and STOP, the status lines and the command buttons.
//
// The window owns the program's state (the model, the adapter state and the bus) and its two
// ticks; the platform parts (serial lines, clock, random source, bus delay) are handed in, so
// tests run it against the simulated board with a clock they step.
#pragma once

#include <QWidget>
#include <array>
#include <cstdint>
#include <limits>

#include <memory>
#include <string>

#include "adapter/exchange.h"
#include "adapter/i2c.h"
#include "engine/clock.h"
#include "engine/model.h"
#include "engine/random.h"
#include "remote/protocol.h"
#include "storage/configfile.h"

class QCheckBox;
class QCloseEvent;
class QFileDialog;
class QDateEdit;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimeEdit;
class QTimer;

namespace tavoxa {

class RemoteServer;
class Selector;
class TForm2;
class TForm3;

// How far past the full second the second tick is armed: enough to be on the right side of the
// second even when the timer or the clock jitters by a few milliseconds.
constexpr int kSecondTickLagMs = 5;
// Interval from `now` to kSecondTickLagMs past the next full second of the clock.
int SecondTickDelayMs(const LocalDateTime& now);

class TForm1 : public QWidget {
    Q_OBJECT
public:
    // Builds every control and runs the start-up work (FormCreate). An error raised by the
    // start-up steps is reported and skips the rest of them.
    TForm1(SerialLines& lines, const Clock& clock, RandomSource& random, BusDelay& delay,
           QWidget* parent = nullptr);
    ~TForm1() override;

    Model& model() { return model_; }
    const Model& model() const { return model_; }
    AdapterState& adapter() { return adapter_; }
    const AdapterState& adapter() const { return adapter_; }
    I2cBus& bus() { return bus_; }
    RemoteSettings& remote() { return remote_; }
    RemoteServer& server() { return *server_; }
    // ConfigFileName: the current configuration file.
    const std::string& configFileName() const { return ConfigFileName_; }
    void setConfigFileName(const std::string& name) { ConfigFileName_ = name; }

    // The help window and the IP dialog are created after the main window.
    void SetHelpWindow(TForm2* help) { help_ = help; }
    void SetRemoteDialog(TForm3* dialog) { form3_ = dialog; }

    // Lamps Label1..Label8 (index 0..7: relays 1..6, K1, K2), whose captions the settings file
    // replaces; CheckBox7 "Remote".
    QLabel* Lamp(int index) const;
    QCheckBox* RemoteBox() const { return CheckBox7_; }
    // Label58: green while a remote client is connected.
    void ShowRemoteLamp(bool connected);

    // Copies the whole model into the controls and shows the fields of each relay's mode.
    void RefreshView();
    // After a configuration load: COM list to ComNumber - 1 (no handler runs), chip type item
    // from ChipAddress (RadioGroup1Click runs when the item changes).
    void ShowAdapterSettings();

    // Timer1 (20 ms): one exchange tick, then the status lines and lamps.
    void Timer1Timer();
    // Timer2: re-arms itself for just past the next full second, then runs one second tick,
    // shows date and time and runs the remote's close step. A second of the clock that has
    // already had its tick (a wake-up before the full second) gets no second one.
    void Timer2Timer();

    // Port control, chip type and RESET.
    void Button7Click();  // START: StartSeconds, then the port is opened
    void Button8Click();  // STOP
    void Button9Click();  // RESET
    void ComboBox19Change(int itemIndex);
    void RadioGroup1Click(int item);

    // T buttons and mode selectors (relay 0..5).
    void ToggleButtonClick(int relay);
    void ModeSelectorChange(int relay);

    // Settings editing, one handler per control family (relay 0..5).
    void ProgramSelectorChange(int relay);  // ComboBox7..12
    void DaySelectorChange(int relay);      // ComboBox13..18
    void DatePickerChange(int relay);       // DateTimePicker1..6
    void StartPickerChange(int relay);      // DateTimePicker7..12
    void EndPickerChange(int relay);        // DateTimePicker13..18
    void CheckBox1Click();
    void CheckBx2Click();
    void CheckBox3Click();
    void CheckBox4Click();
    void CheckBox5Click();
    void CheckBox6Click();
    void SecondsEditChange(int relay, bool endEdit);     // Edit1..12: odd StartAfter, even EndAfter
    void WindowSelectorChange(int relay);                // ComboBox20..25
    void MaxEditChange(int relay);                       // Edit13..18
    void WindowPickerChange(int relay, bool endPicker);  // DateTimePicker19..30

    // Steps that belong to the files, the remote server, the help window and the IP dialog.
    // Those run from the constructor are TForm1's own, whatever a subclass overrides.
    virtual void InitRemoteState();    // RemoteState := Idle
    virtual void LoadSettingsFile();   // swcf.ini; may check "Remote"
    virtual void LoadConfiguration();  // configuration file or defaults, then RefreshView
    virtual void SaveConfiguration();
    virtual void SaveSettingsFile();
    virtual void RemoteCloseStep();      // end of every second tick
    virtual void DestroyRemoteServer();  // last step of closing
    virtual void FormActivate();         // refills the IP dialog
    virtual void Button10Click();        // Help
    virtual void Button11Click();        // Save
    virtual void Button12Click();        // Load
    virtual void Button13Click();        // IP
    virtual void CheckBox7Click();       // Remote switched

    // Shows OpenDialog1 or SaveDialog1 and gives the full path picked, empty when cancelled.
    virtual QString AskFileName(QFileDialog* dialog);

protected:
    // FormClose: port released, configuration and settings saved, server destroyed. A failing
    // save is reported and abandons the close; the window stays open.
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

private:
    void BuildWindow();
    void BuildCommandButtons();
    void BuildRelayRows(QWidget* panel);
    void BuildLowerPart(QWidget* panel);
    void ConnectHandlers();
    void FormCreate();

    // OpenAdapter of start-up and START: opens the port and locks the port controls.
    void OpenAdapterStep();
    void LockPortControls(bool running);
    void RepeatBoxClick(int relay);
    void ArmSecondTick(const LocalDateTime& now);
    void ShowClockSample();
    void ShowRelayLamps();
    void ShowInputLamps();
    // A handler bound to a signal: whatever it raises reaches the error report.
    template <typename Handler>
    auto Reported(Handler handler);

    // The program and window a row shows, or -1 when the selection lies outside the tables.
    int ShownProgram(int relay) const;
    int ShownWindow(int relay) const;

    SerialLines& lines_;
    const Clock& clock_;
    RandomSource& random_;
    Model model_;
    AdapterState adapter_;
    I2cBus bus_;
    // The clock second of the last second tick, so a timer firing early ticks no second twice.
    int64_t lastTickSecond_ = std::numeric_limits<int64_t>::min();

    std::array<QLabel*, 6> relayLamp_{};             // Label1..6
    std::array<QPushButton*, 6> toggleButton_{};     // Button1..6
    std::array<Selector*, 6> modeSelector_{};        // ComboBox1..6
    std::array<Selector*, 6> programSelector_{};     // ComboBox7..12
    std::array<Selector*, 6> daySelector_{};         // ComboBox13..18
    std::array<QDateEdit*, 6> datePicker_{};         // DateTimePicker1..6
    std::array<QTimeEdit*, 6> startPicker_{};        // DateTimePicker7..12
    std::array<QTimeEdit*, 6> endPicker_{};          // DateTimePicker13..18
    std::array<QFrame*, 6> secondsPanel_{};          // Panel4..9
    std::array<QCheckBox*, 6> repeatBox_{};          // CheckBox1..6
    std::array<QLineEdit*, 6> startEdit_{};          // Edit1, 3, .., 11
    std::array<QLineEdit*, 6> endEdit_{};            // Edit2, 4, .., 12
    std::array<QFrame*, 6> randomPanel_{};           // Panel10..15
    std::array<Selector*, 6> windowSelector_{};      // ComboBox20..25
    std::array<QLineEdit*, 6> maxEdit_{};            // Edit13..18
    std::array<QTimeEdit*, 6> windowStartPicker_{};  // DateTimePicker19, 21, .., 29
    std::array<QTimeEdit*, 6> windowEndPicker_{};    // DateTimePicker20, 22, .., 30

    QLabel* Label7_ = nullptr;          // K1
    QLabel* Label8_ = nullptr;          // K2
    QLabel* Label9_ = nullptr;          // port status
    QLabel* Label10_ = nullptr;         // weekday and date
    QLabel* Label11_ = nullptr;         // time
    QLabel* Label13_ = nullptr;         // adapter status
    QLabel* Label58_ = nullptr;         // remote lamp
    QPushButton* Button7_ = nullptr;    // START
    QPushButton* Button8_ = nullptr;    // STOP
    QPushButton* Button9_ = nullptr;    // RESET
    QPushButton* Button10_ = nullptr;   // Help
    QPushButton* Button11_ = nullptr;   // Save
    QPushButton* Button12_ = nullptr;   // Load
    QPushButton* Button13_ = nullptr;   // IP
    Selector* ComboBox19_ = nullptr;    // COM port
    QGroupBox* RadioGroup1_ = nullptr;  // chip type
    std::array<QRadioButton*, 2> chipItem_{};
    QCheckBox* CheckBox7_ = nullptr;  // Remote
    QTimer* Timer1_ = nullptr;
    QTimer* Timer2_ = nullptr;
    QFileDialog* OpenDialog1_ = nullptr;
    QFileDialog* SaveDialog1_ = nullptr;

    // Files and remote.
    void BuildFileDialogs();
    std::string ConfigFileName_;
    StorageState storage_;
    // Lines 4..11 of swcf.ini as read: the names have no editor, so they go back unchanged.
    std::array<std::string, 8> names_{};
    RemoteSettings remote_;
    std::unique_ptr<RemoteServer> server_;  // ServerSocket1
    TForm2* help_ = nullptr;
    TForm3* form3_ = nullptr;
};

}  // namespace tavoxa
