// The command line of `tavoxa` and `tavoxa-sim`.
#pragma once

#include <QHostAddress>
#include <QString>

class QCoreApplication;

namespace tavoxa {

struct MqttOptions;

inline constexpr char kVersionText[] = "4.1b";

struct AppOptions {
    QString dir;        // folder of swcf.ini and the configuration file; the working folder if empty
    QString logFile;    // switching log appended here as well as to standard error
    bool plan = false;  // print the coming switchings and exit
    int days = 7;
    QString planImage;  // draw the coming switchings into this PNG and exit
    bool resumeTimers = false;
    QString mqttUrl;
    QString mqttUser;
    QString mqttPasswordFile;
    QString mqttCa;
    QString mqttId;
    bool http = false;  // serve the web page
    QHostAddress httpAddress = QHostAddress::Any;
    quint16 httpPort = 0;
    QString httpCert;
    QString httpKey;
    bool webPassword = false;  // store the web page's password and exit
};

// Whether the command line asks for something that needs no window and no display (--help,
// --version, a plan): the program then runs on the offscreen platform whatever the display.
bool NeedsNoWindow(int argc, char** argv);

// Whether the command line asks only for --help or --version.
bool OnlyPrints(int argc, char** argv);

// Reads the command line into `options`. Returns -1 to go on, or the exit code when the program
// is done: 0 after --help and --version, 1 after a mistake (said on standard error).
int ParseOptions(const QCoreApplication& app, AppOptions& options);

// The MQTT settings of the command line: the password from the first line of its file, the id
// from the host and folder names unless given. False with the reason when they cannot be used.
bool MakeMqttOptions(const AppOptions& options, MqttOptions& mqtt, QString* error);

// --web-password: asks for the password twice on a terminal (one line from standard input
// otherwise) and stores its hash in web.passwd. Returns the exit code.
int RunWebPassword();

// --plan and --plan-image: reads swcf.ini and the configuration file as the start-up does and
// writes the plan, touching no port and writing no settings. Returns the exit code.
int RunPlan(const AppOptions& options);

}  // namespace tavoxa
