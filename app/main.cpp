// Tavoxa's entry: creates the main window, the help window and the remote settings dialog,
// in that order, and runs the event loop until the main window closes.
//
// Built twice: `tavoxa` drives the relay board on a real serial port; `tavoxa-sim` has the
// simulated board behind every COM port and a small window that shows its pins and closes
// its contacts, so every mode can be tried without hardware.
#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <sys/socket.h>
#include <unistd.h>

#include "adapter/i2c.h"
#include "engine/clock.h"
#include "engine/random.h"
#include "core/relaycontroller.h"
#include "ui/errorreport.h"
#include "ui/form1.h"
#include "ui/form2.h"
#include "ui/form3.h"
#ifdef TAVOXA_SIMULATED
#include "adapter/simboard.h"
#include "ui/boardwindow.h"
#else
#include "adapter/rscom.h"
#endif

namespace {

int signalPipe[2] = {-1, -1};

void OnStopSignal(int)
{
    const char byte = 1;
    // Only async-signal-safe work here: the event loop picks the byte up.
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

// SIGTERM, SIGINT and SIGHUP close the main window as its close box does, so a headless
// program writes its files and closes the port before it ends. The handlers are installed
// first thing; a signal that comes while the window is still being built waits in the pipe
// until the event loop runs.
void CatchStopSignals()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

void CloseOnStopSignal(QWidget* mainWindow)
{
    if (signalPipe[0] < 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, mainWindow);
    QObject::connect(notifier, &QSocketNotifier::activated, mainWindow, [mainWindow] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &byte, 1);
        mainWindow->close();
    });
}

// Without a display the program still switches relays and serves the remote: it runs on
// Qt's offscreen platform and says so.
void ChooseHeadlessWhenNoDisplay()
{
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return;
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        std::fprintf(stderr, "tavoxa: no display found; running headless on the offscreen platform\n");
    }
}

}  // namespace

int main(int argc, char** argv)
{
    CatchStopSignals();
    ChooseHeadlessWhenNoDisplay();
    QApplication app(argc, argv);
    QApplication::setApplicationName("tavoxa");
    QApplication::setApplicationDisplayName("Tavoxa");

    tavoxa::SystemClock clock;
    tavoxa::LcgRandom random;
    tavoxa::SteadyBusDelay delay;
#ifdef TAVOXA_SIMULATED
    tavoxa::SimulatedBoard lines;
#else
    tavoxa::RSCOM lines;
#endif

    tavoxa::MessageBoxReport report;
    tavoxa::RelayController core(lines, clock, random, delay, report);
    tavoxa::TForm1 form1(core);
    report.SetParent(&form1);
    tavoxa::TForm2 form2(&form1);
    tavoxa::TForm3 form3(core.remote(), &form1);
    form1.SetHelpWindow(&form2);
    form1.SetRemoteDialog(&form3);
    CloseOnStopSignal(&form1);
    core.Startup();
    form1.show();
#ifdef TAVOXA_SIMULATED
    tavoxa::BoardWindow board(lines);
    board.setAttribute(Qt::WA_QuitOnClose, false);
    board.show();
#endif
    return app.exec();
}
