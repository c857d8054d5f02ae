// The remote control conversation as plain state and pure steps, free of sockets.
//
// One server-wide state machine (`RemoteState`) plus one small record per connection. The TCP
// server feeds every event through these functions, so the whole protocol is testable without
// a network, and the server itself only moves bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/model.h"

namespace tavoxa {

enum RemoteStateCode : int32_t {
    Idle = 0,          // no password accepted
    ClosePending = 1,  // Remote switched off while a client was connected: refuse the next message
    Refusing = 2,      // "nolegal" sent after the switch-off: ignore everything until a disconnect
    LoggedIn = 3,      // a correct password has arrived
    CloseDue = 4,      // refused client left: the next second tick closes the server
};

// The texts the server sends.
inline constexpr std::string_view kGreeting = "connect";
inline constexpr std::string_view kLoginAccepted = "legal";
inline constexpr std::string_view kLoginRefused = "nolegal";
inline constexpr std::string_view kStatusQuery = "repeat";
inline constexpr std::string_view kLoginKeyword = "Pass:";

constexpr int32_t kDefaultRemotePort = 26535;

// Remote access state and settings. Texts are kept as the bytes typed or stored in swcf.ini.
struct RemoteSettings {
    int32_t RemoteState = Idle;  // a RemoteStateCode; one for the whole server
    std::string RemotePassword;
    std::string RemotePort;  // as typed; read as a number only when the server opens
    bool LampGreen = false;  // connection lamp Label58: green on any connect, red on any disconnect
};

// What the server knows about one client connection.
struct RemoteConnection {
    // Set once this connection itself sent the right password. Switching needs it as well as
    // the server-wide LoggedIn, so a stranger cannot ride on someone else's login.
    bool LoggedIn = false;
    // Disconnect handling has run (a reset connection reports an error and then may close too).
    bool Gone = false;
};

// Port number of a port text: TextToInt, low 16 bits (port 0 lets the system choose).
uint16_t RemotePortNumber(std::string_view portText);

// A client was accepted: lamp green. Returns the greeting to send to it.
std::string_view RemoteClientConnect(RemoteSettings& remote);

// One message (whatever one read delivered) from `connection`. Returns the reply to send to that
// connection, if any. A switching command replaces all of `model.RelayBits`.
std::optional<std::string> RemoteClientRead(RemoteSettings& remote, Model& model,
                                            RemoteConnection& connection, std::string_view text);

// A connection closed or failed: lamp red; a refused client leaving makes the close due.
// Runs at most once per connection.
void RemoteClientDisconnect(RemoteSettings& remote, RemoteConnection& connection);

// Whether the second tick must close the server now. The caller closes it and then calls
// RemoteCloseDone, which returns the state to Idle.
inline bool RemoteCloseIsDue(const RemoteSettings& remote)
{
    return remote.RemoteState == CloseDue;
}
inline void RemoteCloseDone(RemoteSettings& remote)
{
    remote.RemoteState = Idle;
}

// Remote switched off: with the lamp green the server stays open and the next message is
// refused (returns false); with the lamp red the caller closes the server at once (returns true).
bool RemoteSwitchOffClosesNow(RemoteSettings& remote);

}  // namespace tavoxa
