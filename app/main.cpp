// Tavoxa's entry: reads the command line, then runs the relay controller, with its window when
// there is a display and alone (headless) when there is none.
//
// Built twice: `tavoxa` drives the relay board on a real serial port; `tavoxa-sim` has the
// simulated board behind every COM port and a small window that shows its pins and closes
// its contacts, so every mode can be tried without hardware.
#include <fcntl.h>
#include <poll.h>
#include <semaphore.h>
#include <string.h>
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
#include <memory>
#include <thread>

#include "adapter/i2c.h"
#include "app/options.h"
#include "app/servicenotify.h"
#include "core/language.h"
#include "core/logqueue.h"
#include "core/relaycontroller.h"
#include "core/stderrreport.h"
#include "engine/clock.h"
#include "engine/random.h"
#include "mqtt/mqttbridge.h"
#include "mqtt/mqttglue.h"
#include "remote/connectionlimit.h"
#include "remote/loginguard.h"
#include "remote/remoteserver.h"
#include "storage/instancelock.h"
#include "storage/relaystatefile.h"
#include "tavoxa/version.h"
#include "ui/errorreport.h"
#include "ui/form1.h"
#include "ui/form2.h"
#include "ui/form3.h"
#include "ui/windowlanguage.h"
#include "web/webserver.h"
#ifdef TAVOXA_SIMULATED
#include "adapter/simboard.h"
#include "ui/boardwindow.h"
#else
#include "adapter/rscom.h"
#endif

namespace {

// The name the program's messages begin with.
#ifdef TAVOXA_SIMULATED
constexpr char kProgramName[] = "tavoxa-sim";
#else
constexpr char kProgramName[] = "tavoxa";
#endif

int signalPipe[2] = {-1, -1};
sem_t stopSignalled;
// Set when systemd started the program: SIGHUP (from log rotation) then reopens the log.
volatile sig_atomic_t hangupReopensLog = 0;

void OnSignal(int number)
{
    // Only async-signal-safe work here: the event loop picks the byte up, and the deadline
    // thread starts counting at once, whatever the event loop is doing.
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
    if (!(number == SIGHUP && hangupReopensLog))
        ::sem_post(&stopSignalled);
}

// Once a stop signal has come the program ends within this time, whatever holds it up.
constexpr auto kStopDeadline = std::chrono::seconds(3);

// The stop guard: a thread of its own, woken by the signal handler itself, so a main thread
// stuck anywhere (a standard error nobody reads, a hung file system) cannot keep it from ending
// the program.
void StartStopDeadline()
{
    ::sem_init(&stopSignalled, 0, 0);
    std::thread([] {
        while (::sem_wait(&stopSignalled) != 0) {
        }
        std::this_thread::sleep_for(kStopDeadline);
        // The message only when standard error takes it now; should it block after all, the
        // alarm still ends the program.
        ::alarm(1);
        static const char message[] = ": did not end within 3 s of the stop signal; ending now\n";
        pollfd err{STDERR_FILENO, POLLOUT, 0};
        if (::poll(&err, 1, 0) == 1 && (err.revents & POLLOUT)) {
            [[maybe_unused]] const ssize_t n1 = ::write(STDERR_FILENO, kProgramName, sizeof kProgramName - 1);
            [[maybe_unused]] const ssize_t n2 = ::write(STDERR_FILENO, message, sizeof message - 1);
        }
        ::_exit(1);
    }).detach();
}

// SIGTERM, SIGINT and SIGHUP end the program as the window's close box does: the port is
// closed and both files are written. Started by systemd (INVOCATION_ID set), SIGHUP opens the
// log file again instead. The handlers are installed first thing; a signal that comes during the
// start-up waits in the pipe until the event loop runs.
void CatchSignals()
{
    hangupReopensLog = qEnvironmentVariableIsSet("INVOCATION_ID") ? 1 : 0;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return;
    ::fcntl(signalPipe[1], F_SETFL, ::fcntl(signalPipe[1], F_GETFL) | O_NONBLOCK);
    StartStopDeadline();
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

QString SignalName(int number)
{
    return QStringLiteral("SIG") + QString::fromLatin1(sigabbrev_np(number));
}

// A stop signal: open boxes and dialogs go first (nobody answers them now), then the controller
// closes and saves; a failed save is reported on standard error and ends the program with 1.
// SIGHUP under systemd only reopens the log file.
void HandleSignals(tavoxa::RelayController& core, tavoxa::LogQueue& log, tavoxa::MessageBoxReport* boxes,
                   tavoxa::ErrorReport& stderrReport, tavoxa::ServiceNotifier& service, QString& stopReason)
{
    if (signalPipe[0] < 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &core);
    QObject::connect(notifier, &QSocketNotifier::activated, &core,
                     [&core, &log, boxes, notifier, &stderrReport, &service, &stopReason] {
                         char byte = 0;
                         if (::read(signalPipe[0], &byte, 1) != 1)
                             return;
                         if (byte == SIGHUP && hangupReopensLog) {
                             log.Reopen();
                             core.log().Write(QStringLiteral("SIGHUP: log file opened again"));
                             return;
                         }
                         notifier->setEnabled(false);
                         service.Stopping();
                         stopReason = SignalName(byte);
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

// A message of the program itself (not of the switching log), on standard error only.
void Say(tavoxa::LogQueue& log, tavoxa::LogPriority priority, const QString& text)
{
    log.Push(priority, QString(), QString::fromLatin1(kProgramName) + QStringLiteral(": ") + text, false);
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
bool ChooseHeadlessWhenNoDisplay(tavoxa::LogQueue& log)
{
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return qgetenv("QT_QPA_PLATFORM") == "offscreen";
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        Say(log, tavoxa::LogPriority::Info,
            QStringLiteral("no display found; running headless on the offscreen platform"));
        return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    CatchSignals();
    if (tavoxa::OnlyPrints(argc, argv)) {
        // --help and --version need no platform, no window and no file.
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(kProgramName);
        QCoreApplication::setApplicationVersion(tavoxa::kVersion);
        tavoxa::AppOptions options;
        const int code = tavoxa::ParseOptions(app, options);
        return code >= 0 ? code : 1;
    }
    // Every later line of the program goes through the log queue: none may hold the main thread.
    tavoxa::LogQueue log(STDERR_FILENO, tavoxa::LogQueue::IsJournalStream(STDERR_FILENO));
    tavoxa::RouteQtMessages(&log);
    ProvideRuntimeFolder();
    const int code = [&] {
        const bool windowless = tavoxa::NeedsNoWindow(argc, argv);
        if (windowless)
            qputenv("QT_QPA_PLATFORM", "offscreen");
        const bool headless = windowless || ChooseHeadlessWhenNoDisplay(log);
        QApplication app(argc, argv);
        QApplication::setApplicationName(kProgramName);
        QApplication::setApplicationDisplayName("Tavoxa");
        QApplication::setApplicationVersion(tavoxa::kVersion);

        tavoxa::AppOptions options;
        if (const int code = tavoxa::ParseOptions(app, options); code >= 0)
            return code;
        if (options.userDir)
            options.dir = tavoxa::UserDataFolder(QString::fromLatin1(kProgramName));
        if (options.userDir && !QDir().mkpath(options.dir)) {
            Say(log, tavoxa::LogPriority::Error,
                QStringLiteral("cannot create the folder %1").arg(options.dir));
            return 1;
        }
        if (!options.dir.isEmpty() && !QDir::setCurrent(options.dir)) {
            Say(log, tavoxa::LogPriority::Error,
                QStringLiteral("cannot change to the folder %1").arg(options.dir));
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
                Say(log, tavoxa::LogPriority::Error, lockMessage);
                return 1;
            case tavoxa::LockResult::Unavailable:
                Say(log, tavoxa::LogPriority::Warning,
                    QStringLiteral("warning: %1; going on without a lock").arg(lockMessage));
                break;
            case tavoxa::LockResult::Locked:
                if (!lockMessage.isEmpty())
                    Say(log, tavoxa::LogPriority::Warning, lockMessage);
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

        // One guard for every way of logging in; it outlives the controller's server.
        tavoxa::LoginGuard loginGuard;
        tavoxa::StderrReport stderrReport(clock);
        stderrReport.SetQueue(&log);
        tavoxa::MessageBoxReport boxReport;
        tavoxa::ErrorReport& report = headless ? static_cast<tavoxa::ErrorReport&>(stderrReport) : boxReport;
        tavoxa::RelayController core(lines, clock, random, delay, report);
        core.log().SetQueue(&log);
        core.remoteSwitch().server().SetLoginGuard(&loginGuard);
        // Failed logins at every door, at most one line a second.
        QObject::connect(&loginGuard, &tavoxa::LoginGuard::LogLine, &core,
                         [&core](const QString& line) { core.log().Write(line); });
        core.remoteSwitch().server().SetListenAddress(options.remoteAddress);
        tavoxa::RunOptions runOptions;
        runOptions.unattended = headless;
        runOptions.resumeTimers = options.resumeTimers;
        // The relays as last written, kept beside swcf.ini; read back only with --restore-relays.
        tavoxa::RelayStateWriter relayState(tavoxa::kRelayStateFileName, [&log](const std::string& why) {
            Say(log, tavoxa::LogPriority::Error,
                QStringLiteral("cannot keep the relays in %1: %2")
                    .arg(QString::fromLatin1(tavoxa::kRelayStateFileName), QString::fromStdString(why)));
        });
        if (options.restoreRelays) {
            std::string why;
            const std::optional<uint8_t> kept = tavoxa::ReadRelayState(tavoxa::kRelayStateFileName, &why);
            if (kept)
                runOptions.restoredRelays = *kept;
            else if (!why.empty())
                Say(log, tavoxa::LogPriority::Warning,
                    QStringLiteral("--restore-relays: %1; the relays start as the engines set them")
                        .arg(QString::fromStdString(why)));
        }
        core.SetRunOptions(runOptions);
        QObject::connect(&core, &tavoxa::RelayController::RelaysWritten, &core,
                         [&relayState](uint8_t bits) { relayState.Keep(bits); });
        if (!options.logFile.isEmpty()) {
            QString why;
            if (!core.log().OpenFile(options.logFile, &why)) {
                Say(log, tavoxa::LogPriority::Error,
                    QStringLiteral("cannot write the log file %1: %2").arg(options.logFile, why));
                return 1;
            }
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
                Say(log, tavoxa::LogPriority::Error, QStringLiteral("MQTT: %1").arg(why));
                return 1;
            }
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

        // The web page shares the login guard with the TCP remote and has connection rules of its
        // own. Created before the start-up so its log view holds the start-up's lines; it listens
        // after it.
        tavoxa::ConnectionLimit webConnections(tavoxa::kMaxWebConnections);
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
            config.device = options.device;
            config.language = tavoxa::ChosenLanguage(options.lang);
            QString why;
            if (!web->Start(config, &why)) {
                Say(log, tavoxa::LogPriority::Error, QStringLiteral("the web page does not start: ") + why);
                core.log().Write(QStringLiteral("web page not started: ") + why, tavoxa::LogPriority::Error);
                web.reset();
            }
        };

        // systemd hears of the start once the port, the files and the servers are up, of each
        // second tick while a watchdog is asked for, and of the stop.
        tavoxa::ServiceNotifier service;
        QObject::connect(&core, &tavoxa::RelayController::SecondTicked, &service,
                         &tavoxa::ServiceNotifier::Tick);
        QObject::connect(&app, &QCoreApplication::aboutToQuit, &service, &tavoxa::ServiceNotifier::Stopping);

        QString stopReason;
        const QString started = QStringLiteral("tavoxa %1 started (process %2)")
                                    .arg(QString::fromLatin1(tavoxa::kVersion))
                                    .arg(QCoreApplication::applicationPid());
        int result = 0;
        if (headless) {
            HandleSignals(core, log, nullptr, stderrReport, service, stopReason);
            core.log().Write(started);
            core.Startup();
            startWeb();
            service.Ready();
            result = app.exec();
        } else {
            // The window speaks the chosen language; a program without one keeps its texts as they are.
            const QString chosen = tavoxa::ChosenLanguage(options.lang);
            const tavoxa::WindowLanguage language(chosen);
            if (language.language() != chosen)
                Say(log, tavoxa::LogPriority::Warning,
                    QStringLiteral("the English translation cannot be loaded; the window stays German"));
            tavoxa::TForm1 form1(core);
            boxReport.SetParent(&form1);
            tavoxa::TForm2 form2(&form1, language.language());
            tavoxa::TForm3 form3(core.remoteSwitch().settings(), &form1);
            form1.SetHelpWindow(&form2);
            form1.SetRemoteDialog(&form3);
            HandleSignals(core, log, &boxReport, stderrReport, service, stopReason);
            if (!options.device.isEmpty())
                form1.ShowDevice(options.device);
            core.log().Write(started);
            core.Startup();
            startWeb();
            service.Ready();
            form1.show();
#ifdef TAVOXA_SIMULATED
            tavoxa::BoardWindow board(lines);
            board.setAttribute(Qt::WA_QuitOnClose, false);
            board.show();
#endif
            result = app.exec();
        }
        // After the close: "offline" on the broker, as the last word.
        mqtt.Stop();
        core.log().Write(
            QStringLiteral("tavoxa stopped: %1%2")
                .arg(stopReason.isEmpty() ? QStringLiteral("window closed") : stopReason,
                     result == 0 ? QString() : QStringLiteral(", the files could not be saved")));
        return result;
    }();
    tavoxa::RouteQtMessages(nullptr);
    log.Flush(1000);
    return code;
}
