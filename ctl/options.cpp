#include "ctl/options.h"

#include <algorithm>

#include "engine/model.h"
#include "remote/passwordfile.h"
#include "tavoxa/version.h"

namespace tavoxa {
namespace {

CtlParse Fail(const QString& message)
{
    CtlParse parse;
    parse.outcome = CtlParse::Outcome::Error;
    parse.error = message;
    return parse;
}

}  // namespace

bool CommandSwitches(CtlCommand command)
{
    return command != CtlCommand::Status && command != CtlCommand::Watch;
}

CtlParse ParseCtlArguments(const QStringList& arguments, const std::optional<QByteArray>& environmentPassword)
{
    CtlRequest request;
    QString passwordFile;
    QStringList words;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (!arg.startsWith(QLatin1String("--")) || arg == QLatin1String("--")) {
            if (arg == QLatin1String("--")) {
                words += arguments.mid(i + 1);
                break;
            }
            if (arg.startsWith('-') && arg.size() > 1)
                return Fail(QStringLiteral("unknown option %1").arg(arg));
            words << arg;
            continue;
        }
        QString name = arg;
        std::optional<QString> value;
        if (const qsizetype eq = arg.indexOf('='); eq > 0) {
            name = arg.left(eq);
            value = arg.mid(eq + 1);
        }
        if (name == QLatin1String("--help"))
            return CtlParse{CtlParse::Outcome::Help, request, {}};
        if (name == QLatin1String("--version"))
            return CtlParse{CtlParse::Outcome::Version, request, {}};
        if (name == QLatin1String("--json")) {
            request.json = true;
            continue;
        }
        if (name == QLatin1String("--password"))
            return Fail(QStringLiteral(
                "the password is not taken from the command line, where any user could see it in ps; "
                "put it in a file for --password-file, or in TAVOXA_PASSWORD"));
        if (name != QLatin1String("--host") && name != QLatin1String("--port") &&
            name != QLatin1String("--timeout") && name != QLatin1String("--password-file"))
            return Fail(QStringLiteral("unknown option %1").arg(name));
        if (!value) {
            if (i + 1 >= arguments.size())
                return Fail(QStringLiteral("option %1 needs a value").arg(name));
            value = arguments[++i];
        }
        if (name == QLatin1String("--host")) {
            if (value->isEmpty())
                return Fail(QStringLiteral("--host needs a host name or address"));
            request.host = *value;
        } else if (name == QLatin1String("--port")) {
            bool ok = false;
            const uint port = value->toUInt(&ok);
            if (!ok || port == 0 || port > 65535)
                return Fail(QStringLiteral("--port takes a number from 1 to 65535, not \"%1\"").arg(*value));
            request.port = static_cast<uint16_t>(port);
        } else if (name == QLatin1String("--timeout")) {
            bool ok = false;
            const double seconds = value->toDouble(&ok);
            if (!ok || !(seconds > 0) || seconds > 86400)
                return Fail(QStringLiteral("--timeout takes seconds greater than 0, not \"%1\"").arg(*value));
            request.timeoutMs = std::max(1, static_cast<int>(seconds * 1000));
        } else {
            passwordFile = *value;
        }
    }

    if (words.isEmpty())
        return Fail(QStringLiteral("no command given"));
    const QString command = words.takeFirst();
    if (command == QLatin1String("status") || command == QLatin1String("watch")) {
        request.command = command == QLatin1String("status") ? CtlCommand::Status : CtlCommand::Watch;
        if (!words.isEmpty())
            return Fail(QStringLiteral("%1 takes no arguments").arg(command));
    } else if (command == QLatin1String("on") || command == QLatin1String("off") ||
               command == QLatin1String("toggle")) {
        request.command = command == QLatin1String("on")    ? CtlCommand::On
                          : command == QLatin1String("off") ? CtlCommand::Off
                                                            : CtlCommand::Toggle;
        if (words.isEmpty())
            return Fail(QStringLiteral("%1 needs one or more relay numbers (1 to 6)").arg(command));
        for (const QString& word : words) {
            bool ok = false;
            const int relay = word.toInt(&ok);
            if (!ok || relay < 1 || relay > kRelayCount)
                return Fail(QStringLiteral("relay numbers are 1 to 6, not \"%1\"").arg(word));
            request.relayMask |= static_cast<uint8_t>(1u << (relay - 1));
        }
    } else if (command == QLatin1String("set")) {
        request.command = CtlCommand::Set;
        bool ok = false;
        const int byte = words.size() == 1 ? words.front().toInt(&ok) : -1;
        if (!ok || byte < 0 || byte > 255)
            return Fail(QStringLiteral("set needs one relay byte from 0 to 255"));
        request.byte = static_cast<uint8_t>(byte);
    } else {
        return Fail(QStringLiteral("unknown command \"%1\"").arg(command));
    }

    if (!passwordFile.isEmpty()) {
        QString error;
        request.password = ReadPasswordFile(passwordFile, error);
        if (!request.password)
            return Fail(error);
    } else {
        request.password = environmentPassword;
    }
    if (request.password && (request.password->contains('\n') || request.password->contains('\r')))
        return Fail(QStringLiteral("the password holds a line end, which no server password can"));
    if (CommandSwitches(request.command) && !request.password)
        return Fail(QStringLiteral("%1 needs the server's password: give --password-file FILE or set "
                                   "TAVOXA_PASSWORD")
                        .arg(command));
    return CtlParse{CtlParse::Outcome::Run, request, {}};
}

QString CtlVersionText()
{
    return QStringLiteral("tavoxa-ctl %1\n").arg(QLatin1String(kVersion));
}

QString CtlUsageText()
{
    return QStringLiteral(R"(NAME
    tavoxa-ctl - watch and switch the relays of a running Tavoxa over its remote protocol

SYNOPSIS
    tavoxa-ctl [--host H] [--port P] [--password-file F] [--json] [--timeout S] COMMAND
    tavoxa-ctl --help | --version

COMMANDS
    status          Print each relay on or off and the contacts K1 and K2 closed or open,
                    one per line. Needs no password.
    on N...         Switch relays N (1 to 6) on,
    off N...        off,
    toggle N...     or over. Reads the relay byte, changes those relays, sends the byte,
                    reads it back after the next second tick (about 1.1 s) and prints it as
                    status does. A relay whose mode switches it back (any mode but "Toggle")
                    is reported by number, with exit code 5.
    set BYTE        Send the whole relay byte (0 to 255; bits 0 to 5 are relays 1 to 6),
                    then read back and check relays 1 to 6 as above.
    watch           Print the state, then a line for each change, polling twice a second,
                    until interrupted (Ctrl-C, exit code 0). Needs no password.

OPTIONS
    --host H            Host name or address of the server (default localhost).
    --port P            Port of the server (default 26535).
    --password-file F   Read the password from the first line of F (the line end is not part
                        of it). Without it the password comes from the environment variable
                        TAVOXA_PASSWORD. It is never taken from the command line, where any
                        user could read it with ps.
    --json              Print JSON only on standard output: status and the read-back of a
                        switching command are one object
                          {"byte":193,"relays":[true,false,false,false,false,false],
                           "k1_closed":false,"k2_closed":true}
                        and watch prints one such object per line, with "time" added.
    --timeout S         Seconds to wait for the connection and for each answer (default 10).
                        A login the server answers late (it slows logins after wrong
                        passwords from the same address) is waited for this long.
    --help              Print this text.
    --version           Print the version.

EXIT STATUS
    0   done
    1   usage: a wrong command line, or no password for a switching command
    2   cannot connect, or no answer in time
    3   wrong password, or login refused
    4   an answer that cannot be read
    5   a relay did not take the state it was given

ENVIRONMENT
    TAVOXA_PASSWORD     The password, when no --password-file is given.

NOTES
    The password crosses the network in plain text. Use the remote on a trusted network, or
    through an SSH tunnel or a VPN.
)");
}

}  // namespace tavoxa
