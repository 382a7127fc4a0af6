#pragma once

#include "platform/mac_address.h"

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace zrq406::app {

struct Alert;

// One message for the broker.
struct MqttMessage {
    std::string topic;
    std::string payload;
    bool retained = true;
};

// Where the monitor publishes: its topic prefix, Home Assistant's discovery prefix, and the MAC of this computer's
// adapter, which names the monitor's own device.
struct MonitorIdentity {
    std::string mqttPrefix = "zrq406";
    std::string discoveryPrefix = "homeassistant";
    MacAddress host;
    std::string version; // the program's version, told as the origin of the discovery configs
};

// The rate of one link direction, from an adapter to a peer.
struct MonitorLinkRate {
    MacAddress peer;
    std::optional<std::uint32_t> rate; // Mbit/s; nothing when unknown
    bool local = false;                // one end is the device attached to this computer
};

// One adapter as the monitor publishes it.
struct MonitorAdapter {
    MacAddress mac;
    std::string name;     // from the device history; may hold anything a device or a user wrote
    std::string firmware; // the firmware text; "" when never read
    bool ownModel = false;
    bool local = false;    // the device attached to this computer
    bool answered = false; // in the last scan
    std::optional<std::uint32_t> phyRate; // to the local device, Mbit/s
    std::optional<bool> ledOn;            // what the device last reported
    std::string latestFirmware;           // the newest upgrade file's version for it ("" for none)
    std::optional<double> pbErrorRate;    // of its link to the local device, 0..1
    std::vector<MonitorLinkRate> links;   // from this adapter to each peer
};

// What the monitor's own device shows.
struct MonitorStatus {
    std::time_t lastScan = 0; // 0 before the first scan
    int devices = 0;
    bool paused = false;
};

// The MQTT node of an adapter: its MAC in twelve lowercase hex digits. Names never reach a topic.
std::string nodeOf(const MacAddress& mac);
// The node of the monitor's own device.
std::string monitorNode(const MonitorIdentity& identity);

// <prefix>/status: "online" while the monitor is connected, "offline" as its last will.
std::string statusTopic(const MonitorIdentity& identity);
// <discovery>/status: Home Assistant's own online message, after which everything is published again.
std::string homeAssistantStatusTopic(const MonitorIdentity& identity);
// <prefix>/+/led/set: the LED commands of every adapter.
std::string commandSubscription(const MonitorIdentity& identity);
std::string ledCommandTopic(const MonitorIdentity& identity, const MacAddress& mac);

// The platform word of a firmware text ("ZRQPLC1" of "ZRQPLC1-MAC-3-3-..."), the model that Home Assistant shows.
std::string platformOf(const std::string& firmware);

// The discovery configs of the monitor's own device: status, last scan time, number of devices, paused.
std::vector<MqttMessage> monitorConfigs(const MonitorIdentity& identity);
// The monitor's state (retained).
MqttMessage monitorState(const MonitorIdentity& identity, const MonitorStatus& status);

// The discovery configs of an adapter: connectivity, firmware, PHY rate to the local device, one rate sensor per
// link direction (its `links`), LEDs, update, alerts and (when known) the PB error rate.
std::vector<MqttMessage> adapterConfigs(const MonitorIdentity& identity, const MonitorAdapter& adapter);
// Empty retained payloads on every config topic that adapterConfigs could have published for the adapter with
// any of `peers`: Home Assistant removes its entities.
std::vector<MqttMessage> adapterRemovals(const MonitorIdentity& identity, const MacAddress& mac,
                                         const std::vector<MacAddress>& peers);
// The adapter's state, its update state and its availability (all retained).
std::vector<MqttMessage> adapterStates(const MonitorIdentity& identity, const MonitorAdapter& adapter);
// An alert as an event of its adapter's event entity (not retained).
MqttMessage alertEvent(const MonitorIdentity& identity, const Alert& alert);


} // namespace zrq406::app
