// The real serial port behind the serial-lines interface (QSerialPort for opening, locking and
// configuring; the modem lines through the driver directly).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "adapter/seriallines.h"

class QSerialPort;

namespace tavoxa {

// Device behind COM1..COM8, "" for any other number.
// COM1-COM4 are /dev/ttyS0-/dev/ttyS3 (built-in ports), COM5-COM8 /dev/ttyUSB0-/dev/ttyUSB3 (USB
// adapters).
std::string ComDeviceName(int comNumber);

// A device chooser for RSCOM that gives `path` whatever the COM number, as --device asks: each
// open, the reopen after an unplug included, goes by that name, so a stable name such as
// /dev/serial/by-id/usb-... finds the adapter whichever ttyUSB number it comes back as.
std::function<std::string(int comNumber)> FixedDevice(std::string path);

// Whether devicePath (symlinks resolved) is one of the active system consoles listed,
// space-separated, in consoleListPath (kernel tty names such as "ttyS0" or "tty0 ttyS0").
// Toggling a console's modem lines would disturb whoever is logged in on it.
bool IsActiveConsole(const std::string& devicePath, const std::string& consoleListPath);

class RSCOM : public SerialLines {
public:
    RSCOM();
    explicit RSCOM(std::function<std::string(int comNumber)> deviceForCom,
                   std::string consoleListPath = "/sys/class/tty/console/active");
    ~RSCOM() override;
    RSCOM(const RSCOM&) = delete;
    RSCOM& operator=(const RSCOM&) = delete;

    // 1 when COM1..COM8 could be opened, locked and configured; 0 otherwise, also for the active
    // system console.
    int ComOpen(int comNumber) override;
    void ComClose() override;
    // One driver call each; nothing happens without an open port.
    void ComSetDtr(int on) override;
    void ComSetRts(int on) override;
    // 1 when CTS is on, and also when the modem lines cannot be read (no adapter can then be
    // seen acknowledging, so the status shows "not connected").
    int ComGetCts() override;
    // errno of the failed open or ioctl; an open that QSerialPort refused gives its text.
    int LastError() const override { return lastError_; }
    std::string LastErrorText() const override { return lastErrorText_; }

    bool IsOpen() const { return port_ != nullptr; }
    // Device path of the open port, "" while closed.
    std::string OpenDevice() const { return openDevice_; }

private:
    bool ConfigureLines();
    void Failed(int error, std::string text = {});

    std::function<std::string(int)> deviceForCom_;
    std::string consoleListPath_;
    std::unique_ptr<QSerialPort> port_;
    std::string openDevice_;
    int lastError_ = 0;
    std::string lastErrorText_;
};

}  // namespace tavoxa
