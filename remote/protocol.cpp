#include "remote/protocol.h"

#include "engine/texttoint.h"

namespace tavoxa {

uint16_t RemotePortNumber(std::string_view portText)
{
    return static_cast<uint16_t>(static_cast<uint32_t>(TextToInt(portText)) & 0xFFFFu);
}

std::string_view RemoteClientConnect(RemoteSettings& remote)
{
    remote.LampGreen = true;
    return kGreeting;
}

std::optional<std::string> RemoteClientRead(RemoteSettings& remote, Model& model,
                                            RemoteConnection& connection, std::string_view text)
{
    if (remote.RemoteState == Refusing)
        return std::nullopt;
    if (remote.RemoteState == ClosePending) {
        remote.RemoteState = Refusing;
        return std::string(kLoginRefused);
    }
    if (text == kStatusQuery)
        return std::to_string(model.RelayBits);
    // Anything starting "Pa" is a login attempt, so a mistyped password never switches relays.
    if (text.size() >= 2 && text.substr(0, 2) == "Pa") {
        const bool match = text.size() == kLoginKeyword.size() + remote.RemotePassword.size() &&
                           text.substr(0, kLoginKeyword.size()) == kLoginKeyword &&
                           text.substr(kLoginKeyword.size()) == remote.RemotePassword;
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
    remote.LampGreen = false;
}

bool RemoteSwitchOffClosesNow(RemoteSettings& remote)
{
    if (remote.LampGreen) {
        remote.RemoteState = ClosePending;
        return false;
    }
    return true;
}

}  // namespace tavoxa
