// Tells systemd how the program is doing (sd_notify): READY=1 once the port, the files and the
// servers are up, WATCHDOG=1 at every second tick from the second one on while a watchdog is
// asked for, STOPPING=1 when the program stops. Without systemd (no NOTIFY_SOCKET) every message
// goes nowhere and nothing changes.
//
// Threads: main thread only; the ticks come from the relay controller's SecondTicked.
#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <string>

namespace tavoxa {

class ServiceNotifier : public QObject {
    Q_OBJECT
public:
    // Sends one message to the service manager.
    using Send = std::function<void(const std::string& message)>;
    // `send` defaults to sd_notify; `watchdogUsec` to what systemd asked for (0: no watchdog).
    ServiceNotifier();
    ServiceNotifier(Send send, uint64_t watchdogUsec, QObject* parent = nullptr);

    // The start-up is done. Sent once.
    void Ready();
    // One second tick ran on time. The first one after Ready only arms the watchdog: a tick
    // proves the loop runs once a second only when a second one follows.
    void Tick();
    // The program stops: no watchdog from here on. Sent once.
    void Stopping();

    bool watchdogEnabled() const { return watchdogUsec_ > 0; }

private:
    Send send_;
    uint64_t watchdogUsec_ = 0;
    bool ready_ = false;
    bool stopping_ = false;
    int ticks_ = 0;
};

}  // namespace tavoxa
