// A Mosquitto broker of its own on a free loopback port, and a plain libmosquitto client that
// watches and commands boards through it. Shared by the bridge tests, the program's test and the
// MQTT benchmark; nothing here needs an event loop or a test framework.
//
// The probe runs on libmosquitto's own thread: what it records is read under its lock, and the
// hook runs on that thread.
#pragma once

#include <arpa/inet.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace tavoxa::testing {

inline const char* const kMosquittoBinary = "/usr/sbin/mosquitto";

inline bool HaveMosquitto()
{
    return QFile::exists(kMosquittoBinary);
}

// Connects to 127.0.0.1:port, or with port 0 binds there and reports the port the system chose.
inline uint16_t LoopbackSocket(uint16_t port, bool* connected = nullptr)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    auto* raw = reinterpret_cast<sockaddr*>(&address);
    socklen_t size = sizeof address;
    if (port != 0) {
        *connected = ::connect(fd, raw, size) == 0;
    } else if (::bind(fd, raw, size) != 0 || ::getsockname(fd, raw, &size) != 0) {
        address.sin_port = 0;
    }
    ::close(fd);
    return ntohs(address.sin_port);
}

inline uint16_t FreeLoopbackPort()
{
    return LoopbackSocket(0);
}

// Without persistence: what it holds after a restart was published again.
class MosquittoBroker {
public:
    // Starts the broker (again on the same port after Stop) and waits until it accepts connections.
    bool Start()
    {
        if (port == 0) {
            port = FreeLoopbackPort();
            QFile conf(dir.filePath("mosquitto.conf"));
            if (port == 0 || !conf.open(QIODevice::WriteOnly))
                return false;
            // Started as root, the broker would read the key files as the user "mosquitto",
            // which may not enter the test's own folder.
            conf.write(QString("listener %1 127.0.0.1\n%2allow_anonymous %3\nset_tcp_nodelay %4\n%5")
                           .arg(port)
                           .arg(listenerLines, anonymous ? "true" : "false", noDelay ? "true" : "false",
                                ::geteuid() == 0 ? "user root\n" : "")
                           .toUtf8());
        }
        process.start(kMosquittoBinary, {"-c", dir.filePath("mosquitto.conf")});
        if (!process.waitForStarted(5000))
            return false;
        for (int i = 0; i < 100; ++i) {
            bool accepted = false;
            LoopbackSocket(port, &accepted);
            if (accepted)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    void Stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
        process.waitForFinished(1000);
    }
    ~MosquittoBroker() { Stop(); }
    QString Url() const { return QString("mqtt://127.0.0.1:%1").arg(port); }

    // Sends small packets at once. Mosquitto's default (false) leaves Nagle's algorithm on, and
    // with the receiver's delayed acknowledge a forwarded message can wait up to 40 ms.
    bool noDelay = true;
    // False: every client is refused as not authorised (there is no password file).
    bool anonymous = true;
    // More settings of the listener, each line ending in "\n" (certfile, keyfile for TLS).
    QString listenerLines;
    QTemporaryDir dir;
    QProcess process;
    uint16_t port = 0;
};

// Subscribes to `filters` (QoS 1) and keeps the last payload and a count per topic.
class MqttProbe {
public:
    using Clock = std::chrono::steady_clock;
    // Runs on the probe's thread for every message, with the time it arrived.
    using Hook = std::function<void(const QString& topic, const QByteArray& payload, Clock::time_point at)>;

    MqttProbe(uint16_t port, QStringList filters, Hook hook = {})
        : filters_(std::move(filters)), hook_(std::move(hook))
    {
        mosquitto_lib_init();
        mosq_ = mosquitto_new(nullptr, true, this);
        mosquitto_int_option(mosq_, MOSQ_OPT_TCP_NODELAY, 1);
        mosquitto_connect_callback_set(mosq_, [](mosquitto* m, void* self, int rc) {
            if (rc != 0)
                return;
            for (const QString& filter : static_cast<MqttProbe*>(self)->filters_)
                mosquitto_subscribe(m, nullptr, filter.toUtf8().constData(), 1);
        });
        mosquitto_subscribe_callback_set(mosq_, [](mosquitto*, void* self, int, int, const int*) {
            auto* p = static_cast<MqttProbe*>(self);
            const std::lock_guard lock(p->mutex_);
            ++p->subscribed_;
        });
        mosquitto_message_callback_set(mosq_, [](mosquitto*, void* self, const mosquitto_message* m) {
            const auto at = Clock::now();
            auto* p = static_cast<MqttProbe*>(self);
            const QString topic = QString::fromUtf8(m->topic);
            const QByteArray payload(static_cast<const char*>(m->payload), m->payloadlen);
            {
                const std::lock_guard lock(p->mutex_);
                p->last_[topic] = payload;
                ++p->count_[topic];
            }
            if (p->hook_)
                p->hook_(topic, payload, at);
        });
        mosquitto_connect(mosq_, "127.0.0.1", port, 30);
        mosquitto_loop_start(mosq_);
    }
    ~MqttProbe()
    {
        mosquitto_disconnect(mosq_);
        mosquitto_loop_stop(mosq_, false);
        mosquitto_destroy(mosq_);
        mosquitto_lib_cleanup();
    }
    MqttProbe(const MqttProbe&) = delete;
    MqttProbe& operator=(const MqttProbe&) = delete;

    // Every filter has been subscribed: from here on nothing published is missed.
    bool Ready()
    {
        const std::lock_guard lock(mutex_);
        return subscribed_ == filters_.size();
    }
    void Publish(const QString& topic, const QByteArray& payload, bool retain = false)
    {
        mosquitto_publish(mosq_, nullptr, topic.toUtf8().constData(), static_cast<int>(payload.size()),
                          payload.constData(), 1, retain);
    }
    QByteArray Last(const QString& topic)
    {
        const std::lock_guard lock(mutex_);
        const auto found = last_.find(topic);
        return found == last_.end() ? QByteArray() : found->second;
    }
    int Count(const QString& topic)
    {
        const std::lock_guard lock(mutex_);
        return count_[topic];
    }

private:
    mosquitto* mosq_ = nullptr;
    const QStringList filters_;
    const Hook hook_;
    std::mutex mutex_;
    qsizetype subscribed_ = 0;
    std::map<QString, QByteArray> last_;
    std::map<QString, int> count_;
};

}  // namespace tavoxa::testing
