// A standard error that nobody reads (a full pipe): the program goes on switching and answering,
// and a stop signal ends it within the 3 s of its stop guard.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include "storage/settingsfile.h"
#include "tests/app/simprogram.h"

namespace tavoxa {
namespace {

using testing::PollUntil;
using testing::SimProgram;

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
