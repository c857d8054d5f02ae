// tavoxa-sim headless, each case in a folder of its own: a stop signal ends it as a service stop
// (the messages on a notification socket of the test's own, a quiet start, both files and the
// relays kept, with --restore-relays and --user-dir), or with the failure when the save fails; a
// start-up error is reported on standard error and the program goes on; a late tick loses no
// switching; one program per folder; the commands that only read leave the folder as it was; a
// standard error nobody reads holds nothing up. Besides, the messages to systemd by table.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <algorithm>
#include <string>
#include <vector>

#include "app/servicenotify.h"
#include "engine/clock.h"
#include "engine/hardware.h"
#include "storage/configfile.h"
#include "storage/settingsfile.h"
#include "tests/app/simprogram.h"

namespace tavoxa {
namespace {

using testing::PollUntil;
using testing::SimProgram;

void WriteFile(const QString& path, const std::string& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// `config` with its third value, the first of the switch table, made no number.
std::string WithBadThirdValue(std::string config)
{
    const size_t third = config.find("\r\n", config.find("\r\n") + 2) + 2;
    return config.replace(third, config.find("\r\n", third) - third, "abc");
}

// A folder with swcf.ini naming relay 2 "Pumpe" and the configuration file `configName` (also in
// `config`), which holds relay 2 on timer program 1, every day from `start` (06:30:00) for 30 min.
class Folder {
public:
    explicit Folder(const std::string& configName = "tavoxa.dat", double start = EncodeTime(6, 30, 0))
    {
        EXPECT_TRUE(dir.isValid());
        SettingsFileContent settings;
        settings.ConfigFileName = configName;
        settings.RemotePassword = "pw";
        settings.Names[1] = "Pumpe";
        WriteFile(Path("swcf.ini"), WriteSettings(settings));
        StoredSettings stored;
        stored.RelayMode(1) = ModeTimer;
        stored.DayCode(1, 0) = DayEveryDay;
        stored.ProgramStart(1, 0) = start;
        stored.ProgramEnd(1, 0) = start + EncodeTime(0, 30, 0);
        config = WriteConfiguration(stored, 1, kChipAddressPcf8574);
        WriteFile(Path(QString::fromStdString(configName)), config);
    }
    QString Path(const QString& name) const { return dir.filePath(name); }
    // Every entry with its size and time of change, hidden ones (the lock) too.
    QStringList Listing() const
    {
        QStringList entries;
        for (const QFileInfo& i :
             QDir(dir.path())
                 .entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
            entries << QStringLiteral("%1 %2 %3")
                           .arg(i.fileName())
                           .arg(i.size())
                           .arg(i.lastModified().toMSecsSinceEpoch());
        return entries;
    }

    QTemporaryDir dir;
    std::string config;
};

// The messages to systemd in each order of events, with the sending function replaced.
TEST(ServiceNotifier, SendsEachMessageWhenItsTimeHasCome)
{
    const struct {
        const char* name;
        uint64_t watchdogUsec;
        std::string events;  // R ready, T tick, S stopping
        std::vector<std::string> sent;
    } cases[] = {
        {"the first tick only arms the watchdog", 30000000, "RTTT", {"READY=1", "WATCHDOG=1", "WATCHDOG=1"}},
        {"no watchdog before ready", 30000000, "TTRT", {"READY=1"}},
        {"no watchdog asked for", 0, "RTTTS", {"READY=1", "STOPPING=1"}},
        {"none after stopping", 30000000, "RTTSTR", {"READY=1", "WATCHDOG=1", "STOPPING=1"}},
        {"each once", 0, "RRSS", {"READY=1", "STOPPING=1"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> sent;
        ServiceNotifier notifier([&sent](const std::string& m) { sent.push_back(m); }, c.watchdogUsec);
        for (const char e : c.events)
            e == 'R' ? notifier.Ready() : e == 'T' ? notifier.Tick() : notifier.Stopping();
        EXPECT_EQ(sent, c.sent) << c.name;
    }
}

// A notification socket of the test's own, as systemd gives one; it keeps every message.
class NotifySocket {
public:
    explicit NotifySocket(const QString& socketPath) : path(socketPath)
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.toStdString().copy(address.sun_path, sizeof address.sun_path - 1);
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0)
            << socketPath.toStdString();
    }
    ~NotifySocket() { ::close(fd_); }
    // Reads datagrams until one is `text` (true) or 10 s pass (false).
    bool WaitFor(const std::string& text)
    {
        char buffer[512];
        for (int waited = 0; waited < 10000; waited += 50) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) == 1) {
                const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
                messages.emplace_back(buffer, static_cast<size_t>(std::max<ssize_t>(n, 0)));
                if (messages.back() == text)
                    return true;
            }
        }
        return false;
    }

    const QString path;
    std::vector<std::string> messages;

private:
    const int fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
};

// systemd's start: no display, nothing in the folder but the relays' file of the last run (relay
// 1 on), which only --restore-relays brings back; --user-dir works in the program's own folder
// under XDG_DATA_HOME, made when missing. Each stop signal closes the program as the close box does.
struct ServiceRun {
    const char* name;
    int signal;
    QStringList args;
};

void PrintTo(const ServiceRun& run, std::ostream* out)
{
    *out << run.name;
}

class HeadlessService : public ::testing::TestWithParam<ServiceRun> {};

TEST_P(HeadlessService, NotifiesStartsQuietlyAndAStopSignalKeepsTheFiles)
{
    const ServiceRun& run = GetParam();
    const bool restore = run.args.contains("--restore-relays");
    const bool userDir = run.args.contains("--user-dir");
    QTemporaryDir dir;
    const QString own = userDir ? dir.filePath("data/tavoxa-sim") : dir.path();
    WriteFile(dir.filePath("tavoxa.relays"), "100000\n");
    NotifySocket notify(dir.filePath("notify"));
    SimProgram program(dir.path());
    program.SetEnv("NOTIFY_SOCKET", notify.path);
    program.SetEnv("WATCHDOG_USEC", "2000000");
    program.SetEnv("XDG_RUNTIME_DIR", "");
    program.SetEnv("XDG_DATA_HOME", dir.filePath("data"));
    ASSERT_TRUE(program.Start(run.args));
    ASSERT_TRUE(notify.WaitFor("READY=1")) << program.Err().toStdString();
    EXPECT_EQ(notify.messages, std::vector<std::string>{"READY=1"}) << "the watchdog waits for the ticks";
    ASSERT_TRUE(notify.WaitFor("WATCHDOG=1")) << "sent from the second tick on";
    EXPECT_EQ(program.Finish(run.signal), 0) << program.Err().toStdString();
    EXPECT_TRUE(notify.WaitFor("STOPPING=1"));
    EXPECT_EQ(std::count(notify.messages.begin(), notify.messages.end(), "READY=1"), 1);

    // Nothing on standard error that is not the program's own, and the adapter reported once.
    const std::string err = program.Err().toStdString();
    EXPECT_TRUE(program.Err().contains("offscreen")) << "without a display the program says it runs headless";
    EXPECT_FALSE(program.Err().contains("XDG_RUNTIME_DIR")) << err;
    EXPECT_TRUE(program.Err().contains("adapter connected")) << err;
    EXPECT_FALSE(program.Err().contains("adapter not connected")) << err;
    EXPECT_EQ(program.Err().contains("relay 1 on: restored at start-up"), restore) << err;
    // Both files and what the board was given, restored or not, in the program's folder.
    EXPECT_EQ(LoadSettingsFile((own + "/swcf.ini").toStdString()).ConfigFileName, "tavoxa.dat");
    EXPECT_EQ(ReadFile(own + "/tavoxa.dat").count("\r\n"), 314);
    EXPECT_EQ(ReadFile(own + "/tavoxa.relays"), restore ? "100000\n" : "000000\n");
    EXPECT_EQ(QFile::exists(dir.filePath("swcf.ini")), !userDir);
}

INSTANTIATE_TEST_SUITE_P(Runs, HeadlessService,
                         ::testing::Values(ServiceRun{"SIGTERM", SIGTERM, {}},
                                           ServiceRun{"SIGINT_RestoreRelays", SIGINT, {"--restore-relays"}},
                                           ServiceRun{"SIGHUP_UserDir", SIGHUP, {"--user-dir"}}),
                         [](const ::testing::TestParamInfo<ServiceRun>& info) { return info.param.name; });

// A start-up error is reported with its time and the port opens anyway; a save that fails at the
// stop ends the program with the failure, by the stop and not the deadline, the settings whole.
TEST(Headless, StartupErrorAndFailedSaveAreReported)
{
    const struct {
        std::string config;
        int code;
        const char* err;
    } cases[] = {
        {"bad.dat", 0, R"((?m)^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d tavoxa[-a-z]*: Ung)"},
        {"cfg.dat", 1, "tavoxa-sim: E/A-Fehler"},
    };
    for (const auto& c : cases) {
        Folder folder(c.config);
        if (c.code == 0) {
            folder.config = WithBadThirdValue(folder.config);
            WriteFile(folder.Path(QString::fromStdString(c.config)), folder.config);
        } else {  // the configuration name is a folder: nothing can be written there, by root either
            ASSERT_TRUE(QDir(folder.dir.path()).remove(QString::fromStdString(c.config)));
            ASSERT_TRUE(QDir(folder.dir.path()).mkdir(QString::fromStdString(c.config)));
        }
        const QByteArray settings = ReadFile(folder.Path("swcf.ini"));
        SimProgram program(folder.dir.path());
        ASSERT_TRUE(program.Start());
        ASSERT_TRUE(program.WaitForErr("port COM 1 open")) << program.Err().toStdString();
        EXPECT_EQ(program.Finish(SIGTERM), c.code) << program.Err().toStdString();
        EXPECT_TRUE(QRegularExpression(c.err).match(program.Err()).hasMatch()) << program.Err().toStdString();
        EXPECT_FALSE(program.Err().contains("did not end")) << "ended by the stop, not by the deadline";
        EXPECT_TRUE(c.code == 0 || ReadFile(folder.Path("swcf.ini")) == settings) << "settings kept whole";
    }
}

// A program stopped across a timer program's start second switches its relay once it runs
// again: the late second tick runs the seconds it missed. While it is stopped it still holds the
// folder: a second program there stops, a plan still runs.
TEST(Headless, AStallAcrossAProgramsStartSecondLosesNoSwitchingAndKeepsTheFolder)
{
    const QDateTime start = QDateTime::currentDateTime().addSecs(6);
    Folder folder("tavoxa.dat",
                  EncodeTime(start.time().hour(), start.time().minute(), start.time().second()));
    SimProgram program(folder.dir.path());
    ASSERT_TRUE(program.Start());
    ASSERT_TRUE(program.WaitForErr("port COM 1 open")) << program.Err().toStdString();
    if (QDateTime::currentDateTime() >= start.addSecs(-1))
        GTEST_SKIP() << "the start-up took too long to stop the program before the start second";
    // Stopped from a second before the start second until two seconds after it.
    ASSERT_TRUE(PollUntil([&] { return QDateTime::currentDateTime() >= start.addSecs(-1); }));
    ASSERT_FALSE(program.Err().contains("relay 2 (Pumpe) on")) << program.Err().toStdString();
    ::kill(program.Pid(), SIGSTOP);
    SimProgram second(folder.dir.path());
    ASSERT_TRUE(second.Start());
    EXPECT_NE(second.Finish(), 0);
    EXPECT_TRUE(second.Err().contains("another program")) << second.Err().toStdString();
    SimProgram plan(folder.dir.path());
    ASSERT_TRUE(plan.Start({"--plan"}));
    EXPECT_EQ(plan.Finish(), 0) << plan.Err().toStdString();
    EXPECT_TRUE(plan.Out().contains("Pumpe"));
    PollUntil([&] { return QDateTime::currentDateTime() >= start.addSecs(2); });
    ::kill(program.Pid(), SIGCONT);
    const QString line = QStringLiteral("%1 relay 2 (Pumpe) on: timer program 1")
                             .arg(start.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    EXPECT_TRUE(program.WaitForErr(line)) << program.Err().toStdString();
    EXPECT_EQ(program.Finish(SIGTERM), 0) << program.Err().toStdString();
}

// The commands that print and end: their exit code and output, and the folder unchanged but for
// the picture asked for. A value that cannot be read is said, naming the file, and the plan is
// made of what was read, as the unattended start-up goes on; a plan without the file says so.
TEST(Headless, CommandsThatOnlyReadLeaveTheFolderAsItWas)
{
    const struct {
        QStringList args;
        int code;
        QStringList output;  // patterns on standard output
        const char* created;
        char config = 'k';     // the configuration file: k kept, b with a bad value, m missing
        const char* err = "";  // pattern on standard error
    } cases[] = {
        // Two calendar days, relay 2 switching at 06:30:00 on at least one of them.
        {{"--plan", "--days", "2"},
         0,
         {R"(\nRelay 2 \(Pumpe\), Timer[^\n]*\n(  \w{3} [-\d]{10}  [^\n]*\n){2}\n)", "06:30:00 on"},
         nullptr},
        {{"--plan", "--days", "2"},
         0,
         {R"(\nRelay 2 \(Pumpe\))"},
         nullptr,
         'b',
         "(?m)^tavoxa-sim: tavoxa.dat: Ung"},
        {{"--plan", "--days", "1"},
         0,
         {"Relay 2 \\(Pumpe\\)"},
         nullptr,
         'm',
         "no configuration file tavoxa.dat"},
        {{"--plan-image", "x.png"}, 0, {"^$"}, "x.png"},
        {{"--plan-image", "x.jpg"}, 1, {"^$"}, nullptr},  // only PNG pictures
        {{"--version"}, 0, {R"(^tavoxa-sim 4\.2\.0\n$)"}, nullptr},
        {{"--no-such-option"}, 1, {"^$"}, nullptr, 'k', "(?m)^tavoxa-sim: "},
        {{"--plan", "--days", "0"}, 1, {"^$"}, nullptr, 'k', "(?m)^tavoxa-sim: "},
        {{"--plan", "--lang", "fr"}, 1, {"^$"}, nullptr},
    };
    for (const auto& c : cases) {
        const QString name = c.args.join(' ');
        Folder folder;
        if (c.config == 'b')
            WriteFile(folder.Path("tavoxa.dat"), WithBadThirdValue(folder.config));
        if (c.config == 'm') {
            ASSERT_TRUE(QFile::remove(folder.Path("tavoxa.dat")));
        }
        const QStringList before = folder.Listing();
        SimProgram program(folder.dir.path());
        ASSERT_TRUE(program.Start(c.args)) << name.toStdString();
        EXPECT_EQ(program.Finish(), c.code) << name.toStdString() << program.Err().toStdString();
        for (const QString& pattern : c.output)
            EXPECT_TRUE(QRegularExpression(pattern).match(program.Out()).hasMatch())
                << name.toStdString() << " " << pattern.toStdString() << ":\n"
                << program.Out().toStdString();
        EXPECT_TRUE(QRegularExpression(c.err).match(program.Err()).hasMatch()) << name.toStdString() << ":\n"
                                                                               << program.Err().toStdString();
        QStringList after = folder.Listing();
        if (c.created) {
            EXPECT_TRUE(ReadFile(folder.Path(c.created)).startsWith("\x89PNG\r\n")) << name.toStdString();
            after = after.filter(QRegularExpression(QStringLiteral("^(?!%1 )").arg(c.created)));
        }
        EXPECT_EQ(after, before) << name.toStdString();
    }
}

// The reply to `message` once it has come (the socket read in a loop, no event loop needed).
QByteArray Ask(QTcpSocket& socket, const QByteArray& message, int bytes)
{
    socket.write(message);
    socket.waitForBytesWritten(2000);
    QByteArray got;
    for (int i = 0; i < 200 && got.size() < bytes; ++i)
        if (socket.waitForReadyRead(50))
            got += socket.readAll();
    return got;
}

// A standard error that nobody reads (a full pipe): the program goes on switching and answering,
// and a stop signal ends it within the 3 s of its stop guard.
TEST(StuckStandardError, SwitchingGoesOnAndAStopSignalEndsTheProgramWithinThreeSeconds)
{
    QTemporaryDir dir;
    quint16 port = 0;
    {
        QTcpServer probe;  // a free port for the program's remote
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    }
    SettingsFileContent settings;
    settings.RemotePassword = "pw";
    settings.RemotePort = std::to_string(port);
    settings.Remote = true;
    SaveSettingsFile(settings, (dir.path() + "/swcf.ini").toStdString());

    const QByteArray fifo = QFile::encodeName(dir.filePath("stderr"));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    const int unread = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);  // never read
    ASSERT_GE(unread, 0);

    SimProgram program(dir.path());
    program.SetStderrFile(QString::fromLocal8Bit(fifo));
    ASSERT_TRUE(program.Start({"--remote-address", "127.0.0.1"}));
    QTcpSocket client;
    ASSERT_TRUE(PollUntil([&] {
        client.abort();
        client.connectToHost(QHostAddress::LocalHost, port);
        return client.waitForConnected(200);
    }));
    ASSERT_EQ(Ask(client, "Pass:pw\n", 13), "connectlegal\n");
    // Six log lines a round, far more than the pipe holds; every round answered.
    for (int round = 0; round < 400; ++round)
        ASSERT_TRUE(Ask(client, round % 2 ? "0\nrepeat\n" : "63\nrepeat\n", 2).endsWith('\n'))
            << "round " << round;

    QElapsedTimer sinceStop;
    sinceStop.start();
    EXPECT_EQ(program.Finish(SIGTERM), 0);
    EXPECT_LT(sinceStop.elapsed(), 3000);
    ::close(unread);
}

}  // namespace
}  // namespace tavoxa
