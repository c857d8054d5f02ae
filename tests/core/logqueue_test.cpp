// The log queue: priorities for the journal, a file that log rotation moved away, and a standard
// error that nobody reads, which costs dropped lines but never a wait.
#include "core/logqueue.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>
#include <string>

#include "tests/storage/storagetestutil.h"

namespace tavoxa {
namespace {

using testing::FileBytes;

// A pipe standing in for standard error; the test reads (or does not read) its other end.
struct Pipe {
    Pipe() { EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0); }
    ~Pipe()
    {
        ::close(fds[0]);
        ::close(fds[1]);
    }
    // Everything written so far (the read end made non-blocking).
    std::string Drain()
    {
        ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
        std::string text;
        char buffer[4096];
        for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
            text.append(buffer, static_cast<size_t>(n));
        return text;
    }
    int fds[2] = {-1, -1};
};

TEST(LogQueue, JournalLinesCarryTheirPriorityAndNoTimeTheFileKeepsTheTime)
{
    Pipe err;
    struct stat info {};
    ASSERT_EQ(::fstat(err.fds[1], &info), 0);
    const QByteArray saved = qgetenv("JOURNAL_STREAM");
    qputenv("JOURNAL_STREAM", QByteArray::number(static_cast<qulonglong>(info.st_dev)) + ':' +
                                  QByteArray::number(static_cast<qulonglong>(info.st_ino)));
    const bool journal = LogQueue::IsJournalStream(err.fds[1]);
    const bool otherIsJournal = LogQueue::IsJournalStream(Pipe().fds[1]);
    saved.isNull() ? qunsetenv("JOURNAL_STREAM") : qputenv("JOURNAL_STREAM", saved);
    ASSERT_TRUE(journal);
    EXPECT_FALSE(otherIsJournal) << "only the stream JOURNAL_STREAM names is the journal";

    QTemporaryDir dir;
    const QString path = dir.filePath("tavoxa.log");
    {
        LogQueue log(err.fds[1], journal);
        ASSERT_TRUE(log.OpenFile(path, nullptr));
        log.Push(LogPriority::Error, "2026-01-02 03:04:05", "failed");
        log.Push(LogPriority::Warning, "2026-01-02 03:04:05", "two\nlines");
        log.Push(LogPriority::Info, "2026-01-02 03:04:06", "relay 1 on", false);
        ASSERT_TRUE(log.Flush(5000));
    }
    EXPECT_EQ(err.Drain(), "<3>failed\n<4>two\n<4>lines\n<6>relay 1 on\n");
    EXPECT_EQ(FileBytes(path), "2026-01-02 03:04:05 failed\n2026-01-02 03:04:05 two\nlines\n");
}

TEST(LogQueue, AFileMovedAwayIsOpenedAgainByItsNameAndOnlyARegularFileIsTaken)
{
    Pipe err;
    QTemporaryDir dir;
    const QString path = dir.filePath("tavoxa.log");
    LogQueue log(err.fds[1], false);
    ASSERT_TRUE(log.OpenFile(path, nullptr));
    log.Push(LogPriority::Info, "t1", "before");
    ASSERT_TRUE(log.Flush(5000));
    ASSERT_TRUE(QFile::rename(path, path + ".1"));  // what log rotation does
    log.Push(LogPriority::Info, "t2", "after");
    ASSERT_TRUE(log.Flush(5000));
    EXPECT_EQ(FileBytes(path + ".1"), "t1 before\n");
    EXPECT_EQ(FileBytes(path), "t2 after\n");

    const QString fifo = dir.filePath("fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const QString& other : {fifo, dir.path()}) {
        QString why;
        EXPECT_FALSE(log.OpenFile(other, &why)) << other.toStdString();  // and returns at once
        EXPECT_EQ(why, "not a regular file");
    }
}

TEST(LogQueue, AStandardErrorNobodyReadsCostsCountedLinesNeverAWait)
{
    Pipe err;
    ::fcntl(err.fds[1], F_SETFL, O_NONBLOCK);
    const std::string filler(1 << 20, 'x');
    while (::write(err.fds[1], filler.data(), filler.size()) > 0) {
    }
    while (::write(err.fds[1], "x", 1) > 0) {  // to the last byte
    }
    ::fcntl(err.fds[1], F_SETFL, 0);  // full, and the writer will block on it
    LogQueue log(err.fds[1], false);
    // The writer takes one batch and blocks on it; from the moment the queue is full every line
    // is dropped, and Push returns all the same.
    int pushed = 0;
    while (log.Dropped() == 0 && pushed < 4 * kMaxQueuedLogLines)
        log.Push(LogPriority::Info, "t", QStringLiteral("line %1").arg(pushed++));
    ASSERT_EQ(log.Dropped(), 1u);
    for (int i = 0; i < 25; ++i)
        log.Push(LogPriority::Info, "t", QStringLiteral("more"));
    EXPECT_EQ(log.Dropped(), 26u);
    EXPECT_FALSE(log.Flush(0));

    // Once there is room, the count is written: every dropped line is accounted for.
    std::string got;
    uint64_t reported = 0;
    const std::string note = " log lines dropped";
    for (int round = 0; round < 1000 && reported < log.Dropped(); ++round) {
        got += err.Drain();
        log.Flush(10);
        reported = 0;
        for (size_t at = got.find(note); at != std::string::npos; at = got.find(note, at + 1)) {
            const size_t start = got.find_last_not_of("0123456789", at - 1) + 1;
            reported += std::stoull(got.substr(start, at - start));
        }
    }
    EXPECT_EQ(reported, log.Dropped());
}

}  // namespace
}  // namespace tavoxa
