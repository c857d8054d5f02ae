#include "app/options.h"

#include <termios.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QHostInfo>
#include <cstdio>
#include <cstring>
#include <exception>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/configfiles.h"
#include "core/errorreport.h"
#include "engine/hardware.h"
#include "engine/schedule.h"
#include "engine/secondtick.h"
#include "mqtt/mqttbridge.h"
#include "remote/passwordfile.h"
#include "storage/configfile.h"
#include "storage/settingsfile.h"
#include "tavoxa/version.h"
#include "ui/planimage.h"
#include "web/webconfig.h"

namespace tavoxa {

namespace {

// Whether argv names one of `options`, alone or with "=value".
bool HasOption(int argc, char** argv, std::initializer_list<const char*> options)
{
    for (int i = 1; i < argc; ++i) {
        for (const char* option : options) {
            const size_t n = std::strlen(option);
            if (std::strncmp(argv[i], option, n) == 0 && (argv[i][n] == '\0' || argv[i][n] == '='))
                return true;
        }
    }
    return false;
}

// The program's name as its messages begin: "tavoxa" or "tavoxa-sim".
std::string ProgramName()
{
    return QCoreApplication::applicationName().toStdString();
}

}  // namespace

bool NeedsNoWindow(int argc, char** argv)
{
    return OnlyPrints(argc, argv) || HasOption(argc, argv, {"--plan", "--plan-image", "--web-password"});
}

bool OnlyPrints(int argc, char** argv)
{
    return HasOption(argc, argv, {"--help", "-h", "--help-all", "--version", "-v"});
}

QString UserDataFolder(const QString& program)
{
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (!QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return QDir::cleanPath(base + QLatin1Char('/') + program);
}

int ParseOptions(const QCoreApplication& app, AppOptions& options)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Runs a six-relay board on a PCF8574 port expander driven over a serial port's modem lines.\n"
        "Settings are read from swcf.ini and the configuration file in the working folder (or --dir)."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption dir(QStringLiteral("dir"),
                                 QStringLiteral("Folder of swcf.ini and the configuration file."),
                                 QStringLiteral("DIR"));
    const QCommandLineOption log(
        QStringLiteral("log"),
        QStringLiteral("Append the switching log to FILE as well as to standard error."),
        QStringLiteral("FILE"));
    const QCommandLineOption remoteAddress(
        QStringLiteral("remote-address"),
        QStringLiteral("Serve the TCP remote on ADDRESS only (for example 127.0.0.1 behind an SSH tunnel); "
                       "all addresses when not given."),
        QStringLiteral("ADDRESS"));
    const QCommandLineOption plan(QStringLiteral("plan"),
                                  QStringLiteral("Print the coming switchings of every relay and exit."));
    const QCommandLineOption days(QStringLiteral("days"), QStringLiteral("Days the plan covers (default 7)."),
                                  QStringLiteral("N"), QStringLiteral("7"));
    const QCommandLineOption planImage(QStringLiteral("plan-image"),
                                       QStringLiteral("Draw the coming switchings into FILE.png and exit."),
                                       QStringLiteral("FILE.png"));
    const QCommandLineOption resume(
        QStringLiteral("resume-timers"),
        QStringLiteral(
            "At start-up, set every relay in Timer mode as its programs of the past seven days left it."));
    const QCommandLineOption restore(
        QStringLiteral("restore-relays"),
        QStringLiteral(
            "At start-up, switch the relays that no engine drives (Toggle mode) as they were at "
            "the last stop; kept in tavoxa.relays beside swcf.ini. Off by default: loads may start "
            "by themselves after a power cut."));
    const QCommandLineOption device(
        QStringLiteral("device"),
        QStringLiteral("Open the serial device PATH (for example /dev/serial/by-id/usb-...) instead of the "
                       "COM number's; an unplugged adapter is looked for under the same PATH."),
        QStringLiteral("PATH"));
    const QCommandLineOption userDir(
        QStringLiteral("user-dir"),
        QStringLiteral(
            "Work in the per-user folder $XDG_DATA_HOME/tavoxa, tavoxa-sim in $XDG_DATA_HOME/tavoxa-sim "
            "(created when missing); the desktop entries start the programs so."));
    const QCommandLineOption mqtt(QStringLiteral("mqtt"),
                                  QStringLiteral("Publish relays and inputs to the MQTT broker at URL "
                                                 "(mqtt://host:1883 or mqtts://host:8883)."),
                                  QStringLiteral("URL"));
    const QCommandLineOption mqttUser(QStringLiteral("mqtt-user"), QStringLiteral("MQTT user name."),
                                      QStringLiteral("NAME"));
    const QCommandLineOption mqttPassword(QStringLiteral("mqtt-password-file"),
                                          QStringLiteral("File whose first line is the MQTT password."),
                                          QStringLiteral("FILE"));
    const QCommandLineOption mqttCa(QStringLiteral("mqtt-ca"),
                                    QStringLiteral("CA certificate file for mqtts:// brokers."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption mqttId(
        QStringLiteral("mqtt-id"),
        QStringLiteral("Id of this board in the topics tavoxa/ID/... (default: the host name)."),
        QStringLiteral("ID"));
    const QCommandLineOption lang(
        QStringLiteral("lang"),
        QStringLiteral("Language of the window: de or en (default: German for a German locale or none, "
                       "else English)."),
        QStringLiteral("de|en"));
    const QCommandLineOption mqttInputClass(
        QStringLiteral("mqtt-input-class"),
        QStringLiteral("Home Assistant device class of K1 and K2, e.g. door (default: none)."),
        QStringLiteral("CLASS"));
    const QCommandLineOption http(
        QStringLiteral("http"),
        QStringLiteral("Serve the web page on PORT, on all addresses or on ADDRESS only (needs web.passwd); "
                       "port 0 picks a free one, named in the log."),
        QStringLiteral("[ADDRESS:]PORT"));
    const QCommandLineOption httpCert(QStringLiteral("http-cert"),
                                      QStringLiteral("PEM certificate (chain) for HTTPS."),
                                      QStringLiteral("FILE"));
    const QCommandLineOption httpKey(QStringLiteral("http-key"), QStringLiteral("PEM private key for HTTPS."),
                                     QStringLiteral("FILE"));
    const QCommandLineOption webPassword(
        QStringLiteral("web-password"),
        QStringLiteral("Ask for the web page's password and store its hash in web.passwd, then exit."));
    for (const QCommandLineOption& option :
         {dir,    log,     remoteAddress, plan,     days,         planImage, resume, restore,
          device, userDir, mqtt,          mqttUser, mqttPassword, mqttCa,    mqttId, mqttInputClass,
          lang,   http,    httpCert,      httpKey,  webPassword})
        parser.addOption(option);

    if (!parser.parse(app.arguments())) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", ProgramName().c_str(),
                     qPrintable(parser.errorText()), ProgramName().c_str());
        return 1;
    }
    if (parser.isSet(help)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("%s %s\n", ProgramName().c_str(), kVersion);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "%s: unexpected argument %s\nTry '%s --help'.\n", ProgramName().c_str(),
                     qPrintable(parser.positionalArguments().first()), ProgramName().c_str());
        return 1;
    }
    bool daysOk = false;
    options.days = parser.value(days).toInt(&daysOk);
    if (!daysOk || options.days < 1 || options.days > 366) {
        std::fprintf(stderr, "%s: --days takes a number of days from 1 to 366\n", ProgramName().c_str());
        return 1;
    }
    options.lang = parser.value(lang);
    if (parser.isSet(lang) && options.lang != QLatin1String("de") && options.lang != QLatin1String("en")) {
        std::fprintf(stderr, "%s: --lang takes de or en\n", ProgramName().c_str());
        return 1;
    }
    options.dir = parser.value(dir);
    options.logFile = parser.value(log);
    if (parser.isSet(remoteAddress)) {
        options.remoteAddress = QHostAddress(parser.value(remoteAddress).trimmed());
        if (options.remoteAddress.isNull()) {
            std::fprintf(stderr,
                         "%s: --remote-address takes an IP address such as 127.0.0.1 or ::1, not %s\n",
                         ProgramName().c_str(), qPrintable(parser.value(remoteAddress)));
            return 1;
        }
    }
    options.plan = parser.isSet(plan);
    options.planImage = parser.value(planImage);
    options.resumeTimers = parser.isSet(resume);
    options.restoreRelays = parser.isSet(restore);
    options.device = parser.value(device);
    options.userDir = parser.isSet(userDir);
    if (options.userDir && !options.dir.isEmpty()) {
        std::fprintf(stderr, "%s: --user-dir and --dir name two folders; give one\n", ProgramName().c_str());
        return 1;
    }
    if (!options.planImage.isEmpty() &&
        !options.planImage.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive)) {
        std::fprintf(stderr, "%s: --plan-image writes PNG pictures only; give a name ending in .png\n",
                     ProgramName().c_str());
        return 1;
    }
    options.mqttUrl = parser.value(mqtt);
    options.mqttUser = parser.value(mqttUser);
    options.mqttPasswordFile = parser.value(mqttPassword);
    options.mqttCa = parser.value(mqttCa);
    options.mqttId = parser.value(mqttId);
    options.mqttInputClass = parser.value(mqttInputClass);
    options.webPassword = parser.isSet(webPassword);
    options.http = parser.isSet(http);
    options.httpCert = parser.value(httpCert);
    options.httpKey = parser.value(httpKey);
    if (options.http) {
        QString why;
        if (!ParseHttpAddress(parser.value(http), &options.httpAddress, &options.httpPort, &why)) {
            std::fprintf(stderr, "%s: %s\n", ProgramName().c_str(), qPrintable(why));
            return 1;
        }
    }
    if (options.httpCert.isEmpty() != options.httpKey.isEmpty()) {
        std::fprintf(stderr, "%s: HTTPS needs both --http-cert and --http-key\n", ProgramName().c_str());
        return 1;
    }
    return -1;
}

bool MakeMqttOptions(const AppOptions& options, MqttOptions& mqtt, QString* error)
{
    mqtt.url = options.mqttUrl;
    mqtt.user = options.mqttUser;
    mqtt.caFile = options.mqttCa;
    mqtt.id = options.mqttId.isEmpty() ? DefaultMqttId(QHostInfo::localHostName()) : options.mqttId;
    mqtt.inputClass = options.mqttInputClass;
    if (!options.mqttPasswordFile.isEmpty()) {
        const std::optional<QByteArray> password = ReadPasswordFile(options.mqttPasswordFile, *error);
        if (!password)
            return false;
        mqtt.password = QString::fromUtf8(*password);
    }
    return true;
}

namespace {

// One line of standard input, without echo when it is a terminal.
bool ReadSecretLine(const char* prompt, bool terminal, QByteArray* line)
{
    termios saved{};
    if (terminal) {
        std::fputs(prompt, stderr);
        std::fflush(stderr);
        ::tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string text;
    int c = 0;
    while ((c = std::fgetc(stdin)) != EOF && c != '\n')
        text += static_cast<char>(c);
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputc('\n', stderr);
    }
    if (!text.empty() && text.back() == '\r')
        text.pop_back();
    *line = QByteArray::fromStdString(text);
    return c != EOF || !text.empty();
}

}  // namespace

int RunWebPassword()
{
    const bool terminal = ::isatty(STDIN_FILENO) != 0;
    QByteArray first, second;
    if (!ReadSecretLine("New web password: ", terminal, &first)) {
        std::fprintf(stderr, "%s: no password given; web.passwd left as it was\n", ProgramName().c_str());
        return 1;
    }
    if (terminal && (!ReadSecretLine("Once more: ", terminal, &second) || second != first)) {
        std::fprintf(stderr, "%s: the two passwords differ; web.passwd left as it was\n",
                     ProgramName().c_str());
        return 1;
    }
    if (first.isEmpty()) {
        std::fprintf(stderr, "%s: an empty password is not taken; web.passwd left as it was\n",
                     ProgramName().c_str());
        return 1;
    }
    QString why;
    const QString path = QDir::current().absoluteFilePath(QString::fromLatin1(kPasswordFileName));
    if (!WritePasswordFile(path, first, &why)) {
        std::fprintf(stderr, "%s: %s\n", ProgramName().c_str(), qPrintable(why));
        return 1;
    }
    std::fprintf(stderr, "%s: web password stored in %s\n", ProgramName().c_str(), qPrintable(path));
    return 0;
}

int RunPlan(const AppOptions& options)
{
    // The files as the start-up reads them; nothing is written and no port is touched.
    SystemClock clock;
    Model model;
    AdapterState adapter;
    ConfigFiles files(model, adapter, clock);
    try {
        files.ReadSettingsFile();
        if (!QFileInfo::exists(QString::fromStdString(files.configFileName())))
            std::fprintf(stderr, "%s: no configuration file %s in %s: the plan shows the default settings\n",
                         ProgramName().c_str(), files.configFileName().c_str(),
                         qPrintable(QDir::currentPath()));
        if (const int valuesRead = files.LoadConfiguration(); valuesRead >= 0)
            std::fprintf(stderr, "%s: %s: %s\n", ProgramName().c_str(), files.configFileName().c_str(),
                         ShortFileMessage(valuesRead).c_str());
    } catch (const std::exception& e) {
        // As the unattended start-up does: said, then planned on what was read.
        std::fprintf(stderr, "%s: %s: %s\n", ProgramName().c_str(), files.configFileName().c_str(),
                     qPrintable(ErrorReportText(QString::fromUtf8(e.what()))));
    }
    ForgetCounts(model);

    const Plan plan = PlanSwitchings(model, clock.Now(), options.days);
    std::vector<std::string> names;
    QStringList shownNames;
    for (int r = 0; r < kRelayCount; ++r) {
        const QString name = files.Name(r);
        names.push_back(name.toStdString());
        shownNames << name;
    }
    if (options.plan)
        std::fputs(FormatPlanTable(plan, names).c_str(), stdout);
    if (!options.planImage.isEmpty()) {
        QString why;
        if (!SavePlanImage(plan, shownNames, options.planImage, &why)) {
            std::fprintf(stderr, "%s: %s\n", ProgramName().c_str(), qPrintable(why));
            return 1;
        }
    }
    return 0;
}

}  // namespace tavoxa
