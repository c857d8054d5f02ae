#include "engine/inputlogic.h"

#include <gtest/gtest.h>

namespace tavoxa {
namespace {

// Relay r in mode 2 + r: "IF  K1", "IF  K2", AND, OR, NOR, XOR.
Model AllInputModes(uint8_t bits)
{
    Model m;
    for (int r = 0; r < kRelayCount; ++r)
        m.RelayMode(r) = ModeIfK1 + r;
    m.RelayBits = bits;
    return m;
}

TEST(InputLogic, TruthTable)
{
    struct Row {
        bool k1, k2;
        uint8_t relays;  // bit r = relay in mode 2 + r is on
    };
    const Row rows[] = {
        {false, false, 0b010000}, {true, false, 0b101001}, {false, true, 0b101010}, {true, true, 0b001111}};
    for (const Row& row : rows) {
        for (uint8_t before : {uint8_t{0x00}, uint8_t{0x3F}, uint8_t{0xC0}, uint8_t{0xFF}}) {
            Model m = AllInputModes(before);
            ApplyInputLogic(m, row.k1, row.k2);
            EXPECT_EQ(m.RelayBits & 0x3F, row.relays) << row.k1 << row.k2 << " from " << int(before);
            EXPECT_EQ(m.RelayBits & 0xC0, before & 0xC0);  // raw input bits are not the step's
        }
    }
}

TEST(InputLogic, OtherModesAreLeftAlone)
{
    for (int mode : {int{ModeToggle}, int{ModeTimer}, int{ModeSecondsTimer}, int{ModeRandom}, int{ModeClock},
                     -1, 11, 99}) {
        Model m;
        for (int r = 0; r < kRelayCount; ++r)
            m.RelayMode(r) = mode;
        m.RelayBits = 0x15;
        ApplyInputLogic(m, true, false);
        EXPECT_EQ(m.RelayBits, 0x15) << mode;
        ApplyInputLogic(m, false, false);
        EXPECT_EQ(m.RelayBits, 0x15) << mode;
    }
}

// A T press or remote command on an input-logic relay lasts only until the next call.
TEST(InputLogic, ResultIsAssertedOnEveryCall)
{
    Model m;
    m.RelayMode(3) = ModeK1XorK2;
    ApplyInputLogic(m, true, false);
    EXPECT_TRUE(RelayIsOn(m, 3));
    ToggleRelay(m, 3);
    ApplyInputLogic(m, true, false);
    EXPECT_TRUE(RelayIsOn(m, 3));
    ResetSwitching(m);
    ApplyInputLogic(m, true, false);
    EXPECT_TRUE(RelayIsOn(m, 3));
}

}  // namespace
}  // namespace tavoxa
