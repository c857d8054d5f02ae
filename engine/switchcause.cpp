#include "engine/switchcause.h"

#include <cstdio>

namespace tavoxa {

SwitchCause InputLogicCause(bool k1Closed, bool k2Closed)
{
    SwitchCause c;
    c.kind = CauseKind::InputLogic;
    c.detail = std::string("K1 ") + (k1Closed ? "closed" : "open") + ", K2 " + (k2Closed ? "closed" : "open");
    return c;
}

SwitchCause RemoteCause(const std::string& peerAddress)
{
    SwitchCause c;
    c.kind = CauseKind::Remote;
    c.detail = peerAddress;
    return c;
}

std::string CauseText(const SwitchCause& cause)
{
    switch (cause.kind) {
        case CauseKind::TimerProgram:
            return "timer program " + std::to_string(cause.index + 1);
        case CauseKind::SecondsTimer:
            return "seconds timer";
        case CauseKind::RandomWindow:
            return "random window " + std::to_string(cause.index + 1);
        case CauseKind::ClockPulse:
            return "clock pulse";
        case CauseKind::InputLogic:
            return "input logic (" + cause.detail + ")";
        case CauseKind::TButton:
            return "T button";
        case CauseKind::Reset:
            return "RESET";
        case CauseKind::Remote:
            return "remote (" + cause.detail + ")";
        case CauseKind::Mqtt:
            return "mqtt";
        case CauseKind::StartAfterLoad:
            return "START after Load";
        case CauseKind::ResumedAtStartUp:
            return "resumed at start-up";
        case CauseKind::Web:
            return "web (" + cause.detail + ")";
    }
    return "unknown";
}

std::string SwitchLogLine(const LocalDateTime& at, int relay, const std::string& relayName, bool on,
                          const std::string& causeText)
{
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d relay %d", at.year, at.month, at.day,
                  at.hour, at.minute, at.second, relay + 1);
    std::string line = stamp;
    if (!relayName.empty())
        line += " (" + relayName + ")";
    line += on ? " on: " : " off: ";
    return line + causeText;
}

}  // namespace tavoxa
