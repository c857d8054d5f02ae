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

bool Same(const RelaySettings& a, const RelaySettings& b)
{
    return QJsonDocument(SettingsJson(0, a)).toJson() == QJsonDocument(SettingsJson(0, b)).toJson() &&
           a.mode == b.mode && a.programs[3].dayCode == b.programs[3].dayCode;
}

TEST(WebJson, SettingsGoBackAsTheyCame)
{
    // Values no selector or calendar shows (from a hand-edited file) go out as numbers and back.
    RelaySettings odd = Sample();
    odd.mode = ModeClock;  // relay 1 has no "Uhr - Steuerung"
    odd.programs[3].dayCode = 42;
    odd.programs[4].date = 5e8;
    odd.selectedProgram = -1;
    for (const RelaySettings& s : {Sample(), odd}) {
        RelaySettings back;
        QString error;
        ASSERT_TRUE(ParseSettings(0, SettingsJson(0, s), &back, &error)) << error.toStdString();
        EXPECT_TRUE(Same(s, back));
    }
    EXPECT_EQ(SettingsJson(0, odd).value("mode"), QJsonValue(10));
    EXPECT_EQ(SettingsJson(5, odd).value("mode"), QJsonValue("Uhr - Steuerung"));
}

TEST(WebJson, BadSettingsAreRefusedByField)
{
    struct Case {
        const char* field;  // the reason names it
        std::function<void(QJsonObject&)> spoil;
    };
    const auto program = [](QJsonObject& o, const char* key, const QJsonValue& v) {
        QJsonArray programs = o["programs"].toArray();
        QJsonObject p = programs[2].toObject();
        v.isUndefined() ? void(p.remove(key)) : void(p[key] = v);
        programs[2] = p;
        o["programs"] = programs;
    };
    const Case cases[] = {
        {"mode", [](QJsonObject& o) { o["mode"] = "Zeitschaltuhr"; }},
        {"mode", [](QJsonObject& o) { o["mode"] = 4294967296.0; }},
        {"programs[2].day", [&](QJsonObject& o) { program(o, "day", "Montag"); }},
        {"programs[2].start", [&](QJsonObject& o) { program(o, "start", "24:00:00"); }},
        {"programs[2].end", [&](QJsonObject& o) { program(o, "end", "6:30"); }},
        {"programs[2].date", [&](QJsonObject& o) { program(o, "date", "2026-02-29"); }},
        {"programs[2].date", [&](QJsonObject& o) { program(o, "date", QJsonValue::Undefined); }},
        {"programs", [](QJsonObject& o) { o["programs"] = QJsonArray{}; }},
        {"secondsTimer.endAfter",
         [](QJsonObject& o) {
             o["secondsTimer"] = QJsonObject{{"repeat", false}, {"startAfter", 1}, {"endAfter", 1.5}};
         }},
        {"secondsTimer.startAfter",
         [](QJsonObject& o) {
             o["secondsTimer"] =
                 QJsonObject{{"repeat", false}, {"startAfter", -2147483649.0}, {"endAfter", 1}};
         }},
        {"windows", [](QJsonObject& o) { o.remove("windows"); }},
        {"selectedWindow", [](QJsonObject& o) { o["selectedWindow"] = "2"; }},
    };
    for (const Case& c : cases) {
        QJsonObject body = SettingsJson(0, Sample());
        c.spoil(body);
        RelaySettings out;
        out.mode = 77;
        QString error;
        EXPECT_FALSE(ParseSettings(0, body, &out, &error)) << c.field;
        EXPECT_TRUE(error.startsWith(QLatin1String(c.field))) << error.toStdString();
        EXPECT_EQ(out.mode, 77) << "nothing written for " << c.field;
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
        double v = 0;
        EXPECT_EQ(ParseDate(QString::fromLatin1(c.text), &v), c.date) << c.text;
        EXPECT_EQ(ParseTime(QString::fromLatin1(c.text), &v), c.time) << c.text;
        if (c.date) {
            ParseDate(QString::fromLatin1(c.text), &v);
            EXPECT_EQ(DateText(v), QString::fromLatin1(c.text));
        }
        if (c.time) {
            ParseTime(QString::fromLatin1(c.text), &v);
            EXPECT_EQ(TimeOfDayText(v), QString::fromLatin1(c.text));
        }
    }
}

TEST(WebJson, SwitchCommands)
{
    const struct {
        const char* body;
        bool many;
        bool ok;
        int count;
    } cases[] = {
        {R"({"on": true})", false, true, 1},
        {R"({"toggle": true})", false, true, 1},
        {R"({"on": 1})", false, false, 0},
        {R"({"on": true, "toggle": true})", false, false, 0},
        {R"({"on": [1, 3], "off": [2]})", true, true, 3},
        {R"({"on": [7]})", true, false, 0},
        {R"({"on": [1.5]})", true, false, 0},
        {R"({"on": [], "of": [2]})", true, false, 0},
        {R"({})", true, false, 0},
    };
    for (const auto& c : cases) {
        const QJsonObject body = QJsonDocument::fromJson(c.body).object();
        QString error;
        if (c.many) {
            std::vector<RelayCommand> commands;
            EXPECT_EQ(ParseSwitchMany(body, &commands, &error), c.ok) << c.body;
            EXPECT_EQ(static_cast<int>(commands.size()), c.count) << c.body;
        } else {
            RelayAction action{};
            EXPECT_EQ(ParseSwitchOne(body, &action, &error), c.ok) << c.body;
        }
    }
    std::vector<RelayCommand> order;
    QString error;
    ParseSwitchMany(QJsonDocument::fromJson(R"({"off": [2], "on": [1]})").object(), &order, &error);
    EXPECT_EQ(order[0].relay, 0);
    EXPECT_EQ(order[0].action, RelayAction::On);
}

TEST(WebJson, Names)
{
    const struct {
        QJsonValue names;
        bool ok;
    } cases[] = {
        {QJsonArray{"Pumpe", "", "", "", "", "", "Tür", "K2"}, true},
        {QJsonArray{"a", "b"}, false},
        {QJsonArray{"a\nb", "", "", "", "", "", "", ""}, false},
        {QJsonArray{QString(101, 'x'), "", "", "", "", "", "", ""}, false},
        {QJsonArray{1, "", "", "", "", "", "", ""}, false},
    };
    for (const auto& c : cases) {
        std::array<std::string, 8> names;
        QString error;
        EXPECT_EQ(ParseNames(QJsonObject{{"names", c.names}}, &names, &error), c.ok);
    }
}

TEST(WebConfig, HttpAddress)
{
    const struct {
        const char* text;
        bool ok;
        const char* address;
        int port;
    } cases[] = {
        {"8080", true, "", 8080},        {"127.0.0.1:8080", true, "127.0.0.1", 8080},
        {"[::1]:443", true, "::1", 443}, {"127.0.0.1:0", true, "127.0.0.1", 0},
        {"65536", false, "", 0},         {"host:80", false, "", 0},
        {"8080x", false, "", 0},
    };
    for (const auto& c : cases) {
        QHostAddress address;
        quint16 port = 0;
        QString error;
        ASSERT_EQ(ParseHttpAddress(QString::fromLatin1(c.text), &address, &port, &error), c.ok) << c.text;
        if (!c.ok)
            continue;
        EXPECT_EQ(port, c.port);
        EXPECT_EQ(address, *c.address ? QHostAddress(QString::fromLatin1(c.address))
                                      : QHostAddress(QHostAddress::Any));
    }
}

TEST(RequestFramer, RefusesBeforeReadingTheBody)
{
    using V = RequestFramer::Verdict;
    const struct {
        QByteArray bytes;
        V verdict;
    } cases[] = {
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
    for (const auto& c : cases) {
        // Byte by byte as well as at once: the verdict does not depend on how the bytes arrive.
        RequestFramer whole, pieces;
        EXPECT_EQ(whole.Feed(c.bytes.constData(), c.bytes.size()), c.verdict)
            << c.bytes.left(60).toStdString();
        V last = V::Go;
        for (char ch : c.bytes)
            last = pieces.Feed(&ch, 1);
        EXPECT_EQ(last, c.verdict) << c.bytes.left(60).toStdString();
    }
}

TEST(Sessions, CookiesTheCapAndTheIdleEnd)
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
    EXPECT_TRUE(SessionCookie("t", true).contains("HttpOnly; SameSite=Strict"));
    EXPECT_TRUE(SessionCookie("t", true).endsWith("; Secure"));
}

}  // namespace
}  // namespace tavoxa
