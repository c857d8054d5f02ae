#include "fakemodem.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "adapter/pcf8574.h"

namespace {

// The bus thread answers ioctls while the test's thread sets contacts and reads counts: every
// access goes through the lock.
struct FakeModem {
    FakeModem()
    {
        chip.SetBusLogEnabled(true);
        const char* us = getenv(TAVOXA_FAKEMODEM_CALL_US_ENV);
        callTime = std::chrono::microseconds(us != nullptr ? atol(us) : 0);
    }
    std::mutex lock;
    std::chrono::microseconds callTime{0};
    int failure = 0;  // errno every modem-line call fails with, 0 = the device answers
    tavoxa::Pcf8574Model chip;
    bool dtr = true;  // opening a port raises both lines
    bool rts = true;
    long lineChanges = 0;
    long lineReads = 0;
};

FakeModem& Modem()
{
    static FakeModem modem;
    return modem;
}

using IoctlFn = int (*)(int, unsigned long, ...);

IoctlFn RealIoctl()
{
    static IoctlFn real = reinterpret_cast<IoctlFn>(dlsym(RTLD_NEXT, "ioctl"));
    return real;
}

bool IsEmulatedDevice(int fd)
{
    const char* device = getenv(TAVOXA_FAKEMODEM_DEVICE_ENV);
    if (device == nullptr || *device == '\0') {
        return false;
    }
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[PATH_MAX];
    const ssize_t n = readlink(link, target, sizeof target - 1);
    if (n < 0) {
        return false;
    }
    target[n] = '\0';
    return strcmp(target, device) == 0;
}

int ModemIoctl(unsigned long request, int* bits)
{
    FakeModem& m = Modem();
    std::unique_lock<std::mutex> hold(m.lock);
    if (m.callTime.count() > 0) {
        // A USB adapter answers each call after a round trip over the bus; the lock is let go
        // meanwhile so that the test's thread is not held up.
        const std::chrono::microseconds wait = m.callTime;
        hold.unlock();
        std::this_thread::sleep_for(wait);
        hold.lock();
    }
    if (m.failure != 0) {
        errno = m.failure;
        return -1;
    }
    if (bits == nullptr) {
        errno = EFAULT;
        return -1;
    }
    if (request == TIOCMGET) {
        ++m.lineReads;
        *bits = (m.dtr ? TIOCM_DTR : 0) | (m.rts ? TIOCM_RTS : 0) | (m.chip.SdaLevel() ? TIOCM_CTS : 0);
        return 0;
    }
    ++m.lineChanges;
    bool dtr = m.dtr;
    bool rts = m.rts;
    if (request == TIOCMSET) {
        dtr = (*bits & TIOCM_DTR) != 0;
        rts = (*bits & TIOCM_RTS) != 0;
    } else {
        const bool on = request == TIOCMBIS;
        if (*bits & TIOCM_DTR) {
            dtr = on;
        }
        if (*bits & TIOCM_RTS) {
            rts = on;
        }
    }
    m.dtr = dtr;
    m.rts = rts;
    m.chip.SetLines(dtr, rts);
    return 0;
}

}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept
{
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    const bool modemRequest =
        request == TIOCMGET || request == TIOCMBIS || request == TIOCMBIC || request == TIOCMSET;
    if (modemRequest && IsEmulatedDevice(fd)) {
        return ModemIoctl(request, static_cast<int*>(arg));
    }
    return RealIoctl()(fd, request, arg);
}

extern "C" {

void tavoxa_fakemodem_set_contact(int input, int closed)
{
    const std::lock_guard<std::mutex> hold(Modem().lock);
    Modem().chip.SetContactClosed(input, closed != 0);
}

void tavoxa_fakemodem_set_address(int address7)
{
    const std::lock_guard<std::mutex> hold(Modem().lock);
    Modem().chip.SetAddress(static_cast<uint8_t>(address7));
}

int tavoxa_fakemodem_pins(void)
{
    const std::lock_guard<std::mutex> hold(Modem().lock);
    return Modem().chip.Pins();
}

void tavoxa_fakemodem_counts(long* lineChanges, long* lineReads)
{
    const std::lock_guard<std::mutex> hold(Modem().lock);
    *lineChanges = Modem().lineChanges;
    *lineReads = Modem().lineReads;
}

void tavoxa_fakemodem_reset(void)
{
    const std::lock_guard<std::mutex> hold(Modem().lock);
    Modem().lineChanges = 0;
    Modem().lineReads = 0;
    Modem().chip.ClearBusLog();
}

int tavoxa_fakemodem_bus_log(int* events, int max)
{
    const std::lock_guard<std::mutex> hold(Modem().lock);
    const auto& log = Modem().chip.BusLog();
    const int count = static_cast<int>(log.size());
    for (int i = 0; i < count && i < max; ++i) {
        events[i] = (static_cast<int>(log[i].kind) << 16) | ((log[i].acked ? 1 : 0) << 8) | log[i].value;
    }
    return count;
}

void tavoxa_fakemodem_set_failure(int error)
{
    const std::lock_guard<std::mutex> hold(Modem().lock);
    Modem().failure = error;
}

void tavoxa_fakemodem_set_call_us(long us)
{
    const std::lock_guard<std::mutex> hold(Modem().lock);
    Modem().callTime = std::chrono::microseconds(us);
}

}  // extern "C"
