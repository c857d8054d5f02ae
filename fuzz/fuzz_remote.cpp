// Fuzzes the remote message handler with arbitrary byte sequences across several connections.
//
// The input is a script: connect, disconnect, reads of arbitrary bytes (or of texts the
// protocol knows, with and without line ends) from one of four connections, Remote switched
// off and on, second ticks that close a server whose close is due, and exchange ticks that set
// the input bits. Every read is cut into messages as the server cuts it. Alongside the handler
// this file keeps its own record of which connection has sent the right password, and asserts:
//  - a read without CR or LF from a connection that never sent one is one message, unchanged;
//    otherwise no message is empty, holds a CR or LF, or is longer than kMaxMessageBytes;
//  - a message from a connection that has not itself logged in never changes RelayBits;
//  - the replies and state changes follow the conversation rules (refusing after switch-off,
//    "repeat" answered with RelayBits, "Pa..." answered "legal" or "nolegal" only, no login
//    with an empty password or while the close is due, nothing else answered), and a
//    switching command stores the low 8 bits of TextToInt of the message.
// A violated property prints the step and aborts.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/model.h"
#include "engine/texttoint.h"
#include "remote/protocol.h"

namespace {

constexpr int kConnections = 4;

[[noreturn]] void Fail(int step, const char* what, std::string_view text)
{
    std::fprintf(stderr, "remote step %d: %s; message of %zu bytes \"", step, what, text.size());
    for (char c : text)
        std::fprintf(stderr, (c >= 32 && c < 127) ? "%c" : "\\x%02x", static_cast<unsigned char>(c));
    std::fprintf(stderr, "\"\n");
    std::abort();
}

class Script {
public:
    Script(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool AtEnd() const { return pos_ >= size_; }
    uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::string Bytes(size_t n)
    {
        n = std::min(n, size_ - pos_);
        std::string s(reinterpret_cast<const char*>(data_ + pos_), n);
        pos_ += n;
        return s;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

struct Client {
    bool connected = false;
    bool sentPassword = false;  // this connection itself sent the right password
    tavoxa::RemoteConnection record;
};

struct World {
    tavoxa::RemoteSettings remote;
    tavoxa::Model model;
    std::array<Client, kConnections> clients;
    bool serverOpen = true;

    // Closing the server drops every connection without a disconnect event.
    void CloseServer()
    {
        serverOpen = false;
        for (Client& c : clients)
            c = Client();
    }
};

std::string PickMessage(Script& s, const World& w)
{
    const uint8_t kind = s.Byte();
    switch (kind % 16) {
        case 0:
            return "repeat";
        case 1:
            return "Pass:" + w.remote.RemotePassword;
        case 2:
            return "Pass:" + w.remote.RemotePassword + "\r\n";
        case 3:
            return "Pa";
        case 4:
            return "pass:" + w.remote.RemotePassword;
        case 5:
            return "repeatrepeat";
        case 6: {
            static const char* const kNumbers[] = {"5",    "5\r\n", "256",  "-1", "$FF",
                                                   "0x3f", "  +63", "-12a", "x"};
            return kNumbers[s.Byte() % (sizeof kNumbers / sizeof kNumbers[0])];
        }
        case 7: {  // lines, in pieces and several to a read
            static const char* const kPieces[] = {"repe", "at\n", "\r\n", "\n", "5\n3\n",
                                                  "Pa",   "ss:",  "\r",   "7"};
            return kPieces[s.Byte() % (sizeof kPieces / sizeof kPieces[0])];
        }
        case 8:
            return "Pass:" + w.remote.RemotePassword + "\n5\nrepeat\n";
        default:
            return s.Bytes(s.Byte() % 40);
    }
}

void CheckMessage(World& w, int step, int k, const std::string& text)
{
    Client& client = w.clients[static_cast<size_t>(k)];
    const int32_t stateBefore = w.remote.RemoteState;
    const uint8_t bitsBefore = w.model.RelayBits;
    tavoxa::RemoteLogin login = tavoxa::RemoteLogin::None;
    const std::optional<std::string> reply =
        tavoxa::RemoteClientRead(w.remote, w.model, client.record, text, &login);
    const int32_t state = w.remote.RemoteState;
    const bool changed = w.model.RelayBits != bitsBefore;

    if (state < tavoxa::Idle || state > tavoxa::CloseDue)
        Fail(step, "RemoteState left the range 0..4", text);
    if (changed && !client.sentPassword)
        Fail(step, "a connection that has not logged in changed RelayBits", text);

    const bool isLogin = stateBefore != tavoxa::Refusing && stateBefore != tavoxa::ClosePending &&
                         text.size() >= 2 && text.compare(0, 2, "Pa") == 0;
    if ((login != tavoxa::RemoteLogin::None) != isLogin ||
        (login == tavoxa::RemoteLogin::Accepted) != (reply == std::string(tavoxa::kLoginAccepted)))
        Fail(step, "the login outcome does not match the message and its answer", text);

    if (stateBefore == tavoxa::Refusing) {
        if (reply || state != tavoxa::Refusing || changed)
            Fail(step, "a message while refusing was not ignored", text);
        return;
    }
    if (stateBefore == tavoxa::ClosePending) {
        if (reply != std::string(tavoxa::kLoginRefused) || state != tavoxa::Refusing || changed)
            Fail(step, "the first message after the switch-off was not refused", text);
        return;
    }
    if (text == tavoxa::kStatusQuery) {
        if (reply != std::to_string(bitsBefore) || state != stateBefore || changed)
            Fail(step, "\"repeat\" was not answered with RelayBits alone", text);
        return;
    }
    if (text.size() >= 2 && text.compare(0, 2, "Pa") == 0) {
        const bool right = !w.remote.RemotePassword.empty() && stateBefore != tavoxa::CloseDue &&
                           text == std::string(tavoxa::kLoginKeyword) + w.remote.RemotePassword;
        if (changed)
            Fail(step, "a login attempt changed RelayBits", text);
        if (right && (reply != std::string(tavoxa::kLoginAccepted) || state != tavoxa::LoggedIn))
            Fail(step, "the right password was not accepted", text);
        if (!right && (reply != std::string(tavoxa::kLoginRefused) || state != stateBefore))
            Fail(step, "a wrong login was not refused with the state kept", text);
        if (right)
            client.sentPassword = true;
        return;
    }
    if (reply || state != stateBefore)
        Fail(step, "a switching command was answered or changed the state", text);
    if (changed &&
        (stateBefore != tavoxa::LoggedIn ||
         w.model.RelayBits != static_cast<uint8_t>(static_cast<uint32_t>(tavoxa::TextToInt(text)))))
        Fail(step, "a switching command stored something other than the low 8 bits of its number", text);
}

// One read of connection `k`, cut into messages as the server cuts it.
void CheckRead(World& w, int step, int k, const std::string& bytes)
{
    tavoxa::RemoteConnection& record = w.clients[static_cast<size_t>(k)].record;
    const bool bare = !record.LineEnded && bytes.find_first_of("\r\n") == std::string::npos;
    const std::vector<std::string> messages = tavoxa::RemoteSplitMessages(record, bytes);
    if (bare && messages != (bytes.empty() ? std::vector<std::string>{} : std::vector<std::string>{bytes}))
        Fail(step, "a read without line ends was not handled as one message", bytes);
    for (const std::string& message : messages) {
        if (!bare && (message.empty() || message.find_first_of("\r\n") != std::string::npos ||
                      static_cast<int64_t>(message.size()) > tavoxa::kMaxMessageBytes))
            Fail(step, "a line-ended read gave an empty message or one with a line end", message);
        CheckMessage(w, step, k, message);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Script s(data, size);
    World w;
    w.remote.RemotePassword = s.Bytes(s.Byte() % 9);
    w.model.RelayBits = s.Byte();

    for (int step = 0; step < 512 && !s.AtEnd(); ++step) {
        const uint8_t op = s.Byte();
        const int k = (op >> 4) % kConnections;
        Client& client = w.clients[static_cast<size_t>(k)];
        switch (op % 12) {
            case 0:  // a client connects
                if (w.serverOpen && !client.connected) {
                    client = Client();
                    client.connected = true;
                    if (tavoxa::RemoteClientConnect(w.remote) != tavoxa::kGreeting ||
                        !w.remote.ClientConnectedLast)
                        Fail(step, "a new client was not greeted with ClientConnectedLast set", "");
                }
                break;
            case 1:  // a client disconnects; a failed connection may report its end twice
                if (client.connected) {
                    const int32_t before = w.remote.RemoteState;
                    tavoxa::RemoteClientDisconnect(w.remote, client.record);
                    const int32_t after = w.remote.RemoteState;
                    if (w.remote.ClientConnectedLast ||
                        after != (before == tavoxa::Refusing ? tavoxa::CloseDue : before))
                        Fail(step,
                             "a disconnect did not clear ClientConnectedLast or moved the state wrongly", "");
                    if (op & 0x40) {
                        tavoxa::RemoteClientDisconnect(w.remote, client.record);
                        if (w.remote.RemoteState != after)
                            Fail(step, "a second disconnect of the same connection changed the state", "");
                    }
                    client.connected = false;
                }
                break;
            case 2:  // Remote switched off
                if (w.serverOpen && tavoxa::RemoteSwitchOffClosesNow(w.remote))
                    w.CloseServer();
                break;
            case 3:  // Remote switched on again
                w.serverOpen = true;
                break;
            case 4:  // second tick
                if (tavoxa::RemoteCloseIsDue(w.remote)) {
                    w.CloseServer();
                    tavoxa::RemoteCloseDone(w.remote);
                    if (w.remote.RemoteState != tavoxa::Idle)
                        Fail(step, "the close did not return the state to Idle", "");
                }
                break;
            case 5:  // exchange tick: the input bits come from the adapter
                w.model.RelayBits = static_cast<uint8_t>((w.model.RelayBits & 0x3F) | (s.Byte() & 0xC0));
                break;
            default: {  // a message
                const std::string text = PickMessage(s, w);
                if (client.connected)
                    CheckRead(w, step, k, text);
                break;
            }
        }
    }
    return 0;
}
