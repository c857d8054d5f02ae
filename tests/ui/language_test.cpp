// The window's language: German, the texts' own, is the same with --lang de as with no locale
// at all (the C locale) and as the texts in the sources; English changes what is shown.
#include "core/language.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QRegularExpression>
#include <stdexcept>

#include "core/errorreport.h"
#include "storage/ioerror.h"
#include "tests/ui/form1testkit.h"
#include "ui/form2.h"
#include "ui/form3.h"
#include "ui/windowlanguage.h"

namespace tavoxa::testing {
namespace {

// Every text a window shows as it is built: title, captions, entries and tool tips.
QStringList ShownTexts(const QWidget& window)
{
    QStringList texts{window.windowTitle()};
    for (const QWidget* w : window.findChildren<QWidget*>()) {
        const QString name = w->objectName() + QLatin1Char('=');
        if (const auto* label = qobject_cast<const QLabel*>(w))
            texts << name + label->text();
        if (const auto* button = qobject_cast<const QAbstractButton*>(w))
            texts << name + button->text();
        if (const auto* group = qobject_cast<const QGroupBox*>(w))
            texts << name + group->title();
        if (const auto* combo = qobject_cast<const QComboBox*>(w)) {
            for (int i = 0; i < combo->count(); ++i)
                texts << name + combo->itemText(i);
        }
        if (!w->toolTip().isEmpty())
            texts << name + w->toolTip();
    }
    return texts;
}

class WindowLanguageTest : public ControllerFixture {
protected:
    void SetUp() override { Create(); }

    // The main window and the IP dialog, built in `language` (none: the sources' texts).
    QStringList Texts(const QString& language)
    {
        std::unique_ptr<WindowLanguage> chosen;
        if (!language.isNull())
            chosen = std::make_unique<WindowLanguage>(language);
        AnsweredDialogs dialogs;
        const TForm1 form(*core, &dialogs);
        const TForm3 ip(core->remoteSwitch().settings());
        return ShownTexts(form) + ShownTexts(ip);
    }
};

TEST_F(WindowLanguageTest, GermanWithLangDeAndInTheCLocaleIsTheSourcesAndEnglishDiffers)
{
    const QStringList sources = Texts(QString());
    const QByteArray saved = qgetenv("LC_ALL");
    qputenv("LC_ALL", "C");
    const QStringList cLocale = Texts(ChosenLanguage());
    qputenv("LC_ALL", "en_US.UTF-8");
    const QStringList langDe = Texts(ChosenLanguage(QStringLiteral("de")));
    qputenv("LC_ALL", "de_DE.UTF-8");
    const QStringList langEn = Texts(ChosenLanguage(QStringLiteral("en")));
    if (saved.isNull())
        qunsetenv("LC_ALL");
    else
        qputenv("LC_ALL", saved);

    EXPECT_EQ(cLocale, sources);
    EXPECT_EQ(langDe, sources);
    ASSERT_EQ(langEn.size(), sources.size());
    EXPECT_NE(langEn, sources);
}

// A file error's box: the German message as the file layer words it, or its translation with the
// code filled in.
TEST(ErrorLanguage, FileErrorsInTheWindowsLanguage)
{
    for (const int code : {2, 106, 103}) {
        const QString german = QString::fromStdString(IoErrorMessage(code));
        EXPECT_EQ(ExceptionMessage(IoError(code)), german) << code;
        const WindowLanguage english(QStringLiteral("en"));
        const QString translated = ExceptionMessage(IoError(code));
        EXPECT_NE(translated, german) << code;
        EXPECT_FALSE(translated.contains(QLatin1String("%1"))) << code;
    }
    const WindowLanguage english(QStringLiteral("en"));
    EXPECT_TRUE(ExceptionMessage(IoError(103)).contains(QLatin1String("103")));
    EXPECT_EQ(ExceptionMessage(std::runtime_error("as it says")), "as it says");
}

TEST(HelpLanguage, EnglishHelpHasTheGermanSectionsInOrder)
{
    const auto sectionNumbers = [](const QString& text) {
        QStringList numbers;
        const QRegularExpression heading(QStringLiteral("\\n(\\d+(?:\\.\\d+)*\\.)  ?\\S[^\\n]*\\n-+\\n"));
        for (auto it = heading.globalMatch(text); it.hasNext();)
            numbers << it.next().captured(1);
        return numbers;
    };
    const QString german = TForm2::HelpText(QStringLiteral("de"));
    const QString english = TForm2::HelpText(QStringLiteral("en"));
    ASSERT_FALSE(english.isEmpty());
    EXPECT_NE(english, german);
    EXPECT_EQ(sectionNumbers(english), sectionNumbers(german));
    EXPECT_EQ(sectionNumbers(german).size(), 12);
}

}  // namespace
}  // namespace tavoxa::testing
