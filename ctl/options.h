// The command line of tavoxa-ctl: options, the command and its arguments, the password source.
//
// Parsing is a pure function of the arguments and the environment's password, so every way a
// command line can be wrong is testable without a process.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

#include "remote/protocol.h"

namespace tavoxa {

// What the client's exit code tells a script.
enum CtlExit : int {
    ExitDone = 0,
    ExitUsage = 1,
    ExitNoServer = 2,     // cannot connect, or no answer in time
    ExitLoginFailed = 3,  // wrong password or login refused
    ExitUnreadable = 4,   // an answer the client cannot read
    ExitNotTaken = 5,     // a relay did not take the state it was given
};

enum class CtlCommand { Status, On, Off, Toggle, Set, Watch };

struct CtlRequest {
    QString host = QStringLiteral("localhost");
    uint16_t port = static_cast<uint16_t>(kDefaultRemotePort);
    int timeoutMs = 10000;
    bool json = false;
    CtlCommand command = CtlCommand::Status;
    uint8_t relayMask = 0;  // on, off, toggle: bit n = relay n + 1
    uint8_t byte = 0;       // set
    std::optional<QByteArray> password;
};

struct CtlParse {
    enum class Outcome { Run, Help, Version, Error };
    Outcome outcome = Outcome::Error;
    CtlRequest request;
    QString error;  // plain English, for standard error
};

// `arguments` without the program name. `environmentPassword` is TAVOXA_PASSWORD when set.
// The password file is read here: its first line, without its line end, is the password.
CtlParse ParseCtlArguments(const QStringList& arguments,
                           const std::optional<QByteArray>& environmentPassword);

// Whether the command switches relays and so needs a login.
bool CommandSwitches(CtlCommand command);

QString CtlUsageText();
QString CtlVersionText();

}  // namespace tavoxa
