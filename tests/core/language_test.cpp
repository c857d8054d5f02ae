// The language choice: German for a German locale and for none, English for any other; --lang
// and the order LC_ALL, LC_MESSAGES, LANG decide.
#include "core/language.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <map>

using tavoxa::ChosenLanguage;
using tavoxa::LanguageOfLocaleName;

namespace {

// Sets the locale variables for the test's length and puts the old values back.
class LocaleEnvironment {
public:
    explicit LocaleEnvironment(const std::map<const char*, const char*>& values)
    {
        for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
            saved_[name] = {qEnvironmentVariableIsSet(name), qgetenv(name)};
            const auto it = values.find(name);
            if (it != values.end())
                qputenv(name, it->second);
            else
                qunsetenv(name);
        }
    }
    ~LocaleEnvironment()
    {
        for (const auto& [name, value] : saved_) {
            if (value.first)
                qputenv(name, value.second);
            else
                qunsetenv(name);
        }
    }

private:
    std::map<const char*, std::pair<bool, QByteArray>> saved_;
};

}  // namespace

TEST(Language, OfLocaleName)
{
    const std::pair<const char*, const char*> cases[] = {
        {"", "de"},      {"C", "de"},           {"C.UTF-8", "de"},     {"POSIX", "de"},
        {"de", "de"},    {"de_DE", "de"},       {"de_AT.UTF-8", "de"}, {"de_CH.UTF-8@euro", "de"},
        {"en_GB", "en"}, {"en_US.UTF-8", "en"}, {"fr_FR.UTF-8", "en"}, {"dech", "en"},
    };
    for (const auto& [name, language] : cases)
        EXPECT_EQ(LanguageOfLocaleName(name), language) << name;
}

TEST(Language, ChosenFromTheOptionThenLcAllThenLcMessagesThenLang)
{
    struct Case {
        std::map<const char*, const char*> environment;
        const char* requested;
        const char* language;
    };
    const Case cases[] = {
        {{}, "", "de"},
        {{{"LANG", "fr_FR.UTF-8"}}, "", "en"},
        {{{"LANG", "fr_FR.UTF-8"}}, "de", "de"},
        {{{"LANG", "de_DE.UTF-8"}}, "en", "en"},
        {{{"LANG", "de_DE.UTF-8"}}, "xx", "de"},
        {{{"LC_MESSAGES", "en_GB"}, {"LANG", "de_DE"}}, "", "en"},
        {{{"LC_ALL", "C"}, {"LC_MESSAGES", "en_GB"}}, "", "de"},
        {{{"LC_ALL", ""}, {"LANG", "en_US"}}, "", "en"},
    };
    for (const Case& c : cases) {
        const LocaleEnvironment environment(c.environment);
        EXPECT_EQ(ChosenLanguage(c.requested), c.language) << c.requested << " " << c.environment.size();
    }
}
