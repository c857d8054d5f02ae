// The built tavoxa-ctl against tavoxa-sim started headless, as a script would use them.
#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>

namespace {

struct CtlRun {
    int code = -1;
    QByteArray out;
    QByteArray err;
};

CtlRun Ctl(const QStringList& arguments, const QString& passwordFile)
{
    QProcess ctl;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("TAVOXA_PASSWORD");
    ctl.setProcessEnvironment(env);
    ctl.start(TAVOXA_CTL_PROGRAM, QStringList{"--password-file", passwordFile} + arguments);
    if (!ctl.waitForFinished(15000))
        return {};
    return {ctl.exitStatus() == QProcess::NormalExit ? ctl.exitCode() : -1, ctl.readAllStandardOutput(),
            ctl.readAllStandardError()};
}

TEST(CtlProcess, StatusAndOnAgainstTheSimulator)
{
    QTemporaryDir dir;
    QTcpServer probe;  // a port nobody uses now
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const QString port = QString::number(probe.serverPort());
    probe.close();

    QByteArray settings = "ctl.dat\r\nsim-pw\r\n" + port.toLatin1() + "\r\n";
    for (int i = 1; i <= 8; ++i)
        settings += "Name " + QByteArray::number(i) + "\r\n";
    const QString password = dir.filePath("pw");
    for (const auto& [path, bytes] : {std::pair{dir.filePath("swcf.ini"), settings + "1\r\n"},
                                      std::pair{password, QByteArray("sim-pw\n")}}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }

    QProcess sim;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    sim.setProcessEnvironment(env);
    sim.setWorkingDirectory(dir.path());
    sim.start(TAVOXA_SIM_PROGRAM, {});
    ASSERT_TRUE(sim.waitForStarted(10000));

    const QStringList where{"--host", "127.0.0.1", "--port", port, "--timeout", "5"};
    CtlRun status;
    for (const QDeadlineTimer listening(20000); status.code != 0 && !listening.hasExpired();
         QThread::msleep(200))  // until the server listens
        status = Ctl(where + QStringList{"status"}, password);
    EXPECT_EQ(status.code, 0) << status.err.toStdString();
    EXPECT_TRUE(status.out.startsWith("relay 1 off\n")) << status.out.toStdString();
    EXPECT_EQ(status.out.count('\n'), 8);

    const CtlRun on = Ctl(where + QStringList{"on", "1"}, password);
    EXPECT_EQ(on.code, 0) << on.err.toStdString();
    EXPECT_TRUE(on.out.startsWith("relay 1 on\n")) << on.out.toStdString();

    ASSERT_EQ(::kill(static_cast<pid_t>(sim.processId()), SIGTERM), 0);
    EXPECT_TRUE(sim.waitForFinished(10000));
}

}  // namespace
