#include "adapter/rscom.h"

#include <QSerialPort>
#include <QString>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <utility>

#include "adapter/comname.h"

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <climits>
#endif

namespace tavoxa {

namespace {

// Line settings after the colon, e.g. "4800,N,8,1". They do not matter to the bus, since no data
// byte is ever sent; anything that does not parse keeps 4800 baud, 8 data bits, no parity, 1 stop.
void ApplyLineSettings(QSerialPort& port, const std::string& settings)
{
    port.setBaudRate(4800);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    const size_t colon = settings.find(':');
    if (colon == std::string::npos) {
        return;
    }
    std::istringstream in(settings.substr(colon + 1));
    std::string field;
    int index = 0;
    while (std::getline(in, field, ',')) {
        const std::string f = field.find_first_not_of(' ') == std::string::npos
                                  ? std::string()
                                  : field.substr(field.find_first_not_of(' '));
        const int value = std::atoi(f.c_str());
        const char c = f.empty() ? '\0' : static_cast<char>(std::toupper(static_cast<unsigned char>(f[0])));
        switch (index++) {
            case 0:
                if (value > 0) {
                    port.setBaudRate(value);
                }
                break;
            case 1:
                if (c == 'E') {
                    port.setParity(QSerialPort::EvenParity);
                } else if (c == 'O') {
                    port.setParity(QSerialPort::OddParity);
                } else if (c == 'M') {
                    port.setParity(QSerialPort::MarkParity);
                } else if (c == 'S') {
                    port.setParity(QSerialPort::SpaceParity);
                }
                break;
            case 2:
                if (value >= 5 && value <= 8) {
                    port.setDataBits(static_cast<QSerialPort::DataBits>(value));
                }
                break;
            case 3:
                if (f == "2") {
                    port.setStopBits(QSerialPort::TwoStop);
                } else if (f == "1.5") {
                    port.setStopBits(QSerialPort::OneAndHalfStop);
                }
                break;
            default:
                break;
        }
    }
}

std::string ResolvedDevicePath(const std::string& path)
{
#ifdef Q_OS_WIN
    return path;
#else
    char buffer[PATH_MAX];
    if (::realpath(path.c_str(), buffer) != nullptr) {
        return buffer;
    }
    return path;
#endif
}

}  // namespace

std::string ComDeviceName(int comNumber)
{
    if (comNumber < 1 || comNumber > 8) {
        return "";
    }
#ifdef Q_OS_WIN
    return "COM" + std::to_string(comNumber);
#else
    if (comNumber <= 4) {
        return "/dev/ttyS" + std::to_string(comNumber - 1);
    }
    return "/dev/ttyUSB" + std::to_string(comNumber - 5);
#endif
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

int RSCOM::ComOpen(const std::string& settings)
{
    ComClose();  // a second open replaces the first
    const int comNumber = ComNumberFromSettings(settings);
    if (comNumber == 0) {
        return 0;
    }
    const std::string device = deviceForCom_ ? deviceForCom_(comNumber) : std::string();
    if (device.empty() || IsActiveConsole(device, consoleListPath_)) {
        return 0;
    }

    auto port = std::make_unique<QSerialPort>();
    port->setPortName(QString::fromStdString(device));
    ApplyLineSettings(*port, settings);
    port->setFlowControl(QSerialPort::NoFlowControl);
    // Write-only: the receive path is never used, so no read notifier is set up and nothing is
    // buffered. QSerialPort also takes the port's lock file and exclusive access here.
    if (!port->open(QIODevice::WriteOnly)) {
        return 0;
    }
    port_ = std::move(port);
    if (!ConfigureLines()) {
        ComClose();
        return 0;
    }
    openDevice_ = device;
    return 1;
}

bool RSCOM::ConfigureLines()
{
#ifdef Q_OS_WIN
    HANDLE h = port_->handle();
    DCB dcb;
    SecureZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h, &dcb)) {
        return false;
    }
    // No handshake of any kind, so that DTR and RTS move only on request.
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fInX = FALSE;
    dcb.fOutX = FALSE;
    return SetCommState(h, &dcb) != 0;
#else
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
#endif
}

void RSCOM::ComClose()
{
    if (!port_) {
        return;
    }
#ifdef Q_OS_WIN
    port_->close();
#else
    // QSerialPort puts back the terminal settings it found at open, hang-up on close included, and
    // then closes. A second descriptor keeps that from being the last close; it gets the settings
    // without hang-up again and is closed last, so DTR and RTS stay where the bus left them.
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
#endif
    port_.reset();
    openDevice_.clear();
}

// QSerialPort's own setters read the lines before changing one, two driver calls per change; the
// bus makes about seventy changes per tick, so each goes straight to the driver.
void RSCOM::ComSetDtr(int on)
{
    if (!port_) {
        return;
    }
#ifdef Q_OS_WIN
    EscapeCommFunction(port_->handle(), on ? SETDTR : CLRDTR);
#else
    int bits = TIOCM_DTR;
    ::ioctl(port_->handle(), on ? TIOCMBIS : TIOCMBIC, &bits);
#endif
}

void RSCOM::ComSetRts(int on)
{
    if (!port_) {
        return;
    }
#ifdef Q_OS_WIN
    EscapeCommFunction(port_->handle(), on ? SETRTS : CLRRTS);
#else
    int bits = TIOCM_RTS;
    ::ioctl(port_->handle(), on ? TIOCMBIS : TIOCMBIC, &bits);
#endif
}

int RSCOM::ComGetCts()
{
    if (!port_) {
        return 1;
    }
#ifdef Q_OS_WIN
    DWORD status = 0;
    if (!GetCommModemStatus(port_->handle(), &status)) {
        return 1;
    }
    return (status & MS_CTS_ON) != 0 ? 1 : 0;
#else
    int status = 0;
    if (::ioctl(port_->handle(), TIOCMGET, &status) == -1) {
        return 1;
    }
    return (status & TIOCM_CTS) != 0 ? 1 : 0;
#endif
}

}  // namespace tavoxa
