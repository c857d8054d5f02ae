// One program per folder: the lock that keeps a second program from working on the same files.
//
// Two programs started in the same folder would each write both files at close, and the one
// closing last would silently undo the other's changes. The lock is a QLockFile beside
// swcf.ini; it records the holder's process id and host, so a lock left by a program that
// crashed, or one that cannot be read (a power cut during a start), is taken over. A lock from
// another host is never taken: the message names the host and the file to remove. Used on the
// thread that starts the program.
#pragma once

#include <QString>
#include <memory>

class QLockFile;

namespace tavoxa {

inline constexpr char kInstanceLockName[] = "tavoxa.lock";

enum class LockResult {
    Locked,       // this program holds the lock (in the folder or, for a folder it cannot write,
                  // in the user's runtime folder)
    HeldByOther,  // a running program holds it: this one must not go on with the same files
    Unavailable,  // no lock could be taken anywhere: the program may go on, unguarded
};

class InstanceLock {
public:
    InstanceLock();
    ~InstanceLock();  // releases the lock
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Takes the lock for `folder` ("<folder>/tavoxa.lock"; where no file can be created in the
    // folder, RuntimeLockPath(folder)) and holds it until this object goes. `message` (may be
    // null) gets a plain English sentence for HeldByOther (naming the holder's process id) and
    // Unavailable (the reason), and for Locked when the lock went to the runtime folder or a
    // left-over lock was taken over; it is cleared otherwise.
    LockResult Acquire(const QString& folder, QString* message);

    // The lock file in use; empty while no lock is held.
    QString LockFilePath() const;

    // Where the lock of a folder that cannot be written goes: the user's runtime folder
    // (XDG_RUNTIME_DIR, else /tmp), in a file named after the folder's absolute path.
    static QString RuntimeLockPath(const QString& folder);

private:
    std::unique_ptr<QLockFile> lock_;
};

}  // namespace tavoxa
