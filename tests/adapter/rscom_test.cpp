// The real port code on pseudo-terminals. Without help a pty answers no modem-line request; the
// RscomFakeModem cases run as their own CTest entry with the fakemodem library preloaded, which
// answers them from a PCF8574 model.
#include "adapter/rscom.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QTest>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "adapter/busworker.h"
#include "adapter/transaction.h"
#include "fakemodem/fakemodem.h"
#include "testkit.h"

namespace tavoxa {
namespace {

class Pty {
public:
    Pty()
    {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) {
            char name[128];
            if (ptsname_r(master_, name, sizeof name) == 0) {
                slave_ = name;
            }
        }
    }
    ~Pty()
    {
        if (master_ >= 0) {
            close(master_);
        }
    }
    bool Ok() const { return !slave_.empty(); }
    const std::string& Slave() const { return slave_; }
    // The kernel's name for it, as a console list would give it ("pts/3").
    std::string KernelName() const { return slave_.substr(5); }

private:
    int master_ = -1;
    std::string slave_;
};

class TempDir {
public:
    TempDir()
    {
        char pattern[] = "/tmp/tavoxa-rscom-XXXXXX";
        if (mkdtemp(pattern) != nullptr) {
            path_ = pattern;
        }
    }
    ~TempDir()
    {
        for (const std::string& f : files_) {
            std::remove(f.c_str());
        }
        rmdir(path_.c_str());
    }
    std::string File(const std::string& name, const std::string& content)
    {
        std::string f = path_ + "/" + name;
        std::ofstream(f) << content;
        files_.push_back(f);
        return f;
    }
    std::string Link(const std::string& name, const std::string& target)
    {
        std::string f = path_ + "/" + name;
        EXPECT_EQ(symlink(target.c_str(), f.c_str()), 0);
        files_.push_back(f);
        return f;
    }
    std::string Path(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
    std::vector<std::string> files_;
};

struct PtyPort {
    PtyPort()
        : consoles(tmp.File("console-active", "tty0\n")),
          rs(
              [this](int n) {
                  lastAsked = n;
                  return pty.Slave();
              },
              consoles)
    {
    }
    Pty pty;
    TempDir tmp;
    std::string consoles;
    int lastAsked = 0;
    RSCOM rs;
};

TEST(Rscom, OpensAPseudoTerminalAndClosesIt)
{
    PtyPort p;
    ASSERT_TRUE(p.pty.Ok());
    EXPECT_EQ(p.rs.ComOpen(3), 1);
    EXPECT_EQ(p.lastAsked, 3);
    EXPECT_TRUE(p.rs.IsOpen());
    EXPECT_EQ(p.rs.OpenDevice(), p.pty.Slave());
    // A second open replaces the first: the port's lock is free again, or this one would fail.
    EXPECT_EQ(p.rs.ComOpen(5), 1);
    EXPECT_EQ(p.lastAsked, 5);
    p.rs.ComClose();
    EXPECT_FALSE(p.rs.IsOpen());
    EXPECT_EQ(p.rs.OpenDevice(), "");
    p.rs.ComClose();  // closing twice is harmless
}

TEST(Rscom, HangUpOnCloseIsClearedSoClosingKeepsTheLines)
{
    PtyPort p;
    ASSERT_TRUE(p.pty.Ok());
    const int fd = open(p.pty.Slave().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios t{};
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    t.c_cflag |= HUPCL | CRTSCTS;
    t.c_iflag |= IXON | IXOFF;
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &t), 0);

    ASSERT_EQ(p.rs.ComOpen(1), 1);
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    EXPECT_EQ(t.c_cflag & HUPCL, 0u);
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
    p.rs.ComClose();
    ASSERT_EQ(tcgetattr(fd, &t), 0);  // and nothing puts it back on close
    EXPECT_EQ(t.c_cflag & HUPCL, 0u);
    close(fd);
}

TEST(Rscom, UnreadableLinesGiveCtsHighSoTheAdapterIsNotConnected)
{
    PtyPort p;
    ASSERT_TRUE(p.pty.Ok());
    NoBusDelay delay;
    I2cBus bus(p.rs, delay);
    ASSERT_EQ(p.rs.ComOpen(1), 1);
    bus.I2cIdle();
    EXPECT_EQ(p.rs.ComGetCts(), 1);
    EXPECT_FALSE(DeviceFailed(p.rs.LastError()));  // a pty has no modem lines: ENOTTY, not a lost device
    WriteTransaction(bus, 0x20, 0x05);
    EXPECT_FALSE(bus.I2cAcknowledged());
    EXPECT_EQ(ReadTransaction(bus, 0x20), 0xFF);  // both contacts open
    EXPECT_FALSE(bus.I2cAcknowledged());
    EXPECT_FALSE(DeviceFailed(p.rs.LastError()));
    p.rs.ComClose();
    EXPECT_FALSE(p.rs.IsOpen());
    EXPECT_EQ(p.rs.ComGetCts(), 1);  // no port at all
}

TEST(Rscom, NeverOpensTheActiveConsole)
{
    PtyPort p;
    ASSERT_TRUE(p.pty.Ok());
    const std::string list = p.tmp.File("consoles", "tty0 " + p.pty.KernelName() + "\n");
    EXPECT_TRUE(IsActiveConsole(p.pty.Slave(), list));
    // Reached through a symlink, it is still the console.
    std::string link = p.tmp.Link("port-link", p.pty.Slave());
    EXPECT_TRUE(IsActiveConsole(link, list));

    RSCOM direct([&p](int) { return p.pty.Slave(); }, list);
    EXPECT_EQ(direct.ComOpen(1), 0);
    EXPECT_FALSE(direct.IsOpen());
    RSCOM linked([&link](int) { return link; }, list);
    EXPECT_EQ(linked.ComOpen(1), 0);

    EXPECT_FALSE(IsActiveConsole(p.pty.Slave(), p.tmp.File("other", "tty0 ttyAMA9\n")));
    EXPECT_FALSE(IsActiveConsole(p.pty.Slave(), p.tmp.Path("missing")));
}

TEST(Rscom, OnlyCom1ToCom8AreOpened)
{
    PtyPort p;
    ASSERT_TRUE(p.pty.Ok());
    RSCOM real;  // the machine's own mapping
    for (int bad : {0, 9, 12, -1}) {
        EXPECT_EQ(real.ComOpen(bad), 0) << bad;
        EXPECT_FALSE(real.IsOpen());
        EXPECT_NE(real.LastErrorText(), "");
    }

    RSCOM missing([&p](int) { return p.tmp.Path("no-such-device"); }, p.consoles);
    EXPECT_EQ(missing.ComOpen(2), 0);
    EXPECT_FALSE(missing.IsOpen());
    EXPECT_NE(missing.LastErrorText().find("no-such-device"), std::string::npos);
    missing.ComSetDtr(1);  // no port: nothing happens
    EXPECT_EQ(missing.ComGetCts(), 1);
}

TEST(Rscom, EightDistinctDevicesForCom1ToCom8)
{
    std::set<std::string> names;
    for (int n = 1; n <= 8; ++n) {
        EXPECT_FALSE(ComDeviceName(n).empty()) << n;
        names.insert(ComDeviceName(n));
    }
    EXPECT_EQ(names.size(), 8u);
    EXPECT_EQ(ComDeviceName(0), "");
    EXPECT_EQ(ComDeviceName(9), "");
}

// Resolved at run time, so the program also builds and runs without the preload.
struct FakeModemApi {
    FakeModemApi()
    {
        setContact = reinterpret_cast<tavoxa_fakemodem_set_contact_fn>(
            dlsym(RTLD_DEFAULT, "tavoxa_fakemodem_set_contact"));
        pins = reinterpret_cast<tavoxa_fakemodem_pins_fn>(dlsym(RTLD_DEFAULT, "tavoxa_fakemodem_pins"));
        counts = reinterpret_cast<tavoxa_fakemodem_counts_fn>(dlsym(RTLD_DEFAULT, "tavoxa_fakemodem_counts"));
        reset = reinterpret_cast<tavoxa_fakemodem_reset_fn>(dlsym(RTLD_DEFAULT, "tavoxa_fakemodem_reset"));
        busLog =
            reinterpret_cast<tavoxa_fakemodem_bus_log_fn>(dlsym(RTLD_DEFAULT, "tavoxa_fakemodem_bus_log"));
        setFailure = reinterpret_cast<tavoxa_fakemodem_set_failure_fn>(
            dlsym(RTLD_DEFAULT, "tavoxa_fakemodem_set_failure"));
    }
    bool Loaded() const { return setContact && pins && counts && reset && busLog && setFailure; }
    std::vector<int> BusLog() const
    {
        std::vector<int> events(64);
        const int n = busLog(events.data(), static_cast<int>(events.size()));
        events.resize(static_cast<size_t>(n));
        return events;
    }
    tavoxa_fakemodem_set_contact_fn setContact = nullptr;
    tavoxa_fakemodem_pins_fn pins = nullptr;
    tavoxa_fakemodem_counts_fn counts = nullptr;
    tavoxa_fakemodem_reset_fn reset = nullptr;
    tavoxa_fakemodem_bus_log_fn busLog = nullptr;
    tavoxa_fakemodem_set_failure_fn setFailure = nullptr;
};

// Its own CTest entry must not pass by skipping.
#define REQUIRE_FAKEMODEM(modem)                                                                       \
    if (!(modem).Loaded()) {                                                                           \
        ASSERT_EQ(getenv("TAVOXA_FAKEMODEM_REQUIRED"), nullptr) << "fakemodem library not preloaded";  \
        GTEST_SKIP() << "needs the fakemodem library preloaded (CTest entry adapter_rscom_fakemodem)"; \
    }

constexpr int kStart = 0;
constexpr int kStop = 2 << 16;
constexpr int Acked(int v)
{
    return (1 << 16) | (1 << 8) | v;
}
constexpr int NotAcked(int v)
{
    return (1 << 16) | v;
}

TEST(RscomFakeModem, WriteAndReadTransactionsThroughTheDriver)
{
    FakeModemApi modem;
    REQUIRE_FAKEMODEM(modem);
    PtyPort p;
    ASSERT_TRUE(p.pty.Ok());
    setenv(TAVOXA_FAKEMODEM_DEVICE_ENV, p.pty.Slave().c_str(), 1);

    SteadyBusDelay delay;
    I2cBus bus(p.rs, delay);
    ASSERT_EQ(p.rs.ComOpen(1), 1);
    bus.I2cIdle();

    modem.reset();
    WriteTransaction(bus, 0x20, 0x05);
    long changes = 0;
    long reads = 0;
    modem.counts(&changes, &reads);
    EXPECT_EQ(changes, 62);  // one driver call per line change and per CTS sample
    EXPECT_EQ(reads, 2);
    EXPECT_EQ(modem.pins(), 0xC5);
    EXPECT_EQ(modem.BusLog(), (std::vector<int>{kStart, Acked(0x40), Acked(0xC5), kStop}));

    modem.setContact(1, 1);  // K1 closed
    modem.reset();
    EXPECT_EQ(ReadTransaction(bus, 0x20), 0x45);
    modem.counts(&changes, &reads);
    EXPECT_EQ(changes, 72);
    EXPECT_EQ(reads, 9);
    EXPECT_EQ(modem.BusLog(), (std::vector<int>{kStart, Acked(0x41), NotAcked(0x45), kStop}));
    EXPECT_TRUE(bus.I2cAcknowledged());

    // Closing leaves the relays as they are: nothing is written on the way out.
    modem.reset();
    p.rs.ComClose();
    modem.counts(&changes, &reads);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(modem.pins(), 0xC5);
    modem.setContact(1, 0);
    unsetenv(TAVOXA_FAKEMODEM_DEVICE_ENV);
}

using testing::WaitUntil;

// A USB adapter pulled out: its descriptor fails every modem-line call with EIO and its device
// node is gone. With --device every open goes by the stable name: the adapter comes back under
// another ttyUSB number, to which the stable name now points, and the reopen finds it there.
TEST(RscomFakeModem, UnpluggedAdapterIsReopenedByItsNameAndDrivenWithTheCurrentByte)
{
    FakeModemApi modem;
    REQUIRE_FAKEMODEM(modem);
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    TempDir tmp;
    setenv(TAVOXA_FAKEMODEM_DEVICE_ENV, pty.Slave().c_str(), 1);
    const std::string first = tmp.Link("ttyUSB0", pty.Slave());
    const std::string stable = tmp.Link("usb-FTDI_FT232R_A1B2C3-if00-port0", first);
    std::atomic<int> opens{0};
    RSCOM rs(
        [&, device = FixedDevice(stable)](int com) {
            ++opens;
            return device(com);
        },
        tmp.File("console-active", "tty0\n"));
    SteadyBusDelay delay;
    BusThread bus(rs, delay);
    std::vector<BusStatus> status;
    std::vector<uint8_t> written;
    QObject context;
    QObject::connect(&bus.Worker(), &BusWorker::StatusChanged, &context,
                     [&](const BusStatus& s) { status.push_back(s); });
    QObject::connect(&bus.Worker(), &BusWorker::RelayByteWritten, &context,
                     [&](uint8_t b) { written.push_back(b); });
    auto now = [&] { return status.empty() ? BusStatus{} : status.back(); };

    bus.SetRelayByte(0x05);
    bus.Open(7, 0x20);  // the COM number plays no part
    ASSERT_TRUE(WaitUntil([&] { return now().Acknowledged; }));
    EXPECT_EQ(rs.OpenDevice(), stable);
    EXPECT_EQ(modem.pins(), 0xC5);

    modem.setFailure(EIO);
    ASSERT_EQ(unlink(stable.c_str()), 0);
    ASSERT_EQ(unlink(first.c_str()), 0);
    ASSERT_TRUE(WaitUntil([&] { return now().DeviceLost; }));
    EXPECT_TRUE(now().PortOpen);
    EXPECT_FALSE(now().Acknowledged);
    EXPECT_NE(now().Reason, "");
    bus.SetRelayByte(0x0A);  // changed while the adapter is away

    // Tried again once a second, sleeping in between: two tries take two seconds, not a loop's
    // milliseconds.
    const int opensBefore = opens;
    QElapsedTimer elapsed;
    elapsed.start();
    ASSERT_TRUE(WaitUntil([&] { return opens - opensBefore >= 2; }, 4000));
    EXPECT_GE(elapsed.elapsed(), 1500);
    EXPECT_TRUE(now().DeviceLost);

    modem.setFailure(0);
    const std::string second = tmp.Link("ttyUSB1", pty.Slave());
    ASSERT_EQ(symlink(second.c_str(), stable.c_str()), 0);
    ASSERT_TRUE(WaitUntil([&] { return now().Acknowledged; }, 3000));
    EXPECT_FALSE(now().DeviceLost);
    EXPECT_EQ(now().Reason, "");
    EXPECT_EQ(rs.OpenDevice(), stable);
    EXPECT_EQ(modem.pins(), 0xCA);
    ASSERT_TRUE(WaitUntil([&] { return !written.empty() && written.back() == 0xCA; }));

    // STOP ends the retries.
    modem.setFailure(ENXIO);
    ASSERT_TRUE(WaitUntil([&] { return now().DeviceLost; }));
    bus.Stop();
    ASSERT_TRUE(WaitUntil([&] { return !now().PortOpen; }));
    EXPECT_FALSE(bus.Worker().Reopening()) << "no try is left armed";
    modem.setFailure(0);
    bus.Finish();
    unsetenv(TAVOXA_FAKEMODEM_DEVICE_ENV);
}

}  // namespace
}  // namespace tavoxa
