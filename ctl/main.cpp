// tavoxa-ctl: the remote client for scripts, cron and home-automation systems. All logic is in
// CtlSession; this reads the command line and the environment and catches the stop signals.
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>

#include "ctl/options.h"
#include "ctl/session.h"

namespace {

int signalPipe[2] = {-1, -1};

void OnStopSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

// A watch runs until it is interrupted; it then ends as a finished command does (exit 0).
void StopOnSignals(tavoxa::CtlSession& session)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &session);
    QObject::connect(notifier, &QSocketNotifier::activated, &session, [&session] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &byte, 1);
        session.Stop();
    });
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    std::optional<QByteArray> environmentPassword;
    if (qEnvironmentVariableIsSet("TAVOXA_PASSWORD"))
        environmentPassword = qgetenv("TAVOXA_PASSWORD");

    QFile out;
    QFile err;
    out.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered);
    err.open(stderr, QIODevice::WriteOnly | QIODevice::Unbuffered);

    const tavoxa::CtlParse parse = tavoxa::ParseCtlArguments(arguments, environmentPassword);
    switch (parse.outcome) {
        case tavoxa::CtlParse::Outcome::Help:
            out.write(tavoxa::CtlUsageText().toUtf8());
            return tavoxa::ExitDone;
        case tavoxa::CtlParse::Outcome::Version:
            out.write(tavoxa::CtlVersionText().toUtf8());
            return tavoxa::ExitDone;
        case tavoxa::CtlParse::Outcome::Error:
            err.write(QStringLiteral("tavoxa-ctl: %1\nTry 'tavoxa-ctl --help' for more.\n")
                          .arg(parse.error)
                          .toUtf8());
            return tavoxa::ExitUsage;
        case tavoxa::CtlParse::Outcome::Run:
            break;
    }

    tavoxa::CtlSession session(parse.request, out, err);
    if (parse.request.command == tavoxa::CtlCommand::Watch)
        StopOnSignals(session);
    return session.Run();
}
