// The configuration file on disk: missing files, atomic replace, write protection, the default
// name and the ".bak" copy of a file that failed to load.
#include "storage/configfile.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <csignal>

#include "storage/fileaccess.h"
#include "storage/ioerror.h"
#include "storagetestutil.h"
#include "testkit.h"

namespace tavoxa {
namespace {

using testing::FileBytes;
using testing::FilledSettings;
using testing::Path;
using testing::PutFile;
using testing::RandomSettings;
using testing::SameStoredSettings;

constexpr QFileDevice::Permissions kReadOnly =
    QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;

class ConfigFileTest : public ::testing::Test {
protected:
    QString In(const char* name) const { return work_.Path(name); }

    // The I/O code a save raises, 0 when none.
    int Save(const std::string& path, const Model& m)
    {
        try {
            SaveConfigurationFile(path, m, 2, 32, state_);
        } catch (const IoError& e) {
            return e.Code();
        }
        return 0;
    }

    // The I/O code a load raises, -1 when the file could not be opened, 0 when it loaded.
    int Load(const std::string& path)
    {
        ConfigTarget target(loaded_, com_, chip_);
        try {
            return LoadConfigurationFile(path, target, state_) ? 0 : -1;
        } catch (const IoError& e) {
            return e.Code();
        }
    }

    QStringList Entries() const
    {
        return QDir(work_.Path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    }

    // Every test works in a directory of its own, which is also the current one.
    testing::WorkDir work_;
    StorageState state_;
    Model loaded_ = FilledSettings(77, 7.0);
    int32_t com_ = 0;
    uint8_t chip_ = 0;
};

TEST_F(ConfigFileTest, SaveAndLoadRoundTrip)
{
    const Model original = RandomSettings(3);
    const std::string path = Path(In("relays.dat"));
    ASSERT_EQ(Save(path, original), 0);
    EXPECT_EQ(FileBytes(In("relays.dat")), WriteConfiguration(original, 2, 32));
    ASSERT_EQ(Load(path), 0);
    EXPECT_EQ(com_, 2);
    EXPECT_EQ(chip_, 32);
    EXPECT_EQ(WriteConfiguration(loaded_, 2, 32), WriteConfiguration(original, 2, 32));
    EXPECT_EQ(Entries(), QStringList{"relays.dat"});  // no temporary file left behind
}

TEST_F(ConfigFileTest, FileThatCannotBeOpenedReportsMissingAndChangesNothing)
{
    const Model before = loaded_;
    EXPECT_EQ(Load(Path(In("none.dat"))), -1);
    EXPECT_EQ(Load(""), -1);
    EXPECT_EQ(Load(Path(work_.Path())), -1);  // a directory is never read
    EXPECT_TRUE(SameStoredSettings(loaded_, before));
    EXPECT_TRUE(state_.PendingBackups.empty());
}

TEST_F(ConfigFileTest, UncreatableFileGives103)
{
    EXPECT_EQ(Save("", Model()), 103);
    EXPECT_EQ(Save(Path(In("no/such/dir/relays.dat")), Model()), 103);
    EXPECT_EQ(Save(Path(work_.Path()), Model()), 103);  // a directory is never replaced
    EXPECT_EQ(IoError(103).Message(), "E/A-Fehler 103");
}

// Protection is read from the permission bits (no write bit for anyone), because the
// superuser, who runs these tests in CI, may write any file whatever its bits say.
TEST_F(ConfigFileTest, WriteProtectedFileGives103AndStaysUnchanged)
{
    const QString file = In("locked.dat");
    PutFile(file, "old contents\r\n");
    ASSERT_TRUE(QFile::setPermissions(file, kReadOnly));
    EXPECT_TRUE(IsWriteProtected(Path(file)));
    EXPECT_EQ(Save(Path(file), RandomSettings(1)), 103);
    EXPECT_EQ(FileBytes(file), "old contents\r\n");
    EXPECT_FALSE(QFileInfo(file).permissions() &
                 (QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther));
    EXPECT_EQ(Entries(), QStringList{"locked.dat"});

    ASSERT_TRUE(QFile::setPermissions(file, kReadOnly | QFileDevice::WriteGroup));
    EXPECT_FALSE(IsWriteProtected(Path(file)));
    EXPECT_EQ(Save(Path(file), Model()), 0);
}

// A write that fails halfway (here: the file size limit) leaves the old file whole.
TEST_F(ConfigFileTest, FailedWriteLeavesTheOldFileWhole)
{
    const QString file = In("relays.dat");
    const std::string path = Path(file);
    ASSERT_EQ(Save(path, FilledSettings(1, 0.5)), 0);
    const std::string before = FileBytes(file);

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 1000;  // a configuration file is several kilobytes
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int code = Save(path, RandomSettings(9));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_NE(code, 0);
    EXPECT_NE(code, 103);  // the file could be created; the write itself failed
    EXPECT_EQ(FileBytes(file), before);
    EXPECT_EQ(Entries(), QStringList{"relays.dat"});
}

TEST_F(ConfigFileTest, SaveThroughASymbolicLinkReplacesItsTarget)
{
    const QString target = In("real.dat");
    PutFile(target, "old\r\n");
    ASSERT_TRUE(QFile::link(target, In("link.dat")));
    ASSERT_EQ(Save(Path(In("link.dat")), FilledSettings(4, 0.5)), 0);
    EXPECT_TRUE(QFileInfo(In("link.dat")).isSymLink());
    EXPECT_EQ(FileBytes(target), WriteConfiguration(FilledSettings(4, 0.5), 2, 32));
}

TEST_F(ConfigFileTest, DefaultNameIsWrittenAndLoadedInTheCurrentDirectory)
{
    const std::string name = EffectiveConfigName("");
    EXPECT_EQ(Load(name), -1);  // first start: defaults
    ASSERT_EQ(Save(name, FilledSettings(6, 0.5)), 0);
    EXPECT_TRUE(QFileInfo::exists(In("tavoxa.dat")));
    ASSERT_EQ(Load(name), 0);  // next start
    EXPECT_TRUE(SameStoredSettings(loaded_, FilledSettings(6, 0.5)));
}

TEST_F(ConfigFileTest, FileThatFailedToLoadIsKeptOnceAsBak)
{
    const QString file = In("relays.dat");
    const std::string path = Path(file);
    const std::string broken = "1\r\n32\r\nToggle\r\n";
    PutFile(file, broken);
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);  // the copy must be as private
    EXPECT_EQ(Load(path), 106);
    EXPECT_EQ(state_.PendingBackups.count(AbsoluteFilePath(path)), 1u);

    // Saving another file first keeps the promise for this one.
    ASSERT_EQ(Save(Path(In("other.dat")), Model()), 0);
    EXPECT_FALSE(QFileInfo::exists(In("other.dat.bak")));
    EXPECT_EQ(FileBytes(file), broken);

    ASSERT_EQ(Save(path, FilledSettings(1, 0.5)), 0);
    EXPECT_EQ(FileBytes(In("relays.dat.bak")), broken);
    EXPECT_EQ(FileMode(Path(In("relays.dat.bak"))), std::optional<mode_t>(0600));
    EXPECT_EQ(FileBytes(file), WriteConfiguration(FilledSettings(1, 0.5), 2, 32));
    EXPECT_TRUE(state_.PendingBackups.empty());

    // Later saves replace the file only; the copy keeps the broken original.
    ASSERT_EQ(Save(path, FilledSettings(2, 0.5)), 0);
    EXPECT_EQ(FileBytes(In("relays.dat.bak")), broken);
    EXPECT_EQ(FileBytes(file), WriteConfiguration(FilledSettings(2, 0.5), 2, 32));
}

// Only what a cut-off save leaves (the name, ".tmp" and up to six digits) is removed.
TEST_F(ConfigFileTest, StaleTemporariesOfASaveAreRemovedAndNothingElse)
{
    const std::pair<const char*, bool> files[] = {
        {"relays.dat.tmp123456", true},   {"relays.dat.tmp7", true},  {"relays.dat.tmpx", false},
        {"relays.dat.tmp1234567", false}, {"other.dat.tmp12", false}, {"relays.dat", false},
    };
    for (const auto& [name, stale] : files)
        PutFile(In(name), "x");
    EXPECT_EQ(RemoveStaleTemporaries({Path(In("relays.dat"))}).size(), 2u);
    for (const auto& [name, stale] : files)
        EXPECT_NE(QFileInfo::exists(In(name)), stale) << name;
}

TEST_F(ConfigFileTest, NoBakForAFileThatLoadedOrWasRepaired)
{
    const std::string path = Path(In("relays.dat"));
    ASSERT_EQ(Save(path, Model()), 0);
    ASSERT_EQ(Load(path), 0);
    ASSERT_EQ(Save(path, Model()), 0);
    EXPECT_FALSE(QFileInfo::exists(In("relays.dat.bak")));

    PutFile(In("relays.dat"), "x\r\n");
    EXPECT_EQ(Load(path), 106);
    PutFile(In("relays.dat"), WriteConfiguration(Model(), 1, 32));  // repaired and loaded again
    EXPECT_EQ(Load(path), 0);
    ASSERT_EQ(Save(path, Model()), 0);
    EXPECT_FALSE(QFileInfo::exists(In("relays.dat.bak")));
}

TEST_F(ConfigFileTest, SaveIsRefusedWhenTheBakCannotBeWritten)
{
    const QString file = In("relays.dat");
    PutFile(file, "broken\r\n");
    EXPECT_EQ(Load(Path(file)), 106);
    ASSERT_TRUE(QDir(work_.Path()).mkdir("relays.dat.bak"));  // in the way of the copy
    EXPECT_EQ(Save(Path(file), Model()), 103);
    EXPECT_EQ(FileBytes(file), "broken\r\n");
    EXPECT_EQ(state_.PendingBackups.size(), 1u);

    ASSERT_TRUE(QDir(work_.Path()).rmdir("relays.dat.bak"));
    EXPECT_EQ(Save(Path(file), Model()), 0);
    EXPECT_EQ(FileBytes(In("relays.dat.bak")), "broken\r\n");
}

// A name from swcf.ini written on an older machine (Latin-1 "Ärger.dat") must name its own
// file for load, save and backup; this one also ends early, so it is reported and kept.
TEST_F(ConfigFileTest, NameThatIsNotUtf8NamesItsFileForLoadSaveAndBak)
{
    const std::string folder = Path(work_.Path());
    const std::string path = folder + "/\xC4rger.dat";
    const std::string cut = "3\r\n56\r\n1\r\n";
    testing::PutRawFile(path, cut);

    ConfigTarget target(loaded_, com_, chip_);
    ASSERT_TRUE(LoadConfigurationFile(path, target, state_));
    EXPECT_EQ(target.ValuesRead, 3);
    EXPECT_EQ(ShortFileMessage(target.ValuesRead), "ends after 3 of 314 values");
    EXPECT_EQ(com_, 3);
    EXPECT_EQ(loaded_.RelayMode(0), 1);

    ASSERT_EQ(Save(path, FilledSettings(2, 0.5)), 0);
    EXPECT_EQ(testing::RawFileBytes(path + ".bak"), cut);
    EXPECT_EQ(testing::RawFileBytes(path), WriteConfiguration(FilledSettings(2, 0.5), 2, 32));
    EXPECT_EQ(testing::RawEntries(folder), (std::vector<std::string>{"\xC4rger.dat", "\xC4rger.dat.bak"}));

    ASSERT_TRUE(LoadConfigurationFile(path, target, state_));
    EXPECT_EQ(target.ValuesRead, kConfigLineCount);
    EXPECT_TRUE(state_.PendingBackups.empty());
}

// A service user owning its file in a folder it may not write: the save goes into the file
// itself; a file that does not exist yet still cannot be made there.
TEST_F(ConfigFileTest, SaveWritesInPlaceWhereTheFolderAllowsNoNewFile)
{
    const std::string folder = Path(In("readonly"));
    const std::string path = folder + "/relays.dat";
    ASSERT_TRUE(QDir(work_.Path()).mkdir("readonly"));
    testing::PutRawFile(path, "old\r\n");
    ASSERT_EQ(::chmod(Path(work_.Path()).c_str(), 0755), 0);
    ASSERT_TRUE(testing::GiveToTestUser(path));
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);

    const Model settings = FilledSettings(3, 0.25);
    std::string why;
    const int result = testing::AsUnprivilegedUser(
        [&]() {
            StorageState state;
            try {
                SaveConfigurationFile(path, settings, 2, 32, state);
            } catch (const IoError&) {
                return 1;
            }
            try {
                SaveConfigurationFile(folder + "/new.dat", settings, 2, 32, state);
            } catch (const IoError& e) {
                return e.Code() == 103 ? 0 : 2;
            }
            return 3;
        },
        &why);
    ::chmod(folder.c_str(), 0755);
    if (result < 0)
        GTEST_SKIP() << why;
    EXPECT_EQ(result, 0);
    EXPECT_EQ(testing::RawFileBytes(path), WriteConfiguration(settings, 2, 32));
    EXPECT_EQ(testing::RawEntries(folder), std::vector<std::string>{"relays.dat"});
}

TEST(FileAccessTest, FullDeviceGives101)
{
    QFile full("/dev/full");
    if (!full.exists() || !full.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        GTEST_SKIP() << "no /dev/full";
    try {
        WriteAll(full, std::string(4096, 'x'));
        FAIL() << "the write succeeded";
    } catch (const IoError& e) {
        EXPECT_EQ(e.Code(), 101);
        EXPECT_EQ(e.Message(), "Zu wenig Speicherplatz");
    }
}

TEST(FileAccessTest, PlatformErrorCodes)
{
    EXPECT_EQ(PlatformErrorCode(QFileDevice::ResourceError, true), 101);
    EXPECT_EQ(PlatformErrorCode(QFileDevice::PermissionsError, false), 5);
    EXPECT_EQ(PlatformErrorCode(QFileDevice::RenameError, true), 5);
    EXPECT_EQ(PlatformErrorCode(QFileDevice::WriteError, true), 29);
    EXPECT_EQ(PlatformErrorCode(QFileDevice::ReadError, false), 30);
}

}  // namespace
}  // namespace tavoxa
