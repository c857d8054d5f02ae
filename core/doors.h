// The doors through which every front end (window, remote, MQTT, web page) switches relays and
// edits settings: commands and edits as plain values, so each front end says what it wants and
// the controller alone decides how it is applied, logged and handed to the bus.
#pragma once

#include <array>
#include <cstdint>

namespace tavoxa {

enum class RelayAction { On, Off, Toggle };
struct RelayCommand {
    int relay = 0;  // 0..5
    RelayAction action = RelayAction::Toggle;
};

enum class RelayField {
    Mode,
    SelectedProgram,
    DayCode,
    ProgramDate,
    ProgramStart,
    ProgramEnd,
    Repeat,
    StartAfter,
    EndAfter,
    SelectedWindow,
    WindowMaxMinutes,
    WindowStart,
    WindowEnd
};
// One field of one relay's settings; program and window fields go to the relay's selected
// program or window, as the window's edits do. Dates/times are day numbers/fractions as in Model.
struct SettingsEdit {
    int relay = 0;
    RelayField field = RelayField::Mode;
    double value = 0;
};

struct ProgramSettings {
    int32_t dayCode = 0;
    double date = 0;
    double start = 0;
    double end = 0;
};
struct WindowSettings {
    int32_t maxMinutes = 0;
    double start = 0;
    double end = 0;
};
// A relay's whole settings, read as one value and written back as one.
struct RelaySettings {
    int32_t mode = 0;
    std::array<ProgramSettings, 6> programs{};
    int32_t selectedProgram = 0;
    int32_t startAfter = 0, endAfter = 0;
    bool repeat = false;
    std::array<WindowSettings, 3> windows{};
    int32_t selectedWindow = 0;
};

}  // namespace tavoxa
