#include "adapter/rscom.h"

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <QSerialPort>
#include <QString>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <utility>

namespace tavoxa {

namespace {

std::string ResolvedDevicePath(const std::string& path)
{
    char buffer[PATH_MAX];
    if (::realpath(path.c_str(), buffer) != nullptr) {
        return buffer;
    }
    return path;
}

}  // namespace

std::string ComDeviceName(int comNumber)
{
    if (comNumber < 1 || comNumber > 8) {
        return "";
    }
    if (comNumber <= 4) {
        return "/dev/ttyS" + std::to_string(comNumber - 1);
    }
    return "/dev/ttyUSB" + std::to_string(comNumber - 5);
}

std::function<std::string(int)> FixedDevice(std::string path)
{
    return [path = std::move(path)](int) { return path; };
}

bool IsActiveConsole(const std::string& devicePath, const std::string& consoleListPath)
{
    std::ifstream list(consoleListPath);
    if (!list) {
        return false;
    }
    std::string name = ResolvedDevicePath(devicePath);
    const std::string devPrefix = "/dev/";
    if (name.compare(0, devPrefix.size(), devPrefix) == 0) {
        name.erase(0, devPrefix.size());
    }
    for (std::istream_iterator<std::string> it(list), end; it != end; ++it) {
        if (*it == name) {
            return true;
        }
    }
    return false;
}

RSCOM::RSCOM() : RSCOM(ComDeviceName) {}

RSCOM::RSCOM(std::function<std::string(int)> deviceForCom, std::string consoleListPath)
    : deviceForCom_(std::move(deviceForCom)), consoleListPath_(std::move(consoleListPath))
{
}

RSCOM::~RSCOM()
{
    ComClose();
}

void RSCOM::Failed(int error, std::string text)
{
    if (error == lastError_ && text.empty()) {
        return;  // a dead device fails every call the same way: the text is made once
    }
    lastError_ = error;
    lastErrorText_ = text.empty() ? std::string(std::strerror(error)) : std::move(text);
}

int RSCOM::ComOpen(int comNumber)
{
    ComClose();  // a second open replaces the first
    lastError_ = 0;
    lastErrorText_.clear();
    const std::string device = deviceForCom_ ? deviceForCom_(comNumber) : std::string();
    if (device.empty()) {
        Failed(ENODEV, "COM" + std::to_string(comNumber) + " is no port");
        return 0;
    }
    if (IsActiveConsole(device, consoleListPath_)) {
        Failed(EBUSY, device + " is the system console");
        return 0;
    }

    auto port = std::make_unique<QSerialPort>();
    port->setPortName(QString::fromStdString(device));
    // Line speed and framing do not matter to the bus, since no data byte is ever sent.
    port->setFlowControl(QSerialPort::NoFlowControl);
    // Write-only: the receive path is never used, so no read notifier is set up and nothing is
    // buffered. QSerialPort also takes the port's lock file and exclusive access here.
    if (!port->open(QIODevice::WriteOnly)) {
        const QSerialPort::SerialPortError e = port->error();
        const int error = e == QSerialPort::DeviceNotFoundError ? ENOENT
                          : e == QSerialPort::PermissionError   ? EACCES
                                                                : EIO;
        Failed(error, device + ": " + port->errorString().toStdString());
        return 0;
    }
    port_ = std::move(port);
    if (!ConfigureLines()) {
        const int error = errno != 0 ? errno : EIO;
        ComClose();
        Failed(error);
        return 0;
    }
    openDevice_ = device;
    return 1;
}

bool RSCOM::ConfigureLines()
{
    const int fd = port_->handle();
    termios t{};
    if (::tcgetattr(fd, &t) != 0) {
        return false;
    }
    // Hang-up on close would drop DTR and RTS when the port closes and clock a stray edge into
    // the board; with it cleared the relays keep their state when the program stops.
    t.c_cflag &= ~static_cast<tcflag_t>(HUPCL | CRTSCTS);
    t.c_cflag |= CLOCAL;
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    return ::tcsetattr(fd, TCSANOW, &t) == 0;
}

void RSCOM::ComClose()
{
    if (!port_) {
        return;
    }
    // QSerialPort puts back the terminal settings it found at open, hang-up on close included, and
    // then closes. A second descriptor keeps that from being the last close; it gets the settings
    // without hang-up again and is closed last, so DTR and RTS stay where the bus left them. On a
    // device that has gone away these calls fail, which changes nothing.
    const int fd = port_->handle();
    termios keepSettings{};
    const bool haveSettings = ::tcgetattr(fd, &keepSettings) == 0;
    const int keep = ::dup(fd);
    port_->close();
    if (keep >= 0) {
        if (haveSettings) {
            ::tcsetattr(keep, TCSANOW, &keepSettings);
        }
        ::close(keep);
    }
    port_.reset();
    openDevice_.clear();
}

// QSerialPort's own setters read the lines before changing one, two driver calls per change; the
// bus makes about seventy changes per transaction, so each goes straight to the driver.
void RSCOM::ComSetDtr(int on)
{
    if (!port_) {
        return;
    }
    int bits = TIOCM_DTR;
    if (::ioctl(port_->handle(), on ? TIOCMBIS : TIOCMBIC, &bits) == -1) {
        Failed(errno);
    }
}

void RSCOM::ComSetRts(int on)
{
    if (!port_) {
        return;
    }
    int bits = TIOCM_RTS;
    if (::ioctl(port_->handle(), on ? TIOCMBIS : TIOCMBIC, &bits) == -1) {
        Failed(errno);
    }
}

int RSCOM::ComGetCts()
{
    if (!port_) {
        return 1;
    }
    int status = 0;
    if (::ioctl(port_->handle(), TIOCMGET, &status) == -1) {
        Failed(errno);
        return 1;
    }
    return (status & TIOCM_CTS) != 0 ? 1 : 0;
}

}  // namespace tavoxa
