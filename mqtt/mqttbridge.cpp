#include "mqtt/mqttbridge.h"

#include <mosquitto.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QFileInfo>
#include <QSocketNotifier>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>
#include <thread>

namespace tavoxa {
namespace {

constexpr int kQos = 1;
constexpr int kKeepAliveSeconds = 30;
// loop_misc sends the keep-alive pings and notices a broker that stopped answering them.
constexpr int kMiscIntervalMs = 1000;

// Connect threads still running; one may outlive its bridge (its attempt abandoned) and even the
// program's main: libmosquitto is then left as it is at the end rather than cleaned up under it.
std::atomic<int> connectThreads{0};

// libmosquitto wants one init per process before the first client and one cleanup at its end.
void EnsureLibrary()
{
    static const struct Library {
        Library() { mosquitto_lib_init(); }
        ~Library()
        {
            if (connectThreads.load() == 0)
                mosquitto_lib_cleanup();
        }
        Library(const Library&) = delete;
        Library& operator=(const Library&) = delete;
    } library;
}

int64_t SteadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QString RefusalText(int connack)
{
    // 4 and 5 are the broker saying who may connect: said plainly, since retrying will not help.
    switch (connack) {
        case 4:
            return "refused by the broker: bad user name or password";
        case 5:
            return "refused by the broker: not authorised";
        default:
            return QString("refused by the broker: %1").arg(mosquitto_connack_string(connack));
    }
}

}  // namespace

// One connect, run on a thread of its own. The thread holds the job until it is done, so an
// abandoned attempt (the bridge stopped or gone) still ends cleanly: the last holder destroys
// the client and closes the wake-up descriptor.
struct MqttBridge::ConnectJob {
    std::atomic<mosquitto*> mosq{nullptr};  // taken by the bridge once done, else destroyed here
    QByteArray host;
    uint16_t port = 0;
    std::function<void()> before;
    int rc = MOSQ_ERR_UNKNOWN;
    int error = 0;                  // errno of the connect, for MOSQ_ERR_ERRNO
    std::atomic<bool> done{false};  // rc and error are written before it
    int wakeFd = -1;                // an eventfd the thread writes once done

    ~ConnectJob()
    {
        if (mosquitto* client = mosq.exchange(nullptr))
            mosquitto_destroy(client);
        if (wakeFd >= 0)
            ::close(wakeFd);
    }

    void Run()
    {
        if (before)
            before();
        // Blocking on this thread: each address of the name is tried in turn; the socket is
        // non-blocking once connected and a TLS handshake goes on in the owner's event loop.
        rc = mosquitto_connect(mosq.load(), host.constData(), port, kKeepAliveSeconds);
        error = errno;
        done.store(true);
        eventfd_write(wakeFd, 1);
    }
};

MqttBridge::MqttBridge(QObject* parent) : QObject(parent)
{
    EnsureLibrary();
    miscTimer_.setInterval(kMiscIntervalMs);
    connect(&miscTimer_, &QTimer::timeout, this, &MqttBridge::Misc);
    retryTimer_.setSingleShot(true);
    connect(&retryTimer_, &QTimer::timeout, this, &MqttBridge::Attempt);
    connectTimer_.setSingleShot(true);
    connect(&connectTimer_, &QTimer::timeout, this, [this] { Lost("no answer from the broker"); });
    heldBackTimer_.setSingleShot(true);
    connect(&heldBackTimer_, &QTimer::timeout, this, &MqttBridge::LogHeldBack);
    nowMs_ = SteadyMs;
}

MqttBridge::~MqttBridge()
{
    // The notifiers go with their parent, before the client closes their socket.
    delete readNotifier_;
    delete writeNotifier_;
    delete jobNotifier_;
    job_.reset();
    DestroyClient();
}

void MqttBridge::SetMonotonicClock(std::function<int64_t()> nowMs)
{
    nowMs_ = std::move(nowMs);
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
    QString idNote;
    QString classNote;
    const QString id = UsableMqttId(options.id, &idNote);
    if (!ParseMqttUrl(options.url, &host_, &port_, &tls_, &why)) {
    } else if (id.isEmpty()) {
        why = QString("MQTT id \"%1\": give one with a-z, 0-9, _ and -").arg(LoggedText(options.id));
    } else if (!IsValidInputClass(options.inputClass, &classNote)) {
        why = QString("MQTT input class \"%1\": only a-z and _ are allowed")
                  .arg(LoggedText(options.inputClass));
    } else if (!options.caFile.isEmpty() && !tls_) {
        why = "a CA file needs an mqtts:// URL";
    } else if (!options.caFile.isEmpty() && !QFileInfo(options.caFile).isReadable()) {
        why = QString("cannot read the CA file \"%1\"").arg(options.caFile);
    }
    if (why.isEmpty()) {
        options_ = options;
        id_ = options_.id = id;
        why = CreateClient();
    }
    if (!why.isEmpty()) {
        if (error)
            *error = why;
        return false;
    }
    for (const QString& note : {idNote, classNote, MqttGuardWarning(tls_, !options.user.isEmpty())}) {
        if (!note.isEmpty())
            Log(note);
    }
    inputClass_ = options_.inputClass;
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
    AbandonConnect();
    if (connected_) {
        Publish(AvailabilityTopic(id_), "offline", true);
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
    const QByteArray will = AvailabilityTopic(id_).toUtf8();
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
    if (attempts_ == 1)
        Log(QString("MQTT: connecting to %1:%2 as %3").arg(host_).arg(port_).arg(id_));
    auto job = std::make_shared<ConnectJob>();
    job->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (job->wakeFd < 0) {
        Lost(QString::fromLocal8Bit(strerror(errno)));
        return;
    }
    // TLS checks the broker's certificate against its name, so every attempt connects by name.
    job->host = host_.toUtf8();
    job->port = port_;
    job->before = beforeConnect_;
    job->mosq = std::exchange(mosq_, nullptr);
    job_ = job;
    jobNotifier_ = new QSocketNotifier(job->wakeFd, QSocketNotifier::Read, this);
    connect(jobNotifier_, &QSocketNotifier::activated, this, &MqttBridge::ConnectDone);
    connectTimer_.start(connectTimeoutMs_);
    ++connectThreads;
    try {
        std::thread([job = std::move(job)]() mutable {
            job->Run();
            job.reset();
            --connectThreads;
        }).detach();
    } catch (const std::system_error& e) {
        // No thread to be had now (a process or memory limit): like a failed connect, tried again.
        --connectThreads;
        Lost(QString("cannot start the connecting thread: %1").arg(e.what()));
    }
}

void MqttBridge::ConnectDone()
{
    if (!job_ || !job_->done.load())
        return;
    const std::shared_ptr<ConnectJob> job = std::exchange(job_, nullptr);
    AbandonConnect();
    mosq_ = job->mosq.exchange(nullptr);
    if (job->rc != MOSQ_ERR_SUCCESS || mosquitto_socket(mosq_) < 0) {
        Lost(job->rc == MOSQ_ERR_ERRNO ? QString::fromLocal8Bit(strerror(job->error))
             : job->rc == MOSQ_ERR_EAI ? QString("cannot find the host")
                                       : QString(mosquitto_strerror(job->rc)));
        return;
    }
    WatchSocket();
}

// Leaves a connect under way to its thread, which destroys its client once done.
void MqttBridge::AbandonConnect()
{
    job_.reset();
    if (jobNotifier_) {
        jobNotifier_->setEnabled(false);
        jobNotifier_->disconnect(this);
        jobNotifier_->deleteLater();
        jobNotifier_ = nullptr;
    }
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
    // A refusal comes first: the broker closes the connection right after it.
    if (connack && *connack != 0) {
        Lost(RefusalText(*connack));
        return;
    }
    if (mosquitto_socket(mosq_) < 0) {
        Lost(connected_ ? "connection closed"
             : tls_     ? "connection or TLS handshake failed"
                        : "connection failed");
        return;
    }
    if (connack)
        Connected();
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
    const QByteArray sets = RelaySetFilter(id_).toUtf8();
    mosquitto_subscribe(mosq_, nullptr, sets.constData(), kQos);
    Publish(AvailabilityTopic(id_), "online", true);
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
    AbandonConnect();
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
    const SetMessage set = ParseSetMessage(id_, topic, payload, retained);
    if (!set.command) {
        LogIgnored(set.ignored);
        return;
    }
    const RelayCommand command = *set.command;
    QMetaObject::invokeMethod(
        this, [this, command] { emit SetRequested(command.relay, command.action); }, Qt::QueuedConnection);
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
            Publish(RelayStateTopic(id_, i), OnOffPayload(on), true);
    }
    sentRelays_ = bits;
}

void MqttBridge::PublishInputState()
{
    for (int k = 0; k < 2; ++k) {
        if (!sentInputs_ || (*sentInputs_)[k] != (*inputs_)[k])
            Publish(InputStateTopic(id_, k), OnOffPayload((*inputs_)[k]), true);
    }
    sentInputs_ = inputs_;
}

void MqttBridge::PublishStatusJson()
{
    Publish(StatusTopic(id_), StatusPayload(status_->first, status_->second, version_), true);
}

void MqttBridge::PublishDiscovery()
{
    for (const MqttMessage& message :
         DiscoveryMessages({id_, relayNames_, inputNames_, version_, inputClass_}))
        Publish(message.topic, message.payload, message.retain);
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

void MqttBridge::LogIgnored(const QString& text)
{
    const int64_t now = nowMs_();
    if (const auto line = ignoredLines_.Offer(text, now)) {
        Log(*line);
    } else if (!heldBackTimer_.isActive()) {
        heldBackTimer_.start(
            static_cast<int>(std::clamp<int64_t>(ignoredLines_.SummaryDueMs() - now, 1, 1000)));
    }
}

void MqttBridge::LogHeldBack()
{
    const int64_t now = nowMs_();
    if (const auto line = ignoredLines_.Summary(now))
        Log(*line);
    else if (ignoredLines_.HeldBack() > 0)
        heldBackTimer_.start(
            static_cast<int>(std::clamp<int64_t>(ignoredLines_.SummaryDueMs() - now, 1, 1000)));
}

}  // namespace tavoxa
