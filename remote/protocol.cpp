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

std::vector<std::string> RemoteSplitMessages(RemoteConnection& connection, std::string_view bytes)
{
    std::vector<std::string> messages;
    if (!connection.LineEnded && bytes.find_first_of(kLineEnds) == std::string_view::npos) {
        if (!bytes.empty())
            messages.emplace_back(bytes);
        return messages;
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
        if (end == std::string_view::npos)
            return messages;
        if (!connection.Partial.empty())
            messages.push_back(std::move(connection.Partial));
        connection.Partial.clear();
        connection.DroppingLine = false;
        start = end + 1;
    }
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

int64_t RemoteLoginThrottle::DueMs(const Record& record)
{
    if (record.failures < kFreeLoginFailures)
        return record.lastFailureMs;
    const int32_t doublings = record.failures - kFreeLoginFailures;
    const int64_t wait = doublings >= 5 ? kLongestLoginDelayMs
                                        : std::min(kFirstLoginDelayMs << doublings, kLongestLoginDelayMs);
    return record.lastFailureMs + wait;
}

int64_t RemoteLoginThrottle::AnswerDueMs(const std::string& peer) const
{
    const auto it = peers_.find(peer);
    return it == peers_.end() ? 0 : DueMs(it->second);
}

void RemoteLoginThrottle::Failed(const std::string& peer, int64_t nowMs)
{
    auto it = peers_.find(peer);
    if (it == peers_.end()) {
        if (peers_.size() >= kMaxThrottledPeers) {
            for (auto old = peers_.begin(); old != peers_.end();)
                old = DueMs(old->second) <= nowMs ? peers_.erase(old) : std::next(old);
            if (peers_.size() >= kMaxThrottledPeers)
                return;  // thousands of addresses guessing at once: the newest go unslowed a while
        }
        it = peers_.emplace(peer, Record{}).first;
    }
    it->second.failures = std::min(it->second.failures + 1, INT32_MAX - 1);
    it->second.lastFailureMs = nowMs;
}

}  // namespace tavoxa
