// A process that holds one MQTT bridge until it is killed, for the last-will test.
// Usage: mqtt_holder URL ID [CAFILE]. Prints "connected" once the broker has accepted it; leaves by
// itself after 20 s so a test that dies early leaves no process behind.
#include <QCoreApplication>
#include <QTimer>
#include <cstdio>

#include "mqtt/mqttbridge.h"

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: mqtt_holder URL ID [CAFILE]\n");
        return 2;
    }
    tavoxa::MqttBridge bridge;
    QObject::connect(&bridge, &tavoxa::MqttBridge::LogLine,
                     [](const QString& line) { std::fprintf(stderr, "%s\n", qPrintable(line)); });
    QObject::connect(&bridge, &tavoxa::MqttBridge::ConnectedChanged, [](bool connected) {
        if (connected) {
            std::printf("connected\n");
            std::fflush(stdout);
        }
    });
    QString error;
    const tavoxa::MqttOptions options{argv[1], {}, {}, argc == 4 ? argv[3] : "", argv[2], {}};
    if (!bridge.Start(options, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    QTimer::singleShot(20000, &app, &QCoreApplication::quit);
    return QCoreApplication::exec();
}
