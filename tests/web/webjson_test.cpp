// The pure parts of the web page: JSON shapes, texts of dates and times, request framing, the
// --http address, cookies.
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

RelaySettings Sample()
{
    RelaySettings s;
    s.mode = ModeTimer;
    s.programs[0] = {DayMonToFri, EncodeDate(2026, 12, 24), EncodeTime(6, 30, 0), EncodeTime(7, 45, 0)};
    s.programs[1] = {DayDate, EncodeDate(2024, 2, 29), EncodeTime(23, 59, 59), 0};
    s.selectedProgram = 1;
    s.startAfter = -5;
    s.endAfter = std::numeric_limits<int32_t>::max();
    s.repeat = true;
    s.windows[2] = {90, EncodeTime(18, 0, 0), EncodeTime(23, 0, 0)};
    s.selectedWindow = 2;
    return s;
}

QJsonObject Json(const char* text)
{
    return QJsonDocument::fromJson(text).object();
}

TEST(WebJson, SettingsGoBackAsTheyCame)
{
    // Values no selector or calendar shows (from a hand-edited file) go out as numbers and back;
    // the clock mode is a selector entry for relay 6 alone.
    RelaySettings odd = Sample();
    odd.mode = ModeClock;
    odd.programs[3].dayCode = 42;
    odd.programs[4].date = 5e8;
    odd.selectedProgram = -1;
    for (const auto& [relay, s] : {std::pair(0, Sample()), std::pair(0, odd), std::pair(5, odd)}) {
        RelaySettings back;
        QString error;
        ASSERT_TRUE(ParseSettings(relay, SettingsJson(relay, s), &back, &error)) << error.toStdString();
        EXPECT_EQ(SettingsJson(relay, back), SettingsJson(relay, s)) << "relay " << relay;
    }
}

TEST(WebJson, BadSettingsAreRefusedByField)
{
    // Sets (Undefined: removes) `key` in the third program.
    const auto program = [](const char* key, const QJsonValue& v) {
        return [=](QJsonObject& o) {
            QJsonArray programs = o["programs"].toArray();
            QJsonObject p = programs[2].toObject();
            v.isUndefined() ? void(p.remove(key)) : void(p[key] = v);
            programs[2] = p;
            o["programs"] = programs;
        };
    };
    const auto seconds = [](double startAfter, double endAfter) {
        return [=](QJsonObject& o) {
            o["secondsTimer"] =
                QJsonObject{{"repeat", false}, {"startAfter", startAfter}, {"endAfter", endAfter}};
        };
    };
    const std::pair<const char*, std::function<void(QJsonObject&)>> cases[] = {
        {"mode", [](QJsonObject& o) { o["mode"] = "Zeitschaltuhr"; }},
        {"mode", [](QJsonObject& o) { o["mode"] = 4294967296.0; }},
        {"programs[2].day", program("day", "Montag")},
        {"programs[2].start", program("start", "24:00:00")},
        {"programs[2].date", program("date", "2026-02-29")},
        {"programs[2].date", program("date", QJsonValue::Undefined)},
        {"programs", [](QJsonObject& o) { o["programs"] = QJsonArray{}; }},
        {"secondsTimer.endAfter", seconds(1, 1.5)},
        {"secondsTimer.startAfter", seconds(-2147483649.0, 1)},
        {"selectedWindow", [](QJsonObject& o) { o["selectedWindow"] = "2"; }},
    };
    for (const auto& [field, spoil] : cases) {
        QJsonObject body = SettingsJson(0, Sample());
        spoil(body);
        RelaySettings out;
        out.mode = 77;
        QString error;
        EXPECT_FALSE(ParseSettings(0, body, &out, &error)) << field;
        EXPECT_TRUE(error.startsWith(QLatin1String(field))) << error.toStdString();
        EXPECT_EQ(out.mode, 77) << "nothing written for " << field;
    }
}

TEST(WebJson, DatesAndTimesAreStrict)
{
    const struct {
        const char* text;
        bool date, time;
    } cases[] = {
        {"2026-12-24", true, false},  {"2000-02-29", true, false}, {"1900-02-29", false, false},
        {"2026-13-01", false, false}, {"26-12-24", false, false},  {"06:30:00", false, true},
        {"23:59:59", false, true},    {"23:60:00", false, false},  {"06:30", false, false},
        {" 06:30:00", false, false},
    };
    for (const auto& c : cases) {
        const QString text = QString::fromLatin1(c.text);
        double day = 0, time = 0;
        EXPECT_EQ(ParseDate(text, &day), c.date) << c.text;
        EXPECT_EQ(ParseTime(text, &time), c.time) << c.text;
        EXPECT_TRUE(!c.date || DateText(day) == text) << c.text;
        EXPECT_TRUE(!c.time || TimeOfDayText(time) == text) << c.text;
    }
}

TEST(WebJson, SwitchCommands)
{
    QString error;
    const std::pair<const char*, bool> one[] = {
        {R"({"on": true})", true},
        {R"({"toggle": true})", true},
        {R"({"on": 1})", false},
        {R"({"on": true, "toggle": true})", false},
    };
    for (const auto& [body, ok] : one) {
        RelayAction action{};
        EXPECT_EQ(ParseSwitchOne(Json(body), &action, &error), ok) << body;
    }
    const std::pair<const char*, size_t> many[] = {
        {R"({"off": [2], "on": [1, 3]})", 3}, {R"({"on": [7]})", 0}, {R"({"on": [1.5]})", 0},
        {R"({"on": [], "of": [2]})", 0},      {R"({})", 0},
    };
    for (const auto& [body, count] : many) {
        std::vector<RelayCommand> commands;
        EXPECT_EQ(ParseSwitchMany(Json(body), &commands, &error), count > 0) << body;
        ASSERT_EQ(commands.size(), count) << body;
        // On first, whatever the order in the body.
        EXPECT_TRUE(count == 0 || (commands[0].relay == 0 && commands[0].action == RelayAction::On));
    }
}

TEST(WebJson, Names)
{
    const auto eight = [](const QJsonValue& first) {
        return QJsonArray{first, "", "", "", "", "", "Tür", ""};
    };
    const std::pair<QJsonValue, bool> cases[] = {
        {eight(QString(100, 'x')), true},
        {QJsonArray{"a", "b"}, false},
        {eight("a\nb"), false},
        {eight(QString(101, 'x')), false},
        {eight(1), false},
    };
    for (const auto& [names, ok] : cases) {
        std::array<std::string, 8> out;
        QString error;
        EXPECT_EQ(ParseNames(QJsonObject{{"names", names}}, &out, &error), ok) << error.toStdString();
    }
}

TEST(WebConfig, HttpAddress)
{
    const struct {
        const char* text;
        bool ok;
        QHostAddress address;
        int port;
    } cases[] = {
        {"8080", true, QHostAddress::Any, 8080},
        {"127.0.0.1:8080", true, QHostAddress::LocalHost, 8080},
        {"[::1]:443", true, QHostAddress::LocalHostIPv6, 443},
        {"127.0.0.1:0", true, QHostAddress::LocalHost, 0},
        {"65536", false, {}, 0},
        {"host:80", false, {}, 0},
        {"8080x", false, {}, 0},
    };
    for (const auto& c : cases) {
        QHostAddress address;
        quint16 port = 0;
        QString error;
        EXPECT_EQ(ParseHttpAddress(QString::fromLatin1(c.text), &address, &port, &error), c.ok) << c.text;
        EXPECT_TRUE(!c.ok || (address == c.address && port == c.port)) << c.text;
    }
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
