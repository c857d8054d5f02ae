#include "storage/settingsfile.h"

#include <optional>

#include "engine/texttoint.h"
#include "storage/fileaccess.h"
#include "storage/ioerror.h"

namespace tavoxa {
namespace {

constexpr char kEndOfFile = 26;  // Ctrl-Z

class LineReader {
public:
    explicit LineReader(std::string_view bytes) : bytes_(bytes.substr(0, bytes.find(kEndOfFile))) {}

    // The next line without its line end; empty once the file is exhausted.
    std::string Next()
    {
        std::string line;
        while (pos_ < bytes_.size()) {
            const char c = bytes_[pos_++];
            if (c == '\n')
                break;
            if (c != '\r')  // before LF it is part of the line end, elsewhere it is dropped
                line += c;
        }
        return line;
    }

private:
    std::string_view bytes_;
    size_t pos_ = 0;
};

void AppendLine(std::string& out, std::string_view text)
{
    out += text;
    out += "\r\n";
}

}  // namespace

SettingsFileContent ReadSettings(std::string_view bytes)
{
    LineReader in(bytes);
    SettingsFileContent content;
    content.ConfigFileName = in.Next();
    content.RemotePassword = in.Next();
    content.RemotePort = in.Next();
    for (std::string& name : content.Names)
        name = in.Next();
    const std::string remote = in.Next();
    content.Remote = TextToInt(remote) != 0;
    return content;
}

std::string WriteSettings(const SettingsFileContent& content)
{
    std::string out;
    AppendLine(out, content.ConfigFileName);
    AppendLine(out, content.RemotePassword);
    AppendLine(out, content.RemotePort);
    for (const std::string& name : content.Names)
        AppendLine(out, name);
    AppendLine(out, content.Remote ? "1" : "0");
    return out;
}

std::string StripDirectory(const std::string& name)
{
    // Everything after the last backslash, however long the folders before it: cutting each
    // step to a fixed length could leave a fragment of a folder name in place of the file name.
    const size_t slash = name.rfind('\\');
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

SettingsFileContent LoadSettingsFile(const std::string& path)
{
    std::optional<std::string> bytes;
    try {
        bytes = ReadWholeFile(path);
    } catch (const IoError&) {
        // A file that cannot be read counts as missing: the start goes on with empty texts.
    }
    return ReadSettings(bytes ? *bytes : std::string());
}

void SaveSettingsFile(const SettingsFileContent& content, const std::string& path)
{
    // The file holds the remote password: one the program creates is for its owner only.
    WriteFileAtomically(path, WriteSettings(content), 0600);
}

}  // namespace tavoxa
