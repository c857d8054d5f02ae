#include "storage/instancelock.h"

#include <signal.h>
#include <sys/stat.h>

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>
#include <QSysInfo>
#include <QUrl>
#include <cerrno>

namespace tavoxa {
namespace {

QString AbsoluteFolder(const QString& folder)
{
    return QDir::cleanPath(QDir(folder).absolutePath());
}

struct Attempt {
    std::unique_ptr<QLockFile> lock;
    QLockFile::LockError error = QLockFile::NoError;
};

enum class Leftover { None, Cleared, OtherHost, BeingWritten };

// A lock file already there that no program holds any more: one naming a process that has
// ended on this host, or one that cannot be read (a power cut while it was being written) is
// removed. One from another host (a folder shared over the network) is left for the user, who
// alone can tell whether that program still runs; *host names it.
Leftover ClearLeftoverLock(const QString& path, QString* host)
{
    QFile file(path);
    if (!file.exists())
        return Leftover::None;
    const QStringList lines = file.open(QIODevice::ReadOnly)
                                  ? QString::fromUtf8(file.read(4096)).split(QLatin1Char('\n'))
                                  : QStringList();
    bool pidOk = false;
    const qint64 pid = lines.value(0).toLongLong(&pidOk);
    const QString lockHost = lines.value(2).trimmed();
    if (pidOk && pid > 0) {
        if (!lockHost.isEmpty() && lockHost != QSysInfo::machineHostName()) {
            *host = lockHost;
            return Leftover::OtherHost;
        }
        if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM)
            return Leftover::None;  // alive: QLockFile says who holds it
    } else {
        // Unreadable or empty: a program starting this very moment may still be writing it.
        const QDateTime changed = QFileInfo(path).lastModified();
        if (changed.isValid() && qAbs(changed.msecsTo(QDateTime::currentDateTime())) < 2000)
            return Leftover::BeingWritten;
    }
    return QFile::remove(path) ? Leftover::Cleared : Leftover::None;
}

Attempt TryLock(const QString& path)
{
    Attempt a{std::make_unique<QLockFile>(path)};
    // Never stale by age: the program runs for months. A lock whose process has ended is still
    // taken over, since QLockFile checks the recorded process id.
    a.lock->setStaleLockTime(0);
    if (!a.lock->tryLock(0)) {
        a.error = a.lock->error();
        if (a.error == QLockFile::NoError)
            a.error = QLockFile::UnknownError;
    }
    return a;
}

QString HolderText(const QLockFile& lock)
{
    qint64 pid = 0;
    QString host, app;
    if (!lock.getLockInfo(&pid, &host, &app) || pid <= 0)
        return QStringLiteral("another program");
    QString text = QStringLiteral("another program (process %1").arg(pid);
    if (!host.isEmpty())
        text += QStringLiteral(" on %1").arg(host);
    return text + QLatin1Char(')');
}

}  // namespace

InstanceLock::InstanceLock() = default;
InstanceLock::~InstanceLock() = default;

QString InstanceLock::RuntimeLockPath(const QString& folder)
{
    QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty())
        runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty())
        runtime = QStringLiteral("/tmp");
    // The folder's path, escaped into one file name; a path too long for a name is hashed.
    const QString absolute = AbsoluteFolder(folder);
    QString name = QString::fromLatin1(QUrl::toPercentEncoding(absolute));
    if (name.size() > 200)
        name = QString::fromLatin1(
            QCryptographicHash::hash(absolute.toUtf8(), QCryptographicHash::Sha1).toHex());
    return runtime + QStringLiteral("/tavoxa-") + name + QStringLiteral(".lock");
}

QString InstanceLock::LockFilePath() const
{
    return lock_ ? lock_->fileName() : QString();
}

LockResult InstanceLock::Acquire(const QString& folder, QString* message)
{
    QString ignored;
    QString& text = message ? *message : ignored;
    text.clear();
    lock_.reset();
    const QString absolute = AbsoluteFolder(folder);

    const QString localPath = absolute + QLatin1Char('/') + QLatin1String(kInstanceLockName);
    QString otherHost;
    switch (ClearLeftoverLock(localPath, &otherHost)) {
        case Leftover::OtherHost:
            text =
                QStringLiteral(
                    "The lock file %1 was left by a program on the host %2. If no program on %2 works with "
                    "the files in %3 any more, remove %1 and start again.")
                    .arg(localPath, otherHost, absolute);
            return LockResult::HeldByOther;
        case Leftover::BeingWritten:
            text = QStringLiteral("another program is just starting with the files in %1 (lock file %2).")
                       .arg(absolute, localPath);
            return LockResult::HeldByOther;
        case Leftover::Cleared:
            text =
                QStringLiteral("A lock file %1 that no running program held was taken over.").arg(localPath);
            break;
        case Leftover::None:
            break;
    }
    Attempt local = TryLock(localPath);
    if (local.error == QLockFile::NoError) {
        lock_ = std::move(local.lock);
        return LockResult::Locked;
    }
    text.clear();
    if (local.error == QLockFile::LockFailedError) {
        text = QStringLiteral("%1 already works with the files in %2 (lock file %3).")
                   .arg(HolderText(*local.lock), absolute, local.lock->fileName());
        return LockResult::HeldByOther;
    }

    // No file can be created in the folder: the lock goes to the user's runtime folder, where
    // every program started in this folder by this user finds it.
    const QString runtimePath = RuntimeLockPath(absolute);
    if (ClearLeftoverLock(runtimePath, &otherHost) == Leftover::BeingWritten) {
        text = QStringLiteral("another program is just starting with the files in %1 (lock file %2).")
                   .arg(absolute, runtimePath);
        return LockResult::HeldByOther;
    }
    Attempt runtime = TryLock(runtimePath);
    if (runtime.error == QLockFile::NoError) {
        lock_ = std::move(runtime.lock);
        text = QStringLiteral("No lock file can be created in %1; the lock is kept in %2.")
                   .arg(absolute, runtimePath);
        return LockResult::Locked;
    }
    if (runtime.error == QLockFile::LockFailedError) {
        text = QStringLiteral("%1 already works with the files in %2 (lock file %3).")
                   .arg(HolderText(*runtime.lock), absolute, runtimePath);
        return LockResult::HeldByOther;
    }
    text = QStringLiteral(
               "No lock file can be created in %1 nor in %2: a second program started in this folder "
               "would not be noticed.")
               .arg(absolute, runtimePath);
    return LockResult::Unavailable;
}

}  // namespace tavoxa
