// The settings file swcf.ini: twelve lines of text, one value per line.
//
// Texts are kept as the bytes they are (8-bit, no encoding conversion, no trimming).
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace tavoxa {

// Always opened by this bare name, so it lives in the current directory of the moment.
inline constexpr char kSettingsFileName[] = "swcf.ini";

struct SettingsFileContent {
    std::string ConfigFileName;        // line 1
    std::string RemotePassword;        // line 2
    std::string RemotePort;            // line 3
    std::array<std::string, 8> Names;  // lines 4..11: the names of relays 1..6, K1, K2
    bool Remote = false;               // line 12: the "Remote" check box
};

// Splits the file into its twelve lines. A line ends at LF, a CR right before the LF belongs
// to the line end and any other CR is dropped; Ctrl-Z ends the file; lines missing at the end
// are empty. Remote is set when TextToInt of line 12 is not 0 ("1" as written, "-1"); any text
// without a number ("off", "no", empty, missing) leaves it off, so a first start without the
// file opens no server with an empty password.
SettingsFileContent ReadSettings(std::string_view bytes);

// Twelve lines, each ended by CR LF, line 12 "1" or "0". ConfigFileName is written as given:
// the caller shortens it with StripDirectory first and keeps the shortened name.
std::string WriteSettings(const SettingsFileContent& content);

// Removes the directory part of a configuration file name: the text after its last backslash.
// Only "\" counts as a separator, so a name with "/" is kept whole.
std::string StripDirectory(const std::string& name);

// Reads the file; never reports an error. A missing or unreadable file reads as empty text.
SettingsFileContent LoadSettingsFile(const std::string& path = kSettingsFileName);

// Replaces the file atomically; a file it creates is readable and writable by its owner only
// (it holds the remote password), an existing one keeps its mode. Throws IoError 103 when it cannot be
// created (no access to the directory, write-protected file) and IoError with the platform code when a write
// fails; the old file then stays unchanged.
void SaveSettingsFile(const SettingsFileContent& content, const std::string& path = kSettingsFileName);

}  // namespace tavoxa
