#include "remote/mqttbridge.h"

#include <mosquitto.h>

#include <QFileInfo>
#include <QHostAddress>
#include <QHostInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QUrl>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tavoxa {
namespace {

constexpr int kQos = 1;
constexpr int kKeepAliveSeconds = 30;
// loop_misc sends the keep-alive pings and notices a broker that stopped answering them.
constexpr int kMiscIntervalMs = 1000;
// Longest piece of a foreign payload quoted in the log.
constexpr int kQuotedPayloadChars = 40;

// libmosquitto wants one init per process before the first client and one cleanup at its end.
void EnsureLibrary()
{
    static const struct Library {
        Library() { mosquitto_lib_init(); }
        ~Library() { mosquitto_lib_cleanup(); }
        Library(const Library&) = delete;
        Library& operator=(const Library&) = delete;
    } library;
}

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

QString Quoted(const QByteArray& payload)
{
    QString text = QString::fromUtf8(payload.left(kQuotedPayloadChars));
    for (QChar& c : text) {
        if (!c.isPrint())
            c = '?';
    }
    return "\"" + text + (payload.size() > kQuotedPayloadChars ? "...\"" : "\"");
}

QByteArray OnOff(bool on)
{
    return on ? "ON" : "OFF";
}

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
            *error = QString("MQTT URL \"%1\": %2").arg(url, why);
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

QString DefaultMqttId(const QString& hostName, const QString& folderName)
{
    QStringList parts;
    for (const QString& part : {Reduced(hostName), Reduced(folderName)}) {
        if (!part.isEmpty())
            parts << part;
    }
    return parts.isEmpty() ? QString("tavoxa") : parts.join('_');
}

bool IsValidMqttId(const QString& id)
{
    return !id.isEmpty() && std::all_of(id.begin(), id.end(), IdChar);
}

MqttBridge::MqttBridge(QObject* parent) : QObject(parent)
{
    EnsureLibrary();
    miscTimer_.setInterval(kMiscIntervalMs);
    connect(&miscTimer_, &QTimer::timeout, this, &MqttBridge::Misc);
    retryTimer_.setSingleShot(true);
    connect(&retryTimer_, &QTimer::timeout, this, &MqttBridge::Attempt);
    connectTimer_.setSingleShot(true);
    connect(&connectTimer_, &QTimer::timeout, this, [this] { Lost("no answer from the broker"); });
}

MqttBridge::~MqttBridge()
{
    // The notifiers go with their parent, before the client closes their socket.
    delete readNotifier_;
    delete writeNotifier_;
    DestroyClient();
}

void MqttBridge::SetReconnectDelays(int firstMs, int maxMs)
{
    firstDelayMs_ = std::max(1, firstMs);
    maxDelayMs_ = std::max(firstDelayMs_, maxMs);
    delayMs_ = firstDelayMs_;
}

bool MqttBridge::Start(const MqttOptions& options, QString* error)
{
    Stop();
    QString why;
    if (!ParseMqttUrl(options.url, &host_, &port_, &tls_, &why)) {
    } else if (!IsValidMqttId(options.id)) {
        why = QString("MQTT id \"%1\": only a-z, 0-9, _ and - are allowed").arg(options.id);
    } else if (!options.caFile.isEmpty() && !tls_) {
        why = "a CA file needs an mqtts:// URL";
    } else if (!options.caFile.isEmpty() && !QFileInfo(options.caFile).isReadable()) {
        why = QString("cannot read the CA file \"%1\"").arg(options.caFile);
    }
    if (why.isEmpty()) {
        options_ = options;
        id_ = options.id;
        base_ = "tavoxa/" + id_ + "/";
        why = CreateClient();
    }
    if (!why.isEmpty()) {
        if (error)
            *error = why;
        return false;
    }
    running_ = true;
    delayMs_ = firstDelayMs_;
    attempts_ = 0;
    Attempt();
    return true;
}

void MqttBridge::Stop()
{
    if (!running_)
        return;
    running_ = false;
    retryTimer_.stop();
    connectTimer_.stop();
    if (lookupId_ >= 0) {
        QHostInfo::abortHostLookup(lookupId_);
        lookupId_ = -1;
    }
    if (connected_) {
        Publish(base_ + "availability", "offline", true);
        mosquitto_disconnect(mosq_);
        // Hand what is queued to the socket now; whatever it does not take at once is lost with
        // the connection, and the broker then sends the same "offline" as the last will.
        for (int i = 0; i < 8 && mosquitto_socket(mosq_) >= 0 && mosquitto_want_write(mosq_); ++i)
            mosquitto_loop_write(mosq_, 1);
        // Unread input at close would make the close a reset that can drop the unsent rest.
        if (mosquitto_socket(mosq_) >= 0)
            mosquitto_loop_read(mosq_, 1);
        Log("MQTT: disconnected from the broker");
    }
    UnwatchSocket();
    DestroyClient();
    SetDisconnected();
}

QString MqttBridge::CreateClient()
{
    DestroyClient();
    const QByteArray clientId = ("tavoxa-" + id_).toUtf8();
    mosq_ = mosquitto_new(clientId.constData(), true, this);
    if (!mosq_)
        return "MQTT: cannot create a client";
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    // Every packet here is small: with Nagle's algorithm a state would wait for the broker's
    // delayed acknowledge of the packet before it (up to 40 ms on Linux).
    mosquitto_int_option(mosq_, MOSQ_OPT_TCP_NODELAY, 1);
    // No window of messages awaiting the broker's acknowledge: beyond one, libmosquitto holds
    // further messages back instead of writing them. A clean stop's "offline" held back that way
    // would never leave before the disconnect, and the broker, told of a clean disconnect, drops
    // the last will too: "online" would stay on the broker. (The limit is set this way for MQTT
    // 3.1.1; its option form is for MQTT 5 only.)
    mosquitto_max_inflight_messages_set(mosq_, 0);
    mosquitto_connect_callback_set(mosq_, &MqttBridge::OnConnect);
    mosquitto_message_callback_set(mosq_, &MqttBridge::OnMessage);
    const QByteArray will = (base_ + "availability").toUtf8();
    int rc = mosquitto_will_set(mosq_, will.constData(), 7, "offline", kQos, true);
    if (rc == MOSQ_ERR_SUCCESS && !options_.user.isEmpty()) {
        rc = mosquitto_username_pw_set(mosq_, options_.user.toUtf8().constData(),
                                       options_.password.toUtf8().constData());
    }
    if (rc == MOSQ_ERR_SUCCESS && tls_) {
        // Without a CA file the system's authorities vouch for the broker.
        const QByteArray caFile = QFileInfo(options_.caFile).absoluteFilePath().toUtf8();
        rc = options_.caFile.isEmpty()
                 ? mosquitto_tls_set(mosq_, nullptr, "/etc/ssl/certs", nullptr, nullptr, nullptr)
                 : mosquitto_tls_set(mosq_, caFile.constData(), nullptr, nullptr, nullptr, nullptr);
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        DestroyClient();
        return QString("MQTT: %1").arg(mosquitto_strerror(rc));
    }
    return {};
}

void MqttBridge::DestroyClient()
{
    if (mosq_) {
        mosquitto_destroy(mosq_);
        mosq_ = nullptr;
    }
}

void MqttBridge::Attempt()
{
    if (!running_)
        return;
    ++attempts_;
    if (!mosq_) {
        const QString why = CreateClient();
        if (!why.isEmpty()) {
            Lost(why);
            return;
        }
    }
    if (QHostAddress(host_).isNull()) {
        // A name is looked up off this thread by Qt, so a slow resolver holds nothing up.
        lookupId_ = QHostInfo::lookupHost(host_, this, [this](const QHostInfo& info) {
            lookupId_ = -1;
            if (!running_)
                return;
            if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
                Lost("cannot find the host: " + info.errorString());
                return;
            }
            // TLS checks the broker's certificate against its name, so it connects by name
            // (resolved again by the system, normally from its cache); plain MQTT by address.
            // A broker listening on IPv4 only is the common case, so IPv4 addresses go first.
            auto addresses = info.addresses();
            std::stable_partition(addresses.begin(), addresses.end(), [](const QHostAddress& a) {
                return a.protocol() == QAbstractSocket::IPv4Protocol;
            });
            ConnectTo(tls_ ? host_ : addresses.first().toString());
        });
        return;
    }
    ConnectTo(host_);
}

void MqttBridge::ConnectTo(const QString& address)
{
    if (attempts_ == 1)
        Log(QString("MQTT: connecting to %1:%2 as %3").arg(host_).arg(port_).arg(id_));
    const int rc = mosquitto_connect_async(mosq_, address.toUtf8().constData(), port_, kKeepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS || mosquitto_socket(mosq_) < 0) {
        Lost(rc == MOSQ_ERR_ERRNO ? QString::fromLocal8Bit(strerror(errno)) : mosquitto_strerror(rc));
        return;
    }
    WatchSocket();
    connectTimer_.start(connectTimeoutMs_);
}

void MqttBridge::WatchSocket()
{
    UnwatchSocket();
    const int fd = mosquitto_socket(mosq_);
    readNotifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(readNotifier_, &QSocketNotifier::activated, this, &MqttBridge::Readable);
    writeNotifier_ = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    connect(writeNotifier_, &QSocketNotifier::activated, this, &MqttBridge::Writable);
    UpdateWriteInterest();
    miscTimer_.start();
}

void MqttBridge::UnwatchSocket()
{
    miscTimer_.stop();
    for (QSocketNotifier** notifier : {&readNotifier_, &writeNotifier_}) {
        if (*notifier) {
            (*notifier)->setEnabled(false);
            (*notifier)->disconnect(this);
            (*notifier)->deleteLater();
            *notifier = nullptr;
        }
    }
}

void MqttBridge::UpdateWriteInterest()
{
    if (writeNotifier_)
        writeNotifier_->setEnabled(mosq_ && mosquitto_want_write(mosq_));
}

void MqttBridge::Readable()
{
    mosquitto_loop_read(mosq_, 1);
    AfterLoop();
}

void MqttBridge::Writable()
{
    mosquitto_loop_write(mosq_, 1);
    AfterLoop();
}

void MqttBridge::Misc()
{
    mosquitto_loop_misc(mosq_);
    AfterLoop();
}

// libmosquitto's callbacks only take notes; they are acted on here, outside the library, where
// the client may be published on, closed and destroyed.
void MqttBridge::AfterLoop()
{
    const std::optional<int> connack = std::exchange(connack_, std::nullopt);
    auto messages = std::exchange(messages_, {});
    if (mosquitto_socket(mosq_) < 0) {
        Lost(connected_ ? "connection closed"
             : tls_     ? "connection or TLS handshake failed"
                        : "connection failed");
        return;
    }
    if (connack) {
        if (*connack != 0) {
            Lost(QString("refused by the broker: %1").arg(mosquitto_connack_string(*connack)));
            return;
        }
        Connected();
    }
    for (const auto& [topic, payload, retained] : messages)
        Message(topic, payload, retained);
    UpdateWriteInterest();
}

void MqttBridge::OnConnect(mosquitto* /*mosq*/, void* self, int rc)
{
    static_cast<MqttBridge*>(self)->connack_ = rc;
}

void MqttBridge::OnMessage(mosquitto* /*mosq*/, void* self, const mosquitto_message* message)
{
    static_cast<MqttBridge*>(self)->messages_.push_back(
        {QString::fromUtf8(message->topic),
         QByteArray(static_cast<const char*>(message->payload), message->payloadlen), message->retain});
}

void MqttBridge::Connected()
{
    connectTimer_.stop();
    connected_ = true;
    delayMs_ = firstDelayMs_;
    attempts_ = 0;
    Log(QString("MQTT: connected to %1:%2 as %3").arg(host_).arg(port_).arg(id_));
    const QByteArray sets = (base_ + "relay/+/set").toUtf8();
    mosquitto_subscribe(mosq_, nullptr, sets.constData(), kQos);
    Publish(base_ + "availability", "online", true);
    PublishDiscovery();
    if (relays_)
        PublishRelayBits(*relays_);
    if (inputs_)
        PublishInputState();
    if (status_)
        PublishStatusJson();
    emit ConnectedChanged(true);
}

void MqttBridge::Lost(const QString& why)
{
    const bool was = connected_;
    UnwatchSocket();
    connectTimer_.stop();
    DestroyClient();
    connack_.reset();
    messages_.clear();
    SetDisconnected();
    if (running_) {
        Log(QString(was ? "MQTT: connection to %1:%2 lost: %3; next attempt in %4 s"
                        : "MQTT: cannot connect to %1:%2: %3; next attempt in %4 s")
                .arg(host_)
                .arg(port_)
                .arg(why)
                .arg(delayMs_ / 1000.0));
        retryTimer_.start(delayMs_);
        delayMs_ = std::min(2 * delayMs_, maxDelayMs_);
    }
    if (was)
        emit ConnectedChanged(false);
}

void MqttBridge::SetDisconnected()
{
    connected_ = false;
    sentRelays_.reset();
    sentInputs_.reset();
}

void MqttBridge::Message(const QString& topic, const QByteArray& payload, bool retained)
{
    const QString prefix = base_ + "relay/";
    bool ok = false;
    const int relay = topic.startsWith(prefix) && topic.endsWith("/set")
                          ? topic.mid(prefix.size(), topic.size() - prefix.size() - 4).toInt(&ok)
                          : 0;
    if (!ok || relay < 1 || relay > 6) {
        Log(QString("MQTT: ignored %1 on %2: no such relay").arg(Quoted(payload), topic));
        return;
    }
    if (retained) {
        // A retained command would switch the relay again at every reconnect.
        Log(QString("MQTT: ignored retained %1 on %2").arg(Quoted(payload), topic));
        return;
    }
    const QByteArray word = payload.trimmed().toUpper();
    MqttCommand command;
    if (word == "ON") {
        command = MqttCommand::On;
    } else if (word == "OFF") {
        command = MqttCommand::Off;
    } else if (word == "TOGGLE") {
        command = MqttCommand::Toggle;
    } else {
        Log(QString("MQTT: ignored unknown command %1 on %2").arg(Quoted(payload), topic));
        return;
    }
    QMetaObject::invokeMethod(
        this, [this, relay, command] { emit SetRequested(relay - 1, command); }, Qt::QueuedConnection);
}

void MqttBridge::SetNames(const std::array<QString, 6>& relays, const std::array<QString, 2>& inputs,
                          const QString& version)
{
    if (relays == relayNames_ && inputs == inputNames_ && version == version_)
        return;
    relayNames_ = relays;
    inputNames_ = inputs;
    version_ = version;
    if (connected_) {
        PublishDiscovery();
        if (status_)
            PublishStatusJson();
    }
}

void MqttBridge::PublishRelays(uint8_t writtenByte)
{
    relays_ = writtenByte;
    if (connected_)
        PublishRelayBits(writtenByte);
}

void MqttBridge::PublishInputs(bool k1Closed, bool k2Closed)
{
    inputs_ = std::array<bool, 2>{k1Closed, k2Closed};
    if (connected_)
        PublishInputState();
}

void MqttBridge::PublishStatus(bool adapterConnected, int comNumber)
{
    const std::pair<bool, int> status{adapterConnected, comNumber};
    if (status_ == status)
        return;
    status_ = status;
    if (connected_)
        PublishStatusJson();
}

void MqttBridge::PublishRelayBits(uint8_t bits)
{
    for (int i = 0; i < 6; ++i) {
        const bool on = (bits >> i) & 1;
        if (!sentRelays_ || on != (((*sentRelays_) >> i) & 1))
            Publish(base_ + QString("relay/%1/state").arg(i + 1), OnOff(on), true);
    }
    sentRelays_ = bits;
}

void MqttBridge::PublishInputState()
{
    for (int k = 0; k < 2; ++k) {
        if (!sentInputs_ || (*sentInputs_)[k] != (*inputs_)[k])
            Publish(base_ + QString("input/K%1/state").arg(k + 1), OnOff((*inputs_)[k]), true);
    }
    sentInputs_ = inputs_;
}

void MqttBridge::PublishStatusJson()
{
    const QJsonObject status{
        {"adapter_connected", status_->first}, {"com_port", status_->second}, {"version", version_}};
    Publish(base_ + "status", QJsonDocument(status).toJson(QJsonDocument::Compact), true);
}

void MqttBridge::PublishDiscovery()
{
    const QJsonObject device{{"identifiers", QJsonArray{"tavoxa_" + id_}},
                             {"name", "Tavoxa " + id_},
                             {"model", "PCF8574 relay board"},
                             {"manufacturer", "Tavoxa"},
                             {"sw_version", version_}};
    const QString availability = base_ + "availability";
    const auto common = [&](const QString& name, const QString& uniqueId, const QString& stateTopic) {
        return QJsonObject{{"name", name},
                           {"unique_id", uniqueId},
                           {"state_topic", stateTopic},
                           {"payload_on", "ON"},
                           {"payload_off", "OFF"},
                           {"availability_topic", availability},
                           {"payload_available", "online"},
                           {"payload_not_available", "offline"},
                           {"qos", kQos},
                           {"device", device}};
    };
    for (int i = 0; i < 6; ++i) {
        const QString n = QString::number(i + 1);
        const QString name = relayNames_[i].trimmed().isEmpty() ? "Relay " + n : relayNames_[i].trimmed();
        QJsonObject config = common(name, id_ + "_relay" + n, base_ + "relay/" + n + "/state");
        config["command_topic"] = base_ + "relay/" + n + "/set";
        config["state_on"] = "ON";
        config["state_off"] = "OFF";
        config["retain"] = false;
        Publish("homeassistant/switch/" + id_ + "_relay" + n + "/config",
                QJsonDocument(config).toJson(QJsonDocument::Compact), true);
    }
    for (int k = 0; k < 2; ++k) {
        const QString n = QString::number(k + 1);
        const QString name = inputNames_[k].trimmed().isEmpty() ? "K" + n : inputNames_[k].trimmed();
        const QJsonObject config = common(name, id_ + "_k" + n, base_ + "input/K" + n + "/state");
        Publish("homeassistant/binary_sensor/" + id_ + "_k" + n + "/config",
                QJsonDocument(config).toJson(QJsonDocument::Compact), true);
    }
}

void MqttBridge::Publish(const QString& topic, const QByteArray& payload, bool retain)
{
    if (!mosq_ || !connected_)
        return;
    const QByteArray name = topic.toUtf8();
    mosquitto_publish(mosq_, nullptr, name.constData(), static_cast<int>(payload.size()), payload.constData(),
                      kQos, retain);
    UpdateWriteInterest();
}

void MqttBridge::Log(const QString& text)
{
    emit LogLine(text);
}

}  // namespace tavoxa
