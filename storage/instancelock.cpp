#include "storage/instancelock.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLockFile>
#include <QStandardPaths>
#include <QUrl>

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

    Attempt local = TryLock(absolute + QLatin1Char('/') + QLatin1String(kInstanceLockName));
    if (local.error == QLockFile::NoError) {
        lock_ = std::move(local.lock);
        return LockResult::Locked;
    }
    if (local.error == QLockFile::LockFailedError) {
        text = QStringLiteral("%1 already works with the files in %2 (lock file %3).")
                   .arg(HolderText(*local.lock), absolute, local.lock->fileName());
        return LockResult::HeldByOther;
    }

    // No file can be created in the folder: the lock goes to the user's runtime folder, where
    // every program started in this folder by this user finds it.
    const QString runtimePath = RuntimeLockPath(absolute);
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
