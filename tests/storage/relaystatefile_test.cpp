// The relay state file of --restore-relays: its text both ways, the reasons a file is not used,
// and the writer thread (bursts, repeats, a folder it cannot write).
#include "storage/relaystatefile.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>

namespace tavoxa {
namespace {

TEST(RelayStateFile, TextBothWays)
{
    const std::pair<std::string, std::optional<uint8_t>> cases[] = {
        {"000000\n", 0x00},
        {"100000\n", 0x01},
        {"010001\r\n", 0x22},
        {"111111", 0x3F},
        {"", std::nullopt},
        {"10000\n", std::nullopt},
        {"1000000\n", std::nullopt},
        {"10a000\n", std::nullopt},
        {"100000\n100000\n", std::nullopt},
    };
    for (const auto& [text, bits] : cases) {
        EXPECT_EQ(ParseRelayState(text), bits) << text;
        EXPECT_TRUE(!bits || ParseRelayState(FormatRelayState(*bits)) == bits) << text;
    }
    EXPECT_EQ(FormatRelayState(0xC1), "100000\n") << "the inputs' bits are not relays";
}

TEST(RelayStateFile, ReadSaysWhyAFileIsNotUsedButNotWhenThereIsNone)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("tavoxa.relays").toStdString();
    std::string why = "stale";
    EXPECT_EQ(ReadRelayState(path, &why), std::nullopt);
    EXPECT_EQ(why, "") << "no file is the first start, not a fault";
    ASSERT_TRUE(QDir(dir.path()).mkdir("tavoxa.relays"));
    EXPECT_EQ(ReadRelayState(path, &why), std::nullopt);
    EXPECT_NE(why, "") << "a folder in its place is reported";
}

// Sleeps until `done` holds or 5 s pass: the writer is a thread of its own.
bool Eventually(const std::function<bool()>& done)
{
    for (int i = 0; i < 500 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
}

TEST(RelayStateWriter, WritesTheLatestByteOnceAndReportsAFailureOnce)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("tavoxa.relays").toStdString();
    std::atomic<int> errors{0};
    {
        RelayStateWriter writer(path, [&](const std::string&) { ++errors; });
        writer.Keep(0x01);
        ASSERT_TRUE(Eventually([&] { return writer.writes() >= 1; }));
        writer.Keep(0x01);  // the same byte again: nothing to write
        writer.Keep(0x02);
        writer.Keep(0x04);
        ASSERT_TRUE(Eventually([&] { return writer.writes() >= 2; }));
        EXPECT_LE(writer.writes(), 3);
    }  // the last byte is on disk once the writer is gone
    std::string why;
    EXPECT_EQ(ReadRelayState(path, &why), 0x04);
    EXPECT_EQ(errors, 0);

    {
        RelayStateWriter writer(dir.filePath("missing/tavoxa.relays").toStdString(),
                                [&](const std::string&) { ++errors; });
        writer.Keep(0x01);
        ASSERT_TRUE(Eventually([&] { return errors > 0; }));
        writer.Keep(0x02);
    }  // the second write has failed too once the writer is gone
    EXPECT_EQ(errors, 1) << "a failing folder is reported once, not at every change";
}

}  // namespace
}  // namespace tavoxa
