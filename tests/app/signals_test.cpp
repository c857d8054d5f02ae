// tavoxa-sim started headless in an empty directory: a stop signal closes it as the close box
// does, so the configuration file and swcf.ini are written and the program ends cleanly.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>

#include "storage/configfile.h"
#include "storage/settingsfile.h"

namespace {

class HeadlessProgram : public ::testing::TestWithParam<int> {
protected:
    void Start()
    {
        ASSERT_TRUE(dir.isValid());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(dir.path());
        program.start(TAVOXA_SIM_PROGRAM, {});
        ASSERT_TRUE(program.waitForStarted(10000));
    }

    // The program has run its start-up once it has read the (missing) files; give it a moment
    // and its event loop a few ticks.
    void LetItRun() { QThread::msleep(1500); }

    QTemporaryDir dir;
    QProcess program;
};

TEST_P(HeadlessProgram, StopSignalWritesBothFilesAndEndsCleanly)
{
    Start();
    LetItRun();
    ASSERT_EQ(::kill(static_cast<pid_t>(program.processId()), GetParam()), 0);
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_TRUE(QString::fromLocal8Bit(program.readAllStandardError()).contains("offscreen"))
        << "without a display the program says it runs headless";

    const tavoxa::SettingsFileContent settings =
        tavoxa::LoadSettingsFile(dir.filePath("swcf.ini").toStdString());
    EXPECT_EQ(settings.ConfigFileName, "tavoxa.dat");
    QFile config(dir.filePath("tavoxa.dat"));
    ASSERT_TRUE(config.open(QIODevice::ReadOnly));
    EXPECT_EQ(config.readAll().count("\r\n"), 314);
}

INSTANTIATE_TEST_SUITE_P(Signals, HeadlessProgram, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param == SIGTERM  ? "SIGTERM"
                                    : info.param == SIGINT ? "SIGINT"
                                                           : "SIGHUP";
                         });

}  // namespace
