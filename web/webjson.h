// The JSON shapes of the web API as pure functions: the state, a relay's settings, the names,
// the plan and the switching commands, each way between the controller's values and JSON.
// Selector texts (modes, days) are the window's own German entries whatever the page's language;
// dates are YYYY-MM-DD and times hh:mm:ss. A value the selectors or the date form cannot show
// (read from a hand-edited file) goes out as a number, and such a number is taken back as it is,
// so whatever GET returned, PUT accepts unchanged.
#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "core/doors.h"
#include "engine/clock.h"
#include "engine/schedule.h"

namespace tavoxa {

// "2026-12-24" of a whole day number; nothing for a value no calendar date shows.
std::optional<QString> DateText(double day);
// "06:30:00", the time of day of a value.
QString TimeOfDayText(double value);
// "2026-12-24 06:30:00".
QString DateTimeText(double value);
// Strict YYYY-MM-DD and hh:mm:ss; false for anything else.
bool ParseDate(const QString& text, double* day);
bool ParseTime(const QString& text, double* time);

// The mode selector's entry of `mode` for relay 0..5 (relay 6 alone has "Uhr - Steuerung"),
// or nothing when the selector has no such entry.
std::optional<QString> ModeText(int relay, int32_t mode);
// The mode code of a selector text for relay 0..5, or nothing.
std::optional<int32_t> ModeOfText(int relay, const QString& text);

QJsonObject SettingsJson(int relay, const RelaySettings& settings);
// A PUT body back into settings; false with the reason (naming the field) when a field is
// missing or holds a value it cannot take. `out` is written only on success.
bool ParseSettings(int relay, const QJsonObject& body, RelaySettings* out, QString* error);

struct RelayView {
    QString name;
    int32_t mode = 0;
    bool on = false;
    NextSwitch next;
};
struct StateView {
    std::array<RelayView, 6> relays;
    bool k1Closed = false, k2Closed = false;
    int32_t comNumber = 1;
    QString device;  // a fixed device path, or empty
    bool portOpen = false, connected = false, portLocked = false;
    int chipItem = 0;
    bool remoteOn = false;
    LocalDateTime time;
    int horizonDays = 7;
};
QJsonObject StateJson(const StateView& state);

// {"on": true}, {"on": false} or {"toggle": true} for one relay.
bool ParseSwitchOne(const QJsonObject& body, RelayAction* action, QString* error);
// {"on": [1, 3], "off": [2], "toggle": [4]}: relays 1..6, applied on, then off, then toggle.
bool ParseSwitchMany(const QJsonObject& body, std::vector<RelayCommand>* commands, QString* error);

QJsonObject NamesJson(const std::array<QString, 8>& names);
// {"names": [8 texts]}: no line ends, at most 100 characters each.
bool ParseNames(const QJsonObject& body, std::array<std::string, 8>* names, QString* error);

// The chip chooser's entries.
QString ChipText(int item);
std::optional<int> ChipOfText(const QString& text);

// The plan with every span as seconds from its start, ready to draw.
QJsonObject PlanJson(const Plan& plan, const std::array<QString, 6>& names);

}  // namespace tavoxa
