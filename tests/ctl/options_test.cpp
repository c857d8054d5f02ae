// The command line: what is refused as usage, and where the password comes from.
#include "ctl/options.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

namespace tavoxa {
namespace {

CtlParse Parse(const QStringList& arguments, const std::optional<QByteArray>& environment = std::nullopt)
{
    return ParseCtlArguments(arguments, environment);
}

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
        {"--port", "0", "status"},
        {"--port", "x", "status"},
        {"--timeout", "0", "status"},
        {"--host"},
        {"--frobnicate", "status"},
        {"--password=pw", "status"},  // never from the command line
        {"on", "1"},                  // switching without any password
    };
    for (const QStringList& arguments : wrong)
        EXPECT_EQ(Parse(arguments).outcome, CtlParse::Outcome::Error) << arguments.join(' ').toStdString();
}

TEST(CtlOptions, OptionsAnywhereAndRelaysAsMask)
{
    const CtlParse parse = Parse(
        {"toggle", "1", "--host=board", "6", "--port", "4000", "--json", "--timeout", "2.5", "1"}, "pw");
    ASSERT_EQ(parse.outcome, CtlParse::Outcome::Run) << parse.error.toStdString();
    EXPECT_EQ(parse.request.command, CtlCommand::Toggle);
    EXPECT_EQ(parse.request.relayMask, 0x21);
    EXPECT_EQ(parse.request.host, "board");
    EXPECT_EQ(parse.request.port, 4000);
    EXPECT_TRUE(parse.request.json);
    EXPECT_EQ(parse.request.timeoutMs, 2500);
    EXPECT_EQ(Parse({"status", "--help"}).outcome, CtlParse::Outcome::Help);
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

    CtlParse parse = Parse({"--password-file", file.fileName(), "on", "1"}, "from-env");
    ASSERT_EQ(parse.outcome, CtlParse::Outcome::Run);
    EXPECT_EQ(*parse.request.password, QByteArray("s\xe4"
                                                  "cret"));

    parse = Parse({"off", "2"}, "from-env");
    ASSERT_EQ(parse.outcome, CtlParse::Outcome::Run);
    EXPECT_EQ(*parse.request.password, "from-env");

    EXPECT_EQ(Parse({"--password-file", dir.filePath("missing"), "status"}).outcome,
              CtlParse::Outcome::Error);
    EXPECT_EQ(Parse({"status"}).outcome, CtlParse::Outcome::Run);  // reading needs no password
}

}  // namespace
}  // namespace tavoxa
