// Tavoxa's entry: reads the command line, then runs the relay controller, with its window when
// there is a display and alone (headless) when there is none.
//
// Built twice: `tavoxa` drives the relay board on a real serial port; `tavoxa-sim` has the
// simulated board behind every COM port and a small window that shows its pins and closes
// its contacts, so every mode can be tried without hardware.
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "adapter/i2c.h"
#include "app/options.h"
#include "core/relaycontroller.h"
#include "engine/clock.h"
#include "engine/random.h"
#include "remote/connectionlimit.h"
#include "remote/loginguard.h"
#include "remote/mqttbridge.h"
#include "storage/instancelock.h"
#include "ui/errorreport.h"
#include "ui/form1.h"
#include "ui/form2.h"
#include "ui/form3.h"
#include "web/webserver.h"
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

// SIGTERM, SIGINT and SIGHUP end the program as the window's close box does: the port is
// closed and both files are written. The handlers are installed first thing; a signal that
// comes during the start-up waits in the pipe until the event loop runs.
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

// Once a stop signal has come the program ends within this time, whatever holds it up.
constexpr auto kStopDeadline = std::chrono::seconds(3);

void ArmStopDeadline()
{
    std::thread([] {
        std::this_thread::sleep_for(kStopDeadline);
        static const char message[] = "tavoxa: did not end within 3 s of the stop signal; ending now\n";
        [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, message, sizeof message - 1);
        ::_exit(1);
    }).detach();
}

// A stop signal: open boxes and dialogs go first (nobody answers them now), then the controller
// closes and saves; a failed save is reported on standard error and ends the program with 1.
void StopOnSignal(tavoxa::RelayController& core, tavoxa::MessageBoxReport* boxes,
                  tavoxa::ErrorReport& stderrReport)
{
    if (signalPipe[0] < 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &core);
    QObject::connect(notifier, &QSocketNotifier::activated, &core, [&core, boxes, notifier, &stderrReport] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &byte, 1);
        notifier->setEnabled(false);
        ArmStopDeadline();
        if (boxes)
            boxes->SendTo(&stderrReport);
        for (int i = 0; i < 16 && QApplication::activeModalWidget(); ++i) {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* dialog = qobject_cast<QDialog*>(modal))
                dialog->done(QDialog::Rejected);
            else
                modal->close();
        }
        const bool saved = core.Close();
        QCoreApplication::exit(saved ? 0 : 1);
    });
}

// Every client connection and file costs a descriptor; the soft limit of a service (often 1024)
// is raised to what the system allows, so the files can still be written under load.
void RaiseDescriptorLimit()
{
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

// Without a display the program still switches relays and serves the remote: it runs on
// Qt's offscreen platform without a window, and says so.
bool ChooseHeadlessWhenNoDisplay()
{
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return qgetenv("QT_QPA_PLATFORM") == "offscreen";
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        std::fprintf(stderr, "tavoxa: no display found; running headless on the offscreen platform\n");
        return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    CatchStopSignals();
    if (tavoxa::OnlyPrints(argc, argv)) {
        // --help and --version need no platform, no window and no file.
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName("tavoxa");
        QCoreApplication::setApplicationVersion(tavoxa::kVersionText);
        tavoxa::AppOptions options;
        const int code = tavoxa::ParseOptions(app, options);
        return code >= 0 ? code : 1;
    }
    const bool windowless = tavoxa::NeedsNoWindow(argc, argv);
    if (windowless)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const bool headless = windowless || ChooseHeadlessWhenNoDisplay();
    QApplication app(argc, argv);
    QApplication::setApplicationName("tavoxa");
    QApplication::setApplicationDisplayName("Tavoxa");
    QApplication::setApplicationVersion(tavoxa::kVersionText);

    tavoxa::AppOptions options;
    if (const int code = tavoxa::ParseOptions(app, options); code >= 0)
        return code;
    if (!options.dir.isEmpty() && !QDir::setCurrent(options.dir)) {
        std::fprintf(stderr, "tavoxa: cannot change to the folder %s\n", qPrintable(options.dir));
        return 1;
    }
    if (options.plan || !options.planImage.isEmpty())
        return tavoxa::RunPlan(options);
    if (options.webPassword)
        return tavoxa::RunWebPassword();

    // One program per folder: a second one would overwrite the first one's files at its close.
    tavoxa::InstanceLock lock;
    QString lockMessage;
    switch (lock.Acquire(QDir::currentPath(), &lockMessage)) {
        case tavoxa::LockResult::HeldByOther:
            std::fprintf(stderr, "tavoxa: %s\n", qPrintable(lockMessage));
            return 1;
        case tavoxa::LockResult::Unavailable:
            std::fprintf(stderr, "tavoxa: warning: %s; going on without a lock\n", qPrintable(lockMessage));
            break;
        case tavoxa::LockResult::Locked:
            if (!lockMessage.isEmpty())
                std::fprintf(stderr, "tavoxa: %s\n", qPrintable(lockMessage));
            break;
    }
    RaiseDescriptorLimit();

    tavoxa::SystemClock clock;
    tavoxa::LcgRandom random;
    tavoxa::SteadyBusDelay delay;
#ifdef TAVOXA_SIMULATED
    tavoxa::SimulatedBoard lines;
#else
    tavoxa::RSCOM lines;
#endif

    tavoxa::StderrReport stderrReport(clock);
    tavoxa::MessageBoxReport boxReport;
    tavoxa::ErrorReport& report = headless ? static_cast<tavoxa::ErrorReport&>(stderrReport) : boxReport;
    tavoxa::RelayController core(lines, clock, random, delay, report);
    core.SetUnattended(headless);
    core.SetResumeTimers(options.resumeTimers);
    if (!options.logFile.isEmpty()) {
        QString why;
        if (!core.log().OpenFile(options.logFile, &why))
            std::fprintf(stderr, "tavoxa: cannot write the log file %s: %s\n", qPrintable(options.logFile),
                         qPrintable(why));
    }

    tavoxa::MqttBridge mqtt;
    if (!options.mqttUrl.isEmpty()) {
        tavoxa::MqttOptions mqttOptions;
        QString why;
        if (!tavoxa::MakeMqttOptions(options, mqttOptions, &why) || !mqtt.Start(mqttOptions, &why)) {
            std::fprintf(stderr, "tavoxa: MQTT: %s\n", qPrintable(why));
            return 1;
        }
        core.AttachMqtt(&mqtt);
    }

#ifdef TAVOXA_SIMULATED
    // Tests of the whole program read the simulated relay pins from this file ("100000": relay 1 on).
    if (const QString pinsFile = qEnvironmentVariable("TAVOXA_SIM_PINS_FILE");
        headless && !pinsFile.isEmpty()) {
        lines.SetOnPinsChanged([&lines, pinsFile] {
            const uint8_t pins = lines.RelayPins();
            QByteArray text;
            for (int r = 0; r < 6; ++r)
                text += (pins >> r & 1) ? '1' : '0';
            QFile file(pinsFile + QStringLiteral(".new"));
            if (file.open(QIODevice::WriteOnly) && file.write(text + '\n') > 0) {
                file.close();
                std::rename(qPrintable(file.fileName()), qPrintable(pinsFile));
            }
        });
    }
#endif

    // The web page: one login guard and one set of connection rules for it.
    tavoxa::LoginGuard loginGuard;
    tavoxa::ConnectionLimit webConnections;
    // Created before the start-up so its log view holds the start-up's lines; it listens after it.
    std::unique_ptr<tavoxa::WebServer> web;
    if (options.http)
        web = std::make_unique<tavoxa::WebServer>(core, loginGuard, webConnections);
    const auto startWeb = [&] {
        if (!web)
            return;
        tavoxa::WebConfig config;
        config.address = options.httpAddress;
        config.port = options.httpPort;
        config.certFile = options.httpCert;
        config.keyFile = options.httpKey;
        QString why;
        if (!web->Start(config, &why)) {
            std::fprintf(stderr, "tavoxa: the web page does not start: %s\n", qPrintable(why));
            core.log().Write(QStringLiteral("web page not started: ") + why);
            web.reset();
        }
    };

    if (headless) {
        StopOnSignal(core, nullptr, stderrReport);
        core.Startup();
        startWeb();
        return app.exec();
    }

    tavoxa::TForm1 form1(core);
    boxReport.SetParent(&form1);
    tavoxa::TForm2 form2(&form1);
    tavoxa::TForm3 form3(core.remote(), &form1);
    form1.SetHelpWindow(&form2);
    form1.SetRemoteDialog(&form3);
    StopOnSignal(core, &boxReport, stderrReport);
    core.Startup();
    startWeb();
    form1.show();
#ifdef TAVOXA_SIMULATED
    tavoxa::BoardWindow board(lines);
    board.setAttribute(Qt::WA_QuitOnClose, false);
    board.show();
#endif
    return app.exec();
}
