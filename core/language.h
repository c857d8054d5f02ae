// The language of the program's texts for people: German, the texts' own language, or English.
// The window and the web page use the same choice; texts for machines (the remote protocol, the
// files, MQTT, the switching log, JSON) are the same in every language.
#pragma once

#include <QString>

namespace tavoxa {

// "de" for a German locale name ("de_DE.UTF-8", "de_AT") and for none ("", "C", "C.UTF-8",
// "POSIX"); "en" for every other.
QString LanguageOfLocaleName(const QString& localeName);

// `requested` when it is "de" or "en" (the --lang option), else the language of the environment's
// messages locale: the first of LC_ALL, LC_MESSAGES and LANG that is set and not empty.
QString ChosenLanguage(const QString& requested = QString());

}  // namespace tavoxa
