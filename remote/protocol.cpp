#include "remote/protocol.h"

#include <algorithm>
#include <climits>
#include <iterator>

#include "engine/texttoint.h"

namespace tavoxa {

namespace {

constexpr std::string_view kLineEnds = "\r\n";

}  // namespace

uint16_t RemotePortNumber(std::string_view portText)
{
    // A fresh install has no port text: listen where the help text says, not on a random port.
    if (portText.find_first_not_of(" \t\r\n") == std::string_view::npos)
        return kDefaultRemotePort;
    return static_cast<uint16_t>(static_cast<uint32_t>(TextToInt(portText)) & 0xFFFFu);
}

std::string_view RemoteClientConnect(RemoteSettings& remote)
{
    remote.ClientConnectedLast = true;
    return kGreeting;
}

std::optional<std::string> RemoteTakeMessage(RemoteConnection& connection, std::string_view bytes,
                                             size_t* used)
{
    *used = 0;
    if (bytes.empty())
        return std::nullopt;
    if (!connection.LineEnded && bytes.find_first_of(kLineEnds) == std::string_view::npos) {
        *used = bytes.size();
        return std::string(bytes);
    }
    connection.LineEnded = true;
    size_t start = 0;
    for (;;) {
        const size_t end = bytes.find_first_of(kLineEnds, start);
        const std::string_view piece =
            bytes.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (connection.DroppingLine) {
            // the rest of an over-long line
        } else if (static_cast<int64_t>(connection.Partial.size() + piece.size()) > kMaxMessageBytes) {
            connection.Partial.clear();
            connection.DroppingLine = true;
        } else {
            connection.Partial.append(piece);
        }
        if (end == std::string_view::npos) {
            *used = bytes.size();
            return std::nullopt;
        }
        start = end + 1;
        connection.DroppingLine = false;
        if (!connection.Partial.empty()) {
            std::string message = std::move(connection.Partial);
            connection.Partial.clear();
            *used = start;
            return message;
        }
    }
}

std::vector<std::string> RemoteSplitMessages(RemoteConnection& connection, std::string_view bytes)
{
    std::vector<std::string> messages;
    size_t used = 0;
    while (!bytes.empty()) {
        std::optional<std::string> message = RemoteTakeMessage(connection, bytes, &used);
        bytes.remove_prefix(used);
        if (!message)
            break;
        messages.push_back(std::move(*message));
    }
    return messages;
}

std::string RemoteAnswerBytes(const RemoteConnection& connection, std::string_view answer)
{
    std::string bytes(answer);
    if (connection.LineEnded)
        bytes += '\n';
    return bytes;
}

std::optional<std::string> RemoteClientRead(RemoteSettings& remote, Model& model,
                                            RemoteConnection& connection, std::string_view text,
                                            RemoteLogin* login)
{
    if (login)
        *login = RemoteLogin::None;
    if (remote.RemoteState == Refusing)
        return std::nullopt;
    if (remote.RemoteState == ClosePending) {
        remote.RemoteState = Refusing;
        return std::string(kLoginRefused);
    }
    if (text == kStatusQuery)
        return std::to_string(model.RelayBits);
    if (RemoteIsLoginAttempt(text)) {
        // An empty password locks remote switching rather than letting a bare "Pass:" in. While
        // the close is due, a login would undo the operator's switch-off: refused as well.
        const bool match = !remote.RemotePassword.empty() && remote.RemoteState != CloseDue &&
                           text.size() == kLoginKeyword.size() + remote.RemotePassword.size() &&
                           text.substr(0, kLoginKeyword.size()) == kLoginKeyword &&
                           text.substr(kLoginKeyword.size()) == remote.RemotePassword;
        if (login)
            *login = match ? RemoteLogin::Accepted : RemoteLogin::Failed;
        if (!match)
            return std::string(kLoginRefused);  // a logged-in server stays logged in
        remote.RemoteState = LoggedIn;
        connection.LoggedIn = true;
        return std::string(kLoginAccepted);
    }
    if (remote.RemoteState != LoggedIn || !connection.LoggedIn)
        return std::nullopt;
    // Without a number the conversion would give 0 and switch every relay off: a garbled or
    // merged message ("repeatrepeat", "pass:...") must not do that.
    if (!TextHasNumber(text))
        return std::nullopt;
    model.RelayBits = static_cast<uint8_t>(static_cast<uint32_t>(TextToInt(text)) & 0xFFu);
    return std::nullopt;
}

void RemoteClientDisconnect(RemoteSettings& remote, RemoteConnection& connection)
{
    if (connection.Gone)
        return;
    connection.Gone = true;
    if (remote.RemoteState == Refusing)
        remote.RemoteState = CloseDue;
    remote.ClientConnectedLast = false;
}

bool RemoteSwitchOffClosesNow(RemoteSettings& remote)
{
    if (remote.ClientConnectedLast) {
        remote.RemoteState = ClosePending;
        return false;
    }
    return true;
}

}  // namespace tavoxa
