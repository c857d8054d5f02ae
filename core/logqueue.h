// LogQueue: where the program's log lines go on their way to standard error and the --log file.
//
// A writer thread does the writing, so no line ever makes the main thread wait: a standard error
// that nobody reads, a slow disk or a full pipe hold up only the writer. The queue is bounded;
// a line that finds it full is dropped and counted, and the count is written once there is room.
//
// Standard error that is the journal (JOURNAL_STREAM names it) gets each line as "<N>text", N the
// priority, and without the program's own time stamp (the journal keeps its own). The log file
// gets every line with its time. A log file that log rotation has moved away or removed is
// opened again by its name before the next line, so rotation needs no signal.
//
// Threads: Push, OpenFile, Reopen and Flush from any thread (the main thread in practice); the
// writing on the queue's own thread.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>

namespace tavoxa {

enum class LogPriority { Error = 3, Warning = 4, Info = 6 };

// Lines waiting at most; more are dropped.
constexpr int kMaxQueuedLogLines = 2000;

class LogQueue {
public:
    // `stderrFd`: where standard error lines go (a test gives a pipe); `journal`: whether that is
    // the journal.
    LogQueue(int stderrFd, bool journal);
    // Writes what is queued, waiting at most 0.5 s for a writer that is stuck, then leaves it.
    ~LogQueue();
    LogQueue(const LogQueue&) = delete;
    LogQueue& operator=(const LogQueue&) = delete;

    // Whether file descriptor `fd` is the stream JOURNAL_STREAM ("device:inode") names.
    static bool IsJournalStream(int fd);

    // Appends every later line to `path` as well, creating it. Only a regular file is taken (a
    // FIFO would hold the start, a device is no log): false with the reason otherwise.
    bool OpenFile(const QString& path, QString* error);
    // Opens the log file again by its name before the next line (SIGHUP from log rotation).
    void Reopen();

    // Queues one line; never waits. `stamp` (may be empty) is the time text put in front of
    // `text` in the file, and on standard error unless that is the journal; `toFile` false keeps
    // the line on standard error only.
    void Push(LogPriority priority, const QString& stamp, const QString& text, bool toFile = true);

    // Waits until everything queued so far is written; false after `timeoutMs`.
    bool Flush(int timeoutMs);
    // Lines dropped since the start.
    uint64_t Dropped() const;
    bool Journal() const { return journal_; }

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
    bool journal_;
};

// Qt's own messages (warnings of its platform plugins, ...) into `queue` with their priority;
// null puts Qt's own handler back. The one process-wide hook, since Qt takes a plain function.
void RouteQtMessages(LogQueue* queue);

}  // namespace tavoxa
