#include "mqtt/mqttglue.h"

#include <QCoreApplication>

#include "core/relaycontroller.h"
#include "mqtt/mqttbridge.h"

namespace tavoxa {

void AttachMqtt(RelayController& core, MqttBridge& bridge)
{
    const auto names = [&core, &bridge] {
        std::array<QString, 6> relays;
        for (int r = 0; r < kRelayCount; ++r)
            relays[static_cast<size_t>(r)] = core.files().Name(r);
        bridge.SetNames(relays, {core.files().Name(6), core.files().Name(7)},
                        QCoreApplication::applicationVersion());
    };
    names();
    QObject::connect(&core, &RelayController::SettingsFileRead, &bridge, names);
    QObject::connect(&core, &RelayController::RelaysWritten, &bridge, &MqttBridge::PublishRelays);
    QObject::connect(&core, &RelayController::InputsRead, &bridge, &MqttBridge::PublishInputs);
    QObject::connect(&core, &RelayController::BusFactsChanged, &bridge, [&bridge](const BusFacts& facts) {
        bridge.PublishStatus(facts.Connected, facts.ComNumber);
    });
    QObject::connect(&bridge, &MqttBridge::SetRequested, &core, [&core](int relay, RelayAction action) {
        core.Switch({RelayCommand{relay, action}}, SwitchCause{CauseKind::Mqtt, 0, {}});
    });
    QObject::connect(&bridge, &MqttBridge::LogLine, &core,
                     [&core](const QString& line) { core.log().Write(line); });
}

}  // namespace tavoxa
