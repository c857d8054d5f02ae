// The remote control conversation as plain state and pure steps, free of sockets.
//
// One server-wide state machine (`RemoteState`) plus one small record per connection. The TCP
// server feeds every event through these functions, so the whole protocol is testable without
// a network, and the server itself only moves bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/model.h"

namespace tavoxa {

enum RemoteStateCode : int32_t {
    Idle = 0,          // no password accepted
    ClosePending = 1,  // Remote switched off while a client was connected: refuse the next message
    Refusing = 2,      // "nolegal" sent after the switch-off: ignore everything until a disconnect
    LoggedIn = 3,      // a correct password has arrived
    CloseDue = 4,      // refused client left: the next second tick closes the server; no login
};

// The texts the server sends.
inline constexpr std::string_view kGreeting = "connect";
inline constexpr std::string_view kLoginAccepted = "legal";
inline constexpr std::string_view kLoginRefused = "nolegal";
inline constexpr std::string_view kStatusQuery = "repeat";
inline constexpr std::string_view kLoginKeyword = "Pass:";

constexpr int32_t kDefaultRemotePort = 26535;

// A read delivers at most this much; a line pieced together from several reads is dropped
// once it grows past it, so no client can make the server hold more per connection.
constexpr int64_t kMaxMessageBytes = 64 * 1024;

// Remote access state and settings. Texts are kept as the bytes typed or stored in swcf.ini.
struct RemoteSettings {
    int32_t RemoteState = Idle;  // a RemoteStateCode; one for the whole server
    std::string RemotePassword;
    std::string RemotePort;  // as typed; read as a number only when the server opens
    // Set by any client connecting, cleared by any client disconnecting, whichever happened
    // last: not a count of clients (one leaving clears it while others stay). Switching Remote
    // off while it is set makes the close pending; while it is clear the server closes at once.
    // The window's connection lamp shows it.
    bool ClientConnectedLast = false;
};

// What the server knows about one client connection.
struct RemoteConnection {
    // Set once this connection itself sent the right password. Switching needs it as well as
    // the server-wide LoggedIn, so a stranger cannot ride on someone else's login.
    bool LoggedIn = false;
    // Disconnect handling has run (a reset connection reports an error and then may close too).
    bool Gone = false;
    // The connection has sent a CR or LF. From then on its bytes are cut into lines, and its
    // answers end with "\n". A client that never sends a line end is served as it always was:
    // one read, one message.
    bool LineEnded = false;
    // What followed the last line end: the start of a line whose end has not arrived yet.
    std::string Partial;
    // The line under way grew past kMaxMessageBytes: its bytes are dropped up to its line end.
    bool DroppingLine = false;
};

// What a message did as a login attempt, for the slow-down of guessing and the failure report.
enum class RemoteLogin { None, Accepted, Failed };

// Port number of a port text: TextToInt, low 16 bits (port 0 lets the system choose). No text,
// or blanks only, is the default port.
uint16_t RemotePortNumber(std::string_view portText);

// A client was accepted: ClientConnectedLast set. Returns the greeting to send to it.
std::string_view RemoteClientConnect(RemoteSettings& remote);

// Cuts one read of `connection` into the messages to handle, in order. Bytes without CR or LF
// from a connection that never sent one are one message, as they are. Otherwise every CR and
// LF ends a line, each non-empty line is a message, and the rest after the last line end is
// kept in `connection` until its line end arrives.
std::vector<std::string> RemoteSplitMessages(RemoteConnection& connection, std::string_view bytes);
// The same one message at a time: the first message of `bytes`, with *used set to the bytes
// it took; nullopt once `bytes` holds no further message (*used then takes all of them, a line
// under way kept in `connection`). A server that must stop at a message keeps the rest uncut.
std::optional<std::string> RemoteTakeMessage(RemoteConnection& connection, std::string_view bytes,
                                             size_t* used);

// An answer as it goes to `connection`: ended with "\n" once the connection uses line ends.
std::string RemoteAnswerBytes(const RemoteConnection& connection, std::string_view answer);

// Anything starting "Pa" is a login attempt, so a mistyped password never switches relays.
inline bool RemoteIsLoginAttempt(std::string_view message)
{
    return message.substr(0, 2) == "Pa";
}

// One message from `connection`. Returns the reply to send to that connection, if any. A
// switching command replaces all of `model.RelayBits`. An empty password never logs in, and
// nothing logs in while the close is due. `login`, when given, receives what the message did
// as a login attempt.
std::optional<std::string> RemoteClientRead(RemoteSettings& remote, Model& model,
                                            RemoteConnection& connection, std::string_view text,
                                            RemoteLogin* login = nullptr);

// A connection closed or failed: ClientConnectedLast cleared; a refused client leaving makes
// the close due. Runs at most once per connection.
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

// Remote switched off: with ClientConnectedLast set the server stays open and the next message
// is refused (returns false); otherwise the caller closes the server at once (returns true).
bool RemoteSwitchOffClosesNow(RemoteSettings& remote);

}  // namespace tavoxa
