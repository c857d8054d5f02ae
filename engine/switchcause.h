// Why a relay switched: the cause of every change of a relay's state, and the English line the
// switching log writes for it.
#pragma once

#include <string>

#include "engine/clock.h"

namespace tavoxa {

enum class CauseKind {
    TimerProgram,  // index: the program, 0..5
    SecondsTimer,
    RandomWindow,  // index: the window, 0..2
    ClockPulse,
    InputLogic,  // detail: the contact states, see InputLogicCause
    TButton,
    Reset,
    Remote,  // detail: the peer's address
    Mqtt,
    StartAfterLoad,
    ResumedAtStartUp,
    Web,  // detail: the peer's address
};

struct SwitchCause {
    CauseKind kind = CauseKind::TButton;
    int index = 0;
    std::string detail;
};

// One change of a relay's state made by a switching step.
struct SwitchEvent {
    int relay = 0;  // 0..5
    bool on = false;
    SwitchCause cause;
};

SwitchCause InputLogicCause(bool k1Closed, bool k2Closed);
SwitchCause RemoteCause(const std::string& peerAddress);

// "timer program 1", "seconds timer", "random window 2", "clock pulse",
// "input logic (K1 closed, K2 open)", "T button", "RESET", "remote (127.0.0.1)", "mqtt",
// "START after Load", "resumed at start-up", "web (127.0.0.1)".
std::string CauseText(const SwitchCause& cause);

// "2026-12-08 06:30:00 relay 2 (Pumpe) on: timer program 1"; relay is 0..5 and shown as 1..6, an
// empty name is left out.
std::string SwitchLogLine(const LocalDateTime& at, int relay, const std::string& relayName, bool on,
                          const std::string& causeText);

}  // namespace tavoxa
