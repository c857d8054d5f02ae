// tavoxa-sim started headless in an empty directory: a stop signal closes it as the close box
// does, so the configuration file and swcf.ini are written and the program ends cleanly.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <csignal>

#include "storage/configfile.h"
#include "storage/settingsfile.h"
#include "tests/app/simprogram.h"

namespace {

class HeadlessProgram : public ::testing::TestWithParam<int> {};

TEST_P(HeadlessProgram, StopSignalWritesBothFilesAndEndsCleanly)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    tavoxa::testing::SimProgram program(dir.path());
    ASSERT_TRUE(program.Start());
    // Once the port is open the start-up is done and the ticks run.
    ASSERT_TRUE(program.WaitForErr("port COM 1 open")) << program.Err().toStdString();
    EXPECT_EQ(program.Finish(GetParam()), 0) << program.Err().toStdString();
    EXPECT_TRUE(program.Err().contains("offscreen")) << "without a display the program says it runs headless";

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
