// The two bus transactions with the port expander and the debouncing of its two contacts, as the
// bus worker runs them.
#pragma once

#include <cstdint>

#include "adapter/i2c.h"

namespace tavoxa {

// Number of equal consecutive reads before an input pattern is taken over. With a read every
// 40 ms a contact has to stay put for about 0.3 s, long enough to ride out the bounce of a
// mechanical contact and short enough to feel immediate.
constexpr uint8_t kDebounceReads = 8;

// START, address with the write bit, the byte with bits 6 and 7 high (so the contacts can pull
// those pins low), STOP: 62 line changes and 2 CTS samples. Returns the byte put on the wire.
uint8_t WriteTransaction(I2cBus& bus, uint8_t chipAddress, uint8_t relayByte);
// START, address with the read bit, one byte in, no-acknowledge, STOP: 72 line changes and 9 CTS
// samples. Returns the port byte as read.
uint8_t ReadTransaction(I2cBus& bus, uint8_t chipAddress);

struct InputDebounce {
    uint8_t InputBits = 0;  // bits 7 and 6 of the last byte read
    uint8_t Count = 0;      // consecutive reads with the same InputBits
    bool K1Closed = false;  // the pattern last taken over
    bool K2Closed = false;
};

// Counts one read; true when the pattern has now been read kDebounceReads times in a row (and on
// every read after that), with K1Closed/K2Closed taken over. A change of either input restarts
// the count for both.
bool DebounceRead(InputDebounce& d, uint8_t portByte);

}  // namespace tavoxa
