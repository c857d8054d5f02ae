// Form1, the main window: relay lamps and T buttons, per-relay settings rows, input lamps, chip
// type, remote switch, COM port with START and STOP, the status lines and the command buttons.
//
// A view of the RelayController: it builds the controls, forwards what the user does to the
// controller and shows the controller's state when it reports a change. Runs on the main thread.
#pragma once

#include <QWidget>
#include <array>
#include <cstdint>
#include <memory>

#include "core/relaycontroller.h"

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

namespace tavoxa {

class Selector;
class TForm2;
class TForm3;

// The file dialogs of Load and Save: the full path picked, empty when cancelled.
class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    virtual QString AskOpenName() = 0;
    virtual QString AskSaveName() = 0;
};

class TForm1 : public QWidget {
    Q_OBJECT
public:
    // Builds every control and shows the controller's state; `dialogs` defaults to the window's
    // own file dialogs (OpenDialog1, SaveDialog1).
    explicit TForm1(RelayController& core, FileDialogs* dialogs = nullptr, QWidget* parent = nullptr);
    ~TForm1() override;

    RelayController& core() { return core_; }

    // The help window and the IP dialog are created after the main window.
    void SetHelpWindow(TForm2* help) { help_ = help; }
    void SetRemoteDialog(TForm3* dialog) { form3_ = dialog; }

    // Lamps Label1..Label8 (index 0..7: relays 1..6, K1, K2), whose captions the settings file
    // replaces; CheckBox7 "Remote".
    QLabel* Lamp(int index) const;
    QCheckBox* RemoteBox() const { return CheckBox7_; }

    // Copies the whole model into the controls and shows the fields of each relay's mode.
    void RefreshView();

    // The port is the device `path` (--device), not a COM number: the COM selector gives way to
    // the path, shown read-only ("DeviceEdit").
    void ShowDevice(const QString& path);

protected:
    // The close box: the controller releases the port and saves; a failing save keeps the
    // window open.
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

private:
    void BuildWindow();
    void BuildCommandButtons();
    void BuildRelayRows(QWidget* panel);
    void BuildLowerPart(QWidget* panel);
    void ConnectHandlers();
    void ConnectController();

    // Shows COM port and chip type of the settings in force; no handler runs.
    void ShowAdapterSettings();
    void ShowNames();
    void ShowRemoteBox(bool on);
    void ShowPortControls(bool locked);
    void ShowBusFacts(const BusFacts& facts);
    void ShowRelayLamps(uint8_t relayBits);
    void ShowInputLamps(bool k1Closed, bool k2Closed);
    void ShowRemoteLamp(bool connected);
    void ShowClockSample();
    void ShowNextSwitchings();

    // Change handlers of the settings rows (relay 0..5).
    // One field through the core's settings door.
    void Edit(int relay, RelayField field, double value);
    void ModeSelectorChange(int relay);
    void ProgramSelectorChange(int relay);
    void DaySelectorChange(int relay);
    void DatePickerChange(int relay);
    void StartPickerChange(int relay);
    void EndPickerChange(int relay);
    void SecondsEditChange(int relay, bool endEdit);
    void WindowSelectorChange(int relay);
    void MaxEditChange(int relay);
    void WindowPickerChange(int relay, bool endPicker);
    void LoadClick();
    void SaveClick();

    RelayController& core_;
    std::unique_ptr<FileDialogs> ownDialogs_;
    FileDialogs* dialogs_ = nullptr;

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
    TForm2* help_ = nullptr;
    TForm3* form3_ = nullptr;
};

// The window's own file dialogs, OpenDialog1 and SaveDialog1, opening in the current directory.
class WindowFileDialogs : public FileDialogs {
public:
    explicit WindowFileDialogs(QWidget* parent);
    QString AskOpenName() override;
    QString AskSaveName() override;

private:
    QString Ask(QFileDialog* dialog);
    QFileDialog* open_;
    QFileDialog* save_;
};

}  // namespace tavoxa
