// tavoxa-sim headless, each case in a folder of its own: a stop signal saves both files and ends
// it cleanly, or with the failure when the save fails; a start-up error is reported on standard
// error and the program goes on; one program per folder; the commands that only read leave the
// folder as it was.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

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
// `config`), which holds relay 2 on timer program 1, every day from 06:30:00 to 07:00:00.
class Folder {
public:
    explicit Folder(const std::string& configName = "tavoxa.dat")
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
        stored.ProgramStart(1, 0) = EncodeTime(6, 30, 0);
        stored.ProgramEnd(1, 0) = EncodeTime(7, 0, 0);
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

// With nothing in the folder, each stop signal closes the program as the close box does.
class HeadlessProgram : public ::testing::TestWithParam<int> {};

TEST_P(HeadlessProgram, StopSignalWritesBothFilesAndEndsCleanly)
{
    QTemporaryDir dir;
    SimProgram program(dir.path());
    ASSERT_TRUE(program.Start());
    // Once the port is open the start-up is done and the ticks run.
    ASSERT_TRUE(program.WaitForErr("port COM 1 open")) << program.Err().toStdString();
    EXPECT_EQ(program.Finish(GetParam()), 0) << program.Err().toStdString();
    EXPECT_TRUE(program.Err().contains("offscreen")) << "without a display the program says it runs headless";
    EXPECT_EQ(LoadSettingsFile(dir.filePath("swcf.ini").toStdString()).ConfigFileName, "tavoxa.dat");
    EXPECT_EQ(ReadFile(dir.filePath("tavoxa.dat")).count("\r\n"), 314);
}

INSTANTIATE_TEST_SUITE_P(Signals, HeadlessProgram, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string("SIG") + sigabbrev_np(info.param);
                         });

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
// again: the late second tick runs the seconds it missed.
TEST(Headless, AStallAcrossAProgramsStartSecondLosesNoSwitching)
{
    Folder folder;
    const QDateTime start = QDateTime::currentDateTime().addSecs(6);
    StoredSettings stored;
    stored.RelayMode(1) = ModeTimer;
    stored.DayCode(1, 0) = DayEveryDay;
    stored.ProgramStart(1, 0) = EncodeTime(start.time().hour(), start.time().minute(), start.time().second());
    stored.ProgramEnd(1, 0) =
        EncodeTime(start.time().hour(), start.time().minute(), start.time().second()) + EncodeTime(0, 10, 0);
    WriteFile(folder.Path("tavoxa.dat"), WriteConfiguration(stored, 1, kChipAddressPcf8574));
    SimProgram program(folder.dir.path());
    ASSERT_TRUE(program.Start());
    ASSERT_TRUE(program.WaitForErr("port COM 1 open")) << program.Err().toStdString();
    if (QDateTime::currentDateTime() >= start.addSecs(-1))
        GTEST_SKIP() << "the start-up took too long to stop the program before the start second";
    // Stopped from a second before the start second until two seconds after it.
    ASSERT_TRUE(PollUntil([&] { return QDateTime::currentDateTime() >= start.addSecs(-1); }));
    ASSERT_FALSE(program.Err().contains("relay 2 (Pumpe) on")) << program.Err().toStdString();
    ::kill(program.Pid(), SIGSTOP);
    PollUntil([&] { return QDateTime::currentDateTime() >= start.addSecs(2); });
    ::kill(program.Pid(), SIGCONT);
    const QString line = QStringLiteral("%1 relay 2 (Pumpe) on: timer program 1")
                             .arg(start.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    EXPECT_TRUE(program.WaitForErr(line)) << program.Err().toStdString();
    EXPECT_EQ(program.Finish(SIGTERM), 0) << program.Err().toStdString();
}

TEST(Headless, SecondProgramInTheSameFolderStopsWhileAPlanStillRuns)
{
    Folder folder;
    SimProgram first(folder.dir.path());
    ASSERT_TRUE(first.Start());
    ASSERT_TRUE(first.WaitForErr("port COM 1 open")) << first.Err().toStdString();

    SimProgram second(folder.dir.path());
    ASSERT_TRUE(second.Start());
    EXPECT_NE(second.Finish(), 0);
    EXPECT_TRUE(second.Err().contains("another program")) << second.Err().toStdString();
    SimProgram plan(folder.dir.path());
    ASSERT_TRUE(plan.Start({"--plan"}));
    EXPECT_EQ(plan.Finish(), 0) << plan.Err().toStdString();
    EXPECT_TRUE(plan.Out().contains("Pumpe"));

    EXPECT_EQ(first.Finish(SIGTERM), 0) << first.Err().toStdString();
}

// The commands that print and end: their exit code and output, and the folder unchanged but for
// the picture asked for. A value that cannot be read is said, naming the file, and the plan is
// made of what was read, as the unattended start-up goes on.
TEST(Headless, CommandsThatOnlyReadLeaveTheFolderAsItWas)
{
    const struct {
        QStringList args;
        int code;
        QStringList output;  // patterns on standard output
        const char* created;
        bool badValue = false;
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
         true,
         "(?m)^tavoxa-sim: tavoxa.dat: Ung"},
        {{"--plan-image", "x.png"}, 0, {"^$"}, "x.png"},
        {{"--plan-image", "x.jpg"}, 1, {"^$"}, nullptr},  // only PNG pictures
        {{"--version"}, 0, {R"(^tavoxa-sim 4\.2\.0\n$)"}, nullptr},
        {{"--no-such-option"}, 1, {"^$"}, nullptr, false, "(?m)^tavoxa-sim: "},
        {{"--plan", "--days", "0"}, 1, {"^$"}, nullptr, false, "(?m)^tavoxa-sim: "},
        {{"--plan", "--lang", "fr"}, 1, {"^$"}, nullptr},
    };
    for (const auto& c : cases) {
        const QString name = c.args.join(' ');
        Folder folder;
        if (c.badValue)
            WriteFile(folder.Path("tavoxa.dat"), WithBadThirdValue(folder.config));
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

}  // namespace
}  // namespace tavoxa
