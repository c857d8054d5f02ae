#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "engine/secondtick.h"
#include "enginetestkit.h"

namespace tavoxa {
namespace {

using test::Rig;
using test::ScriptedRandom;
using Log = std::vector<std::string>;

void Window(Model& m, int r, int w, int maxMinutes, double start, double end)
{
    m.RelayMode(r) = ModeRandom;
    m.WindowMaxMinutes(r, w) = maxMinutes;
    m.WindowStart(r, w) = start;
    m.WindowEnd(r, w) = end;
}

// Whether a window counts as open at `now`: an open window switches its relay off at its first
// tick with MinutesToOff at 0; a closed one leaves it on.
bool OpenAt(double start, double end, double now)
{
    Model m;
    Window(m, 0, 0, 5, start, end);
    m.MinutesToOn(0, 0) = 7;
    m.NowTime = now;
    SetRelay(m, 0);
    LcgRandom random;
    RunRandomWindows(m, random, 0);
    return !RelayIsOn(m, 0);
}

// The start second is outside, the end second inside, across midnight too.
TEST(RandomWindows, WhenAWindowIsOpen)
{
    const double eight = EncodeTime(8, 0, 0), ten = EncodeTime(10, 0, 0);
    const double late = EncodeTime(22, 0, 0), six = EncodeTime(6, 0, 0);
    const struct {
        double start, end, now;
        bool open;
    } cases[] = {
        {eight, ten, EncodeTime(7, 59, 59), false},     {eight, ten, EncodeTime(8, 0, 0, 999), false},
        {eight, ten, EncodeTime(8, 0, 1), true},        {eight, ten, EncodeTime(9, 0, 0), true},
        {eight, ten, EncodeTime(10, 0, 0, 999), true},  {eight, ten, EncodeTime(10, 0, 1), false},
        {eight, ten, EncodeTime(0, 0, 0), false},       {late, six, EncodeTime(12, 0, 0), false},
        {late, six, EncodeTime(22, 0, 0), false},       {late, six, EncodeTime(22, 0, 1), true},
        {late, six, EncodeTime(23, 59, 59, 999), true}, {late, six, EncodeTime(0, 0, 0), true},
        {late, six, EncodeTime(6, 0, 0), true},         {late, six, EncodeTime(6, 0, 1), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(OpenAt(c.start, c.end, c.now), c.open) << TimeText(c.start) << " " << TimeText(c.now);
}

// Start equal to end, as in the defaults: open every second of the day.
TEST(RandomWindows, StartEqualToEndIsOpenAllDay)
{
    const double at = EncodeTime(12, 0, 0);
    for (int s = 0; s < 86400; s += 1)
        ASSERT_TRUE(OpenAt(at, at + 1e-12, EncodeTime(s / 3600, s / 60 % 60, s % 60))) << s;
}

// The end second switches the relay off once a day and restarts the cycle.
TEST(RandomWindows, EndSecondOfAnAllDayWindowRestartsTheCycle)
{
    Rig rig(2024, 1, 1, 11, 0, 0);
    Window(rig.m, 0, 0, 1, EncodeTime(12, 0, 0), EncodeTime(12, 0, 0));
    rig.random = &rig.scripted;
    rig.scripted.script = {2, 0, 2, 0};
    for (int i = 0; i < 3600; ++i)
        rig.Tick();
    const int64_t rollsBefore = static_cast<int64_t>(rig.scripted.ranges.size());
    SetRelay(rig.m, 0);
    rig.m.MinutesToOff(0, 0) = 50;
    rig.m.MinutesToOn(0, 0) = 20;
    rig.Tick();  // 12:00:00, the end second
    EXPECT_FALSE(RelayIsOn(rig.m, 0));
    EXPECT_EQ(rig.m.MinutesToOff(0, 0), 0);
    rig.Tick();  // 12:00:01: a fresh roll
    EXPECT_EQ(static_cast<int64_t>(rig.scripted.ranges.size()), rollsBefore + 2);
    EXPECT_EQ(rig.m.MinutesToOn(0, 0), 2);
    EXPECT_EQ(rig.m.MinutesToOff(0, 0), 3);
}

// Window 08:00:00 to 10:00:00 walked through with chosen rolls: nothing at 08:00:00, off and a
// roll at 08:00:01, off at the end second, nothing after it and the countdowns frozen.
TEST(RandomWindows, OpeningCycleAndEndOfAWindow)
{
    Rig rig(2024, 1, 1, 7, 59, 0);  // minute ticks at hh:mm:59
    Window(rig.m, 2, 1, 10, EncodeTime(8, 0, 0), EncodeTime(10, 0, 0));
    rig.random = &rig.scripted;
    rig.scripted.script = {118, 5};
    SetRelay(rig.m, 2);
    EXPECT_EQ(rig.Walk(2 * 3600 + 61, 2),
              (Log{"Mo 2024-01-01 08:00:01 off", "Mo 2024-01-01 09:57:59 on", "Mo 2024-01-01 10:00:00 off"}));
    EXPECT_EQ(rig.scripted.ranges, (std::vector<int32_t>{30, 10}));
    EXPECT_EQ(rig.m.MinutesToOff(2, 1), 0);
    const int32_t toOn = rig.m.MinutesToOn(2, 1);
    SetRelay(rig.m, 2);
    EXPECT_TRUE(rig.Walk(2 * 3600, 2).empty());
    EXPECT_EQ(rig.m.MinutesToOn(2, 1), toOn);
    EXPECT_EQ(rig.m.MinutesToOff(2, 1), 0);
}

// "max." 1: off for exactly two minute ticks, on for exactly one, round after round.
TEST(RandomWindows, MaxOneCycles)
{
    Rig rig(2024, 1, 1, 1, 0, 0);
    Window(rig.m, 4, 0, 1, EncodeTime(0, 0, 0), EncodeTime(23, 59, 59));
    std::vector<int> changes;
    for (int i = 1; i <= 4 * 3600; ++i) {
        const bool before = RelayIsOn(rig.m, 4);
        rig.Tick();
        if (RelayIsOn(rig.m, 4) != before)
            changes.push_back(i);
    }
    ASSERT_GT(changes.size(), 100u);
    EXPECT_EQ(changes[0], 120);  // rolled at tick 1, minute ticks at 60 and 120
    for (size_t k = 1; k < changes.size(); ++k)
        EXPECT_EQ(changes[k] - changes[k - 1], k % 2 ? 60 : 120) << k;
}

// Many rolls through the real generator, reseeded every tick from the time of day as the
// program does (ticks a few milliseconds past the second): cycle bounds and means for M = 10.
TEST(RandomWindows, MaxTenCycleMeans)
{
    Rig rig(2024, 1, 1, 0, 0, 1);
    for (int r = 0; r < kRelayCount - 1; ++r)
        Window(rig.m, r, 0, 10, EncodeTime(0, 0, 0), EncodeTime(0, 0, 0));
    int lastChange[kRelayCount];
    std::fill(std::begin(lastChange), std::end(lastChange), -1);
    double offSum = 0, onSum = 0;
    int offCount = 0, onCount = 0;
    int minOff = 1 << 30, maxOff = 0, minOn = 1 << 30, maxOn = 0;
    const int ticks = 3 * 86400;
    for (int i = 0; i < ticks; ++i) {
        rig.clock.SetMillisecond(2 + i * 7 % 9);
        const uint8_t before = rig.m.RelayBits;
        rig.Tick();
        if (TimeText(rig.m.NowTime) == "00:00:00") {  // the end second cuts the running cycle
            std::fill(std::begin(lastChange), std::end(lastChange), -1);
            continue;
        }
        for (int r = 0; r < kRelayCount - 1; ++r) {
            const bool on = RelayIsOn(rig.m, r);
            if (on == (((before >> r) & 1) != 0))
                continue;
            if (lastChange[r] >= 0) {
                const int minutes = (i - lastChange[r]) / 60;
                ASSERT_EQ((i - lastChange[r]) % 60, 0);
                if (on) {
                    offSum += minutes, ++offCount;
                    minOff = std::min(minOff, minutes), maxOff = std::max(maxOff, minutes);
                } else {
                    onSum += minutes, ++onCount;
                    minOn = std::min(minOn, minutes), maxOn = std::max(maxOn, minutes);
                }
            }
            lastChange[r] = i;
        }
    }
    ASSERT_GT(offCount, 800);
    ASSERT_GT(onCount, 800);
    EXPECT_GE(minOff, 2);
    EXPECT_LE(maxOff, 29);
    EXPECT_GE(minOn, 1);
    EXPECT_LE(maxOn, 9);
    EXPECT_NEAR(offSum / offCount, 14.6, 1.5);
    EXPECT_NEAR(onSum / onCount, 4.6, 0.5);
}

// The roll arithmetic alone, over a generator that ignores reseeding: bounds and exact means.
class UnseededRandom : public RandomSource {
public:
    void Reseed(uint32_t) override {}
    int32_t Next(int32_t n) override { return std::uniform_int_distribution<int32_t>(0, n - 1)(engine_); }

private:
    std::mt19937 engine_{12345};
};

TEST(RandomWindows, RollDistribution)
{
    for (const int maxMinutes : {1, 10}) {
        Model m;
        Window(m, 0, 0, maxMinutes, EncodeTime(1, 0, 0), EncodeTime(2, 0, 0));
        m.NowTime = EncodeTime(1, 30, 0);
        UnseededRandom random;
        double offSum = 0, onSum = 0;
        const int rolls = 200000;
        for (int k = 0; k < rolls; ++k) {
            m.MinutesToOff(0, 0) = 0;
            RunRandomWindows(m, random, 0);
            const int off = m.MinutesToOn(0, 0), on = m.MinutesToOff(0, 0) - m.MinutesToOn(0, 0);
            ASSERT_GE(off, 2);
            ASSERT_LE(off, maxMinutes == 1 ? 2 : 3 * maxMinutes - 1);
            ASSERT_GE(on, 1);
            ASSERT_LE(on, maxMinutes == 1 ? 1 : maxMinutes - 1);
            offSum += off;
            onSum += on;
        }
        EXPECT_NEAR(offSum / rolls, maxMinutes == 1 ? 2.0 : 14.6, 0.05);
        EXPECT_NEAR(onSum / rolls, maxMinutes == 1 ? 1.0 : 4.6, 0.02);
    }
}

TEST(RandomWindows, MaxZeroOrLessNeverActs)
{
    for (const int maxMinutes : {0, -1, std::numeric_limits<int32_t>::min()}) {
        Rig rig(2024, 1, 1, 0, 0, 0);
        Window(rig.m, 1, 0, maxMinutes, EncodeTime(0, 0, 0), EncodeTime(0, 0, 0));
        rig.m.MinutesToOn(1, 0) = 0;
        SetRelay(rig.m, 1);
        EXPECT_TRUE(rig.Walk(3 * 3600, 1).empty()) << maxMinutes;
        EXPECT_EQ(rig.m.MinutesToOn(1, 0), 0);
        EXPECT_EQ(rig.m.MinutesToOff(1, 0), 0);
    }
}

TEST(RandomWindows, OverlappingWindowsLaterWindowWins)
{
    for (const bool onFirst : {true, false}) {
        Model m;
        Window(m, 3, 0, 10, EncodeTime(1, 0, 0), EncodeTime(3, 0, 0));
        Window(m, 3, 2, 10, EncodeTime(2, 0, 0), EncodeTime(4, 0, 0));
        const int onWindow = onFirst ? 0 : 2, offWindow = onFirst ? 2 : 0;
        m.MinutesToOn(3, onWindow) = 1;
        m.MinutesToOff(3, onWindow) = 5;
        m.MinutesToOn(3, offWindow) = -3;
        m.MinutesToOff(3, offWindow) = 1;
        m.NowTime = EncodeTime(2, 30, 0);
        m.MinuteTick = true;
        LcgRandom random;
        RunRandomWindows(m, random, 0);
        EXPECT_EQ(RelayIsOn(m, 3), !onFirst);
        EXPECT_FALSE(m.MinuteTick);
        EXPECT_EQ(m.MinutesToOn(3, onWindow), 0);
        EXPECT_GE(m.MinutesToOff(3, offWindow), 3);  // rolled anew
    }
}

TEST(RandomWindows, CountdownRulesWithinOneTick)
{
    Model m;
    Window(m, 0, 0, 10, EncodeTime(0, 0, 0), EncodeTime(0, 0, 0));
    m.NowTime = EncodeTime(9, 0, 0);
    LcgRandom random;
    // While MinutesToOn stays 0 the relay is switched on again at every tick.
    m.MinutesToOn(0, 0) = 0;
    m.MinutesToOff(0, 0) = 5;
    RunRandomWindows(m, random, 0);
    EXPECT_TRUE(RelayIsOn(m, 0));
    ClearRelay(m, 0);
    RunRandomWindows(m, random, 1000);
    EXPECT_TRUE(RelayIsOn(m, 0));
    // First tick of an opening that is also a minute tick: both countdowns drop below 0, the
    // relay is left as it was and only the roll takes place.
    m.MinutesToOn(0, 0) = 0;
    m.MinutesToOff(0, 0) = 0;
    m.MinuteTick = true;
    RunRandomWindows(m, random, 2000);
    EXPECT_TRUE(RelayIsOn(m, 0));
    EXPECT_GE(m.MinutesToOn(0, 0), 2);
    EXPECT_GT(m.MinutesToOff(0, 0), m.MinutesToOn(0, 0));
    // Afterwards MinutesToOn runs on below 0 without effect.
    m.MinutesToOn(0, 0) = 0;
    m.MinutesToOff(0, 0) = 3;
    m.MinuteTick = true;
    RunRandomWindows(m, random, 3000);
    EXPECT_EQ(m.MinutesToOn(0, 0), -1);
    ClearRelay(m, 0);
    RunRandomWindows(m, random, 4000);
    EXPECT_FALSE(RelayIsOn(m, 0));
}

TEST(RandomWindows, ResetInsideAnOpenWindow)
{
    Rig rig(2024, 1, 1, 9, 0, 0);
    Window(rig.m, 0, 0, 10, EncodeTime(8, 0, 0), EncodeTime(12, 0, 0));
    Window(rig.m, 5, 1, 10, EncodeTime(8, 0, 0), EncodeTime(12, 0, 0));
    for (int i = 0; i < 600; ++i)
        rig.Tick();
    SetRelay(rig.m, 0);
    SetRelay(rig.m, 5);
    rig.m.MinutesToOn(0, 0) = 3;
    rig.m.MinutesToOn(5, 1) = 3;
    ResetSwitching(rig.m);
    EXPECT_EQ(rig.m.RelayBits, 0);
    SetRelay(rig.m, 0);  // e.g. the remote, between RESET and the next tick
    rig.Tick();
    EXPECT_EQ(rig.m.RelayBits, 0);
    EXPECT_GE(rig.m.MinutesToOff(0, 0), 3);
    EXPECT_GE(rig.m.MinutesToOff(5, 1), 3);
}

// Reseeded at every call, with or without a relay in "Random".
TEST(RandomWindows, ReseedsAtEveryCall)
{
    Model m;
    ScriptedRandom random;
    RunRandomWindows(m, random, 123);
    RunRandomWindows(m, random, 45296789);
    EXPECT_EQ(random.seeds, (std::vector<uint32_t>{123, 45296789}));
    EXPECT_TRUE(random.ranges.empty());
}

// "max." comes unchecked from the file or the editor: a huge value gives a cycle that never
// comes round, never a wrapped negative countdown.
TEST(RandomWindows, HugeMaxDoesNotWrap)
{
    Model m;
    Window(m, 0, 0, 2000000000, EncodeTime(0, 0, 0), EncodeTime(0, 0, 0));
    m.NowTime = EncodeTime(9, 0, 0);
    m.MinutesToOn(0, 0) = 5;
    ScriptedRandom random;
    random.script = {std::numeric_limits<int32_t>::max() - 1, 1999999999};
    RunRandomWindows(m, random, 0);
    EXPECT_EQ(random.ranges, (std::vector<int32_t>{std::numeric_limits<int32_t>::max(), 2000000000}));
    EXPECT_EQ(m.MinutesToOn(0, 0), std::numeric_limits<int32_t>::max() - 1);
    EXPECT_EQ(m.MinutesToOff(0, 0), std::numeric_limits<int32_t>::max());
    EXPECT_FALSE(RelayIsOn(m, 0));
    m.MinuteTick = true;
    RunRandomWindows(m, random, 0);
    EXPECT_GT(m.MinutesToOff(0, 0), 0);
    // A countdown left running below 0 for ages steps on without overflowing.
    m.MinutesToOn(0, 0) = std::numeric_limits<int32_t>::min();
    m.MinuteTick = true;
    RunRandomWindows(m, random, 0);
    EXPECT_EQ(m.MinutesToOn(0, 0), std::numeric_limits<int32_t>::max());
}

}  // namespace
}  // namespace tavoxa
