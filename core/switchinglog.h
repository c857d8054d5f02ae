// The switching log: one line for each change of a relay's state and for each change of the
// adapter's and the server's status, with the clock's date and time in front. Every line goes
// to standard error (a service's journal) and, when a log file is given, is appended to it.
//
// Threads: used on the main thread only.
#pragma once

#include <QFile>
#include <QObject>
#include <QString>
#include <functional>

#include "engine/clock.h"

namespace tavoxa {

// "2026-12-08 06:30:00": the clock reading as the log shows it.
QString LogTimeText(const LocalDateTime& t);

class SwitchingLog : public QObject {
    Q_OBJECT
public:
    // Where the lines go besides the file; standard error unless a test replaces it.
    using Sink = std::function<void(const QByteArray& line)>;

    explicit SwitchingLog(const Clock& clock);
    void SetSink(Sink sink) { sink_ = std::move(sink); }

    // Appends every later line to `path` as well, creating the file. False with the reason when
    // it cannot be opened.
    bool OpenFile(const QString& path, QString* error);

    // One line, stamped with the clock's time now.
    void Write(const QString& text);
    // One line stamped with `t` (a second tick stamps its lines with its own second).
    void WriteAt(const LocalDateTime& t, const QString& text);

signals:
    // Every line as written, without its line end (the web page's live log).
    void LineWritten(const QString& line);

private:
    const Clock& clock_;
    Sink sink_;
    QFile file_;
    // A file that fails is reported once and then left alone: switching never waits for it.
    bool fileFailed_ = false;
};

}  // namespace tavoxa
