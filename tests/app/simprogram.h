// tavoxa-sim as a service starts it: no display, in a folder of the test's own. The program is
// another process, so waits read its pipes and sleep; no event loop is needed.
#pragma once

#include <QDeadlineTimer>
#include <QProcess>
#include <QStringList>
#include <chrono>
#include <csignal>
#include <functional>
#include <thread>

namespace tavoxa::testing {

// Sleeps until `done` holds or the time is up; returns `done()`.
inline bool PollUntil(const std::function<bool()>& done, int timeoutMs = 10000)
{
    for (const QDeadlineTimer deadline(timeoutMs); !done();
         std::this_thread::sleep_for(std::chrono::milliseconds(10)))
        if (deadline.hasExpired())
            return false;
    return true;
}

class SimProgram {
public:
    explicit SimProgram(const QString& folder)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        env.remove("INVOCATION_ID");  // as started from a terminal unless a test says otherwise
        env.remove("JOURNAL_STREAM");
        process_.setProcessEnvironment(env);
        process_.setWorkingDirectory(folder);
    }

    // An environment variable for the next Start.
    void SetEnv(const QString& name, const QString& value)
    {
        QProcessEnvironment env = process_.processEnvironment();
        env.insert(name, value);
        process_.setProcessEnvironment(env);
    }
    // Standard error into `path` (a FIFO that nobody reads, say) instead of the test's pipe.
    void SetStderrFile(const QString& path) { process_.setStandardErrorFile(path); }

    bool Start(const QStringList& args = {})
    {
        process_.start(TAVOXA_SIM_PROGRAM, args);
        return process_.waitForStarted(10000);
    }

    pid_t Pid() const { return static_cast<pid_t>(process_.processId()); }

    // Standard error and output so far.
    QString Err() { return err_ += QString::fromUtf8(process_.readAllStandardError()); }
    QString Out() { return out_ += QString::fromUtf8(process_.readAllStandardOutput()); }

    // Waits until standard error holds `text`; false when the program ends or 10 s pass first.
    bool WaitForErr(const QString& text)
    {
        const QDeadlineTimer deadline(10000);
        while (!Err().contains(text)) {
            if (deadline.hasExpired() || process_.state() == QProcess::NotRunning)
                return false;
            process_.waitForReadyRead(20);
        }
        return true;
    }

    // The exit code once the program has ended by itself (after `signal` when given); -1 when it
    // crashed or was still running after 10 s (it is then killed).
    int Finish(int signal = 0)
    {
        if (signal != 0)
            ::kill(static_cast<pid_t>(process_.processId()), signal);
        if (!process_.waitForFinished(10000)) {
            process_.kill();
            process_.waitForFinished();
            return -1;
        }
        Err();
        Out();
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }

private:
    QProcess process_;
    QString err_;
    QString out_;
};

}  // namespace tavoxa::testing
