// One program per folder: the lock held, a lock left by a crash taken over, and the runtime
// folder used where the folder itself cannot hold a lock file.
#include "storage/instancelock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSysInfo>
#include <QTemporaryDir>

#include "storagetestutil.h"

namespace tavoxa {
namespace {

class InstanceLockTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    QTemporaryDir dir_;
};

TEST_F(InstanceLockTest, SecondProgramInTheSameFolderIsTurnedAway)
{
    QString message;
    auto first = std::make_unique<InstanceLock>();
    ASSERT_EQ(first->Acquire(dir_.path(), &message), LockResult::Locked) << message.toStdString();
    EXPECT_EQ(first->LockFilePath(), dir_.filePath(kInstanceLockName));

    InstanceLock second;
    EXPECT_EQ(second.Acquire(dir_.path(), &message), LockResult::HeldByOther);
    EXPECT_TRUE(message.contains(QString::number(QCoreApplication::applicationPid())))
        << message.toStdString();

    first.reset();  // the first program ends
    EXPECT_EQ(second.Acquire(dir_.path(), &message), LockResult::Locked);
}

TEST_F(InstanceLockTest, FolderThatCannotBeWrittenLocksInTheRuntimeFolder)
{
    const std::string top = testing::Path(dir_.path());
    const std::string folder = top + "/readonly";
    const std::string runtime = top + "/runtime";
    ASSERT_EQ(::chmod(top.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(folder.c_str(), 0555), 0);
    ASSERT_EQ(::mkdir(runtime.c_str(), 0700), 0);
    ASSERT_TRUE(testing::GiveToTestUser(runtime));
    const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");

    std::string why;
    const int result = testing::AsUnprivilegedUser(
        [&]() {
            qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime));
            const QString name = QString::fromStdString(folder);
            InstanceLock first, second;
            QString message;
            if (first.Acquire(name, &message) != LockResult::Locked)
                return 1;
            if (first.LockFilePath() != InstanceLock::RuntimeLockPath(name) ||
                !first.LockFilePath().startsWith(QString::fromStdString(runtime) + "/"))
                return 2;
            if (second.Acquire(name, &message) != LockResult::HeldByOther)
                return 3;
            return 0;
        },
        &why);
    qputenv("XDG_RUNTIME_DIR", savedRuntime);
    if (savedRuntime.isNull())
        qunsetenv("XDG_RUNTIME_DIR");
    ::chmod(folder.c_str(), 0755);
    if (result < 0)
        GTEST_SKIP() << why;
    EXPECT_EQ(result, 0);
    EXPECT_EQ(testing::RawEntries(folder), std::vector<std::string>{});
}

// A lock file found in the folder: taken over unless a living program on this host may hold it;
// one from another host is left for the user, with the host and the file named.
TEST_F(InstanceLockTest, LeftOverLockFilesAreTakenOverOnlyWhenNobodyCanHoldThem)
{
    const QString host = QSysInfo::machineHostName();
    const struct {
        const char* name;
        QByteArray contents;
        bool old;  // written long ago (else just now)
        LockResult result;
        QString said;
    } cases[] = {
        {"empty, from a power cut", "", true, LockResult::Locked, "taken over"},
        {"garbled", "\xff\xfe\n", true, LockResult::Locked, "taken over"},
        {"a process that is gone, as a crash leaves it", "999999999\ntavoxa\n" + host.toUtf8() + "\n", false,
         LockResult::Locked, "taken over"},
        {"another host", "1\ntavoxa\nother-board\n", true, LockResult::HeldByOther, "other-board"},
        {"empty, being written now", "", false, LockResult::HeldByOther, "just starting"},
    };
    const QString path = dir_.filePath(kInstanceLockName);
    for (const auto& c : cases) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(c.contents);
        file.flush();
        if (c.old) {
            ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(-60),
                                         QFileDevice::FileModificationTime));
        }
        file.close();
        InstanceLock lock;
        QString message;
        EXPECT_EQ(lock.Acquire(dir_.path(), &message), c.result) << c.name << ": " << message.toStdString();
        EXPECT_TRUE(message.contains(c.said)) << c.name << ": " << message.toStdString();
        if (c.result == LockResult::HeldByOther) {
            EXPECT_TRUE(message.contains(path)) << c.name << ": the file to remove is named";
        }
    }
}

}  // namespace
}  // namespace tavoxa
