// The controller's doors for front ends, on the controller's own setters, toggle, hand-over and
// log: each door applies its values and then runs the same steps the window's handlers run.
#include <QCoreApplication>

#include "core/relaycontroller.h"
#include "engine/hardware.h"
#include "storage/settingsfile.h"

namespace tavoxa {

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
    HandOver();
    NoteRelays(QString::fromStdString(CauseText(cause)));
}

void RelayController::Edit(const SettingsEdit& edit)
{
    const int r = edit.relay;
    if (r < 0 || r >= kRelayCount)
        return;
    const auto whole = static_cast<int32_t>(edit.value);
    switch (edit.field) {
        case RelayField::Mode:
            SetRelayMode(r, whole);
            break;
        case RelayField::SelectedProgram:
            SetSelectedProgram(r, whole);
            break;
        case RelayField::DayCode:
            SetDayCode(r, whole);
            break;
        case RelayField::ProgramDate:
            SetProgramDate(r, DatePart(edit.value));
            break;
        case RelayField::ProgramStart:
            SetProgramStart(r, edit.value);
            break;
        case RelayField::ProgramEnd:
            SetProgramEnd(r, edit.value);
            break;
        case RelayField::Repeat:
            SetRepeat(r, edit.value != 0);
            break;
        case RelayField::StartAfter:
            SetStartAfter(r, whole);
            break;
        case RelayField::EndAfter:
            SetEndAfter(r, whole);
            break;
        case RelayField::SelectedWindow:
            SetSelectedWindow(r, whole);
            break;
        case RelayField::WindowMaxMinutes:
            SetWindowMaxMinutes(r, whole);
            break;
        case RelayField::WindowStart:
            SetWindowStart(r, edit.value);
            break;
        case RelayField::WindowEnd:
            SetWindowEnd(r, edit.value);
            break;
    }
    emit SettingsEdited(r);
}

RelaySettings RelayController::Settings(int relay) const
{
    RelaySettings s;
    if (relay < 0 || relay >= kRelayCount)
        return s;
    s.mode = model_.RelayMode(relay);
    for (int p = 0; p < kProgramCount; ++p) {
        ProgramSettings& ps = s.programs[static_cast<size_t>(p)];
        ps.dayCode = model_.DayCode(relay, p);
        ps.date = model_.ProgramDate(relay, p);
        ps.start = model_.ProgramStart(relay, p);
        ps.end = model_.ProgramEnd(relay, p);
    }
    s.selectedProgram = model_.SelectedProgram(relay);
    s.startAfter = model_.SecondsTimer[relay].StartAfter;
    s.endAfter = model_.SecondsTimer[relay].EndAfter;
    s.repeat = model_.SecondsTimer[relay].Repeat == 1;
    for (int w = 0; w < kWindowCount; ++w) {
        WindowSettings& ws = s.windows[static_cast<size_t>(w)];
        ws.maxMinutes = model_.WindowMaxMinutes(relay, w);
        ws.start = model_.WindowStart(relay, w);
        ws.end = model_.WindowEnd(relay, w);
    }
    s.selectedWindow = model_.SelectedWindow(relay);
    return s;
}

void RelayController::SetSettings(int relay, const RelaySettings& s)
{
    if (relay < 0 || relay >= kRelayCount)
        return;
    for (int p = 0; p < kProgramCount; ++p) {
        const ProgramSettings& ps = s.programs[static_cast<size_t>(p)];
        model_.DayCode(relay, p) = ps.dayCode;
        model_.ProgramDate(relay, p) = DatePart(ps.date);
        model_.ProgramStart(relay, p) = ps.start;
        model_.ProgramEnd(relay, p) = ps.end;
    }
    model_.SelectedProgram(relay) = s.selectedProgram;
    SetRepeat(relay, s.repeat);
    SetStartAfter(relay, s.startAfter);
    SetEndAfter(relay, s.endAfter);
    for (int w = 0; w < kWindowCount; ++w) {
        const WindowSettings& ws = s.windows[static_cast<size_t>(w)];
        model_.WindowMaxMinutes(relay, w) = ws.maxMinutes;
        model_.WindowStart(relay, w) = ws.start;
        model_.WindowEnd(relay, w) = ws.end;
    }
    model_.SelectedWindow(relay) = s.selectedWindow;
    // The mode last: an input-logic mode follows the contacts at once, as the selector's does.
    SetRelayMode(relay, s.mode);
    emit SettingsEdited(relay);
}

void RelayController::SetNames(const std::array<std::string, 8>& names)
{
    names_ = names;
    emit SettingsFileRead();
}

bool RelayController::SaveFiles()
{
    return Reported([this] {
        SaveConfiguration();
        SaveSettingsFile();
    });
}

}  // namespace tavoxa
