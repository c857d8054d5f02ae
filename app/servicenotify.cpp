#include "app/servicenotify.h"

#include <systemd/sd-daemon.h>

#include <utility>

namespace tavoxa {

namespace {

void SdNotify(const std::string& message)
{
    // unset_environment 0: children started later (none today) would see the socket too.
    sd_notify(0, message.c_str());
}

uint64_t WatchdogUsecFromEnvironment()
{
    uint64_t usec = 0;
    return sd_watchdog_enabled(0, &usec) > 0 ? usec : 0;
}

}  // namespace

ServiceNotifier::ServiceNotifier() : ServiceNotifier(SdNotify, WatchdogUsecFromEnvironment()) {}

ServiceNotifier::ServiceNotifier(Send send, uint64_t watchdogUsec, QObject* parent)
    : QObject(parent), send_(std::move(send)), watchdogUsec_(watchdogUsec)
{
}

void ServiceNotifier::Ready()
{
    if (ready_ || stopping_)
        return;
    ready_ = true;
    send_("READY=1");
}

void ServiceNotifier::Tick()
{
    if (!ready_ || stopping_ || !watchdogEnabled())
        return;
    if (++ticks_ >= 2)
        send_("WATCHDOG=1");
}

void ServiceNotifier::Stopping()
{
    if (stopping_)
        return;
    stopping_ = true;
    send_("STOPPING=1");
}

}  // namespace tavoxa
