// The window's language: German, the texts' own, shows the texts of the sources unchanged;
// English changes what is shown. Which language a locale or --lang gives is core's.
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
        if (qobject_cast<const QLabel*>(w) || qobject_cast<const QAbstractButton*>(w))
            texts << name + w->property("text").toString();
        if (const auto* group = qobject_cast<const QGroupBox*>(w))
            texts << name + group->title();
        if (const auto* combo = qobject_cast<const QComboBox*>(w))
            for (int i = 0; i < combo->count(); ++i)
                texts << name + combo->itemText(i);
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

TEST_F(WindowLanguageTest, GermanIsTheSourcesAndEnglishDiffers)
{
    const QStringList sources = Texts(QString());
    EXPECT_EQ(Texts(QStringLiteral("de")), sources);
    const QStringList english = Texts(QStringLiteral("en"));
    ASSERT_EQ(english.size(), sources.size());
    EXPECT_NE(english, sources);
}

// A file error's box: the German message as the file layer words it, or its translation with the
// code filled in; any other error as it says.
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
    EXPECT_NE(english, german);
    EXPECT_EQ(sectionNumbers(english), sectionNumbers(german));
    EXPECT_EQ(sectionNumbers(german).size(), 12);
}

}  // namespace
}  // namespace tavoxa::testing
