// tavoxa-sim headless as systemd runs it: the messages on a notification socket of the test's
// own, the relays kept across a stop and start with --restore-relays, and a quiet start.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>
#include <string>
#include <vector>

#include "tests/app/simprogram.h"

namespace tavoxa {
namespace {

using testing::SimProgram;

// A datagram socket bound in `folder`, as systemd's NOTIFY_SOCKET.
class NotifySocket {
public:
    explicit NotifySocket(const QString& folder) : path_(folder.toStdString() + "/notify")
    {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path_.copy(address.sun_path, sizeof address.sun_path - 1);
        bound_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~NotifySocket()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool Ok() const { return bound_; }
    QString Path() const { return QString::fromStdString(path_); }

    // Messages until one holds `text` (true) or 10 s pass (false); every message read is kept.
    bool WaitFor(const std::string& text)
    {
        for (int waited = 0; waited < 10000; waited += 50) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) == 1) {
                char buffer[512];
                const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
                if (n > 0) {
                    messages.emplace_back(buffer, static_cast<size_t>(n));
                    if (messages.back().find(text) != std::string::npos)
                        return true;
                }
            }
        }
        return false;
    }
    int Count(const std::string& text) const
    {
        int n = 0;
        for (const std::string& m : messages)
            n += m.find(text) != std::string::npos;
        return n;
    }

    std::vector<std::string> messages;

private:
    std::string path_;
    int fd_ = -1;
    bool bound_ = false;
};

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(Service, NotifiesReadyWatchdogAndStopping)
{
    QTemporaryDir dir;
    NotifySocket socket(dir.path());
    ASSERT_TRUE(socket.Ok());
    SimProgram program(dir.path());
    program.SetEnv("NOTIFY_SOCKET", socket.Path());
    program.SetEnv("WATCHDOG_USEC", "2000000");
    ASSERT_TRUE(program.Start());

    ASSERT_TRUE(socket.WaitFor("READY=1")) << program.Err().toStdString();
    EXPECT_TRUE(program.WaitForErr("port COM 1 open"));
    EXPECT_EQ(socket.Count("WATCHDOG=1"), 0) << "the watchdog waits for the ticks";
    ASSERT_TRUE(socket.WaitFor("WATCHDOG=1"));
    ASSERT_TRUE(socket.WaitFor("WATCHDOG=1")) << "every tick while it runs";
    EXPECT_EQ(program.Finish(SIGTERM), 0) << program.Err().toStdString();
    ASSERT_TRUE(socket.WaitFor("STOPPING=1"));
    EXPECT_EQ(socket.Count("READY=1"), 1);
    EXPECT_EQ(socket.Count("STOPPING=1"), 1);
}

// Relay 1 was on at the last stop, as the file left by that run says; the folder has no
// configuration file, so every relay is in Toggle mode and no engine switches it.
TEST(Service, RestoreRelaysBringsBackTheRelaysAcrossAStopAndStart)
{
    const struct {
        bool restore;
        bool relay1On;
    } cases[] = {{true, true}, {false, false}};
    for (const auto& c : cases) {
        QTemporaryDir dir;
        {
            QFile file(dir.filePath("tavoxa.relays"));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write("100000\n");
        }
        SimProgram program(dir.path());
        ASSERT_TRUE(program.Start(c.restore ? QStringList{"--restore-relays"} : QStringList{}));
        ASSERT_TRUE(program.WaitForErr("adapter connected")) << program.Err().toStdString();
        EXPECT_EQ(program.Finish(SIGTERM), 0);
        EXPECT_EQ(program.Err().contains("relay 1 on: restored at start-up"), c.relay1On)
            << program.Err().toStdString();
        // What the board was given is kept for the next start, restored or not.
        EXPECT_EQ(ReadFile(dir.filePath("tavoxa.relays")), c.relay1On ? "100000\n" : "000000\n");
    }
}

// Nothing on standard error that is not the program's own, and the adapter reported once.
TEST(Service, StartIsQuiet)
{
    QTemporaryDir dir;
    SimProgram program(dir.path());
    program.SetEnv("XDG_RUNTIME_DIR", "");
    ASSERT_TRUE(program.Start());
    ASSERT_TRUE(program.WaitForErr("adapter connected")) << program.Err().toStdString();
    EXPECT_EQ(program.Finish(SIGTERM), 0);
    EXPECT_FALSE(program.Err().contains("XDG_RUNTIME_DIR")) << program.Err().toStdString();
    EXPECT_FALSE(program.Err().contains("adapter not connected")) << program.Err().toStdString();
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
