// The window's language for as long as the object lives: the English translation is installed
// for "en" (German is the texts' own language, so "de" needs none), and the default locale,
// which formats the status panel's date and the date pickers, is one of the chosen language.
// Create it before the windows: their texts are translated as they are built. Main thread only.
#pragma once

#include <QLocale>
#include <QString>
#include <QTranslator>

namespace tavoxa {

class WindowLanguage {
public:
    explicit WindowLanguage(const QString& language);
    ~WindowLanguage();
    WindowLanguage(const WindowLanguage&) = delete;
    WindowLanguage& operator=(const WindowLanguage&) = delete;

    // "de" or "en"; "de" when the English translation could not be loaded.
    QString language() const { return language_; }

private:
    QString language_;
    QTranslator translator_;
    bool installed_ = false;
    QLocale previousLocale_;
};

}  // namespace tavoxa
