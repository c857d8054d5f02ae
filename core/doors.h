// The values the core's two doors take: a switching command for one relay, and an edit of one
// field of one relay's settings (or a relay's whole settings as one value). Every front end (the
// window, the TCP remote, MQTT, the web page) switches and edits through these.
#pragma once

#include <array>
#include <cstdint>

#include "engine/model.h"

namespace tavoxa {

enum class RelayAction { On, Off, Toggle };
struct RelayCommand {
    int relay = 0;  // 0..5; any other value is ignored
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

// The program and window a relay's row shows, or -1 when its selection lies outside the tables
// (a hand-edited file): then no program or window field is written.
int ShownProgram(const Model& m, int relay);
int ShownWindow(const Model& m, int relay);

// The rules of the settings door, on the model alone. ApplyEdit writes one field (an integer
// field takes the value cut toward zero, a value that is not finite or beyond int32 as 0; Repeat
// is 1 for any value but 0); a relay outside 0..5 is ignored. Both return true when the relay's
// mode changed, which the core then hands over (an input-logic mode follows the contacts).
bool ApplyEdit(Model& m, const SettingsEdit& edit);
RelaySettings ReadRelaySettings(const Model& m, int relay);
bool WriteRelaySettings(Model& m, int relay, const RelaySettings& settings);

}  // namespace tavoxa
