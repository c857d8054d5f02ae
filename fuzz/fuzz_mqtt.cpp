// Fuzzes what the MQTT bridge does with foreign topics and payloads before anything switches.
//
// The input is one message: a flags byte (bit 0: retained), then the topic up to the first NUL
// and the payload after it. Asserts:
//  - a command comes only from a non-retained message on tavoxa/b1/relay/<one level>/set and
//    names a relay 0..5;
//  - otherwise the line about it is at most a few hundred characters, all of them printable;
//  - LoggedText never quotes more than kLoggedChars characters, none that does not print;
//  - an id made usable is valid or empty.
// A violated property prints it and aborts.
#include <QString>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "mqtt/topiclayout.h"

namespace {

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "mqtt: %s\n", what);
    std::abort();
}

bool Printable(const QString& text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.isPrint(); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const bool retained = data[0] & 1;
    const QByteArray rest(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    const qsizetype nul = rest.indexOf('\0');
    const QString topic = QString::fromUtf8(nul < 0 ? rest : rest.left(nul));
    const QByteArray payload = nul < 0 ? QByteArray() : rest.mid(nul + 1);

    const tavoxa::SetMessage set = tavoxa::ParseSetMessage("b1", topic, payload, retained);
    if (set.command) {
        const QString level = topic.mid(16, topic.size() - 20);
        if (retained || !topic.startsWith("tavoxa/b1/relay/") || !topic.endsWith("/set") ||
            level.contains('/'))
            Fail("a command from another topic or a retained message");
        if (set.command->relay < 0 || set.command->relay > 5)
            Fail("a command for a relay that does not exist");
    } else if (set.ignored.size() > 400 || !Printable(set.ignored)) {
        Fail("a line about an ignored message that is long or does not print");
    }
    const QString logged = tavoxa::LoggedText(topic);
    if (logged.size() > tavoxa::kLoggedChars + 3 || !Printable(logged))
        Fail("a logged text that is long or does not print");
    const QString id = tavoxa::UsableMqttId(topic, nullptr);
    if (!id.isEmpty() && !tavoxa::IsValidMqttId(id))
        Fail("an id made usable that is not valid");
    return 0;
}
