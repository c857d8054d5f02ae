#include "app/options.h"

#include <termios.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHostInfo>
#include <cstdio>
#include <cstring>
#include <exception>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/relaycontroller.h"
#include "engine/hardware.h"
#include "engine/schedule.h"
#include "engine/secondtick.h"
#include "remote/mqttbridge.h"
#include "storage/configfile.h"
#include "storage/settingsfile.h"
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

}  // namespace

bool NeedsNoWindow(int argc, char** argv)
{
    return OnlyPrints(argc, argv) || HasOption(argc, argv, {"--plan", "--plan-image", "--web-password"});
}

bool OnlyPrints(int argc, char** argv)
{
    return HasOption(argc, argv, {"--help", "-h", "--help-all", "--version", "-v"});
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
        QStringLiteral("Id of this board in the topics tavoxa/ID/... (default: host name and folder name)."),
        QStringLiteral("ID"));
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
         {dir, log, plan, days, planImage, resume, mqtt, mqttUser, mqttPassword, mqttCa, mqttId, http,
          httpCert, httpKey, webPassword})
        parser.addOption(option);

    if (!parser.parse(app.arguments())) {
        std::fprintf(stderr, "tavoxa: %s\nTry 'tavoxa --help'.\n", qPrintable(parser.errorText()));
        return 1;
    }
    if (parser.isSet(help)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("tavoxa %s\n", kVersionText);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "tavoxa: unexpected argument %s\nTry 'tavoxa --help'.\n",
                     qPrintable(parser.positionalArguments().first()));
        return 1;
    }
    bool daysOk = false;
    options.days = parser.value(days).toInt(&daysOk);
    if (!daysOk || options.days < 1 || options.days > 366) {
        std::fprintf(stderr, "tavoxa: --days takes a number of days from 1 to 366\n");
        return 1;
    }
    options.dir = parser.value(dir);
    options.logFile = parser.value(log);
    options.plan = parser.isSet(plan);
    options.planImage = parser.value(planImage);
    options.resumeTimers = parser.isSet(resume);
    options.mqttUrl = parser.value(mqtt);
    options.mqttUser = parser.value(mqttUser);
    options.mqttPasswordFile = parser.value(mqttPassword);
    options.mqttCa = parser.value(mqttCa);
    options.mqttId = parser.value(mqttId);
    options.webPassword = parser.isSet(webPassword);
    options.http = parser.isSet(http);
    options.httpCert = parser.value(httpCert);
    options.httpKey = parser.value(httpKey);
    if (options.http) {
        QString why;
        if (!ParseHttpAddress(parser.value(http), &options.httpAddress, &options.httpPort, &why)) {
            std::fprintf(stderr, "tavoxa: %s\n", qPrintable(why));
            return 1;
        }
    }
    if (options.httpCert.isEmpty() != options.httpKey.isEmpty()) {
        std::fprintf(stderr, "tavoxa: HTTPS needs both --http-cert and --http-key\n");
        return 1;
    }
    return -1;
}

bool MakeMqttOptions(const AppOptions& options, MqttOptions& mqtt, QString* error)
{
    mqtt.url = options.mqttUrl;
    mqtt.user = options.mqttUser;
    mqtt.caFile = options.mqttCa;
    mqtt.id = options.mqttId.isEmpty() ? DefaultMqttId(QHostInfo::localHostName(), QDir::current().dirName())
                                       : options.mqttId;
    if (!IsValidMqttId(mqtt.id)) {
        *error = QStringLiteral("the id \"%1\" may hold only a-z, 0-9, _ and -").arg(mqtt.id);
        return false;
    }
    if (!options.mqttPasswordFile.isEmpty()) {
        QFile file(options.mqttPasswordFile);
        if (!file.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("cannot read the password file %1: %2")
                         .arg(file.fileName(), file.errorString());
            return false;
        }
        QByteArray line = file.readLine();
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        mqtt.password = QString::fromUtf8(line);
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
        std::fprintf(stderr, "tavoxa: no password given; web.passwd left as it was\n");
        return 1;
    }
    if (terminal && (!ReadSecretLine("Once more: ", terminal, &second) || second != first)) {
        std::fprintf(stderr, "tavoxa: the two passwords differ; web.passwd left as it was\n");
        return 1;
    }
    if (first.isEmpty()) {
        std::fprintf(stderr, "tavoxa: an empty password is not taken; web.passwd left as it was\n");
        return 1;
    }
    QString why;
    const QString path = QDir::current().absoluteFilePath(QString::fromLatin1(kPasswordFileName));
    if (!WritePasswordFile(path, first, &why)) {
        std::fprintf(stderr, "tavoxa: %s\n", qPrintable(why));
        return 1;
    }
    std::fprintf(stderr, "tavoxa: web password stored in %s\n", qPrintable(path));
    return 0;
}

int RunPlan(const AppOptions& options)
{
    // The settings as the start-up reads them; nothing is written and no port is touched.
    const SettingsFileContent settings = LoadSettingsFile();
    const std::string configName = EffectiveConfigName(settings.ConfigFileName);
    SystemClock clock;
    Model model;
    int32_t comNumber = 1;
    uint8_t chipAddress = kChipAddressPcf8574;
    ConfigTarget target(model, comNumber, chipAddress);
    StorageState storage;
    try {
        if (!LoadConfigurationFile(configName, target, storage))
            ApplyDefaults(model, clock);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tavoxa: %s: %s\n", configName.c_str(),
                     qPrintable(ErrorReportText(QString::fromUtf8(e.what()))));
        return 1;
    }
    ForgetCounts(model);

    const Plan plan = PlanSwitchings(model, clock.Now(), options.days);
    std::vector<std::string> names;
    QStringList shownNames;
    for (int r = 0; r < kRelayCount; ++r) {
        const QString name = NameText(settings.Names[static_cast<size_t>(r)]);
        names.push_back(name.toStdString());
        shownNames << name;
    }
    if (options.plan)
        std::fputs(FormatPlanTable(plan, names).c_str(), stdout);
    if (!options.planImage.isEmpty()) {
        QString why;
        if (!SavePlanImage(plan, shownNames, options.planImage, &why)) {
            std::fprintf(stderr, "tavoxa: %s\n", qPrintable(why));
            return 1;
        }
    }
    return 0;
}

}  // namespace tavoxa
