// The MQTT bridge: the connection to the broker. What goes over it (topics, payloads, commands)
// is the topic layout's (topiclayout.h); mqttglue.h ties the bridge to the core.
//
// MqttBridge lives on the thread of the event loop that owns it (the core's). Connecting, with
// its name lookup and TCP connect, runs on a short-lived thread of its own per attempt, so a slow
// resolver or an unreachable broker never holds that loop up; once connected, the client is
// handed back and libmosquitto runs no thread of its own: its socket is watched with
// QSocketNotifiers and its keep-alive driven by a QTimer, all on that loop. Nothing here ever
// waits for the broker: a broker that is away, slow or refusing only delays what appears on it,
// never the switching. Commands leave through the event loop, so a handler never runs inside
// libmosquitto's callbacks.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "core/doors.h"
#include "mqtt/topiclayout.h"

class QSocketNotifier;
struct mosquitto;
struct mosquitto_message;

namespace tavoxa {

struct MqttOptions {
    QString url;         // mqtt://host[:1883] or mqtts://host[:8883]
    QString user;        // empty: no user name and password are sent
    QString password;    // the password itself (the caller reads it from its file)
    QString caFile;      // mqtts only; empty: the system's certificate authorities
    QString id;          // the board's id in topics; made lower case with a note (UsableMqttId)
    QString inputClass;  // Home Assistant device class of the inputs; empty: none
};

class MqttBridge : public QObject {
    Q_OBJECT

public:
    explicit MqttBridge(QObject* parent = nullptr);
    // Drops the connection without "offline"; the broker then sends the last will.
    ~MqttBridge() override;

    // Checks the options and starts connecting in the background; returns at once. False, with
    // the reason in `error`, for a bad URL or id, an unreadable CA file or a refused option.
    // Notes on the id and the input class and the warning of a connection without user name or
    // TLS go out as LogLine before it returns.
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
    // The monotonic clock (milliseconds) that limits lines about ignored messages to one a second.
    void SetMonotonicClock(std::function<int64_t()> nowMs);
    // Runs on the connecting thread before each connect (tests hold a connect there).
    void SetBeforeConnect(std::function<void()> hook) { beforeConnect_ = std::move(hook); }

signals:
    // A relay/N/set command for relay `relay` (0..5). Always delivered through the event loop.
    void SetRequested(int relay, tavoxa::RelayAction action);
    // Connects, disconnects, reconnect attempts and ignored commands, one line each; those about
    // ignored messages at most one a second.
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

    struct ConnectJob;

    QString CreateClient();
    void DestroyClient();
    void Attempt();
    void ConnectDone();
    void AbandonConnect();
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
    void LogIgnored(const QString& text);
    void LogHeldBack();

    mosquitto* mosq_ = nullptr;  // one client per connection attempt
    MqttOptions options_;
    bool running_ = false;
    QString id_;
    QString host_;
    uint16_t port_ = 0;
    bool tls_ = false;
    bool connected_ = false;
    bool attempting_ = false;          // a socket exists and the broker has not yet accepted it
    std::shared_ptr<ConnectJob> job_;  // the attempt whose connect runs on its own thread
    QSocketNotifier* jobNotifier_ = nullptr;
    std::function<void()> beforeConnect_;
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
    QTimer heldBackTimer_;
    LineLimit ignoredLines_;
    std::function<int64_t()> nowMs_;
    int firstDelayMs_ = 1000;
    int maxDelayMs_ = 60000;
    int delayMs_ = 1000;
    int connectTimeoutMs_ = 10000;

    std::array<QString, 6> relayNames_;
    std::array<QString, 2> inputNames_;
    QString inputClass_;
    QString version_;
    std::optional<uint8_t> relays_;      // last byte given
    std::optional<uint8_t> sentRelays_;  // last byte published on this connection
    std::optional<std::array<bool, 2>> inputs_;
    std::optional<std::array<bool, 2>> sentInputs_;
    std::optional<std::pair<bool, int>> status_;
};

}  // namespace tavoxa
