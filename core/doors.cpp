#include "core/doors.h"

#include <cmath>
#include <limits>

namespace tavoxa {

namespace {

int32_t ToInt32(double value)
{
    if (!std::isfinite(value) || value >= 2147483648.0 || value <= -2147483649.0)
        return 0;
    return static_cast<int32_t>(value);
}

bool RelayInRange(int relay)
{
    return relay >= 0 && relay < kRelayCount;
}

}  // namespace

int ShownProgram(const Model& m, int relay)
{
    const int p = m.SelectedProgram(relay);
    return p >= 0 && p < kProgramCount ? p : -1;
}

int ShownWindow(const Model& m, int relay)
{
    const int w = m.SelectedWindow(relay);
    return w >= 0 && w < kWindowCount ? w : -1;
}

bool ApplyEdit(Model& m, const SettingsEdit& edit)
{
    const int r = edit.relay;
    if (!RelayInRange(r))
        return false;
    const int p = ShownProgram(m, r);
    const int w = ShownWindow(m, r);
    const int32_t number = ToInt32(edit.value);
    switch (edit.field) {
        case RelayField::Mode: {
            const bool changed = m.RelayMode(r) != number;
            // Neither the relay nor its counters change with the mode.
            m.RelayMode(r) = number;
            return changed;
        }
        case RelayField::SelectedProgram:
            m.SelectedProgram(r) = number;
            break;
        case RelayField::DayCode:
            if (p >= 0)
                m.DayCode(r, p) = number;
            break;
        case RelayField::ProgramDate:
            if (p >= 0)
                m.ProgramDate(r, p) = edit.value;
            break;
        case RelayField::ProgramStart:
            if (p >= 0)
                m.ProgramStart(r, p) = edit.value;
            break;
        case RelayField::ProgramEnd:
            if (p >= 0)
                m.ProgramEnd(r, p) = edit.value;
            break;
        case RelayField::Repeat:
            m.SecondsTimer[r].Repeat = edit.value != 0 ? 1 : 0;
            break;
        case RelayField::StartAfter:
            m.SecondsTimer[r].StartAfter = number;
            break;
        case RelayField::EndAfter:
            m.SecondsTimer[r].EndAfter = number;
            break;
        case RelayField::SelectedWindow:
            m.SelectedWindow(r) = number;
            break;
        case RelayField::WindowMaxMinutes:
            if (w >= 0)
                m.WindowMaxMinutes(r, w) = number;
            break;
        case RelayField::WindowStart:
            if (w >= 0)
                m.WindowStart(r, w) = edit.value;
            break;
        case RelayField::WindowEnd:
            if (w >= 0)
                m.WindowEnd(r, w) = edit.value;
            break;
    }
    return false;
}

RelaySettings ReadRelaySettings(const Model& m, int relay)
{
    RelaySettings s;
    if (!RelayInRange(relay))
        return s;
    s.mode = m.RelayMode(relay);
    s.selectedProgram = m.SelectedProgram(relay);
    for (int p = 0; p < kProgramCount; ++p)
        s.programs[static_cast<size_t>(p)] = {m.DayCode(relay, p), m.ProgramDate(relay, p),
                                              m.ProgramStart(relay, p), m.ProgramEnd(relay, p)};
    s.repeat = m.SecondsTimer[relay].Repeat == 1;
    s.startAfter = m.SecondsTimer[relay].StartAfter;
    s.endAfter = m.SecondsTimer[relay].EndAfter;
    s.selectedWindow = m.SelectedWindow(relay);
    for (int w = 0; w < kWindowCount; ++w)
        s.windows[static_cast<size_t>(w)] = {m.WindowMaxMinutes(relay, w), m.WindowStart(relay, w),
                                             m.WindowEnd(relay, w)};
    return s;
}

bool WriteRelaySettings(Model& m, int relay, const RelaySettings& s)
{
    if (!RelayInRange(relay))
        return false;
    // Every program and window through the same edits as one field at a time, each selected in
    // turn; then the selections and the mode as given.
    for (int p = 0; p < kProgramCount; ++p) {
        const ProgramSettings& program = s.programs[static_cast<size_t>(p)];
        m.SelectedProgram(relay) = p;
        ApplyEdit(m, {relay, RelayField::DayCode, static_cast<double>(program.dayCode)});
        ApplyEdit(m, {relay, RelayField::ProgramDate, program.date});
        ApplyEdit(m, {relay, RelayField::ProgramStart, program.start});
        ApplyEdit(m, {relay, RelayField::ProgramEnd, program.end});
    }
    for (int w = 0; w < kWindowCount; ++w) {
        const WindowSettings& window = s.windows[static_cast<size_t>(w)];
        m.SelectedWindow(relay) = w;
        ApplyEdit(m, {relay, RelayField::WindowMaxMinutes, static_cast<double>(window.maxMinutes)});
        ApplyEdit(m, {relay, RelayField::WindowStart, window.start});
        ApplyEdit(m, {relay, RelayField::WindowEnd, window.end});
    }
    m.SelectedProgram(relay) = s.selectedProgram;
    m.SelectedWindow(relay) = s.selectedWindow;
    m.SecondsTimer[relay].Repeat = s.repeat ? 1 : 0;
    m.SecondsTimer[relay].StartAfter = s.startAfter;
    m.SecondsTimer[relay].EndAfter = s.endAfter;
    return ApplyEdit(m, {relay, RelayField::Mode, static_cast<double>(s.mode)});
}

}  // namespace tavoxa
