// The serial port as the bus needs it: open and close, DTR and RTS one at a time, CTS. Another
// platform's port goes behind this interface.
#pragma once

#include <string>

namespace tavoxa {

class SerialLines {
public:
    virtual ~SerialLines() = default;
    // Opens COM1..COM8 (comNumber 1..8); 1 if the port could be opened and set up, else 0. A
    // second open replaces the first.
    virtual int ComOpen(int comNumber) = 0;
    virtual void ComClose() = 0;
    // Non-zero asserts (bus level high), 0 clears (low). One driver call each.
    virtual void ComSetDtr(int on) = 0;
    virtual void ComSetRts(int on) = 0;
    // 1 if CTS is on (data wire high), else 0. One driver call.
    virtual int ComGetCts() = 0;
    // The system's error number of the last failed open or driver call since the last successful
    // open, 0 if none. EIO, ENXIO and ENODEV mean the device itself is gone (see DeviceFailed).
    virtual int LastError() const { return 0; }
    // The system's text for LastError, "" when there is none.
    virtual std::string LastErrorText() const { return {}; }
};

// Whether a driver error is the one a serial device gives once it has gone away, as a USB adapter
// does when it is pulled out: every further call on that descriptor fails the same way.
bool DeviceFailed(int error);

}  // namespace tavoxa
