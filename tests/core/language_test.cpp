// The language choice: German for a German locale and for none, English for any other; --lang
// and the order LC_ALL, LC_MESSAGES, LANG decide.
#include "core/language.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <utility>

namespace {

TEST(Language, OfLocaleName)
{
    const std::pair<const char*, const char*> cases[] = {
        {"", "de"},      {"C", "de"},           {"C.UTF-8", "de"},     {"POSIX", "de"},
        {"de", "de"},    {"de_DE", "de"},       {"de_AT.UTF-8", "de"}, {"de_CH.UTF-8@euro", "de"},
        {"en_GB", "en"}, {"en_US.UTF-8", "en"}, {"fr_FR.UTF-8", "en"}, {"dech", "en"},
    };
    for (const auto& [name, language] : cases)
        EXPECT_EQ(tavoxa::LanguageOfLocaleName(name), language) << name;
}

TEST(Language, ChosenFromTheOptionThenLcAllThenLcMessagesThenLang)
{
    const char* const names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    const struct {
        const char* values[3];  // of LC_ALL, LC_MESSAGES and LANG; null: not set
        const char* requested;
        const char* language;
    } cases[] = {
        {{}, "", "de"},
        {{nullptr, nullptr, "fr_FR.UTF-8"}, "", "en"},
        {{nullptr, nullptr, "fr_FR.UTF-8"}, "de", "de"},
        {{nullptr, nullptr, "de_DE.UTF-8"}, "en", "en"},
        {{nullptr, nullptr, "de_DE.UTF-8"}, "xx", "de"},
        {{nullptr, "en_GB", "de_DE"}, "", "en"},
        {{"C", "en_GB", nullptr}, "", "de"},
        {{"", nullptr, "en_US"}, "", "en"},
    };
    std::pair<bool, QByteArray> saved[3];
    for (int i = 0; i < 3; ++i)
        saved[i] = {qEnvironmentVariableIsSet(names[i]), qgetenv(names[i])};
    for (const auto& c : cases) {
        for (int i = 0; i < 3; ++i)
            c.values[i] ? qputenv(names[i], c.values[i]) : qunsetenv(names[i]);
        EXPECT_EQ(tavoxa::ChosenLanguage(c.requested), c.language) << "case " << &c - cases;
    }
    for (int i = 0; i < 3; ++i)
        saved[i].first ? qputenv(names[i], saved[i].second) : qunsetenv(names[i]);
}

}  // namespace
