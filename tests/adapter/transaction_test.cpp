// The write and read transactions on the wire, the debouncing of the contacts, and the choices of
// port and chip, against the simulated board.
#include "adapter/transaction.h"

#include <gtest/gtest.h>

#include <vector>

#include "adapter/adapterstate.h"
#include "adapter/busevents.h"
#include "adapter/simboard.h"

namespace tavoxa {
namespace {

struct OpenBoard {
    OpenBoard() : bus(board, delay)
    {
        board.ComOpen(1);
        bus.I2cIdle();
        board.ResetCounters();
        board.Model().SetBusLogEnabled(true);
    }
    std::vector<BusEvent> TakeLog()
    {
        std::vector<BusEvent> log = board.Model().BusLog();
        board.Model().ClearBusLog();
        board.ResetCounters();
        return log;
    }
    SimulatedBoard board;
    NoBusDelay delay;
    I2cBus bus;
};

// The address byte is the 7-bit address doubled, plus the read bit; only the chip at that address
// answers, and a wire nobody drives reads high, as both contacts open.
TEST(Transaction, WriteThenReadOnTheWire)
{
    struct Case {
        const char* what;
        uint8_t chip;    // address the transactions use
        uint8_t fitted;  // address of the chip on the board
        bool answering;
        uint8_t address;  // address byte of the write; the read's is one more
        bool acked;
    };
    for (const Case& c : {
             Case{"PCF8574", 0x20, 0x20, true, 0x40, true},
             Case{"PCF8574A", 0x38, 0x38, true, 0x70, true},
             Case{"PCF8574 chosen, PCF8574A fitted", 0x20, 0x38, true, 0x40, false},
             Case{"hand-edited address, cut to eight bits", 0x90, 0x20, true, 0x20, false},
             Case{"board that does not answer", 0x20, 0x20, false, 0x40, false},
         }) {
        SCOPED_TRACE(c.what);
        OpenBoard b;
        b.board.SetChipAddress(c.fitted);
        b.board.SetAnswering(c.answering);
        b.TakeLog();
        // Bits 6 and 7 go out high, so the contacts can pull those pins low.
        EXPECT_EQ(WriteTransaction(b.bus, c.chip, 0x05), 0xC5);
        EXPECT_EQ(b.bus.I2cAcknowledged(), c.acked);
        EXPECT_EQ(b.board.LineChanges(), 62u);
        EXPECT_EQ(b.board.CtsCalls(), 2u);
        EXPECT_EQ(b.TakeLog(), (std::vector<BusEvent>{StartEv(), ByteEv(c.address, c.acked),
                                                      ByteEv(0xC5, c.acked), StopEv()}));

        const uint8_t read = ReadTransaction(b.bus, c.chip);
        EXPECT_EQ(read, c.acked ? 0xC5 : 0xFF);
        EXPECT_EQ(b.bus.I2cAcknowledged(), c.acked);  // the address byte
        EXPECT_EQ(b.board.LineChanges(), 72u);
        EXPECT_EQ(b.board.CtsCalls(), 9u);
        EXPECT_EQ(b.TakeLog(), (std::vector<BusEvent>{StartEv(), ByteEv(c.address + 1, c.acked),
                                                      ByteEv(read, false), StopEv()}));
    }
}

// Runs of equal port bytes, read one after the other.
struct Repeated {
    uint8_t byte;
    int times;
};

TEST(DebounceRead, EightEqualReadsTakeAPatternOver)
{
    struct Case {
        const char* what;
        std::vector<Repeated> reads;
        int takenOver;  // reads that returned true
        bool k1Closed;
        bool k2Closed;
    };
    std::vector<Repeated> bouncing{{0xFF, 8}};
    for (int i = 0; i < 20; ++i) {
        bouncing.push_back({0x3F, 1});
        bouncing.push_back({0xFF, 1});
    }
    for (const Case& c : {
             Case{"seven reads are not enough", {{0x7F, 7}}, 0, false, false},
             Case{"the eighth takes K1 closed over", {{0x7F, 8}}, 1, true, false},
             Case{"every read after that, with no wrap of the count", {{0x7F, 300}}, 293, true, false},
             Case{"a bouncing pattern never arrives", bouncing, 1, false, false},
             Case{"a change of K2 restarts the count of K1", {{0x3F, 7}, {0x7F, 7}}, 0, false, false},
             Case{"... until eight reads agree", {{0x3F, 7}, {0x7F, 8}}, 1, true, false},
             Case{"only bits 6 and 7 count", {{0x40, 2}, {0x45, 2}, {0x7F, 2}, {0x6A, 2}}, 1, true, false},
         }) {
        SCOPED_TRACE(c.what);
        InputDebounce d;
        int takenOver = 0;
        for (const Repeated& r : c.reads) {
            for (int i = 0; i < r.times; ++i) {
                takenOver += DebounceRead(d, r.byte) ? 1 : 0;
            }
        }
        EXPECT_EQ(takenOver, c.takenOver);
        EXPECT_EQ(d.K1Closed, c.k1Closed);
        EXPECT_EQ(d.K2Closed, c.k2Closed);
    }
}

TEST(AdapterState, ListChoicesGivePortAndChip)
{
    AdapterState a;
    for (const auto& [item, com] : {std::pair{0, 1}, {4, 5}, {-1, 0}}) {  // -1: text typed into the list
        SelectComPort(a, item);
        EXPECT_EQ(a.ComNumber, com) << item;
    }
    SelectChip(a, 1);
    EXPECT_EQ(a.ChipAddress, 0x38);
    SelectChip(a, 0);
    EXPECT_EQ(a.ChipAddress, 0x20);
}

}  // namespace
}  // namespace tavoxa
