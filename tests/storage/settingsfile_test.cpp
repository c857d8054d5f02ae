// The settings file swcf.ini: line splitting, the Remote flag, the name stripping and the file.
#include "storage/settingsfile.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>

#include "storage/ioerror.h"
#include "storagetestutil.h"
#include "testkit.h"

namespace tavoxa {
namespace {

using testing::FileBytes;
using testing::JoinLines;
using testing::Path;
using testing::PutFile;
using testing::SplitCrLf;

SettingsFileContent Sample()
{
    SettingsFileContent c;
    c.ConfigFileName = "relays.dat";
    c.RemotePassword = "geheim";
    c.RemotePort = "26535";
    c.Names = {"  Licht ", "Pumpe", "R3", "R4", "R5", "Uhr", "K1 Tür", " K2"};
    c.Remote = true;
    return c;
}

TEST(ReadSettingsTest, TwelveLinesToTheirFields)
{
    const SettingsFileContent c =
        ReadSettings(JoinLines({"a.dat", "pw", "4000", "n1", "n2", "n3", "n4", "n5", "n6", "k1", "k2", "1"}));
    EXPECT_EQ(c.ConfigFileName, "a.dat");
    EXPECT_EQ(c.RemotePassword, "pw");
    EXPECT_EQ(c.RemotePort, "4000");
    EXPECT_EQ(c.Names, (std::array<std::string, 8>{"n1", "n2", "n3", "n4", "n5", "n6", "k1", "k2"}));
    EXPECT_TRUE(c.Remote);
}

TEST(ReadSettingsTest, LineEnds)
{
    EXPECT_EQ(ReadSettings("a\nb\r\nc").RemotePort, "c");           // LF alone, last line unterminated
    EXPECT_EQ(ReadSettings("a\rb\r\n").ConfigFileName, "ab");       // a lone CR is dropped
    EXPECT_EQ(ReadSettings("a\r\r\nb").ConfigFileName, "a");        // CR CR LF: one dropped, one line end
    EXPECT_EQ(ReadSettings("a\r\nb\x1a\r\nc\r\n").RemotePort, "");  // Ctrl-Z ends the file
    EXPECT_EQ(ReadSettings("a\r\nb\x1a\r\nc\r\n").RemotePassword, "b");
}

TEST(ReadSettingsTest, MissingLinesAreEmptyAndLeaveRemoteOff)
{
    const SettingsFileContent none = ReadSettings("");
    EXPECT_EQ(none.ConfigFileName, "");
    EXPECT_EQ(none.RemotePassword, "");
    for (const std::string& name : none.Names)
        EXPECT_EQ(name, "");
    EXPECT_FALSE(none.Remote);

    const SettingsFileContent short_ = ReadSettings("x.dat\r\npw\r\n");
    EXPECT_EQ(short_.RemotePassword, "pw");
    EXPECT_EQ(short_.RemotePort, "");
    EXPECT_FALSE(short_.Remote);
}

// A stray word must not open the server: only a number other than 0 switches it on.
TEST(ReadSettingsTest, RemoteFlagIsOnForANumberOtherThanZero)
{
    auto remote = [](const std::string& line12) {
        return ReadSettings(JoinLines({"", "", "", "", "", "", "", "", "", "", "", line12})).Remote;
    };
    for (const char* on : {"1", "-1", " 2", "0x10"})
        EXPECT_TRUE(remote(on)) << on;
    for (const char* off : {"0", "", "0 ", "00", "off", "no", "yes"})
        EXPECT_FALSE(remote(off)) << off;
}

TEST(ReadSettingsTest, NamesKeptByteForByte)
{
    const std::string longName(300, 'n');
    const std::string odd = std::string(" \t\xe4\xfc ") + '\0' + "x ";  // Latin-1 bytes, a tab, a NUL
    const SettingsFileContent c =
        ReadSettings(JoinLines({longName, "", "", odd, "  blank  ", "", "", "", "", "", "", "0"}));
    EXPECT_EQ(c.ConfigFileName, longName);
    EXPECT_EQ(c.Names[0], odd);
    EXPECT_EQ(c.Names[1], "  blank  ");
}

TEST(WriteSettingsTest, TwelveCrLfLinesEndingInTheFlag)
{
    SettingsFileContent c = Sample();
    const std::string text = WriteSettings(c);
    EXPECT_EQ(text,
              "relays.dat\r\ngeheim\r\n26535\r\n  Licht \r\nPumpe\r\nR3\r\nR4\r\nR5\r\nUhr\r\n"
              "K1 Tür\r\n K2\r\n1\r\n");
    c.Remote = false;
    const std::vector<std::string> lines = SplitCrLf(WriteSettings(c));
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(lines[11], "0");

    const SettingsFileContent back = ReadSettings(WriteSettings(Sample()));
    EXPECT_EQ(back.Names, Sample().Names);
    EXPECT_EQ(back.RemotePassword, "geheim");
    EXPECT_TRUE(back.Remote);
}

// Only a backslash separates, and a long folder name never costs the file name.
TEST(StripDirectoryTest, KeepsWhatFollowsTheLastBackslash)
{
    const std::pair<std::string, std::string> cases[] = {
        {"C:\\Programme\\Relais\\haus.dat", "haus.dat"},
        {"haus.dat", "haus.dat"},
        {"/home/anna/haus.dat", "/home/anna/haus.dat"},
        {"/home/anna\\x/haus.dat", "x/haus.dat"},
        {"dir\\", ""},
        {"", ""},
        {"C:\\" + std::string(150, 'b'), std::string(150, 'b')},
        {"C:\\" + std::string(100, 'd') + "\\name.dat", "name.dat"},
        {"C:\\" + std::string(98, 'd') + "\\name.dat", "name.dat"},
        {"C:\\" + std::string(300, 'd') + "\\" + std::string(120, 'n'), std::string(120, 'n')},
    };
    for (const auto& [path, name] : cases)
        EXPECT_EQ(StripDirectory(path), name) << path;
}

class SettingsFileTest : public ::testing::Test {
protected:
    QString In(const char* name) const { return work_.Path(name); }
    // Every test works in a directory of its own, which is also the current one.
    testing::WorkDir work_;
};

TEST_F(SettingsFileTest, SaveAndLoad)
{
    const std::string path = Path(In("swcf.ini"));
    SaveSettingsFile(Sample(), path);
    EXPECT_EQ(FileBytes(In("swcf.ini")), WriteSettings(Sample()));
    const SettingsFileContent back = LoadSettingsFile(path);
    EXPECT_EQ(back.ConfigFileName, "relays.dat");
    EXPECT_EQ(back.Names, Sample().Names);
    EXPECT_TRUE(back.Remote);
}

TEST_F(SettingsFileTest, DefaultNameIsInTheCurrentDirectory)
{
    SaveSettingsFile(Sample());
    EXPECT_TRUE(QFileInfo::exists(In("swcf.ini")));
    EXPECT_EQ(LoadSettingsFile().RemotePort, "26535");
}

TEST_F(SettingsFileTest, MissingFileReadsEmptyWithoutError)
{
    const SettingsFileContent c = LoadSettingsFile(Path(In("swcf.ini")));
    EXPECT_EQ(c.ConfigFileName, "");
    EXPECT_FALSE(c.Remote);
    EXPECT_FALSE(LoadSettingsFile(Path(work_.Path())).Remote);
}

// The file holds the remote password.
TEST_F(SettingsFileTest, CreatedForItsOwnerOnlyAndAnExistingOneKeepsItsMode)
{
    const std::string path = Path(In("swcf.ini"));
    SaveSettingsFile(Sample(), path);
    EXPECT_EQ(testing::FileMode(path), 0600u);
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    SaveSettingsFile(Sample(), path);
    EXPECT_EQ(testing::FileMode(path), 0644u);
}

TEST_F(SettingsFileTest, WriteProtectedFileGives103AndStaysUnchanged)
{
    const QString file = In("swcf.ini");
    PutFile(file, "old\r\n");
    ASSERT_TRUE(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::ReadOther));
    try {
        SaveSettingsFile(Sample(), Path(file));
        FAIL() << "the save succeeded";
    } catch (const IoError& e) {
        EXPECT_EQ(e.Code(), 103);
    }
    EXPECT_EQ(FileBytes(file), "old\r\n");
    EXPECT_THROW(SaveSettingsFile(Sample(), Path(In("missing/swcf.ini"))), IoError);
}

}  // namespace
}  // namespace tavoxa
