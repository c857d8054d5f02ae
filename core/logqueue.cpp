#include "core/logqueue.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QFile>
#include <QtGlobal>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

namespace tavoxa {

namespace {

QString NowText()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString ErrnoText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// Writes all of `bytes`; false on an error (a signal interrupting it only repeats the write).
bool WriteAllTo(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// Opens `path` for appending without ever waiting on it, and only when it is a regular file.
// The descriptor, or -1 with the reason in *error.
int OpenRegular(const QString& path, QString* error)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat before {};
    if (::stat(name.constData(), &before) == 0 && !S_ISREG(before.st_mode)) {
        *error = QStringLiteral("not a regular file");
        return -1;
    }
    const int fd =
        ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    if (fd < 0) {
        *error = ErrnoText(errno);
        return -1;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        *error = QStringLiteral("not a regular file");
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

}  // namespace

struct LogQueue::Shared {
    struct Entry {
        QByteArray toStderr;
        QByteArray toFile;  // empty: standard error only
    };

    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable progress;
    std::deque<Entry> lines;
    uint64_t dropped = 0;
    uint64_t droppedWritten = 0;
    uint64_t pushed = 0;
    uint64_t written = 0;
    bool stop = false;
    bool finished = false;
    bool reopen = false;
    bool fileChanged = false;
    int newFileFd = -1;
    QString newFilePath;

    // The writer's own.
    int stderrFd = STDERR_FILENO;
    bool journal = false;
    int fileFd = -1;
    QString filePath;
    bool fileFailed = false;

    QByteArray StderrLine(LogPriority priority, const QString& stamp, const QString& text) const
    {
        if (journal) {
            const QString prefix = QStringLiteral("<%1>").arg(static_cast<int>(priority));
            QString body = text;
            body.replace(QLatin1Char('\n'), QLatin1Char('\n') + prefix);
            return (prefix + body + QLatin1Char('\n')).toUtf8();
        }
        return ((stamp.isEmpty() ? text : stamp + QLatin1Char(' ') + text) + QLatin1Char('\n')).toUtf8();
    }

    void Report(LogPriority priority, const QString& text)
    {
        WriteAllTo(stderrFd, StderrLine(priority, NowText(), text));
    }

    // The file under its name is another one, or gone: log rotation moved it away.
    bool FileMovedAway() const
    {
        struct stat open {
        }, named{};
        if (fileFd < 0 || ::fstat(fileFd, &open) != 0)
            return false;
        if (::stat(QFile::encodeName(filePath).constData(), &named) != 0)
            return true;
        return named.st_dev != open.st_dev || named.st_ino != open.st_ino;
    }

    void ReopenByName()
    {
        QString why;
        const int fd = OpenRegular(filePath, &why);
        if (fd < 0) {
            if (!fileFailed)
                Report(LogPriority::Error,
                       QStringLiteral("log file %1 cannot be opened again: %2; logging to "
                                      "standard error only")
                           .arg(filePath, why));
            fileFailed = true;
            return;
        }
        if (fileFd >= 0)
            ::close(fileFd);
        fileFd = fd;
        fileFailed = false;
    }

    void Run()
    {
        // A reader of standard error that goes away must not end the program: the write fails
        // instead.
        sigset_t pipeSignal;
        sigemptyset(&pipeSignal);
        sigaddset(&pipeSignal, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            wake.wait(lock, [this] { return stop || !lines.empty() || reopen || fileChanged; });
            std::deque<Entry> batch;
            batch.swap(lines);
            const uint64_t newlyDropped = dropped - droppedWritten;
            droppedWritten = dropped;
            const bool reopenNow = reopen;
            reopen = false;
            const bool changed = fileChanged;
            fileChanged = false;
            const int changedFd = newFileFd;
            const QString changedPath = newFilePath;
            newFileFd = -1;
            const bool stopping = stop;
            lock.unlock();

            if (changed) {
                if (fileFd >= 0)
                    ::close(fileFd);
                fileFd = changedFd;
                filePath = changedPath;
                fileFailed = false;
            }
            if (!filePath.isEmpty() && (reopenNow || FileMovedAway() || (fileFd < 0 && !fileFailed)))
                ReopenByName();
            if (newlyDropped > 0) {
                const QString text = QStringLiteral(
                                         "%1 log lines dropped: the log could not be written fast "
                                         "enough")
                                         .arg(newlyDropped);
                Entry note{StderrLine(LogPriority::Warning, NowText(), text),
                           (NowText() + QLatin1Char(' ') + text + QLatin1Char('\n')).toUtf8()};
                batch.push_front(std::move(note));
            }
            for (const Entry& entry : batch) {
                WriteAllTo(stderrFd, entry.toStderr);
                if (entry.toFile.isEmpty() || fileFd < 0 || fileFailed)
                    continue;
                if (!WriteAllTo(fileFd, entry.toFile)) {
                    fileFailed = true;
                    Report(LogPriority::Error,
                           QStringLiteral("log file %1 cannot be written: %2; logging to standard error only")
                               .arg(filePath, ErrnoText(errno)));
                }
            }

            lock.lock();
            written += batch.size() - (newlyDropped > 0 ? 1 : 0);
            progress.notify_all();
            if (stopping && lines.empty()) {
                finished = true;
                progress.notify_all();
                if (fileFd >= 0)
                    ::close(fileFd);
                return;
            }
        }
    }
};

LogQueue::LogQueue(int stderrFd, bool journal) : shared_(std::make_shared<Shared>()), journal_(journal)
{
    shared_->stderrFd = stderrFd;
    shared_->journal = journal;
    std::thread([shared = shared_] { shared->Run(); }).detach();
}

LogQueue::~LogQueue()
{
    std::unique_lock<std::mutex> lock(shared_->mutex);
    shared_->stop = true;
    shared_->wake.notify_all();
    // A writer stuck on a standard error nobody reads is left behind; it holds its own share of
    // the state, and the process ends around it.
    shared_->progress.wait_for(lock, std::chrono::milliseconds(500), [this] { return shared_->finished; });
}

bool LogQueue::IsJournalStream(int fd)
{
    const QByteArray value = qgetenv("JOURNAL_STREAM");
    const qsizetype colon = value.indexOf(':');
    if (colon <= 0)
        return false;
    bool devOk = false, inoOk = false;
    const qulonglong dev = value.left(colon).toULongLong(&devOk);
    const qulonglong ino = value.mid(colon + 1).toULongLong(&inoOk);
    struct stat info {};
    return devOk && inoOk && ::fstat(fd, &info) == 0 && static_cast<qulonglong>(info.st_dev) == dev &&
           static_cast<qulonglong>(info.st_ino) == ino;
}

bool LogQueue::OpenFile(const QString& path, QString* error)
{
    QString why;
    const int fd = OpenRegular(path, &why);
    if (fd < 0) {
        if (error)
            *error = why;
        return false;
    }
    std::lock_guard<std::mutex> lock(shared_->mutex);
    if (shared_->newFileFd >= 0)
        ::close(shared_->newFileFd);
    shared_->newFileFd = fd;
    shared_->newFilePath = path;
    shared_->fileChanged = true;
    shared_->wake.notify_all();
    return true;
}

void LogQueue::Reopen()
{
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->reopen = true;
    shared_->wake.notify_all();
}

void LogQueue::Push(LogPriority priority, const QString& stamp, const QString& text, bool toFile)
{
    Shared::Entry entry{
        shared_->StderrLine(priority, stamp, text),
        toFile ? ((stamp.isEmpty() ? text : stamp + QLatin1Char(' ') + text) + QLatin1Char('\n')).toUtf8()
               : QByteArray()};
    std::lock_guard<std::mutex> lock(shared_->mutex);
    if (shared_->lines.size() >= static_cast<size_t>(kMaxQueuedLogLines)) {
        ++shared_->dropped;
        return;
    }
    shared_->lines.push_back(std::move(entry));
    ++shared_->pushed;
    shared_->wake.notify_all();
}

bool LogQueue::Flush(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(shared_->mutex);
    const uint64_t target = shared_->pushed;
    return shared_->progress.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                      [this, target] { return shared_->written >= target; });
}

uint64_t LogQueue::Dropped() const
{
    std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->dropped;
}

namespace {

LogQueue* routedQueue = nullptr;
QtMessageHandler qtHandler = nullptr;

void QtMessageToQueue(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtFatalMsg || !routedQueue) {
        if (qtHandler)
            qtHandler(type, context, message);
        return;
    }
    const LogPriority priority = type == QtCriticalMsg  ? LogPriority::Error
                                 : type == QtWarningMsg ? LogPriority::Warning
                                                        : LogPriority::Info;
    routedQueue->Push(priority, QString(), message, false);
}

}  // namespace

void RouteQtMessages(LogQueue* queue)
{
    routedQueue = queue;
    if (queue) {
        const QtMessageHandler previous = qInstallMessageHandler(QtMessageToQueue);
        if (previous != QtMessageToQueue)
            qtHandler = previous;
    } else {
        qInstallMessageHandler(qtHandler);
    }
}

}  // namespace tavoxa
