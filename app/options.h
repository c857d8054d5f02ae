// The command line of `tavoxa` and `tavoxa-sim`.
#pragma once

#include <QHostAddress>
#include <QString>

class QCoreApplication;

namespace tavoxa {

struct MqttOptions;

struct AppOptions {
    QString dir;      // folder of swcf.ini and the configuration file; the working folder if empty
    QString logFile;  // switching log appended here as well as to standard error
    QHostAddress remoteAddress{QHostAddress::Any};  // the one address the TCP remote listens on
    bool plan = false;                              // print the coming switchings and exit
    int days = 7;
    QString planImage;  // draw the coming switchings into this PNG and exit
    bool resumeTimers = false;
    bool restoreRelays = false;  // relays no engine drives come back as they were at the stop
    QString device;              // serial device opened instead of the COM number's
    bool userDir = false;        // work in the per-user folder (UserDataFolder); not with `dir`
    QString mqttUrl;
    QString mqttUser;
    QString mqttPasswordFile;
    QString mqttCa;
    QString mqttId;
    QString lang;  // "de" or "en" from --lang; empty: the language of the environment
    QString mqttInputClass;
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

// The per-user folder of `program` ("tavoxa" or "tavoxa-sim"): $XDG_DATA_HOME/PROGRAM, or
// $HOME/.local/share/PROGRAM when XDG_DATA_HOME is unset or not absolute.
QString UserDataFolder(const QString& program);

// Reads the command line into `options`. Returns -1 to go on, or the exit code when the program
// is done: 0 after --help and --version, 1 after a mistake (said on standard error).
int ParseOptions(const QCoreApplication& app, AppOptions& options);

// The MQTT settings of the command line: the password from the first line of its file, the id
// from the host name unless given. False with the reason when the password cannot be read.
bool MakeMqttOptions(const AppOptions& options, MqttOptions& mqtt, QString* error);

// --web-password: asks for the password twice on a terminal (one line from standard input
// otherwise) and stores its hash in web.passwd. Returns the exit code.
int RunWebPassword();

// --plan and --plan-image: reads swcf.ini and the configuration file as the start-up does and
// writes the plan, touching no port and writing no settings. Returns the exit code.
int RunPlan(const AppOptions& options);

}  // namespace tavoxa
