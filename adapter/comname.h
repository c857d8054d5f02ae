// The port settings text such as "Com3:4800,N,8,1" of the synchronous exchange (exchange.h): the
// letters COM, the port number and the line settings, which do not matter to the bus since no
// data byte is ever sent. Goes with that exchange.
#pragma once

#include <cstdint>
#include <string>

namespace tavoxa {

// The port number 1..8 of a settings text whose device name (the text before the colon) is COM1 to
// COM8 in any case; 0 for every other name. The whole name counts: "COM12" is no port, rather
// than being cut to COM1 and driving a port the status line does not show.
int ComNumberFromSettings(const std::string& settings);

// prefix ("Com" or "COM") + comNumber + ":4800,N,8,1".
std::string BuildPortSettings(const std::string& prefix, int32_t comNumber);

}  // namespace tavoxa
