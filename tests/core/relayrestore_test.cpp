// --restore-relays at start-up: only relays in Toggle mode take the kept state.
#include "core/relayrestore.h"

#include <gtest/gtest.h>

#include <vector>

namespace tavoxa {
namespace {

TEST(RelayRestore, OnlyRelaysNoEngineDrivesTakeTheKeptState)
{
    const struct {
        const char* name;
        int mode;        // of relay 1; relays 2..6 stay in Toggle mode
        uint8_t before;  // relay bits before the restore
        uint8_t kept;
        uint8_t after;
        std::vector<int> changed;
    } cases[] = {
        {"toggle relays on", ModeToggle, 0x00, 0x05, 0x05, {0, 2}},
        {"toggle relays off", ModeToggle, 0x3F, 0x00, 0x00, {0, 1, 2, 3, 4, 5}},
        {"timer relay follows its programs", ModeTimer, 0x00, 0x01, 0x00, {}},
        {"input relay follows its inputs", ModeIfK1, 0x01, 0x00, 0x01, {}},
        {"random relay follows its windows", ModeRandom, 0x00, 0x03, 0x02, {1}},
        {"inputs' bits untouched", ModeToggle, 0xC0, 0x01, 0xC1, {0}},
    };
    for (const auto& c : cases) {
        Model m;
        for (int r = 0; r < kRelayCount; ++r)
            m.RelayMode(r) = ModeToggle;
        m.RelayMode(0) = c.mode;
        m.RelayBits = c.before;
        EXPECT_EQ(RestoreUndrivenRelays(m, c.kept), c.changed) << c.name;
        EXPECT_EQ(m.RelayBits, c.after) << c.name;
    }
}

}  // namespace
}  // namespace tavoxa
