// The remote's port and password as a person types and reads them. They are kept byte for byte
// (swcf.ini, the login comparison with what a client sends), one byte per character, so every
// editor maps them to and from text as Latin-1 and refuses a character that does not fit.
#pragma once

#include <QString>
#include <optional>
#include <string>

namespace tavoxa {

QString RemoteText(const std::string& bytes);
// The bytes of `text`; nullopt, with the first character that does not fit in *refused, when a
// character lies beyond Latin-1.
std::optional<std::string> RemoteTextBytes(const QString& text, QChar* refused = nullptr);

}  // namespace tavoxa
