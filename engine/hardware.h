// Facts of the relay board that every layer shares: the two chip types and their bus addresses,
// where the contacts sit in the port byte, which relay can drive a slave clock, and the length of
// a day in the clock's units.
#pragma once

#include <array>
#include <cstdint>

namespace tavoxa {

// 7-bit bus addresses of the port expander with all three address pins low.
constexpr uint8_t kChipAddressPcf8574 = 0x20;   // "PCF 8574"
constexpr uint8_t kChipAddressPcf8574A = 0x38;  // "PCF 8574 A"

// The chip chooser's items in order, as it names them, and the address each selects.
constexpr std::array<const char*, 2> kChipNames = {"PCF 8574", "PCF 8574 A"};
constexpr uint8_t ChipAddressOfItem(int item)
{
    return item == 0 ? kChipAddressPcf8574 : kChipAddressPcf8574A;
}
// The item an address selects: 0x20 the "PCF 8574", any other value the "PCF 8574 A", so a
// stored address that is neither (a short or hand-edited file) ends as 0x38, the one shown.
constexpr int ChipItemOfAddress(uint8_t address)
{
    return address == kChipAddressPcf8574 ? 0 : 1;
}

// Pins of the port byte: relays on pins 0..5, the contacts on pins 7 (K1) and 6 (K2); a closed
// contact pulls its pin low.
constexpr uint8_t kRelayMask = 0x3F;
constexpr uint8_t kK1Mask = 0x80;
constexpr uint8_t kK2Mask = 0x40;
constexpr uint8_t kInputMask = kK1Mask | kK2Mask;

// Relay 6 (index 5) is the only one with the slave-clock mode.
constexpr int kClockRelay = 5;

constexpr int64_t kMsPerDay = 86400000;
constexpr int64_t kSecondsPerDay = 86400;

}  // namespace tavoxa
