#include "ui/windowlanguage.h"

#include <QCoreApplication>

namespace tavoxa {

WindowLanguage::WindowLanguage(const QString& language) : language_(QStringLiteral("de"))
{
    if (language == QLatin1String("en")) {
        installed_ = translator_.load(QStringLiteral(":/i18n/tavoxa_en.qm")) &&
                     QCoreApplication::installTranslator(&translator_);
        if (installed_)
            language_ = language;
    }
    // The system's own locale is kept where it speaks the chosen language (de_AT stays de_AT,
    // en_GB stays en_GB); any other, the C locale included, gives way to the language's main one.
    const QLocale::Language wanted = language_ == QLatin1String("en") ? QLocale::English : QLocale::German;
    if (QLocale().language() != wanted)
        QLocale::setDefault(wanted == QLocale::English ? QLocale(QLocale::English, QLocale::UnitedStates)
                                                       : QLocale(QLocale::German, QLocale::Germany));
}

WindowLanguage::~WindowLanguage()
{
    if (installed_)
        QCoreApplication::removeTranslator(&translator_);
    QLocale::setDefault(previousLocale_);
}

}  // namespace tavoxa
