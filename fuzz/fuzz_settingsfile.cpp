// Fuzzes the settings file swcf.ini.
//
//  1. Any bytes read as a file give the twelve lines a plain line splitter written here finds
//     (LF ends a line, every CR is dropped, Ctrl-Z ends the file, missing lines are empty), and
//     writing what was read and reading it again changes nothing.
//  2. Texts taken from the input (without CR, LF and Ctrl-Z, which a line cannot hold) come
//     back unchanged after a write and a read, in twelve lines ended by CR LF.
// A violated property prints what differs and aborts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "engine/texttoint.h"
#include "storage/settingsfile.h"

namespace {

using tavoxa::SettingsFileContent;

[[noreturn]] void Fail(const char* what, int line)
{
    std::fprintf(stderr, "settings file: %s (line %d)\n", what, line);
    std::abort();
}

std::vector<std::string> ReferenceLines(std::string_view bytes)
{
    bytes = bytes.substr(0, bytes.find('\x1a'));
    std::vector<std::string> lines(1);
    for (char c : bytes) {
        if (c == '\n')
            lines.emplace_back();
        else if (c != '\r')
            lines.back() += c;
    }
    lines.resize(12);  // a 13th line and beyond is never read; missing ones are empty
    return lines;
}

std::vector<std::string> Texts(const SettingsFileContent& s)
{
    std::vector<std::string> t = {s.ConfigFileName, s.RemotePassword, s.RemotePort};
    t.insert(t.end(), s.Names.begin(), s.Names.end());
    return t;
}

void CompareTexts(const SettingsFileContent& got, const std::vector<std::string>& want, const char* what)
{
    const std::vector<std::string> texts = Texts(got);
    for (size_t k = 0; k < texts.size(); ++k)
        if (texts[k] != want[k])
            Fail(what, static_cast<int>(k) + 1);
}

// Reads bytes into a content and checks it against the reference splitter.
SettingsFileContent CheckRead(std::string_view bytes)
{
    SettingsFileContent read = tavoxa::ReadSettings(bytes);
    const std::vector<std::string> lines = ReferenceLines(bytes);
    CompareTexts(read, lines, "a line reads differently from the plain line splitter");
    const bool remote = tavoxa::TextToInt(lines[11]) != 0;
    if (read.Remote != remote)
        Fail("the Remote flag does not follow line 12", 12);
    return read;
}

void CheckWriteThenRead(const SettingsFileContent& content)
{
    const std::string file = tavoxa::WriteSettings(content);
    size_t lineEnds = 0;
    for (size_t p = file.find("\r\n"); p != std::string::npos; p = file.find("\r\n", p + 2))
        ++lineEnds;
    if (lineEnds != 12 || file.size() < 2 || file.compare(file.size() - 2, 2, "\r\n") != 0)
        Fail("a written file is not twelve lines ended by CR LF", 0);
    const std::string last = file.substr(file.rfind("\r\n", file.size() - 3) + 2);
    if (last != (content.Remote ? "1\r\n" : "0\r\n"))
        Fail("line 12 is not \"1\" or \"0\"", 12);
    const SettingsFileContent back = CheckRead(file);
    CompareTexts(back, Texts(content), "a text does not come back after a write and a read");
    if (back.Remote != content.Remote)
        Fail("the Remote flag does not come back", 12);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    // 1. The input as a file.
    const SettingsFileContent read = CheckRead(bytes);
    CheckWriteThenRead(read);

    // 2. The input cut into eleven texts at the byte 0xFF, with the characters a line cannot
    // hold left out; the first byte decides the Remote flag.
    SettingsFileContent made;
    made.Remote = size > 0 && (data[0] & 1) != 0;
    std::vector<std::string> parts(1);
    for (size_t k = size > 0 ? 1 : 0; k < size; ++k) {
        const char c = static_cast<char>(data[k]);
        if (data[k] == 0xFF)
            parts.emplace_back();
        else if (c != '\r' && c != '\n' && c != '\x1a')
            parts.back() += c;
    }
    parts.resize(11);
    made.ConfigFileName = parts[0];
    made.RemotePassword = parts[1];
    made.RemotePort = parts[2];
    for (size_t k = 0; k < made.Names.size(); ++k)
        made.Names[k] = parts[3 + k];
    CheckWriteThenRead(made);

    // Stripping the directory leaves no backslash and only ever shortens the name.
    const std::string stripped = tavoxa::StripDirectory(made.ConfigFileName);
    if (stripped.find('\\') != std::string::npos || stripped.size() > made.ConfigFileName.size() ||
        made.ConfigFileName.compare(made.ConfigFileName.size() - stripped.size(), std::string::npos,
                                    stripped) != 0)
        Fail("StripDirectory left a folder in the name or changed the file name", 1);
    return 0;
}
