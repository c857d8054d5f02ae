#include "web/webjson.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <cmath>
#include <functional>
#include <limits>

#include "core/switchinglog.h"
#include "engine/hardware.h"
#include "engine/model.h"

namespace tavoxa {

namespace {

constexpr int kMaxNameLength = 100;

// Reads one field of a JSON object; every reader says which field failed, as "programs[2].start".
class FieldReader {
public:
    FieldReader(const QJsonObject& object, QString path, QString* error)
        : object_(object), path_(std::move(path)), error_(error)
    {
    }
    bool ok() const { return ok_; }

    QJsonValue Get(const char* key)
    {
        QJsonValue v = object_.value(QLatin1String(key));
        if (v.isUndefined())
            Fail(key, QStringLiteral("missing"));
        return v;
    }
    int32_t Int(const char* key)
    {
        const QJsonValue v = Get(key);
        if (!ok_)
            return 0;
        return ToInt(v, key);
    }
    int32_t ToInt(const QJsonValue& v, const char* key)
    {
        const double d = v.toDouble(std::numeric_limits<double>::quiet_NaN());
        if (!v.isDouble() || std::floor(d) != d || d < std::numeric_limits<int32_t>::min() ||
            d > std::numeric_limits<int32_t>::max()) {
            Fail(key, QStringLiteral("not a whole number of 32 bits"));
            return 0;
        }
        return static_cast<int32_t>(d);
    }
    bool Bool(const char* key)
    {
        const QJsonValue v = Get(key);
        if (ok_ && !v.isBool())
            Fail(key, QStringLiteral("not true or false"));
        return v.toBool();
    }
    double Time(const char* key)
    {
        const QJsonValue v = Get(key);
        double t = 0;
        if (ok_ && (!v.isString() || !ParseTime(v.toString(), &t)))
            Fail(key, QStringLiteral("not a time hh:mm:ss"));
        return t;
    }
    double Date(const char* key)
    {
        const QJsonValue v = Get(key);
        if (!ok_)
            return 0;
        if (v.isDouble() && std::isfinite(v.toDouble()))
            return DatePart(v.toDouble());
        double d = 0;
        if (!v.isString() || !ParseDate(v.toString(), &d))
            Fail(key, QStringLiteral("not a date YYYY-MM-DD"));
        return d;
    }
    // A selector: one of `texts`, or a number of 32 bits for a value the selector lacks.
    int32_t Selector(const char* key, const std::function<std::optional<int32_t>(const QString&)>& ofText)
    {
        const QJsonValue v = Get(key);
        if (!ok_)
            return 0;
        if (v.isString()) {
            if (const auto code = ofText(v.toString()))
                return *code;
            Fail(key, QStringLiteral("unknown entry \"%1\"").arg(v.toString()));
            return 0;
        }
        return ToInt(v, key);
    }
    QJsonArray Array(const char* key, int size)
    {
        const QJsonValue v = Get(key);
        if (ok_ && (!v.isArray() || v.toArray().size() != size))
            Fail(key, QStringLiteral("not a list of %1").arg(size));
        return v.toArray();
    }
    QJsonObject Object(const QJsonValue& v, const QString& key)
    {
        if (ok_ && !v.isObject())
            Fail(key, QStringLiteral("not an object"));
        return v.toObject();
    }
    QString Path(const QString& key) const { return path_.isEmpty() ? key : path_ + QLatin1Char('.') + key; }
    void Fail(const QString& key, const QString& why)
    {
        if (!ok_)
            return;
        ok_ = false;
        if (error_)
            *error_ = Path(key) + QStringLiteral(": ") + why;
    }
    void Fail(const char* key, const QString& why) { Fail(QLatin1String(key), why); }

private:
    QJsonObject object_;
    QString path_;
    QString* error_;
    bool ok_ = true;
};

QJsonValue SelectorJson(const std::optional<QString>& text, int32_t code)
{
    return text ? QJsonValue(*text) : QJsonValue(static_cast<double>(code));
}

std::optional<QString> DayText(int32_t code)
{
    if (code < 0 || code >= static_cast<int32_t>(kDayCodeNames.size()))
        return std::nullopt;
    return QString::fromLatin1(kDayCodeNames[static_cast<size_t>(code)]);
}

std::optional<int32_t> DayOfText(const QString& text)
{
    for (size_t i = 0; i < kDayCodeNames.size(); ++i) {
        if (text == QLatin1String(kDayCodeNames[i]))
            return static_cast<int32_t>(i);
    }
    return std::nullopt;
}

QJsonValue NextJson(const NextSwitch& next)
{
    if (!next.found)
        return QJsonValue::Null;
    QJsonObject o{{QStringLiteral("at"), DateTimeText(next.at)},
                  {QStringLiteral("on"), next.on},
                  {QStringLiteral("cause"), QString::fromStdString(CauseText(next.cause))}};
    if (next.cause.kind == CauseKind::RandomWindow)
        o.insert(QStringLiteral("window"),
                 QJsonArray{TimeOfDayText(next.windowStart), TimeOfDayText(next.windowEnd)});
    return o;
}

double Seconds(double days)
{
    return std::round(days * kSecondsPerDay);
}

}  // namespace

std::optional<QString> DateText(double day)
{
    if (!std::isfinite(day) || std::fabs(day) > 1e9)
        return std::nullopt;
    const LocalDateTime t = FromDateTime(DatePart(day));
    if (t.year < 1 || t.year > 9999)
        return std::nullopt;
    return QString::asprintf("%04d-%02d-%02d", t.year, t.month, t.day);
}

QString TimeOfDayText(double value)
{
    return QString::fromStdString(TimeText(value));
}

QString DateTimeText(double value)
{
    return LogTimeText(FromDateTime(value));
}

bool ParseDate(const QString& text, double* day)
{
    static const QRegularExpression form(QStringLiteral("^(\\d{4})-(\\d{2})-(\\d{2})$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return false;
    const int y = m.captured(1).toInt(), mo = m.captured(2).toInt(), d = m.captured(3).toInt();
    static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 1 || mo < 1 || mo > 12 || d < 1 || d > kDays[mo - 1])
        return false;
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (mo == 2 && d == 29 && !leap)
        return false;
    *day = EncodeDate(y, mo, d);
    return true;
}

bool ParseTime(const QString& text, double* time)
{
    static const QRegularExpression form(QStringLiteral("^(\\d{2}):(\\d{2}):(\\d{2})$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return false;
    const int h = m.captured(1).toInt(), mi = m.captured(2).toInt(), s = m.captured(3).toInt();
    if (h > 23 || mi > 59 || s > 59)
        return false;
    *time = EncodeTime(h, mi, s);
    return true;
}

std::optional<QString> ModeText(int relay, int32_t mode)
{
    if (mode < 0 || mode >= ModeCount(relay))
        return std::nullopt;
    return QString::fromLatin1(kModeNames[static_cast<size_t>(mode)]);
}

std::optional<int32_t> ModeOfText(int relay, const QString& text)
{
    for (int m = 0; m < ModeCount(relay); ++m) {
        if (text == QLatin1String(kModeNames[static_cast<size_t>(m)]))
            return m;
    }
    return std::nullopt;
}

QJsonObject SettingsJson(int relay, const RelaySettings& s)
{
    QJsonArray programs;
    for (const ProgramSettings& p : s.programs) {
        const std::optional<QString> date = DateText(p.date);
        programs.append(
            QJsonObject{{QStringLiteral("day"), SelectorJson(DayText(p.dayCode), p.dayCode)},
                        {QStringLiteral("date"), date ? QJsonValue(*date) : QJsonValue(DatePart(p.date))},
                        {QStringLiteral("start"), TimeOfDayText(p.start)},
                        {QStringLiteral("end"), TimeOfDayText(p.end)}});
    }
    QJsonArray windows;
    for (const WindowSettings& w : s.windows) {
        windows.append(QJsonObject{{QStringLiteral("maxMinutes"), w.maxMinutes},
                                   {QStringLiteral("start"), TimeOfDayText(w.start)},
                                   {QStringLiteral("end"), TimeOfDayText(w.end)}});
    }
    return QJsonObject{
        {QStringLiteral("relay"), relay + 1},
        {QStringLiteral("mode"), SelectorJson(ModeText(relay, s.mode), s.mode)},
        {QStringLiteral("selectedProgram"), s.selectedProgram},
        {QStringLiteral("programs"), programs},
        {QStringLiteral("secondsTimer"), QJsonObject{{QStringLiteral("repeat"), s.repeat},
                                                     {QStringLiteral("startAfter"), s.startAfter},
                                                     {QStringLiteral("endAfter"), s.endAfter}}},
        {QStringLiteral("selectedWindow"), s.selectedWindow},
        {QStringLiteral("windows"), windows},
    };
}

bool ParseSettings(int relay, const QJsonObject& body, RelaySettings* out, QString* error)
{
    RelaySettings s;
    FieldReader top(body, QString(), error);
    s.mode = top.Selector("mode", [relay](const QString& t) { return ModeOfText(relay, t); });
    s.selectedProgram = top.Int("selectedProgram");
    const QJsonArray programs = top.Array("programs", kProgramCount);
    for (int p = 0; top.ok() && p < kProgramCount; ++p) {
        const QString path = QStringLiteral("programs[%1]").arg(p);
        const QJsonObject o = top.Object(programs[p], path);
        if (!top.ok())
            break;
        FieldReader f(o, path, error);
        ProgramSettings& ps = s.programs[static_cast<size_t>(p)];
        ps.dayCode = f.Selector("day", DayOfText);
        ps.date = f.Date("date");
        ps.start = f.Time("start");
        ps.end = f.Time("end");
        if (!f.ok())
            return false;
    }
    const QJsonObject seconds = top.Object(top.Get("secondsTimer"), QStringLiteral("secondsTimer"));
    if (top.ok()) {
        FieldReader f(seconds, QStringLiteral("secondsTimer"), error);
        s.repeat = f.Bool("repeat");
        s.startAfter = f.Int("startAfter");
        s.endAfter = f.Int("endAfter");
        if (!f.ok())
            return false;
    }
    s.selectedWindow = top.Int("selectedWindow");
    const QJsonArray windows = top.Array("windows", kWindowCount);
    for (int w = 0; top.ok() && w < kWindowCount; ++w) {
        const QString path = QStringLiteral("windows[%1]").arg(w);
        const QJsonObject o = top.Object(windows[w], path);
        if (!top.ok())
            break;
        FieldReader f(o, path, error);
        WindowSettings& ws = s.windows[static_cast<size_t>(w)];
        ws.maxMinutes = f.Int("maxMinutes");
        ws.start = f.Time("start");
        ws.end = f.Time("end");
        if (!f.ok())
            return false;
    }
    if (!top.ok())
        return false;
    *out = s;
    return true;
}

QJsonObject StateJson(const StateView& state)
{
    QJsonArray relays;
    for (int r = 0; r < kRelayCount; ++r) {
        const RelayView& v = state.relays[static_cast<size_t>(r)];
        relays.append(QJsonObject{{QStringLiteral("relay"), r + 1},
                                  {QStringLiteral("name"), v.name},
                                  {QStringLiteral("mode"), SelectorJson(ModeText(r, v.mode), v.mode)},
                                  {QStringLiteral("on"), v.on},
                                  {QStringLiteral("canToggle"), ToggleButtonEnabled(v.mode)},
                                  {QStringLiteral("next"), NextJson(v.next)}});
    }
    return QJsonObject{
        {QStringLiteral("relays"), relays},
        {QStringLiteral("inputs"),
         QJsonObject{{QStringLiteral("K1"), state.k1Closed}, {QStringLiteral("K2"), state.k2Closed}}},
        {QStringLiteral("port"),
         QJsonObject{{QStringLiteral("com"), state.comNumber},
                     {QStringLiteral("open"), state.portOpen},
                     {QStringLiteral("connected"), state.connected},
                     {QStringLiteral("locked"), state.portLocked},
                     {QStringLiteral("chip"), ChipText(state.chipItem)},
                     {QStringLiteral("device"),
                      state.device.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(state.device)}}},
        {QStringLiteral("remote"), QJsonObject{{QStringLiteral("on"), state.remoteOn}}},
        {QStringLiteral("time"), LogTimeText(state.time)},
    };
}

bool ParseSwitchOne(const QJsonObject& body, RelayAction* action, QString* error)
{
    if (body.size() == 1 && body.value(QLatin1String("on")).isBool()) {
        *action = body.value(QLatin1String("on")).toBool() ? RelayAction::On : RelayAction::Off;
        return true;
    }
    if (body.size() == 1 && body.value(QLatin1String("toggle")) == QJsonValue(true)) {
        *action = RelayAction::Toggle;
        return true;
    }
    *error = QStringLiteral("expected {\"on\": true}, {\"on\": false} or {\"toggle\": true}");
    return false;
}

bool ParseSwitchMany(const QJsonObject& body, std::vector<RelayCommand>* commands, QString* error)
{
    static const std::pair<const char*, RelayAction> kKeys[] = {
        {"on", RelayAction::On}, {"off", RelayAction::Off}, {"toggle", RelayAction::Toggle}};
    std::vector<RelayCommand> out;
    int known = 0;
    for (const auto& [key, action] : kKeys) {
        const QJsonValue v = body.value(QLatin1String(key));
        if (v.isUndefined())
            continue;
        ++known;
        if (!v.isArray()) {
            *error = QStringLiteral("%1: not a list of relay numbers").arg(QLatin1String(key));
            return false;
        }
        for (const auto& n : v.toArray()) {
            const double d = n.toDouble(0);
            if (!n.isDouble() || std::floor(d) != d || d < 1 || d > kRelayCount) {
                *error = QStringLiteral("%1: relays are numbered 1 to 6").arg(QLatin1String(key));
                return false;
            }
            out.push_back({static_cast<int>(d) - 1, action});
        }
    }
    if (known != body.size() || out.empty()) {
        *error = QStringLiteral("expected {\"on\": [...], \"off\": [...], \"toggle\": [...]}");
        return false;
    }
    *commands = std::move(out);
    return true;
}

QJsonObject NamesJson(const std::array<QString, 8>& names)
{
    QJsonArray a;
    for (const QString& n : names)
        a.append(n);
    return QJsonObject{{QStringLiteral("names"), a}};
}

bool ParseNames(const QJsonObject& body, std::array<std::string, 8>* names, QString* error)
{
    const QJsonValue v = body.value(QLatin1String("names"));
    if (!v.isArray() || v.toArray().size() != 8) {
        *error = QStringLiteral("names: not a list of 8 texts");
        return false;
    }
    std::array<std::string, 8> out;
    const QJsonArray a = v.toArray();
    for (int i = 0; i < 8; ++i) {
        const QString text = a[i].toString();
        if (!a[i].isString() || text.size() > kMaxNameLength || text.contains(QLatin1Char('\n')) ||
            text.contains(QLatin1Char('\r'))) {
            *error = QStringLiteral("names[%1]: a text of at most %2 characters on one line")
                         .arg(i)
                         .arg(kMaxNameLength);
            return false;
        }
        out[static_cast<size_t>(i)] = text.toStdString();
    }
    *names = out;
    return true;
}

QString ChipText(int item)
{
    return QString::fromLatin1(kChipNames[item == 0 ? 0 : 1]);
}

std::optional<int> ChipOfText(const QString& text)
{
    for (int i = 0; i < 2; ++i) {
        if (text == QLatin1String(kChipNames[i]))
            return i;
    }
    return std::nullopt;
}

QJsonObject PlanJson(const Plan& plan, const std::array<QString, 6>& names)
{
    QJsonArray relays;
    for (int r = 0; r < kRelayCount; ++r) {
        const RelayPlan& rp = plan.relays[static_cast<size_t>(r)];
        QJsonArray on;
        for (const OnInterval& i : OnIntervals(plan, r))
            on.append(QJsonArray{Seconds(i.from - plan.from), Seconds(i.to - plan.from)});
        QJsonArray windows;
        for (const PlannedWindow& w : rp.windows)
            windows.append(QJsonArray{Seconds(w.from - plan.from), Seconds(w.to - plan.from), w.window + 1});
        relays.append(QJsonObject{{QStringLiteral("relay"), r + 1},
                                  {QStringLiteral("name"), names[static_cast<size_t>(r)]},
                                  {QStringLiteral("mode"), SelectorJson(ModeText(r, rp.mode), rp.mode)},
                                  {QStringLiteral("on"), on},
                                  {QStringLiteral("windows"), windows},
                                  {QStringLiteral("summary"), QString::fromStdString(rp.summary)}});
    }
    return QJsonObject{{QStringLiteral("from"), DateTimeText(plan.from)},
                       {QStringLiteral("to"), DateTimeText(plan.to)},
                       {QStringLiteral("seconds"), Seconds(plan.to - plan.from)},
                       {QStringLiteral("relays"), relays}};
}

}  // namespace tavoxa
