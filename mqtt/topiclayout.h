// The MQTT topic layout as plain functions: broker URLs and board ids, topic names, the retained
// discovery and status payloads, the parsing of switching commands and how foreign text is
// quoted in the log. Nothing here talks to a broker; the bridge (mqttbridge.h) sends and
// receives what these functions make and read.
//
// Topics, below tavoxa/ID/:
//   relay/N/state       "ON"/"OFF", retained (N = 1..6)
//   relay/N/set         "ON", "OFF", "TOGGLE" from others; retained ones are ignored
//   input/K1/state      "ON" = contact closed, retained (K2 likewise)
//   availability        "online" after connect; "offline" as the last will and at a stop
//   status              JSON: adapter connected, COM port, version; retained
// and Home Assistant discovery, retained, under homeassistant/switch/ID_relayN/config,
// homeassistant/binary_sensor/ID_kN/config and homeassistant/binary_sensor/ID_adapter/config.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/doors.h"

namespace tavoxa {

// Splits an MQTT URL. Without a port, mqtt uses 1883 and mqtts 8883. A user name or password in
// the URL, a path, a query or another scheme are refused with a reason in `error`.
bool ParseMqttUrl(const QString& url, QString* host, uint16_t* port, bool* tls, QString* error);

// The id when none is given: the host name, lower case, every run of other characters than a-z,
// 0-9, _ and - made one "_"; "tavoxa" when that leaves nothing. It does not depend on the
// working folder, so a trial run elsewhere shows up as the same board.
QString DefaultMqttId(const QString& hostName);

// True when `id` is non-empty and holds only a-z, 0-9, _ and -.
bool IsValidMqttId(const QString& id);

// A given id made usable: lower case, every run of other characters than a-z, 0-9, _ and -
// made one "_". Empty when nothing is left. `note` (when not null) says what was changed, or is
// cleared when the id was usable as given.
QString UsableMqttId(const QString& given, QString* note);

// A Home Assistant device class for the inputs: empty (none) or a-z and _ only. `note` (when not
// null) is set for a class Home Assistant is not known to have.
bool IsValidInputClass(const QString& deviceClass, QString* note);

// The warning for a connection on which the broker alone decides who may switch: no user name,
// or no TLS. Empty when both are there.
QString MqttGuardWarning(bool tls, bool hasUser);

struct MqttMessage {
    QString topic;
    QByteArray payload;
    bool retain = true;
};

QString TopicBase(const QString& id);                   // "tavoxa/ID/"
QString RelayStateTopic(const QString& id, int relay);  // relay 0..5
QString RelaySetFilter(const QString& id);              // relay/+/set
QString InputStateTopic(const QString& id, int input);  // input 0 = K1, 1 = K2
QString AvailabilityTopic(const QString& id);
QString StatusTopic(const QString& id);

QByteArray OnOffPayload(bool on);
QByteArray StatusPayload(bool adapterConnected, int comNumber, const QString& version);

struct DiscoveryInfo {
    QString id;
    std::array<QString, 6> relayNames;  // an empty name becomes "Relay N"
    std::array<QString, 2> inputNames;  // an empty name becomes "K1"/"K2"
    QString version;
    QString inputClass;  // device class of both inputs; empty: none
};

// The retained discovery messages: a switch per relay, a binary sensor per input and one for
// the adapter's connection (read from the status topic).
std::vector<MqttMessage> DiscoveryMessages(const DiscoveryInfo& info);

// A message on the board's set topics: the command, or why it is ignored (a log line).
struct SetMessage {
    std::optional<RelayCommand> command;
    QString ignored;
};
SetMessage ParseSetMessage(const QString& id, const QString& topic, const QByteArray& payload, bool retained);

// How many characters of a foreign topic or payload a log line quotes.
constexpr int kLoggedChars = 80;
// `text` for a log line: at most kLoggedChars characters, "..." after a cut, every character
// that does not print made "?".
QString LoggedText(const QString& text);
QString LoggedPayload(const QByteArray& payload);  // LoggedText of the UTF-8, in double quotes

// At most one line a second of a kind (the lines about ignored messages); those held back are
// counted and said in the next line written, or in a line of their own once their second is over.
class LineLimit {
public:
    // The line to write now (with the count of those held back), or nothing when it is held back.
    std::optional<QString> Offer(const QString& line, int64_t nowMs);
    // The line about those held back, once their second is over; nothing before or when none.
    std::optional<QString> Summary(int64_t nowMs);
    // When Summary will have its line; meaningful while HeldBack() > 0.
    int64_t SummaryDueMs() const { return lastWritten_.value_or(0) + kIntervalMs; }
    int HeldBack() const { return heldBack_; }

    static constexpr int64_t kIntervalMs = 1000;

private:
    std::optional<int64_t> lastWritten_;
    int heldBack_ = 0;
};

}  // namespace tavoxa
