// Tavoxa's entry: reads the command line, then runs the relay controller, with its window when
// there is a display and alone (headless) when there is none.
//
// Built twice: `tavoxa` drives the relay board on a real serial port; `tavoxa-sim` has the
// simulated board behind every COM port and a small window that shows its pins and closes
// its contacts, so every mode can be tried without hardware.
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
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
#include <thread>

#include "adapter/i2c.h"
#include "app/options.h"
#include "app/servicenotify.h"
#include "core/language.h"
#include "core/relaycontroller.h"
#include "engine/clock.h"
#include "engine/random.h"
#include "mqtt/mqttbridge.h"
#include "mqtt/mqttglue.h"
#include "storage/instancelock.h"
#include "storage/relaystatefile.h"
#include "ui/errorreport.h"
#include "ui/form1.h"
#include "ui/form2.h"
#include "ui/form3.h"
#include "ui/windowlanguage.h"
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
                  tavoxa::ErrorReport& stderrReport, tavoxa::ServiceNotifier& service)
{
    if (signalPipe[0] < 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &core);
    QObject::connect(notifier, &QSocketNotifier::activated, &core,
                     [&core, boxes, notifier, &stderrReport, &service] {
                         char byte;
                         [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &byte, 1);
                         notifier->setEnabled(false);
                         service.Stopping();
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

// Qt wants a private runtime folder and warns on standard error when XDG_RUNTIME_DIR is not set
// (a service, a cron job, su): the program then makes Qt's own fallback, a folder of the user's
// own under the temporary folder, and names it, which is what Qt would do without the warning.
void ProvideRuntimeFolder()
{
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        return;
    const QByteArray folder =
        QFile::encodeName(QDir::tempPath()) + "/runtime-" + QByteArray::number(::getuid());
    ::mkdir(folder.constData(), 0700);
    struct stat info {};
    if (::lstat(folder.constData(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid() &&
        (info.st_mode & 0777) == 0700)
        qputenv("XDG_RUNTIME_DIR", folder);
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
    ProvideRuntimeFolder();
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
#ifdef TAVOXA_SIMULATED
    const QString program = QStringLiteral("tavoxa-sim");
#else
    const QString program = QStringLiteral("tavoxa");
#endif
    if (options.userDir)
        options.dir = tavoxa::UserDataFolder(program);
    if (options.userDir && !QDir().mkpath(options.dir)) {
        std::fprintf(stderr, "tavoxa: cannot create the folder %s\n", qPrintable(options.dir));
        return 1;
    }
    if (!options.dir.isEmpty() && !QDir::setCurrent(options.dir)) {
        std::fprintf(stderr, "tavoxa: cannot change to the folder %s\n", qPrintable(options.dir));
        return 1;
    }
    if (options.plan || !options.planImage.isEmpty())
        return tavoxa::RunPlan(options);

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
    tavoxa::RSCOM lines = options.device.isEmpty()
                              ? tavoxa::RSCOM()
                              : tavoxa::RSCOM(tavoxa::FixedDevice(options.device.toStdString()));
#endif

    tavoxa::StderrReport stderrReport(clock);
    tavoxa::MessageBoxReport boxReport;
    tavoxa::ErrorReport& report = headless ? static_cast<tavoxa::ErrorReport&>(stderrReport) : boxReport;
    tavoxa::RelayController core(lines, clock, random, delay, report);
    core.SetUnattended(headless);
    core.SetResumeTimers(options.resumeTimers);
    // The relays as last written, kept beside swcf.ini; read back only with --restore-relays.
    tavoxa::RelayStateWriter relayState(tavoxa::kRelayStateFileName, [](const std::string& why) {
        std::fprintf(stderr, "tavoxa: cannot keep the relays in %s: %s\n", tavoxa::kRelayStateFileName,
                     why.c_str());
    });
    if (options.restoreRelays) {
        std::string why;
        const std::optional<uint8_t> kept = tavoxa::ReadRelayState(tavoxa::kRelayStateFileName, &why);
        if (kept)
            core.SetRestoredRelays(*kept);
        else if (!why.empty())
            std::fprintf(stderr, "tavoxa: --restore-relays: %s; the relays start as the engines set them\n",
                         why.c_str());
    }
    QObject::connect(&core, &tavoxa::RelayController::RelaysWritten, &core,
                     [&relayState](uint8_t bits) { relayState.Keep(bits); });
    if (!options.logFile.isEmpty()) {
        QString why;
        if (!core.log().OpenFile(options.logFile, &why))
            std::fprintf(stderr, "tavoxa: cannot write the log file %s: %s\n", qPrintable(options.logFile),
                         qPrintable(why));
    }
    if (!options.device.isEmpty())
        core.log().Write(QStringLiteral("the port is %1 (--device), whatever COM number the log names")
                             .arg(options.device));

    tavoxa::MqttBridge mqtt;
    if (!options.mqttUrl.isEmpty()) {
        tavoxa::AttachMqtt(core, mqtt);
        tavoxa::MqttOptions mqttOptions;
        QString why;
        if (!tavoxa::MakeMqttOptions(options, mqttOptions, &why) || !mqtt.Start(mqttOptions, &why)) {
            std::fprintf(stderr, "tavoxa: MQTT: %s\n", qPrintable(why));
            return 1;
        }
    }

    // systemd hears of the start once the port, the files and the servers are up, of each second
    // tick while a watchdog is asked for, and of the stop.
    tavoxa::ServiceNotifier service;
    QObject::connect(&core, &tavoxa::RelayController::SecondTicked, &service, &tavoxa::ServiceNotifier::Tick);
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &service, &tavoxa::ServiceNotifier::Stopping);

    if (headless) {
        StopOnSignal(core, nullptr, stderrReport, service);
        core.Startup();
        service.Ready();
        const int code = app.exec();
        // After the close: "offline" on the broker, as the last word.
        mqtt.Stop();
        return code;
    }

    // The window speaks the chosen language; a program without one keeps its texts as they are.
    const QString chosen = tavoxa::ChosenLanguage(options.lang);
    const tavoxa::WindowLanguage language(chosen);
    if (language.language() != chosen)
        std::fprintf(stderr, "tavoxa: the English translation cannot be loaded; the window stays German\n");
    tavoxa::TForm1 form1(core);
    boxReport.SetParent(&form1);
    tavoxa::TForm2 form2(&form1, language.language());
    tavoxa::TForm3 form3(core.remote(), &form1);
    form1.SetHelpWindow(&form2);
    form1.SetRemoteDialog(&form3);
    StopOnSignal(core, &boxReport, stderrReport, service);
    if (!options.device.isEmpty())
        form1.ShowDevice(options.device);
    core.Startup();
    service.Ready();
    form1.show();
#ifdef TAVOXA_SIMULATED
    tavoxa::BoardWindow board(lines);
    board.setAttribute(Qt::WA_QuitOnClose, false);
    board.show();
#endif
    const int code = app.exec();
    mqtt.Stop();
    return code;
}
