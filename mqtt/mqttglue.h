// Ties an MQTT bridge to the core as any front end attaches: the bridge publishes what the
// core's signals report (relays written, contacts read, the adapter's facts, the names of
// swcf.ini), its commands go through the core's switching door with the cause "mqtt", and its
// lines go to the switching log. Runs on the thread of both (the main thread).
#pragma once

namespace tavoxa {

class MqttBridge;
class RelayController;

// Connects them until either is destroyed. Attach before MqttBridge::Start, so the notes and
// warnings of the start reach the log.
void AttachMqtt(RelayController& core, MqttBridge& bridge);

}  // namespace tavoxa
