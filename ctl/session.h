// One run of tavoxa-ctl: connect, log in where the command needs it, talk, print, exit code.
//
// Lives on the thread that calls Run(). Every wait spins a local event loop until the answer
// has come or the time is up, so the client never sleeps blindly, and a server in the same
// thread (the tests) goes on serving while the client waits.
//
// Which form of the protocol the server speaks is found out at the login, the one step whose
// failure an older server answers harmlessly: "Pass:pw\n" logs in on a server that reads line
// ends, while one that compares whole reads answers "nolegal" (without a line end), and then
// the bare "Pass:pw" is sent. Before a login nothing line-ended is ever sent: to an older
// server already logged in by someone, "repeat\n" would be a switching command (all relays
// off), so the commands that only read use the bare "repeat", which every server answers.
#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QObject>
#include <QTcpSocket>
#include <functional>
#include <optional>

#include "ctl/answers.h"
#include "ctl/options.h"

class QEventLoop;
class QIODevice;

namespace tavoxa {

// The readback after switching waits for the server's next second tick to have run the
// engines, which may switch a relay back.
constexpr int kReadbackDelayMs = 1100;
constexpr int kWatchIntervalMs = 500;
// How long a bare answer that is only digits may still grow: a server without line ends
// gives no other sign of where the number ends.
constexpr int kNumberSettleMs = 50;

class CtlSession : public QObject {
    Q_OBJECT

public:
    // `out` gets the results, `err` the messages; both must stay open during Run().
    CtlSession(CtlRequest request, QIODevice& out, QIODevice& err, QObject* parent = nullptr);

    // Carries out the request; returns the exit code (CtlExit).
    int Run();
    // Ends a watch, which then returns ExitDone; safe to call from a slot while Run() waits.
    void Stop();

    // The server understood the line-ended login (known after a login only).
    bool SpeaksLineEnds() const { return lineEnds_; }
    void SetReadbackDelay(int ms) { readbackDelayMs_ = ms; }
    void SetWatchInterval(int ms) { watchIntervalMs_ = ms; }

private:
    struct Failure {
        int code;
        QString message;
    };

    void Connect();
    void Login();
    uint8_t Query();
    void Send(const QByteArray& message);
    Answer Await(const QString& what, bool lineEndRefuses = false);
    [[noreturn]] void LoginRefused();
    // Spins the event loop until `done` holds (true) or `deadline` passes (false). Throws
    // the watch's ending when Stop() was called.
    bool Spin(const QDeadlineTimer& deadline, const std::function<bool()>& done);
    bool Absorb();
    int Switch();
    int Watch();
    void Print(const QString& text);
    void PrintState(uint8_t byte);
    void Complain(const QString& message);

    CtlRequest request_;
    QIODevice& out_;
    QIODevice& err_;
    QTcpSocket socket_;
    AnswerStream answers_;
    bool lineEnds_ = false;
    bool stopRequested_ = false;
    QEventLoop* loop_ = nullptr;
    int readbackDelayMs_ = kReadbackDelayMs;
    int watchIntervalMs_ = kWatchIntervalMs;
};

// The texts printed for a relay byte: one line per relay and contact, a watch line naming
// what changed since `before` (everything when there is no `before`), and the JSON object.
QString StateLines(uint8_t byte);
QString ChangeLine(uint8_t byte, std::optional<uint8_t> before);
QByteArray StateJson(uint8_t byte, const QString& time = {});

}  // namespace tavoxa
