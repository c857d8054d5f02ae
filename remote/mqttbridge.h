// The MQTT bridge: relays, contacts and status on a broker, and switching commands back from it.
//
// MqttBridge lives on the thread of the event loop that owns it (the core's). libmosquitto runs
// no thread of its own here: the connection is made with mosquitto_connect_async, its socket is
// watched with QSocketNotifiers and its keep-alive is driven by a QTimer, all on that loop.
// Nothing here ever waits for the broker: a broker that is away, slow or refusing only delays
// what appears on it, never the switching. Commands leave through queued signals, so a handler
// never runs inside libmosquitto's callbacks.
//
// Topics, below tavoxa/ID/:
//   relay/N/state       "ON"/"OFF", retained (N = 1..6)
//   relay/N/set         "ON", "OFF", "TOGGLE" from others; retained ones are ignored
//   input/K1/state      "ON" = contact closed, retained (K2 likewise)
//   availability        "online" after connect; "offline" as the last will and at Stop
//   status              JSON: adapter connected, COM port, version; retained
// and Home Assistant discovery, retained, under homeassistant/switch/ID_relayN/config and
// homeassistant/binary_sensor/ID_kN/config.
#pragma once

#include <QMetaType>
#include <QObject>
#include <QString>
#include <QTimer>
#include <array>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

class QSocketNotifier;
struct mosquitto;
struct mosquitto_message;

namespace tavoxa {

struct MqttOptions {
    QString url;       // mqtt://host[:1883] or mqtts://host[:8883]
    QString user;      // empty: no user name and password are sent
    QString password;  // the password itself (the caller reads it from its file)
    QString caFile;    // mqtts only; empty: the system's certificate authorities
    QString id;        // the board's id in topics, [a-z0-9_-] only
};

enum class MqttCommand { On, Off, Toggle };

// Splits an MQTT URL. Without a port, mqtt uses 1883 and mqtts 8883. A user name or password in
// the URL, a path, a query or another scheme are refused with a reason in `error`.
bool ParseMqttUrl(const QString& url, QString* host, uint16_t* port, bool* tls, QString* error);

// The id when none is given: the host name and the working folder's name, lower case, every run
// of other characters than a-z, 0-9, _ and - made one "_", joined by "_"; "tavoxa" when that
// leaves nothing.
QString DefaultMqttId(const QString& hostName, const QString& folderName);

// True when `id` is non-empty and holds only a-z, 0-9, _ and -.
bool IsValidMqttId(const QString& id);

class MqttBridge : public QObject {
    Q_OBJECT

public:
    explicit MqttBridge(QObject* parent = nullptr);
    // Drops the connection without "offline"; the broker then sends the last will.
    ~MqttBridge() override;

    // Checks the options and starts connecting in the background; returns at once. False, with
    // the reason in `error`, for a bad URL or id, an unreadable CA file or a refused option.
    // Afterwards the bridge connects again by itself whenever the connection is lost, waiting
    // 1 s, then twice as long after each failure, up to 60 s. Starting a started bridge stops it
    // first.
    bool Start(const MqttOptions& options, QString* error);
    // Publishes "offline" on availability, disconnects and stops reconnecting. Writes what the
    // socket takes at once and waits for nothing.
    void Stop();
    bool IsRunning() const { return running_; }
    // Connected to the broker and accepted by it.
    bool IsConnected() const { return connected_; }
    // The id in use while running.
    QString Id() const { return id_; }

    // Names of relays 1..6 and of K1, K2 for discovery (an empty name becomes "Relay N" or
    // "K1"/"K2"), and the program's version. Discovery is published again when they change.
    void SetNames(const std::array<QString, 6>& relays, const std::array<QString, 2>& inputs,
                  const QString& version);
    // The byte written to the board (bit N-1 set = relay N on). Publishes the state of every
    // relay whose bit changed since the last published byte; all six after each connect.
    void PublishRelays(uint8_t writtenByte);
    // The debounced contacts. Published on change and after each connect.
    void PublishInputs(bool k1Closed, bool k2Closed);
    // Adapter state for the status topic; published on change and after each connect.
    void PublishStatus(bool adapterConnected, int comNumber);

    // Reconnect delays (default 1 s doubling to 60 s) and the time a connection attempt may
    // take before it is dropped (default 10 s). Take effect from the next attempt.
    void SetReconnectDelays(int firstMs, int maxMs);
    void SetConnectTimeout(int ms) { connectTimeoutMs_ = ms; }

signals:
    // A relay/N/set command for relay `relay` (0..5). Always delivered through the event loop.
    void SetRequested(int relay, tavoxa::MqttCommand command);
    // Connects, disconnects, reconnect attempts and ignored commands, one line each.
    void LogLine(const QString& text);
    // The connection was accepted (true) or lost (false).
    void ConnectedChanged(bool connected);

private:
    struct Received {
        QString topic;
        QByteArray payload;
        bool retained;
    };

    static void OnConnect(mosquitto* mosq, void* self, int rc);
    static void OnMessage(mosquitto* mosq, void* self, const mosquitto_message* message);

    QString CreateClient();
    void DestroyClient();
    void Attempt();
    void ConnectTo(const QString& address);
    void AfterLoop();
    void Connected();
    void Lost(const QString& why);
    void SetDisconnected();
    void WatchSocket();
    void UnwatchSocket();
    void UpdateWriteInterest();
    void Readable();
    void Writable();
    void Misc();
    void Message(const QString& topic, const QByteArray& payload, bool retained);

    void Publish(const QString& topic, const QByteArray& payload, bool retain);
    void PublishDiscovery();
    void PublishRelayBits(uint8_t bits);
    void PublishInputState();
    void PublishStatusJson();
    void Log(const QString& text);

    mosquitto* mosq_ = nullptr;  // one client per connection attempt
    MqttOptions options_;
    bool running_ = false;
    QString id_;
    QString host_;
    uint16_t port_ = 0;
    bool tls_ = false;
    QString base_;  // "tavoxa/ID/"
    bool connected_ = false;
    bool attempting_ = false;  // a socket exists and the broker has not yet accepted it
    int lookupId_ = -1;
    int attempts_ = 0;
    // Notes taken by libmosquitto's callbacks, acted on once the library call has returned.
    std::optional<int> connack_;
    std::vector<Received> messages_;

    // Children of the bridge; dropped with deleteLater, as one may be dropped while it signals.
    QSocketNotifier* readNotifier_ = nullptr;
    QSocketNotifier* writeNotifier_ = nullptr;
    QTimer miscTimer_;
    QTimer retryTimer_;
    QTimer connectTimer_;
    int firstDelayMs_ = 1000;
    int maxDelayMs_ = 60000;
    int delayMs_ = 1000;
    int connectTimeoutMs_ = 10000;

    std::array<QString, 6> relayNames_;
    std::array<QString, 2> inputNames_;
    QString version_;
    std::optional<uint8_t> relays_;      // last byte given
    std::optional<uint8_t> sentRelays_;  // last byte published on this connection
    std::optional<std::array<bool, 2>> inputs_;
    std::optional<std::array<bool, 2>> sentInputs_;
    std::optional<std::pair<bool, int>> status_;
};

}  // namespace tavoxa

Q_DECLARE_METATYPE(tavoxa::MqttCommand)
