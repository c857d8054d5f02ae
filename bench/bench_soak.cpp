// Soak of the real program on the simulated board, headless, with the system clock.
//
//   bench_soak timers [minutes=10]   the main window with relays in every mode: every second of
//                                    the clock must get exactly one second tick, timer programs
//                                    and the clock pulse must switch in their own second, and the
//                                    20 ms exchange must keep its period
//   bench_soak whole [minutes=15]    the same plus the remote server on the loopback with clients
//                                    in a second process (this program started with "client"),
//                                    and Save and Load about once a minute; every file written
//                                    is read back, and resident memory is compared
//
// A compressed clock cannot show a lost second, so this runs in real time. It works in a fresh
// temporary directory, so no file of the working tree is touched. It prints its figures next to
// their targets and exits 0 whatever they are.
#include <malloc.h>

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QProcess>
#include <QPushButton>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "adapter/i2c.h"
#include "adapter/simboard.h"
#include "bench/benchclient.h"
#include "bench/benchkit.h"
#include "core/relaycontroller.h"
#include "engine/clock.h"
#include "engine/model.h"
#include "engine/random.h"
#include "remote/remoteserver.h"
#include "storage/configfields.h"
#include "storage/configfile.h"
#include "ui/form1.h"
#include "ui/form2.h"
#include "ui/form3.h"

namespace {

using tavoxa::bench::ClientConnection;
using tavoxa::bench::ClientProcess;
using tavoxa::bench::ClientTotals;
using tavoxa::bench::ConnectAll;
using tavoxa::bench::DisconnectAll;
using tavoxa::bench::IsRelayByteAnswer;
using tavoxa::bench::NowNs;
using tavoxa::bench::Percentile;
using tavoxa::bench::RoundTripMs;
using tavoxa::bench::WaitUntil;

using namespace tavoxa;

constexpr char kPassword[] = "soak";
constexpr int kWarmUpMs = 30000;  // memory is compared from here on
constexpr int64_t kSecondNs = 1000000000;

// VmRSS, and its anonymous part (heap and stacks, without the program's own pages mapped from
// files), after giving freed heap back, so the figures show what is held, not what malloc caches.
struct Resident {
    long kib = -1;
    long anonKib = -1;
};

Resident ResidentNow()
{
    malloc_trim(0);
    std::ifstream status("/proc/self/status");
    std::string line;
    Resident r;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            r.kib = std::atol(line.c_str() + 6);
        else if (line.rfind("RssAnon:", 0) == 0)
            r.anonKib = std::atol(line.c_str() + 8);
    }
    return r;
}

// Samples kept in memory that is allocated and touched before the soak starts, so that the
// benchmark's own recording does not show up as growth of the program's memory.
template <typename T>
class Recording {
public:
    void Prepare(size_t capacity) { values_.assign(capacity, T{}); }
    void Add(T value)
    {
        if (size_ < values_.size())
            values_[size_++] = value;
    }
    size_t Size() const { return size_; }
    bool Empty() const { return size_ == 0; }
    T Front() const { return values_[0]; }
    T Back() const { return values_[size_ - 1]; }
    T operator[](size_t i) const { return values_[i]; }
    std::vector<T> Values() const
    {
        return std::vector<T>(values_.begin(), values_.begin() + static_cast<long>(size_));
    }

private:
    std::vector<T> values_;
    size_t size_ = 0;
};

// The simulated board as the bus thread drives it, noting when each transaction begins (the
// start condition: data falling while the clock is high) for the exchange period.
class TimedBoard : public SerialLines {
public:
    explicit TimedBoard(SimulatedBoard& board, Recording<int64_t>& starts) : board_(board), starts_(starts) {}
    int ComOpen(int comNumber) override { return board_.ComOpen(comNumber); }
    void ComClose() override { board_.ComClose(); }
    void ComSetDtr(int on) override
    {
        if (!on && dtr_ && rts_) {
            const std::lock_guard<std::mutex> lock(mutex_);
            starts_.Add(NowNs());
        }
        dtr_ = on != 0;
        board_.ComSetDtr(on);
    }
    void ComSetRts(int on) override
    {
        rts_ = on != 0;
        board_.ComSetRts(on);
    }
    int ComGetCts() override { return board_.ComGetCts(); }
    // The starts noted so far; read once the bus thread has ended.
    std::vector<int64_t> Starts()
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return starts_.Values();
    }

private:
    SimulatedBoard& board_;
    Recording<int64_t>& starts_;
    std::mutex mutex_;
    bool dtr_ = true;  // bus thread only
    bool rts_ = true;
};

std::string LoadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

// ---- persisted tables -----------------------------------------------------------------------

struct SavedSettings {
    Model settings;
    int32_t comNumber = 0;
    uint8_t chipAddress = 0;
};

// Equal to 15 significant digits, which is what the file keeps of a real.
bool SameReal(double a, double b)
{
    if (std::isnan(a) || std::isnan(b))
        return std::isnan(a) && std::isnan(b);
    if (a == b)
        return true;
    return std::fabs(a - b) <= 6e-15 * std::max(std::fabs(a), std::fabs(b));
}

// The first difference between the persisted tables of `a` and `b`, or an empty text.
std::string TableDifference(const SavedSettings& a, const SavedSettings& b, bool withSecondCount)
{
    struct Value {
        ConfigField field;
        double number;  // an int32_t is exact in a double
        bool real;
    };
    std::vector<Value> values[2];
    for (int i = 0; i < 2; ++i) {
        const SavedSettings& saved = i == 0 ? a : b;
        VisitConfigFields(
            saved.settings, saved.comNumber, saved.chipAddress, [&](const auto& v, const ConfigField& f) {
                values[i].push_back(
                    {f, static_cast<double>(v), std::is_same_v<std::decay_t<decltype(v)>, double>});
            });
    }
    for (size_t k = 0; k < values[0].size(); ++k) {
        const Value& x = values[0][k];
        const Value& y = values[1][k];
        const bool secondCount = std::string_view(x.field.Table) == "SecondsTimer" && x.field.Slot == 3;
        if ((secondCount && !withSecondCount) ||
            (x.real ? SameReal(x.number, y.number) : x.number == y.number))
            continue;
        std::ostringstream out;
        out.precision(17);
        out << ConfigFieldName(x.field) << " " << x.number << " / " << y.number;
        return out.str();
    }
    return {};
}

// Reads `path` with the storage reader into a fresh model and compares it with what was saved.
std::string ReadBackDifference(const std::string& path, const SavedSettings& saved)
{
    SavedSettings read;
    ConfigTarget target(read.settings, read.comNumber, read.chipAddress);
    StorageState state;
    try {
        if (!LoadConfigurationFile(path, target, state))
            return "cannot be opened";
    } catch (const std::exception& e) {
        return std::string("read fails: ") + e.what();
    }
    return TableDifference(saved, read, true);
}

// ---- the window under test ------------------------------------------------------------------

// Error reports are counted and printed; no box may wait for a person in a soak.
class SoakReport : public ErrorReport {
public:
    void Report(const QString& text) override
    {
        errors << text;
        std::fprintf(stderr, "error report: %s\n", text.toUtf8().constData());
    }
    QStringList errors;
};

// Switch events that must happen in their exact second of every minute. Relay 1 follows five
// timer programs on various day codes (a sixth, on another weekday, must never fire); relay 6
// gives the clock pulse. `lead` is how many seconds earlier the matching switch-on lies.
struct ExactEvent {
    int relay;
    int second;
    bool on;
    int lead;
};
constexpr std::array<ExactEvent, 12> kExactEvents{{
    {0, 10, true, 0},
    {0, 15, false, 5},
    {0, 20, true, 0},
    {0, 25, false, 5},
    {0, 30, true, 0},
    {0, 35, false, 5},
    {0, 45, true, 0},
    {0, 48, false, 3},
    {0, 50, true, 0},
    {0, 55, false, 5},
    {5, 58, true, 0},
    {5, 0, false, 2},
}};
struct ProgramTimes {
    int on, off;
};
constexpr std::array<ProgramTimes, 6> kPrograms{{{10, 15}, {20, 25}, {30, 35}, {45, 48}, {50, 55}, {3, 6}}};
// Save and Load run while relays 1 and 6 are off, since Load switches every relay off.
constexpr std::array<int, 2> kFileSeconds{5, 40};

constexpr int kTimerRelay = 0;
constexpr int kToggleRelay = 1;
constexpr int kInputRelay = 2;
constexpr int kSecondsRelay = 3;
constexpr int kRandomRelay = 4;
constexpr int kClockRelay = 5;

// Points relay 1's programs at their next occurrence after `nowSecond` (seconds since the day
// count's origin), each with the day code that matches the day it falls on, as a user keeping a
// program current would. Program 6 gets the weekday after its day: it must never fire.
void SchedulePrograms(Model& m, int64_t nowSecond)
{
    for (int p = 0; p < kProgramCount; ++p) {
        int64_t minute = nowSecond - nowSecond % 60;
        if (nowSecond % 60 >= kPrograms[static_cast<size_t>(p)].off)
            minute += 60;
        const int64_t start = minute + kPrograms[static_cast<size_t>(p)].on;
        const int64_t end = minute + kPrograms[static_cast<size_t>(p)].off;
        const int64_t dayNumber = start / 86400;
        const auto day = static_cast<double>(dayNumber);
        const auto time = [](int64_t s) {
            const auto sod = static_cast<int>(s % 86400);
            return EncodeTime(sod / 3600, sod / 60 % 60, sod % 60);
        };
        m.ProgramStart(kTimerRelay, p) = time(start);
        m.ProgramEnd(kTimerRelay, p) = time(end);
        m.ProgramDate(kTimerRelay, p) = day;
        const int weekday = DayOfWeek(day);
        int32_t code = DayEveryDay;
        switch (p) {
            case 1:
                code = weekday + 1;
                break;
            case 2:
                code = DayDate;
                break;
            case 3:
                code = weekday >= 1 && weekday <= 5 ? DayMonToFri : DaySatSun;
                break;
            case 5:
                code = (weekday + 1) % 7 + 1;
                break;
            default:
                break;
        }
        m.DayCode(kTimerRelay, p) = code;
    }
}

bool InputLogicOn(int mode, bool k1, bool k2)
{
    switch (mode) {
        case ModeIfK1:
            return k1;
        case ModeIfK2:
            return k2;
        case ModeK1AndK2:
            return k1 && k2;
        case ModeK1OrK2:
            return k1 || k2;
        case ModeK1NorK2:
            return !k1 && !k2;
        default:
            return k1 != k2;
    }
}

class Soak {
public:
    Soak(bool whole, int minutes) : whole_(whole), minutes_(minutes) {}
    int Run();

private:
    void Configure();
    void OnSecondTick();
    void CheckExactEvents(int64_t second);
    void FileCycle();
    void StartClients();
    void OnClientLine(const QByteArray& line);
    void MaybeTakeStartSample();
    void Click(const char* name);
    void Report();

    bool whole_;
    int minutes_;
    SimulatedBoard board_;
    Recording<int64_t> exchangeNs_;
    TimedBoard timedBoard_{board_, exchangeNs_};
    SystemClock clock_;
    LcgRandom random_;
    SteadyBusDelay delay_;
    SoakReport report_;
    std::unique_ptr<RelayController> core_;
    std::unique_ptr<TForm1> form_;
    std::unique_ptr<TForm2> help_;
    std::unique_ptr<TForm3> dialog_;

    // Second ticks.
    Recording<int64_t> tickSeconds_;
    Recording<double> tickLagMs_;
    int64_t firstSecond_ = -1;
    std::array<bool, kRelayCount> relayWas_{};
    std::array<long, kRelayCount> switches_{};
    long exactSeen_ = 0;
    std::vector<std::string> misplaced_;
    long inputMismatch_ = 0;
    long debounceMismatch_ = 0;
    int inputModeStep_ = 0;
    long toggleClicks_ = 0, toggleFailures_ = 0;

    // Exchange ticks.

    // Contacts.
    QTimer k1Timer_, k2Timer_, toggleTimer_;
    int64_t k1ChangedNs_ = 0, k2ChangedNs_ = 0;

    // Files.
    int64_t lastFileSecond_ = -1;
    int fileCycles_ = 0;
    std::map<std::string, SavedSettings> saved_;
    std::vector<std::string> fileProblems_;
    std::vector<double> fileCycleMs_;

    // Remote.
    ClientProcess client_{[this](const QByteArray& line) { OnClientLine(line); }};
    std::map<std::string, std::string> clientResult_;
    bool clientReady_ = false;
    long serverMessages_ = 0, serverSwitches_ = 0;

    // Memory.
    Resident residentAtCreation_;
    Resident residentStart_, residentEnd_;
    std::vector<std::pair<int, long>> residentSeries_;  // seconds into the run, VmRSS
    QElapsedTimer runTime_;
    uint16_t port_ = 0;
    long readBacks_ = 0;
    std::string loadStart_, loadEnd_;
};

void Soak::Click(const char* name)
{
    if (QPushButton* button = form_->findChild<QPushButton*>(QString::fromLatin1(name)))
        button->click();
}

void Soak::Configure()
{
    Model& m = core_->model();
    m.RelayMode(kTimerRelay) = ModeTimer;
    m.SelectedProgram(kTimerRelay) = 0;
    const LocalDateTime now = clock_.Now();
    SchedulePrograms(m, static_cast<int64_t>(EncodeDate(now.year, now.month, now.day)) * 86400 +
                            (now.hour * 60 + now.minute) * 60 + now.second);

    m.RelayMode(kToggleRelay) = ModeToggle;
    m.RelayMode(kInputRelay) = ModeIfK1;

    m.RelayMode(kSecondsRelay) = ModeSecondsTimer;
    m.SecondsTimer[kSecondsRelay].Repeat = 1;
    m.SecondsTimer[kSecondsRelay].StartAfter = 2;
    m.SecondsTimer[kSecondsRelay].EndAfter = 5;

    // Window 1 open all day (start = end), window 2 across midnight, window 3 switched off.
    m.RelayMode(kRandomRelay) = ModeRandom;
    m.SelectedWindow(kRandomRelay) = 0;
    m.WindowMaxMinutes(kRandomRelay, 0) = 1;
    m.WindowStart(kRandomRelay, 0) = m.WindowEnd(kRandomRelay, 0) = EncodeTime(0, 0, 0);
    m.WindowMaxMinutes(kRandomRelay, 1) = 2;
    m.WindowStart(kRandomRelay, 1) = EncodeTime(23, 0, 0);
    m.WindowEnd(kRandomRelay, 1) = EncodeTime(22, 59, 59);
    m.WindowMaxMinutes(kRandomRelay, 2) = 0;

    m.RelayMode(kClockRelay) = ModeClock;
    form_->RefreshView();

    // Contacts change now and then, on periods that drift against each other and the second.
    const auto toggleK1 = [this] {
        board_.SetK1Closed(!board_.K1Closed());
        k1ChangedNs_ = NowNs();
    };
    const auto toggleK2 = [this] {
        board_.SetK2Closed(!board_.K2Closed());
        k2ChangedNs_ = NowNs();
    };
    k1Timer_.setInterval(3700);
    k2Timer_.setInterval(5300);
    QObject::connect(&k1Timer_, &QTimer::timeout, toggleK1);
    QObject::connect(&k2Timer_, &QTimer::timeout, toggleK2);
    k1Timer_.start();
    k2Timer_.start();

    // Without remote clients the Toggle relay is switched by its T button.
    if (!whole_) {
        toggleTimer_.setInterval(7000);
        QObject::connect(&toggleTimer_, &QTimer::timeout, [this] {
            const bool before = RelayIsOn(core_->model(), kToggleRelay);
            Click("Button2");
            ++toggleClicks_;
            toggleFailures_ += RelayIsOn(core_->model(), kToggleRelay) == before ? 1 : 0;
        });
        toggleTimer_.start();
    }
}

void Soak::OnSecondTick()
{
    Model& m = core_->model();
    const auto day = static_cast<int64_t>(std::llround(m.NowDate));
    const auto secondOfDay = static_cast<int64_t>(std::floor(m.NowTime * 86400.0 + 1e-6));
    const int64_t second = day * 86400 + secondOfDay;
    tickSeconds_.Add(second);
    tickLagMs_.Add(static_cast<double>(std::llround(m.NowTime * 86400000.0) % 1000));

    if (firstSecond_ < 0) {
        firstSecond_ = second;
        for (int r = 0; r < kRelayCount; ++r)
            relayWas_[static_cast<size_t>(r)] = RelayIsOn(m, r);
    } else {
        CheckExactEvents(second);
    }

    // The input-logic relay follows the debounced contacts, and they follow the board once it
    // has held still for a second.
    const AdapterState& a = core_->adapter();
    if (core_->busFacts().PortOpen) {
        if (RelayIsOn(m, kInputRelay) != InputLogicOn(m.RelayMode(kInputRelay), a.K1Closed, a.K2Closed))
            ++inputMismatch_;
        const int64_t now = NowNs();
        if (now - k1ChangedNs_ > kSecondNs && a.K1Closed != board_.K1Closed())
            ++debounceMismatch_;
        if (now - k2ChangedNs_ > kSecondNs && a.K2Closed != board_.K2Closed())
            ++debounceMismatch_;
    }
    if (second % 20 == 0) {
        m.RelayMode(kInputRelay) = ModeIfK1 + inputModeStep_++ % 6;
        form_->RefreshView();
    }

    SchedulePrograms(m, second);

    if (whole_ && second - firstSecond_ >= 8 && (lastFileSecond_ < 0 || second - lastFileSecond_ >= 55) &&
        std::find(kFileSeconds.begin(), kFileSeconds.end(), second % 60) != kFileSeconds.end()) {
        lastFileSecond_ = second;
        QTimer::singleShot(250, form_.get(), [this] { FileCycle(); });
    }
}

void Soak::CheckExactEvents(int64_t second)
{
    const Model& m = core_->model();
    for (int r = 0; r < kRelayCount; ++r) {
        const bool on = RelayIsOn(m, r);
        bool& was = relayWas_[static_cast<size_t>(r)];
        if (on == was)
            continue;
        was = on;
        ++switches_[static_cast<size_t>(r)];
        if (r != kTimerRelay && r != kClockRelay)
            continue;
        const bool scheduled = std::any_of(
            kExactEvents.begin(), kExactEvents.end(),
            [&](const ExactEvent& e) { return e.relay == r && e.second == second % 60 && e.on == on; });
        if (scheduled) {
            ++exactSeen_;
        } else if (misplaced_.size() < 20) {
            char text[80];
            std::snprintf(text, sizeof text, "relay %d %s at second %02d", r + 1, on ? "on" : "off",
                          static_cast<int>(second % 60));
            misplaced_.emplace_back(text);
        } else {
            misplaced_.emplace_back();
        }
    }
}

// STOP, Save to a new name, STOP, Load it again: the gestures of a user keeping a copy.
void Soak::FileCycle()
{
    if (!core_->busFacts().PortOpen)
        return;
    const int64_t startNs = NowNs();
    char name[32];
    std::snprintf(name, sizeof name, "soak-%03d.dat", ++fileCycles_);
    const QString path = QDir::current().absoluteFilePath(QString::fromLatin1(name));
    const std::string file = path.toStdString();

    core_->Stop();
    SavedSettings snapshot{core_->model(), core_->adapter().ComNumber, core_->adapter().ChipAddress};
    core_->Save(file);
    if (core_->files().configFileName() != file || !core_->busFacts().PortOpen)
        fileProblems_.push_back(file + ": Save did not take the name or did not START");
    saved_[file] = snapshot;
    ++readBacks_;
    if (const std::string diff = ReadBackDifference(file, snapshot); !diff.empty())
        fileProblems_.push_back(file + " after Save: " + diff);

    core_->Stop();
    core_->Load(file);
    if (!core_->busFacts().PortOpen)
        fileProblems_.push_back(file + ": Load did not START");
    const SavedSettings loaded{core_->model(), core_->adapter().ComNumber, core_->adapter().ChipAddress};
    if (const std::string diff = TableDifference(snapshot, loaded, false); !diff.empty())
        fileProblems_.push_back(file + " in the window after Load: " + diff);
    fileCycleMs_.push_back(static_cast<double>(NowNs() - startNs) / 1e6);
    MaybeTakeStartSample();
}

void Soak::MaybeTakeStartSample()
{
    // Past the first changes of every kind (contacts, T button or remote switching, input mode,
    // a Save and a Load), so their first-time allocations do not count as growth.
    if (residentStart_.kib >= 0 || runTime_.elapsed() < kWarmUpMs - 500 ||
        (whole_ && (!clientReady_ || fileCycles_ == 0)))
        return;
    residentStart_ = ResidentNow();
    residentSeries_.emplace_back(static_cast<int>(runTime_.elapsed() / 1000), residentStart_.kib);
}

void Soak::StartClients()
{
    const int seconds = std::max(minutes_ * 60 - 5, 10);
    client_.Start({QString::number(port_), QString::fromLatin1(kPassword), QString::number(seconds)});
}

void Soak::OnClientLine(const QByteArray& rawLine)
{
    const QByteArray line = rawLine.trimmed();
    const QList<QByteArray> parts = line.split(' ');
    if (parts.size() >= 3 && parts[0] == "soak-client") {
        clientResult_[parts[1].toStdString()] = parts[2].toStdString();
        if (parts[1] == "ready") {
            clientReady_ = true;
        }
    } else if (!line.isEmpty()) {
        std::printf("client: %s\n", line.constData());
    }
}

int Soak::Run()
{
    QTemporaryDir work;
    if (!work.isValid() || !QDir::setCurrent(work.path())) {
        std::fprintf(stderr, "bench_soak: cannot make a temporary working directory\n");
        return 0;
    }
    loadStart_ = LoadAverage();
    std::printf("bench_soak %s: %d minutes of real time in %s\n", whole_ ? "whole" : "timers", minutes_,
                work.path().toUtf8().constData());
    std::printf("load average at start: %s (2 cores)\n", loadStart_.c_str());
    std::fflush(stdout);

    const size_t seconds = static_cast<size_t>(minutes_) * 60;
    tickSeconds_.Prepare(seconds + 64);
    tickLagMs_.Prepare(seconds + 64);
    exchangeNs_.Prepare(seconds * 50 + 1000);
    residentSeries_.reserve(seconds / 30 + 16);
    misplaced_.reserve(64);

    core_ = std::make_unique<RelayController>(timedBoard_, clock_, random_, delay_, report_);
    form_ = std::make_unique<TForm1>(*core_);
    if (whole_) {
        help_ = std::make_unique<TForm2>(form_.get());
        dialog_ = std::make_unique<TForm3>(core_->remoteSwitch().settings(), form_.get());
        form_->SetHelpWindow(help_.get());
        form_->SetRemoteDialog(dialog_.get());
    }
    QObject::connect(core_.get(), &RelayController::SecondTicked, [this] { OnSecondTick(); });
    core_->Startup();
    Configure();
    form_->show();

    if (whole_) {
        // The loopback only: the server would otherwise listen on every address of the machine.
        core_->remoteSwitch().server().SetListenAddress(QHostAddress::LocalHost);
        core_->remoteSwitch().settings().RemotePassword = kPassword;
        core_->remoteSwitch().settings().RemotePort = "0";
        form_->RemoteBox()->click();
        if (!core_->remoteSwitch().server().IsOpen()) {
            std::fprintf(stderr, "bench_soak: the remote server does not open on the loopback\n");
            return 0;
        }
        port_ = core_->remoteSwitch().server().BoundPort();
        QObject::connect(&core_->remoteSwitch().server(), &RemoteServer::MessageHandled,
                         [this] { ++serverMessages_; });
        QObject::connect(&core_->remoteSwitch().server(), &RemoteServer::RelayBitsChanged,
                         [this] { ++serverSwitches_; });
        QTimer::singleShot(500, form_.get(), [this] { StartClients(); });
    }
    residentAtCreation_ = ResidentNow();
    runTime_.start();

    // Memory every half minute, to show a trend rather than two points.
    QTimer memoryTimer;
    QObject::connect(&memoryTimer, &QTimer::timeout, [this] {
        if (residentStart_.kib >= 0)
            residentSeries_.emplace_back(static_cast<int>(runTime_.elapsed() / 1000), ResidentNow().kib);
        else
            MaybeTakeStartSample();
    });
    memoryTimer.setTimerType(Qt::PreciseTimer);
    memoryTimer.start(kWarmUpMs);
    // The end sample is taken while the clients are still connected.
    const int64_t runMs = static_cast<int64_t>(seconds) * 1000;
    QTimer::singleShot(static_cast<int>(runMs - (whole_ ? 7000 : 1000)), form_.get(), [this] {
        residentEnd_ = ResidentNow();
        residentSeries_.emplace_back(static_cast<int>(runTime_.elapsed() / 1000), residentEnd_.kib);
    });

    QEventLoop run;
    QTimer::singleShot(static_cast<int>(runMs), &run, &QEventLoop::quit);
    run.exec();

    if (whole_) {
        if (client_.Finish(20000) < 0)
            std::printf("client process did not finish in time or failed\n");
        // Closing writes the configuration once more.
        const std::string closeFile =
            QDir::current()
                .absoluteFilePath(QString::fromStdString(core_->files().configFileName()))
                .toStdString();
        const SavedSettings snapshot{core_->model(), core_->adapter().ComNumber,
                                     core_->adapter().ChipAddress};
        if (form_->close()) {
            saved_[closeFile] = snapshot;
            ++readBacks_;
            if (const std::string diff = ReadBackDifference(closeFile, snapshot); !diff.empty())
                fileProblems_.push_back(closeFile + " after close: " + diff);
        } else {
            fileProblems_.push_back("the window did not close");
        }
        // Every file once more at the end: nothing written later may have spoilt an earlier one.
        for (const auto& [file, settings] : saved_) {
            ++readBacks_;
            if (const std::string diff = ReadBackDifference(file, settings); !diff.empty()) {
                std::string problem = file;
                problem += " at the end: ";
                problem += diff;
                fileProblems_.push_back(std::move(problem));
            }
        }
    }
    loadEnd_ = LoadAverage();
    Report();
    dialog_.reset();
    help_.reset();
    form_.reset();
    core_.reset();
    QDir::setCurrent(QDir::tempPath());
    return 0;
}

void Row(const char* what, const std::string& figure, const char* target)
{
    std::printf("  %-34s %-30s %s\n", what, figure.c_str(), target);
}

std::string Format(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

void Soak::Report()
{
    const std::vector<int64_t> tickSeconds = tickSeconds_.Values();
    const std::vector<double> tickLagMs = tickLagMs_.Values();
    const std::vector<int64_t> exchangeNs = timedBoard_.Starts();

    // Second ticks.
    long missed = 0, twice = 0, backwards = 0;
    for (size_t i = 1; i < tickSeconds.size(); ++i) {
        const int64_t step = tickSeconds[i] - tickSeconds[i - 1];
        if (step > 1)
            missed += static_cast<long>(step - 1);
        else if (step == 0)
            ++twice;
        else if (step < 0)
            ++backwards;
    }
    const int64_t last = tickSeconds.empty() ? firstSecond_ : tickSeconds.back();
    long expected = 0;
    for (int64_t s = firstSecond_ + 1; firstSecond_ >= 0 && s <= last; ++s)
        for (const ExactEvent& e : kExactEvents)
            if (s % 60 == e.second && (e.on || s - e.lead >= firstSecond_))
                ++expected;

    // Exchange ticks.
    std::vector<double> periods;
    periods.reserve(exchangeNs.size());
    for (size_t i = 1; i < exchangeNs.size(); ++i)
        periods.push_back(static_cast<double>(exchangeNs[i] - exchangeNs[i - 1]) / 1e6);
    const long over30 = std::count_if(periods.begin(), periods.end(), [](double p) { return p > 30.0; });

    std::printf("\n==== bench_soak %s, %d min ====\n", whole_ ? "whole" : "timers", minutes_);
    std::printf("second tick (Timer2, armed %d ms past each full second)\n", kSecondTickLagMs);
    Row("ticks", std::to_string(tickSeconds.size()), "");
    Row("clock seconds covered",
        std::to_string(tickSeconds.empty() ? 0 : tickSeconds.back() - tickSeconds.front() + 1), "");
    Row("seconds missed", std::to_string(missed), "target 0");
    Row("seconds ticked twice", std::to_string(twice), "target 0");
    if (backwards > 0)
        Row("clock stepped back", std::to_string(backwards), "(clock set back: not a fault of the tick)");
    Row("tick lag past the second: median", Format("%.0f ms", Percentile(tickLagMs, 0.5)), "");
    Row("tick lag past the second: p99/max",
        Format("%.0f", Percentile(tickLagMs, 0.99)) + Format(" / %.0f ms", Percentile(tickLagMs, 1.0)),
        "under 1000 ms, else the second is lost");
    std::printf("timer programs and clock pulse (exact second)\n");
    Row("switch events expected", std::to_string(expected), "relay 1: 10 a minute, relay 6: 2 a minute");
    Row("seen in their exact second", std::to_string(exactSeen_), "target = expected");
    Row("switches in any other second", std::to_string(misplaced_.size()), "target 0");
    for (size_t i = 0; i < misplaced_.size() && i < 10; ++i)
        if (!misplaced_[i].empty())
            std::printf("      %s\n", misplaced_[i].c_str());
    std::printf("other relays\n");
    Row("switches per relay 1..6",
        std::to_string(switches_[0]) + " " + std::to_string(switches_[1]) + " " +
            std::to_string(switches_[2]) + " " + std::to_string(switches_[3]) + " " +
            std::to_string(switches_[4]) + " " + std::to_string(switches_[5]),
        "Timer, Toggle, input logic, Sec.-Timer, Random, clock");
    Row("input-logic relay wrong at a tick", std::to_string(inputMismatch_), "target 0");
    Row("debounced contact wrong after 1 s", std::to_string(debounceMismatch_), "target 0");
    if (!whole_)
        Row("T button presses without effect",
            std::to_string(toggleFailures_) + " of " + std::to_string(toggleClicks_), "target 0");
    std::printf("exchange tick (Timer1, 20 ms)\n");
    Row("ticks", std::to_string(exchangeNs.size()), "");
    const double mean = periods.empty() ? 0.0
                                        : static_cast<double>(exchangeNs.back() - exchangeNs.front()) / 1e6 /
                                              static_cast<double>(periods.size());
    Row("period mean", Format("%.3f ms", mean), "target 20 ms");
    Row("period median", Format("%.2f ms", Percentile(periods, 0.5)), "target 20 ms");
    Row("period p99", Format("%.2f ms", Percentile(periods, 0.99)), "target close to 20 ms");
    Row("period max", Format("%.2f ms", Percentile(periods, 1.0)), "");
    Row("periods over 30 ms", std::to_string(over30), "");

    if (whole_) {
        const auto result = [this](const char* key) {
            const auto it = clientResult_.find(key);
            return it == clientResult_.end() ? std::string("?") : it->second;
        };
        std::printf("remote (clients in a second process, loopback port %u)\n", port_);
        Row("clients greeted", result("greeted") + " of " + result("clients"), "");
        Row("logged in", result("login"), "");
        Row("requests \"repeat\" sent", result("sent"), "");
        Row("answered within 1 s", result("answered"), "");
        Row("answers lost (none within 1 s)", result("lost"), "target 0");
        Row("late or unexpected answers", result("late"), "target 0");
        Row("malformed answers", result("malformed"), "target 0");
        Row("round trip median/p99/max",
            result("rtt_median_ms") + " / " + result("rtt_p99_ms") + " / " + result("rtt_max_ms") + " ms",
            "");
        Row("switching commands sent", result("switches"), "");
        Row("  seen in the next answer",
            result("switches_seen") + " (not seen " + result("switches_not_seen") + ")",
            "a Load in between switches all off");
        Row("connections dropped", result("dropped"), "target 0");
        Row("server: messages / relay changes",
            std::to_string(serverMessages_) + " / " + std::to_string(serverSwitches_), "");
        std::printf("files (Save to a new name, then Load, about once a minute)\n");
        Row("Save and Load cycles", std::to_string(fileCycles_), "");
        Row("cycle time median/max",
            Format("%.1f", Percentile(fileCycleMs_, 0.5)) +
                Format(" / %.1f ms", Percentile(fileCycleMs_, 1.0)),
            "");
        Row("files written / read back",
            std::to_string(saved_.size()) + " / " + std::to_string(readBacks_) + " times",
            "the close writes the last file again");
        Row("files not loading back unchanged", std::to_string(fileProblems_.size()), "target 0");
        for (size_t i = 0; i < fileProblems_.size() && i < 10; ++i)
            std::printf("      %s\n", fileProblems_[i].c_str());
    }
    std::printf("memory (after malloc_trim; RssAnon = heap and stacks, without pages mapped from files)\n");
    const auto kib = [](const Resident& r) {
        return std::to_string(r.kib) + " KiB (RssAnon " + std::to_string(r.anonKib) + " KiB)";
    };
    Row("VmRSS after creating the window", kib(residentAtCreation_), "");
    const std::string startAt =
        "VmRSS start (" +
        (residentSeries_.empty() ? std::string("-") : std::to_string(residentSeries_[0].first)) + " s in)";
    Row(startAt.c_str(), kib(residentStart_),
        whole_ ? "after 30 s, clients on and a Save and Load done" : "after 30 s");
    Row("VmRSS end", kib(residentEnd_), "");
    Row("VmRSS growth start to end",
        std::to_string(residentEnd_.kib - residentStart_.kib) + " KiB (RssAnon " +
            std::to_string(residentEnd_.anonKib - residentStart_.anonKib) + " KiB)",
        "target under 1024 KiB");
    std::string series;
    for (const auto& [at, value] : residentSeries_)
        series += (series.empty() ? "" : ", ") + std::to_string(at) + " s: " + std::to_string(value);
    std::printf("  VmRSS samples (KiB): %s\n", series.c_str());
    Row("error reports", std::to_string(report_.errors.size()), "target 0");
    for (int i = 0; i < report_.errors.size() && i < 5; ++i)
        std::printf("      %s\n", report_.errors[i].toUtf8().constData());
    std::printf("load average at start / end: %s / %s (2 cores)\n", loadStart_.c_str(), loadEnd_.c_str());
    std::fflush(stdout);
}

// ---- client process -------------------------------------------------------------------------

constexpr int64_t kPollIntervalNs = 200000000;     // pollers: 5 requests a second
constexpr int64_t kSwitcherPollNs = 250000000;     // the switching client polls 4 times a second
constexpr int64_t kSwitchIntervalNs = 5000000000;  // and switches about every 5 s
constexpr int64_t kAnswerTimeoutNs = kSecondNs;
constexpr int kPollers = 3;

struct RemoteClient : ClientConnection {
    bool switcher = false;
    bool probe = false;  // the answer to this request decides a switching command
    int64_t probeWallSecond = 0;
    int64_t nextSendNs = 0;
    int64_t nextSwitchNs = 0;
    int expectBit = -1;
};

int RunClient(uint16_t port, const QByteArray& password, int seconds)
{
    ClientTotals totals;
    long switches = 0, seen = 0, notSeen = 0;
    totals.roundTripsMs.reserve(static_cast<size_t>(seconds) * 40);
    std::vector<std::unique_ptr<ClientConnection>> clients;
    bool running = true;

    for (int i = 0; i <= kPollers; ++i) {
        auto client = std::make_unique<RemoteClient>();
        RemoteClient* c = client.get();
        clients.push_back(std::move(client));
        c->switcher = i == kPollers;
        c->socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        QObject::connect(&c->socket, &QTcpSocket::disconnected, [&totals, &running] {
            if (running)
                ++totals.dropped;
        });
        QObject::connect(&c->socket, &QTcpSocket::readyRead, [&, c] {
            const QByteArray bytes = c->socket.readAll();
            const int64_t now = NowNs();
            if (totals.TakeHandshake(*c, bytes, c->switcher ? password : QByteArray())) {
                if (c->phase == RemoteClient::Running && c->switcher)
                    c->nextSwitchNs = now + kSecondNs;
                return;
            }
            if (!totals.TakeAnswer(*c, now))
                return;
            c->nextSendNs = c->sentNs + (c->switcher ? kSwitcherPollNs : kPollIntervalNs);
            int value = 0;
            if (!IsRelayByteAnswer(bytes, &value)) {
                ++totals.malformed;
                c->probe = false;
                return;
            }
            if (c->expectBit >= 0) {
                ++((value >> 1 & 1) == c->expectBit ? seen : notSeen);
                c->expectBit = -1;
            }
            if (!c->probe)
                return;
            c->probe = false;
            // Switch only well inside the second the state was read in: a second tick between
            // reading and writing would have its switching undone by the written-back bits.
            const int64_t wall = QDateTime::currentMSecsSinceEpoch();
            if (wall / 1000 != c->probeWallSecond || wall % 1000 >= 800)
                return;
            const int switched = value ^ (1 << kToggleRelay);
            c->socket.write(QByteArray::number(switched));
            ++switches;
            c->expectBit = switched >> 1 & 1;
            c->nextSwitchNs = now + kSwitchIntervalNs;
            // Give the command a read of its own before the next request.
            c->nextSendNs = now + 300000000;
        });
    }

    QTimer driver;
    driver.setTimerType(Qt::PreciseTimer);
    driver.setInterval(5);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        const int64_t now = NowNs();
        for (auto& client : clients) {
            auto* c = static_cast<RemoteClient*>(client.get());
            if (c->phase != RemoteClient::Running)
                continue;
            if (c->waiting) {
                if (totals.ExpireRequest(*c, now, kAnswerTimeoutNs)) {
                    c->probe = false;
                    c->nextSendNs = now;
                }
                continue;
            }
            if (!running || now < c->nextSendNs)
                continue;
            if (c->switcher && now >= c->nextSwitchNs) {
                const int64_t wall = QDateTime::currentMSecsSinceEpoch();
                if (wall % 1000 < 200 || wall % 1000 >= 600)
                    continue;  // wait for the middle of a second
                c->probe = true;
                c->probeWallSecond = wall / 1000;
            }
            totals.Sent(*c, "repeat", now);
        }
    });

    ConnectAll(
        clients, port, [&] { return totals.greeted; }, 10000);
    WaitUntil([&] { return totals.login == 1; }, 10000);
    std::printf("soak-client ready %ld\n", totals.greeted);
    std::fflush(stdout);
    driver.start();
    WaitUntil([] { return false; }, static_cast<int64_t>(seconds) * 1000);
    running = false;
    WaitUntil(
        [&] {
            return std::none_of(clients.begin(), clients.end(), [](const auto& c) { return c->waiting; });
        },
        1500);
    driver.stop();
    for (auto& c : clients)
        if (c->waiting)
            ++totals.lost;

    const auto put = [](const char* key, const std::string& value) {
        std::printf("soak-client %s %s\n", key, value.c_str());
    };
    put("clients", std::to_string(clients.size()));
    put("greeted", std::to_string(totals.greeted));
    put("login", std::to_string(totals.login));
    put("sent", std::to_string(totals.sent));
    put("answered", std::to_string(totals.answered));
    put("lost", std::to_string(totals.lost));
    put("late", std::to_string(totals.unexpected));
    put("malformed", std::to_string(totals.malformed));
    put("switches", std::to_string(switches));
    put("switches_seen", std::to_string(seen));
    put("switches_not_seen", std::to_string(notSeen));
    put("dropped", std::to_string(totals.dropped));
    put("rtt_median_ms", Format("%.3f", RoundTripMs(totals, 0.5)));
    put("rtt_p99_ms", Format("%.3f", RoundTripMs(totals, 0.99)));
    put("rtt_max_ms", Format("%.3f", RoundTripMs(totals, 1.0)));
    std::fflush(stdout);
    DisconnectAll(clients, 2000);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 5 && std::string(argv[1]) == "client") {
        QCoreApplication app(argc, argv);
        const int seconds = std::clamp(std::atoi(argv[4]), 1, 7200);
        return RunClient(static_cast<uint16_t>(std::atoi(argv[2])), QByteArray(argv[3]), seconds);
    }
    const std::string mode = argc >= 2 ? argv[1] : "";
    if (mode != "timers" && mode != "whole") {
        std::fprintf(stderr, "usage: bench_soak timers [minutes=10] | bench_soak whole [minutes=15]\n");
        return 2;
    }
    const int minutes = std::clamp(argc >= 3 ? std::atoi(argv[2]) : (mode == "timers" ? 10 : 15), 1, 120);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName("tavoxa");
    QApplication::setApplicationDisplayName("Tavoxa");
    Soak soak(mode == "whole", minutes);
    return soak.Run();
}
