// The command line: what is refused as usage, and where the password comes from.
#include "ctl/options.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

namespace tavoxa {
namespace {

TEST(CtlOptions, WrongCommandLinesAreUsageErrors)
{
    const std::vector<QStringList> wrong{
        {},
        {"stat"},
        {"status", "1"},
        {"on"},
        {"on", "0"},
        {"on", "7"},
        {"set", "256"},
        {"set", "1", "2"},
        {"--host"},
        {"--port", "0", "status"},
        {"--port", "x", "status"},
        {"--timeout", "0", "status"},
        {"--frobnicate", "status"},
        {"--password=pw", "status"},  // never from the command line
        {"on", "1"},                  // switching without any password
        {"--password-file", "/nonexistent/pw", "status"},
    };
    for (const QStringList& arguments : wrong)
        EXPECT_EQ(ParseCtlArguments(arguments, std::nullopt).outcome, CtlParse::Outcome::Error)
            << arguments.join(' ').toStdString();
}

TEST(CtlOptions, PasswordIsTheFilesFirstLineElseTheEnvironment)
{
    QTemporaryDir dir;
    QFile file(dir.filePath("pw"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(
        "s\xe4"
        "cret\r\nsecond line\r\n");  // single-byte text, as the server stores it
    file.close();
    const struct {
        QStringList arguments;
        std::optional<QByteArray> environment;
        std::optional<QByteArray> password;
    } cases[] = {
        {{"--password-file", file.fileName(), "on", "1"},
         "env",
         QByteArray("s\xe4"
                    "cret")},
        {{"off", "2"}, "env", "env"},
        {{"status"}, std::nullopt, std::nullopt},  // reading needs no password
    };
    for (const auto& c : cases) {
        const CtlParse parse = ParseCtlArguments(c.arguments, c.environment);
        ASSERT_EQ(parse.outcome, CtlParse::Outcome::Run) << c.arguments.join(' ').toStdString();
        EXPECT_EQ(parse.request.password, c.password) << c.arguments.join(' ').toStdString();
    }
}

}  // namespace
}  // namespace tavoxa
