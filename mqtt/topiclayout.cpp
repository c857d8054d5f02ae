#include "mqtt/topiclayout.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>
#include <algorithm>
#include <utility>

namespace tavoxa {
namespace {

constexpr int kQos = 1;
constexpr int kRelays = 6;

bool IdChar(QChar c)
{
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

QString Reduced(const QString& text)
{
    QString out;
    for (const QChar c : text.toLower()) {
        if (IdChar(c))
            out += c;
        else if (!out.isEmpty() && !out.endsWith('_'))
            out += '_';
    }
    while (out.endsWith('_'))
        out.chop(1);
    return out;
}

QByteArray Json(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// Home Assistant's binary sensor classes as of 2023; a newer one is still passed on.
const char* const kKnownInputClasses[] = {"battery",
                                          "battery_charging",
                                          "carbon_monoxide",
                                          "cold",
                                          "connectivity",
                                          "door",
                                          "garage_door",
                                          "gas",
                                          "heat",
                                          "light",
                                          "lock",
                                          "moisture",
                                          "motion",
                                          "moving",
                                          "occupancy",
                                          "opening",
                                          "plug",
                                          "power",
                                          "presence",
                                          "problem",
                                          "running",
                                          "safety",
                                          "smoke",
                                          "sound",
                                          "tamper",
                                          "update",
                                          "vibration",
                                          "window"};

}  // namespace

bool ParseMqttUrl(const QString& url, QString* host, uint16_t* port, bool* tls, QString* error)
{
    const QUrl parsed(url, QUrl::StrictMode);
    const QString scheme = parsed.scheme().toLower();
    QString why;
    if (!parsed.isValid() || (scheme != "mqtt" && scheme != "mqtts"))
        why = "expected mqtt://HOST[:PORT] or mqtts://HOST[:PORT]";
    else if (parsed.host().isEmpty())
        why = "no host";
    else if (!parsed.userInfo().isEmpty())
        why = "give the user name and password with their own options, not in the URL";
    else if ((!parsed.path().isEmpty() && parsed.path() != "/") || parsed.hasQuery() || parsed.hasFragment())
        why = "a broker URL has no path or query";
    else if (parsed.port() == 0)
        why = "port 0";
    if (!why.isEmpty()) {
        if (error)
            *error = QString("MQTT URL \"%1\": %2").arg(LoggedText(url), why);
        return false;
    }
    const bool secure = scheme == "mqtts";
    if (host)
        *host = parsed.host();
    if (port)
        *port = static_cast<uint16_t>(parsed.port(secure ? 8883 : 1883));
    if (tls)
        *tls = secure;
    return true;
}

QString DefaultMqttId(const QString& hostName)
{
    const QString id = Reduced(hostName);
    return id.isEmpty() ? QString("tavoxa") : id;
}

bool IsValidMqttId(const QString& id)
{
    return !id.isEmpty() && std::all_of(id.begin(), id.end(), IdChar);
}

QString UsableMqttId(const QString& given, QString* note)
{
    if (note)
        note->clear();
    if (IsValidMqttId(given))
        return given;
    QString id = Reduced(given);
    if (note && !id.isEmpty())
        *note = QString("MQTT: the id \"%1\" is used as \"%2\" (topics take a-z, 0-9, _ and - only)")
                    .arg(LoggedText(given), id);
    return id;
}

bool IsValidInputClass(const QString& deviceClass, QString* note)
{
    if (note)
        note->clear();
    if (!std::all_of(deviceClass.begin(), deviceClass.end(),
                     [](QChar c) { return (c >= 'a' && c <= 'z') || c == '_'; }))
        return false;
    const auto known = std::find(std::begin(kKnownInputClasses), std::end(kKnownInputClasses), deviceClass);
    if (note && !deviceClass.isEmpty() && known == std::end(kKnownInputClasses))
        *note = QString(
                    "MQTT: \"%1\" is not a binary sensor class Home Assistant is known to have; "
                    "passed on as given")
                    .arg(deviceClass);
    return true;
}

QString MqttGuardWarning(bool tls, bool hasUser)
{
    if (tls && hasUser)
        return {};
    const QString what = !hasUser && !tls ? "no user name and no TLS (mqtt://)"
                         : !hasUser       ? "no user name"
                                    : "no TLS (mqtt://): user name, password and commands cross the network "
                                      "readable";
    return QString("MQTT: warning: %1; MQTT switching is guarded only by the broker").arg(what);
}

QString TopicBase(const QString& id)
{
    return "tavoxa/" + id + "/";
}

QString RelayStateTopic(const QString& id, int relay)
{
    return TopicBase(id) + QString("relay/%1/state").arg(relay + 1);
}

QString RelaySetFilter(const QString& id)
{
    return TopicBase(id) + "relay/+/set";
}

QString InputStateTopic(const QString& id, int input)
{
    return TopicBase(id) + QString("input/K%1/state").arg(input + 1);
}

QString AvailabilityTopic(const QString& id)
{
    return TopicBase(id) + "availability";
}

QString StatusTopic(const QString& id)
{
    return TopicBase(id) + "status";
}

QByteArray OnOffPayload(bool on)
{
    return on ? "ON" : "OFF";
}

QByteArray StatusPayload(bool adapterConnected, int comNumber, const QString& version)
{
    return Json({{"adapter_connected", adapterConnected}, {"com_port", comNumber}, {"version", version}});
}

std::vector<MqttMessage> DiscoveryMessages(const DiscoveryInfo& info)
{
    const QString& id = info.id;
    const QJsonObject device{{"identifiers", QJsonArray{"tavoxa_" + id}},
                             {"name", "Tavoxa " + id},
                             {"model", "PCF8574 relay board"},
                             {"manufacturer", "Tavoxa"},
                             {"sw_version", info.version}};
    const auto common = [&](const QString& name, const QString& uniqueId, const QString& stateTopic) {
        return QJsonObject{{"name", name},
                           {"unique_id", uniqueId},
                           {"state_topic", stateTopic},
                           {"payload_on", "ON"},
                           {"payload_off", "OFF"},
                           {"availability_topic", AvailabilityTopic(id)},
                           {"payload_available", "online"},
                           {"payload_not_available", "offline"},
                           {"qos", kQos},
                           {"device", device}};
    };
    std::vector<MqttMessage> messages;
    for (int i = 0; i < kRelays; ++i) {
        const QString n = QString::number(i + 1);
        const QString given = info.relayNames[static_cast<size_t>(i)].trimmed();
        QJsonObject config =
            common(given.isEmpty() ? "Relay " + n : given, id + "_relay" + n, RelayStateTopic(id, i));
        config["command_topic"] = TopicBase(id) + "relay/" + n + "/set";
        config["state_on"] = "ON";
        config["state_off"] = "OFF";
        config["retain"] = false;
        messages.push_back({"homeassistant/switch/" + id + "_relay" + n + "/config", Json(config)});
    }
    for (int k = 0; k < 2; ++k) {
        const QString n = QString::number(k + 1);
        const QString given = info.inputNames[static_cast<size_t>(k)].trimmed();
        QJsonObject config = common(given.isEmpty() ? "K" + n : given, id + "_k" + n, InputStateTopic(id, k));
        if (!info.inputClass.isEmpty())
            config["device_class"] = info.inputClass;
        messages.push_back({"homeassistant/binary_sensor/" + id + "_k" + n + "/config", Json(config)});
    }
    QJsonObject adapter = common("adapter", id + "_adapter", StatusTopic(id));
    adapter["device_class"] = "connectivity";
    adapter["entity_category"] = "diagnostic";
    adapter["value_template"] = "{{ 'ON' if value_json.adapter_connected else 'OFF' }}";
    messages.push_back({"homeassistant/binary_sensor/" + id + "_adapter/config", Json(adapter)});
    return messages;
}

SetMessage ParseSetMessage(const QString& id, const QString& topic, const QByteArray& payload, bool retained)
{
    const QString prefix = TopicBase(id) + "relay/";
    bool ok = false;
    const int relay = topic.startsWith(prefix) && topic.endsWith("/set")
                          ? topic.mid(prefix.size(), topic.size() - prefix.size() - 4).toInt(&ok)
                          : 0;
    const QString quoted = LoggedPayload(payload);
    const QString on = LoggedText(topic);
    if (!ok || relay < 1 || relay > kRelays)
        return {std::nullopt, QString("MQTT: ignored %1 on %2: no such relay").arg(quoted, on)};
    // A retained command would switch the relay again at every reconnect.
    if (retained)
        return {std::nullopt, QString("MQTT: ignored retained %1 on %2").arg(quoted, on)};
    const QByteArray word = payload.trimmed().toUpper();
    RelayAction action;
    if (word == "ON")
        action = RelayAction::On;
    else if (word == "OFF")
        action = RelayAction::Off;
    else if (word == "TOGGLE")
        action = RelayAction::Toggle;
    else
        return {std::nullopt, QString("MQTT: ignored unknown command %1 on %2").arg(quoted, on)};
    return {RelayCommand{relay - 1, action}, {}};
}

QString LoggedText(const QString& text)
{
    QString out = text.left(kLoggedChars);
    for (QChar& c : out) {
        if (!c.isPrint())
            c = '?';
    }
    return text.size() > kLoggedChars ? out + "..." : out;
}

QString LoggedPayload(const QByteArray& payload)
{
    // A UTF-8 character takes at most four bytes: more is never quoted.
    constexpr int kBytes = 4 * kLoggedChars;
    const QString text = QString::fromUtf8(payload.left(kBytes));
    const bool cut = text.size() > kLoggedChars || payload.size() > kBytes;
    return "\"" + LoggedText(text.left(kLoggedChars)) + (cut ? "...\"" : "\"");
}

std::optional<QString> LineLimit::Offer(const QString& line, int64_t nowMs)
{
    if (lastWritten_ && nowMs - *lastWritten_ < kIntervalMs) {
        ++heldBack_;
        return std::nullopt;
    }
    lastWritten_ = nowMs;
    if (heldBack_ == 0)
        return line;
    return line + QString(" (and %1 more not written)").arg(std::exchange(heldBack_, 0));
}

std::optional<QString> LineLimit::Summary(int64_t nowMs)
{
    if (heldBack_ == 0 || nowMs < SummaryDueMs())
        return std::nullopt;
    lastWritten_ = nowMs;
    return QString("MQTT: %1 more lines about ignored messages not written").arg(std::exchange(heldBack_, 0));
}

}  // namespace tavoxa
