#include "core/language.h"

#include <QByteArray>

namespace tavoxa {

QString LanguageOfLocaleName(const QString& localeName)
{
    // "de_DE.UTF-8@euro": the language is what stands before the territory, codeset and modifier.
    const QString language = localeName.section(QLatin1Char('@'), 0, 0)
                                 .section(QLatin1Char('.'), 0, 0)
                                 .section(QLatin1Char('_'), 0, 0);
    if (language.isEmpty() || language == QLatin1String("C") || language == QLatin1String("POSIX") ||
        language == QLatin1String("de"))
        return QStringLiteral("de");
    return QStringLiteral("en");
}

QString ChosenLanguage(const QString& requested)
{
    if (requested == QLatin1String("de") || requested == QLatin1String("en"))
        return requested;
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const QByteArray value = qgetenv(variable);
        if (!value.isEmpty())
            return LanguageOfLocaleName(QString::fromLocal8Bit(value));
    }
    return LanguageOfLocaleName(QString());
}

}  // namespace tavoxa
