// The pure parts of the web page: JSON shapes with their strict dates and times, request framing,
// the --http address, sessions.
#include "web/webjson.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <limits>

#include "engine/model.h"
#include "web/requestframer.h"
#include "web/sessions.h"
#include "web/webconfig.h"

namespace tavoxa {
namespace {

// Values at the edges, and ones no selector or calendar shows (from a hand-edited file): those go
// out as numbers. The clock mode is a selector entry for relay 6 alone.
RelaySettings Sample()
{
    RelaySettings s;
    s.mode = ModeClock;
    s.programs[0] = {DayMonToFri, EncodeDate(2026, 12, 24), EncodeTime(6, 30, 0), EncodeTime(7, 45, 0)};
    s.programs[1] = {DayDate, EncodeDate(2000, 2, 29), EncodeTime(23, 59, 59), 0};
    s.programs[3] = {42, 5e8, 0, 0};
    s.selectedProgram = -1;
    s.startAfter = -5;
    s.endAfter = std::numeric_limits<int32_t>::max();
    s.repeat = true;
    s.windows[2] = {90, EncodeTime(18, 0, 0), EncodeTime(23, 0, 0)};
    s.selectedWindow = 2;
    return s;
}

TEST(WebJson, SettingsGoBackAsTheyCame)
{
    for (int relay : {0, 5}) {
        RelaySettings back;
        QString error;
        ASSERT_TRUE(ParseSettings(relay, SettingsJson(relay, Sample()), &back, &error))
            << error.toStdString();
        EXPECT_EQ(SettingsJson(relay, back), SettingsJson(relay, Sample())) << "relay " << relay + 1;
        EXPECT_EQ(back.mode, ModeClock);
        EXPECT_EQ(back.programs[3].dayCode, 42);
    }
}

TEST(WebJson, BadSettingsAreRefusedByField)
{
    const struct {
        const char* field;  // the reason names it
        const char* from;   // text of the sample's JSON (dates and times in one form), replaced by `to`
        const char* to;
    } cases[] = {
        {"mode", R"("mode":10)", R"("mode":"Zeitschaltuhr")"},
        {"mode", R"("mode":10)", R"("mode":4294967296)"},
        {"programs[0].day", R"("Mo-Fr")", R"("Montag")"},
        {"programs[0].start", R"("06:30:00")", R"("24:00:00")"},
        {"programs[0].start", R"("06:30:00")", R"("23:60:00")"},
        {"programs[0].start", R"("06:30:00")", R"("06:30")"},
        {"programs[0].start", R"("06:30:00")", R"(" 06:30:00")"},
        {"programs[0].date", R"("2026-12-24")", R"("2026-02-29")"},
        {"programs[0].date", R"("2026-12-24")", R"("1900-02-29")"},
        {"programs[0].date", R"("2026-12-24")", R"("2026-13-01")"},
        {"programs[0].date", R"("2026-12-24")", R"("26-12-24")"},
        {"programs[0].date", R"("date":"2026-12-24",)", ""},
        {"programs", R"("programs":[)", R"("programs":[{},)"},
        {"secondsTimer.endAfter", R"("endAfter":2147483647)", R"("endAfter":1.5)"},
        {"secondsTimer.startAfter", R"("startAfter":-5)", R"("startAfter":-2147483649)"},
        {"selectedWindow", R"("selectedWindow":2)", R"("selectedWindow":"2")"},
    };
    for (const auto& c : cases) {
        QByteArray text = QJsonDocument(SettingsJson(0, Sample())).toJson(QJsonDocument::Compact);
        ASSERT_TRUE(text.contains(c.from)) << c.from;
        RelaySettings out;
        out.mode = 77;
        QString error;
        EXPECT_FALSE(
            ParseSettings(0, QJsonDocument::fromJson(text.replace(c.from, c.to)).object(), &out, &error))
            << c.field;
        EXPECT_TRUE(error.startsWith(QLatin1String(c.field))) << error.toStdString();
        EXPECT_EQ(out.mode, 77) << "nothing written for " << c.field;
    }
}

TEST(WebJson, SwitchCommands)
{
    const auto json = [](const char* text) { return QJsonDocument::fromJson(text).object(); };
    RelayAction action{};
    std::vector<RelayCommand> commands;
    QString error;
    for (const char* body : {R"({"on": true})", R"({"toggle": true})"})
        EXPECT_TRUE(ParseSwitchOne(json(body), &action, &error)) << body;
    for (const char* body : {R"({"on": 1})", R"({"toggle": false})", R"({"on": true, "toggle": true})"})
        EXPECT_FALSE(ParseSwitchOne(json(body), &action, &error)) << body;
    for (const char* body : {R"({"on": [7]})", R"({"on": [1.5]})", R"({"on": [], "of": [2]})", "{}"})
        EXPECT_FALSE(ParseSwitchMany(json(body), &commands, &error)) << body;
    // On first, whatever the order in the body.
    ASSERT_TRUE(ParseSwitchMany(json(R"({"off": [2], "on": [1, 3]})"), &commands, &error));
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_TRUE(commands[0].relay == 0 && commands[0].action == RelayAction::On);
}

TEST(WebJson, Names)
{
    const auto names = [](const QJsonValue& first) {
        return QJsonObject{{"names", QJsonArray{first, "", "", "", "", "", "Tür", ""}}};
    };
    std::array<std::string, 8> out;
    QString error;
    EXPECT_TRUE(ParseNames(names(QString(100, 'x')), &out, &error));
    for (const QJsonObject& body :
         {names("a\nb"), names(QString(101, 'x')), names(1), QJsonObject{{"names", QJsonArray{"a", "b"}}}})
        EXPECT_FALSE(ParseNames(body, &out, &error)) << QJsonDocument(body).toJson().toStdString();
}

TEST(WebConfig, HttpAddress)
{
    const auto parsed = [](const char* text) -> std::optional<std::pair<QHostAddress, int>> {
        QHostAddress address;
        quint16 port = 0;
        QString error;
        if (!ParseHttpAddress(QString::fromLatin1(text), &address, &port, &error))
            return std::nullopt;
        return std::pair(address, int(port));
    };
    for (const char* text : {"65536", "host:80", "8080x"})
        EXPECT_FALSE(parsed(text)) << text;
    EXPECT_EQ(parsed("8080"), std::pair(QHostAddress(QHostAddress::Any), 8080));
    EXPECT_EQ(parsed("[::1]:443"), std::pair(QHostAddress(QHostAddress::LocalHostIPv6), 443));
    EXPECT_EQ(parsed("127.0.0.1:0"), std::pair(QHostAddress(QHostAddress::LocalHost), 0));
}

TEST(RequestFramer, RefusesBeforeReadingTheBody)
{
    using V = RequestFramer::Verdict;
    const std::pair<QByteArray, V> cases[] = {
        {"GET / HTTP/1.1\r\nHost: x\r\n\r\n", V::Go},
        {"PUT /a HTTP/1.1\r\nContent-Length: 65536\r\n\r\n", V::Go},
        {"PUT /a HTTP/1.1\r\nContent-Length: 65537\r\n\r\n", V::BodyTooLarge},
        {"PUT /a HTTP/1.1\r\nContent-Length: 3\r\n\r\nabcPUT /b HTTP/1.1\r\nContent-Length: 99999\r\n\r\n",
         V::BodyTooLarge},
        {"PUT /a HTTP/1.1\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n", V::Malformed},
        {"PUT /a HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", V::LengthRequired},
        {"GET / HTTP/1.1\r\nX: " + QByteArray(kMaxHeaderBytes, 'x'), V::HeadersTooLarge},
        {"GET /api/live HTTP/1.1\r\nUpgrade: websocket\r\n\r\n\x81\x85", V::Upgraded},
        {"garbage\r\n\r\n", V::Malformed},
    };
    for (const auto& [bytes, verdict] : cases) {
        // Byte by byte as well as at once: the verdict does not depend on how the bytes arrive.
        RequestFramer whole, pieces;
        EXPECT_EQ(whole.Feed(bytes.constData(), bytes.size()), verdict) << bytes.left(60).toStdString();
        V last = V::Go;
        for (char ch : bytes)
            last = pieces.Feed(&ch, 1);
        EXPECT_EQ(last, verdict) << bytes.left(60).toStdString();
    }
}

TEST(Sessions, TheCapAndTheIdleEnd)
{
    int64_t nowMs = 0;
    Sessions sessions([&] { return nowMs; });
    const QByteArray idle = sessions.Create();
    const QByteArray first = sessions.Create();
    EXPECT_EQ(first.size(), 43);
    EXPECT_EQ(SessionTokenOfCookies("a=b; tavoxa_session=" + first + "; c=d"), first);
    nowMs += kSessionIdleMs;
    EXPECT_TRUE(sessions.Touch(first));
    nowMs += 1;
    EXPECT_FALSE(sessions.Touch(idle)) << "a week unused ends it";
    for (int i = 0; i < kMaxSessions; ++i)
        sessions.Create();
    EXPECT_EQ(sessions.Count(), kMaxSessions);
    EXPECT_FALSE(sessions.Touch(first)) << "the least recently used session made room";
}

}  // namespace
}  // namespace tavoxa
