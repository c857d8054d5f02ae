// tavoxa-sim headless as systemd runs it: the messages on a notification socket of the test's
// own and a quiet start, the relays kept across a stop and start with --restore-relays, the
// per-user folder, and --plan on the defaults.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <string>
#include <vector>

#include "tests/app/simprogram.h"

namespace tavoxa {
namespace {

using testing::SimProgram;

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Reads datagrams from `fd` until one is `text` (true) or 10 s pass (false), keeping them all.
bool WaitForMessage(int fd, const std::string& text, std::vector<std::string>& messages)
{
    char buffer[512];
    for (int waited = 0; waited < 10000; waited += 50) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) == 1) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            messages.emplace_back(buffer, static_cast<size_t>(std::max<ssize_t>(n, 0)));
            if (messages.back() == text)
                return true;
        }
    }
    return false;
}

TEST(Service, NotifiesReadyWatchdogAndStoppingAndStartsQuietly)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("notify").toStdString();
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    SimProgram program(dir.path());
    program.SetEnv("NOTIFY_SOCKET", QString::fromStdString(path));
    program.SetEnv("WATCHDOG_USEC", "2000000");
    program.SetEnv("XDG_RUNTIME_DIR", "");
    ASSERT_TRUE(program.Start());
    std::vector<std::string> messages;
    ASSERT_TRUE(WaitForMessage(fd, "READY=1", messages)) << program.Err().toStdString();
    EXPECT_EQ(messages, std::vector<std::string>{"READY=1"}) << "the watchdog waits for the ticks";
    ASSERT_TRUE(WaitForMessage(fd, "WATCHDOG=1", messages));
    ASSERT_TRUE(WaitForMessage(fd, "WATCHDOG=1", messages)) << "every tick while it runs";
    EXPECT_EQ(program.Finish(SIGTERM), 0) << program.Err().toStdString();
    ASSERT_TRUE(WaitForMessage(fd, "STOPPING=1", messages));
    EXPECT_EQ(std::count(messages.begin(), messages.end(), "READY=1"), 1);
    ::close(fd);

    // Nothing on standard error that is not the program's own, and the adapter reported once.
    EXPECT_FALSE(program.Err().contains("XDG_RUNTIME_DIR")) << program.Err().toStdString();
    EXPECT_TRUE(program.Err().contains("adapter connected"));
    EXPECT_FALSE(program.Err().contains("adapter not connected")) << program.Err().toStdString();
}

// Relay 1 was on at the last stop, as the file left by that run says; the folder has no
// configuration file, so every relay is in Toggle mode and no engine switches it.
TEST(Service, RestoreRelaysBringsBackTheRelaysAcrossAStopAndStart)
{
    for (const bool restore : {true, false}) {
        QTemporaryDir dir;
        QFile file(dir.filePath("tavoxa.relays"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("100000\n");
        file.close();
        SimProgram program(dir.path());
        ASSERT_TRUE(program.Start(restore ? QStringList{"--restore-relays"} : QStringList{}));
        ASSERT_TRUE(program.WaitForErr("adapter connected")) << program.Err().toStdString();
        EXPECT_EQ(program.Finish(SIGTERM), 0);
        EXPECT_EQ(program.Err().contains("relay 1 on: restored at start-up"), restore)
            << program.Err().toStdString();
        // What the board was given is kept for the next start, restored or not.
        EXPECT_EQ(ReadFile(dir.filePath("tavoxa.relays")), restore ? "100000\n" : "000000\n");
    }
}

// The desktop entries' --user-dir: the files land in the program's own folder under
// XDG_DATA_HOME, made when missing, not in the folder it was started in.
TEST(Service, UserDirKeepsTheFilesInThePerUserFolder)
{
    QTemporaryDir dir;
    SimProgram program(dir.path());
    program.SetEnv("XDG_DATA_HOME", dir.filePath("data"));
    ASSERT_TRUE(program.Start({"--user-dir"}));
    ASSERT_TRUE(program.WaitForErr("adapter connected")) << program.Err().toStdString();
    EXPECT_EQ(program.Finish(SIGTERM), 0);
    EXPECT_TRUE(QFile::exists(dir.filePath("data/tavoxa-sim/swcf.ini")));
    EXPECT_FALSE(QFile::exists(dir.filePath("swcf.ini")));
}

TEST(Service, PlanSaysWhenItShowsTheDefaults)
{
    QTemporaryDir dir;
    SimProgram program(dir.path());
    ASSERT_TRUE(program.Start({"--plan", "--days", "1"}));
    EXPECT_EQ(program.Finish(), 0);
    EXPECT_TRUE(program.Err().contains("no configuration file tavoxa.dat")) << program.Err().toStdString();
}

}  // namespace
}  // namespace tavoxa
