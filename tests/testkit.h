// What the test programs share: finding a named child, waiting with the event loop turning, a
// working directory of the test's own, and the process's resident memory.
#pragma once

#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QObject>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <functional>

namespace tavoxa::testing {

constexpr int kWaitMs = 10000;

// The child of `parent` named `name`; a missing one fails the test.
template <typename T>
T* Find(const QObject* parent, const QString& name)
{
    T* child = parent->findChild<T*>(name);
    EXPECT_NE(child, nullptr) << "no " << name.toStdString();
    return child;
}

// Spins the event loop until `done` holds or the time is up; returns `done()`. The server, the
// ticks and deferred deletes all run on this thread, so a blocking wait would starve them.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = kWaitMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(1);
    }
    return true;
}

// The program reads and writes its files in the current directory: each test gets an empty
// one of its own, and the previous one back afterwards.
class WorkDir {
public:
    WorkDir() : saved_(QDir::currentPath())
    {
        EXPECT_TRUE(dir_.isValid() && QDir::setCurrent(dir_.path())) << dir_.path().toStdString();
    }
    ~WorkDir() { QDir::setCurrent(saved_); }
    WorkDir(const WorkDir&) = delete;
    WorkDir& operator=(const WorkDir&) = delete;
    QString Path(const QString& name = QString()) const
    {
        return name.isEmpty() ? dir_.path() : dir_.filePath(name);
    }

private:
    QTemporaryDir dir_;
    QString saved_;
};

// Resident memory of this process in bytes, after handing freed heap back to the system.
// AddressSanitizer keeps freed memory in quarantine, so there the figure says nothing.
// gcc announces the sanitizer with __SANITIZE_ADDRESS__, clang only through __has_feature.
#if defined(__SANITIZE_ADDRESS__)
#define TAVOXA_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TAVOXA_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(TAVOXA_ADDRESS_SANITIZER)
constexpr bool kResidentMeaningful = false;
#else
constexpr bool kResidentMeaningful = true;
#endif

inline long ResidentBytes()
{
    malloc_trim(0);
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

}  // namespace tavoxa::testing
