#include "app/options.h"

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

#include "core/configfiles.h"
#include "core/errorreport.h"
#include "engine/hardware.h"
#include "engine/schedule.h"
#include "engine/secondtick.h"
#include "remote/mqttbridge.h"
#include "storage/configfile.h"
#include "storage/settingsfile.h"
#include "tavoxa/version.h"
#include "ui/planimage.h"

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
    return OnlyPrints(argc, argv) || HasOption(argc, argv, {"--plan", "--plan-image"});
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
    for (const QCommandLineOption& option :
         {dir, log, plan, days, planImage, resume, mqtt, mqttUser, mqttPassword, mqttCa, mqttId})
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

int RunPlan(const AppOptions& options)
{
    // The files as the start-up reads them; nothing is written and no port is touched.
    SystemClock clock;
    Model model;
    AdapterState adapter;
    ConfigFiles files(model, adapter, clock);
    try {
        files.ReadSettingsFile();
        if (const std::string shortFile = files.LoadConfiguration(); !shortFile.empty())
            std::fprintf(stderr, "%s: %s\n", ProgramName().c_str(), shortFile.c_str());
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
