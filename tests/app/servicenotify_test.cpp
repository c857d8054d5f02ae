// The messages to systemd in each order of events, with the sending function replaced.
#include "app/servicenotify.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavoxa {
namespace {

TEST(ServiceNotifier, SendsEachMessageWhenItsTimeHasCome)
{
    const struct {
        const char* name;
        uint64_t watchdogUsec;
        std::string events;  // R ready, T tick, S stopping
        std::vector<std::string> sent;
    } cases[] = {
        {"the first tick only arms the watchdog", 30000000, "RTTT", {"READY=1", "WATCHDOG=1", "WATCHDOG=1"}},
        {"no watchdog before ready", 30000000, "TTRT", {"READY=1"}},
        {"no watchdog asked for", 0, "RTTTS", {"READY=1", "STOPPING=1"}},
        {"none after stopping", 30000000, "RTTSTR", {"READY=1", "WATCHDOG=1", "STOPPING=1"}},
        {"each once", 0, "RRSS", {"READY=1", "STOPPING=1"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> sent;
        ServiceNotifier notifier([&sent](const std::string& m) { sent.push_back(m); }, c.watchdogUsec);
        for (const char e : c.events) {
            if (e == 'R')
                notifier.Ready();
            else if (e == 'T')
                notifier.Tick();
            else
                notifier.Stopping();
        }
        EXPECT_EQ(sent, c.sent) << c.name;
    }
}

}  // namespace
}  // namespace tavoxa
