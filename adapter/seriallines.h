// The serial port as the bus needs it: open and close, DTR and RTS one at a time, CTS.
#pragma once

#include <string>

namespace tavoxa {

class SerialLines {
public:
    virtual ~SerialLines() = default;
    // Opens the port named by a settings text such as "Com2:4800,N,8,1"; 1 if the port
    // state could be set, else 0. A second open replaces the first.
    virtual int ComOpen(const std::string& settings) = 0;
    virtual void ComClose() = 0;
    // Non-zero asserts (bus level high), 0 clears (low). One driver call each.
    virtual void ComSetDtr(int on) = 0;
    virtual void ComSetRts(int on) = 0;
    // 1 if CTS is on (data wire high), else 0. One driver call.
    virtual int ComGetCts() = 0;
};

}  // namespace tavoxa
