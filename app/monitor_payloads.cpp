#include "app/monitor_payloads.h"

#include "app/link_alerts.h"
#include "mme/upgrade_file.h"

#include <nlohmann/json.hpp>

namespace zrq406::app {

using nlohmann::json;

namespace {

constexpr const char* kOn = "ON";
constexpr const char* kOff = "OFF";

// nlohmann's json keeps its keys sorted, so equal configs are equal texts.
std::string text(const json& document) {
    return document.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string adapterStateTopic(const MonitorIdentity& identity, const MacAddress& mac) {
    return identity.mqttPrefix + "/" + nodeOf(mac);
}
std::string availabilityTopic(const MonitorIdentity& identity, const MacAddress& mac) {
    return adapterStateTopic(identity, mac) + "/availability";
}
std::string updateTopic(const MonitorIdentity& identity, const MacAddress& mac) {
    return adapterStateTopic(identity, mac) + "/update";
}
std::string eventTopic(const MonitorIdentity& identity, const MacAddress& mac) {
    return adapterStateTopic(identity, mac) + "/event";
}
std::string monitorStateTopic(const MonitorIdentity& identity) {
    return identity.mqttPrefix + "/" + monitorNode(identity);
}
std::string configTopic(const MonitorIdentity& identity, const char* component, const std::string& node,
                        const std::string& object) {
    return identity.discoveryPrefix + "/" + component + "/" + node + "/" + object + "/config";
}
std::string rateObject(const MacAddress& peer) {
    return "rate_" + nodeOf(peer);
}

json origin(const MonitorIdentity& identity) {
    return {{"name", "zrq406"}, {"sw_version", identity.version}};
}

json monitorDevice(const MonitorIdentity& identity) {
    return {{"identifiers", json::array({"zrq406_" + monitorNode(identity)})},
            {"connections", json::array({json::array({"mac", identity.host.text()})})},
            {"name", "ZRQ406 monitor"},
            {"manufacturer", "ZRQ406"},
            {"model", "zrq406 monitor"},
            {"sw_version", identity.version}};
}

json adapterDevice(const MonitorIdentity& identity, const MonitorAdapter& adapter) {
    json device = {{"identifiers", json::array({"zrq406_" + nodeOf(adapter.mac)})},
                   {"connections", json::array({json::array({"mac", adapter.mac.text()})})},
                   {"name", adapter.name.empty() ? adapter.mac.text() : adapter.name},
                   {"via_device", "zrq406_" + monitorNode(identity)}};
    if (adapter.ownModel)
        device["manufacturer"] = std::string(mme::kManufacturerWord);
    if (!adapter.firmware.empty()) {
        device["model"] = platformOf(adapter.firmware);
        device["sw_version"] = adapter.firmware;
    }
    return device;
}

// The parts every entity of an adapter shares; `own` adds the adapter's own availability to the monitor's.
json adapterEntity(const MonitorIdentity& identity, const MonitorAdapter& adapter, const std::string& object,
                   const std::string& name, bool own = true) {
    json availability = json::array({{{"topic", statusTopic(identity)}}});
    if (own)
        availability.push_back({{"topic", availabilityTopic(identity, adapter.mac)}});
    return {{"availability", availability},
            {"availability_mode", "all"},
            {"device", adapterDevice(identity, adapter)},
            {"name", name},
            {"origin", origin(identity)},
            {"state_topic", adapterStateTopic(identity, adapter.mac)},
            {"unique_id", "zrq406_" + nodeOf(adapter.mac) + "_" + object}};
}

json rateSensor(json entity, const std::string& key) {
    entity["device_class"] = "data_rate";
    entity["unit_of_measurement"] = "Mbit/s";
    entity["state_class"] = "measurement";
    entity["value_template"] = "{{ value_json." + key + " }}";
    return entity;
}

json optionalNumber(const std::optional<std::uint32_t>& value) {
    return value ? json(*value) : json();
}

} // namespace

std::string nodeOf(const MacAddress& mac) {
    std::string node = mac.text();
    std::erase(node, ':');
    return node;
}

std::string monitorNode(const MonitorIdentity& identity) {
    return "monitor_" + nodeOf(identity.host);
}

std::string statusTopic(const MonitorIdentity& identity) {
    return identity.mqttPrefix + "/status";
}

std::string homeAssistantStatusTopic(const MonitorIdentity& identity) {
    return identity.discoveryPrefix + "/status";
}

std::string commandSubscription(const MonitorIdentity& identity) {
    return identity.mqttPrefix + "/+/led/set";
}

std::string ledCommandTopic(const MonitorIdentity& identity, const MacAddress& mac) {
    return adapterStateTopic(identity, mac) + "/led/set";
}

std::string platformOf(const std::string& firmware) {
    return firmware.substr(0, firmware.find('-'));
}

std::vector<MqttMessage> monitorConfigs(const MonitorIdentity& identity) {
    const std::string node = monitorNode(identity);
    const json availability = json::array({{{"topic", statusTopic(identity)}}});
    const auto entity = [&](const std::string& object, const std::string& name) {
        return json{{"availability", availability},
                    {"device", monitorDevice(identity)},
                    {"name", name},
                    {"origin", origin(identity)},
                    {"state_topic", monitorStateTopic(identity)},
                    {"unique_id", "zrq406_" + node + "_" + object}};
    };
    // The status alone has no availability: "offline" is its state, not its absence.
    json status = {{"device", monitorDevice(identity)},
                   {"device_class", "connectivity"},
                   {"name", "Status"},
                   {"origin", origin(identity)},
                   {"payload_off", "offline"},
                   {"payload_on", "online"},
                   {"state_topic", statusTopic(identity)},
                   {"unique_id", "zrq406_" + node + "_status"}};
    json lastScan = entity("last_scan", "Last scan");
    lastScan["device_class"] = "timestamp";
    lastScan["value_template"] = "{{ value_json.last_scan }}";
    json devices = entity("devices", "Devices");
    devices["state_class"] = "measurement";
    devices["value_template"] = "{{ value_json.devices }}";
    json paused = entity("paused", "Paused");
    paused["payload_on"] = kOn;
    paused["payload_off"] = kOff;
    paused["value_template"] = "{{ value_json.paused }}";
    return {{configTopic(identity, "binary_sensor", node, "status"), text(status)},
            {configTopic(identity, "sensor", node, "last_scan"), text(lastScan)},
            {configTopic(identity, "sensor", node, "devices"), text(devices)},
            {configTopic(identity, "binary_sensor", node, "paused"), text(paused)}};
}

MqttMessage monitorState(const MonitorIdentity& identity, const MonitorStatus& status) {
    json lastScan;
    if (status.lastScan != 0) {
        char buffer[32] = {};
        std::tm utc{};
        gmtime_r(&status.lastScan, &utc);
        std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%S+00:00", &utc);
        lastScan = buffer;
    }
    return {monitorStateTopic(identity),
            text({{"devices", status.devices}, {"last_scan", lastScan}, {"paused", status.paused ? kOn : kOff}})};
}

std::vector<MqttMessage> adapterConfigs(const MonitorIdentity& identity, const MonitorAdapter& adapter) {
    const std::string node = nodeOf(adapter.mac);
    std::vector<MqttMessage> configs;
    const auto add = [&](const char* component, const std::string& object, const json& config) {
        configs.push_back({configTopic(identity, component, node, object), text(config)});
    };

    // Whether the adapter answered is known while the monitor runs, answer or not.
    json connectivity = adapterEntity(identity, adapter, "connectivity", "Connectivity", false);
    connectivity["device_class"] = "connectivity";
    connectivity["payload_on"] = kOn;
    connectivity["payload_off"] = kOff;
    connectivity["value_template"] = "{{ value_json.connectivity }}";
    add("binary_sensor", "connectivity", connectivity);

    json firmware = adapterEntity(identity, adapter, "firmware", "Firmware");
    firmware["entity_category"] = "diagnostic";
    firmware["value_template"] = "{{ value_json.firmware }}";
    add("sensor", "firmware", firmware);

    if (!adapter.local)
        add("sensor", "phy_rate", rateSensor(adapterEntity(identity, adapter, "phy_rate", "PHY rate"), "phy_rate"));
    for (const MonitorLinkRate& link : adapter.links) {
        const std::string object = rateObject(link.peer);
        json rate = rateSensor(adapterEntity(identity, adapter, object, "Rate to " + link.peer.text()), object);
        // Every other link of the network is there for those who want it.
        rate["enabled_by_default"] = link.local;
        add("sensor", object, rate);
    }

    json led = adapterEntity(identity, adapter, "led", "LEDs");
    led["command_topic"] = ledCommandTopic(identity, adapter.mac);
    led["entity_category"] = "config";
    led["payload_on"] = kOn;
    led["payload_off"] = kOff;
    led["value_template"] = "{{ value_json.led }}";
    add("switch", "led", led);

    // No command topic: installing firmware is left to the programs, where a person watches the device.
    json update = adapterEntity(identity, adapter, "update", "Firmware update");
    update["device_class"] = "firmware";
    update["state_topic"] = updateTopic(identity, adapter.mac);
    add("update", "update", update);

    json alert = adapterEntity(identity, adapter, "alert", "Alert");
    alert["event_types"] = json::array({"link_slow", "device_lost", "device_new", "firmware_changed"});
    alert["state_topic"] = eventTopic(identity, adapter.mac);
    add("event", "alert", alert);
    return configs;
}

std::vector<MqttMessage> adapterRemovals(const MonitorIdentity& identity, const MacAddress& mac,
                                         const std::vector<MacAddress>& peers) {
    const std::string node = nodeOf(mac);
    std::vector<MqttMessage> removals;
    const auto remove = [&](const char* component, const std::string& object) {
        removals.push_back({configTopic(identity, component, node, object), ""});
    };
    remove("binary_sensor", "connectivity");
    remove("sensor", "firmware");
    remove("sensor", "phy_rate");
    remove("sensor", "pb_error_rate");
    for (const MacAddress& peer : peers)
        if (peer != mac)
            remove("sensor", rateObject(peer));
    remove("switch", "led");
    remove("update", "update");
    remove("event", "alert");
    // Its retained states go too, so that nothing of it stays on the broker.
    removals.push_back({adapterStateTopic(identity, mac), ""});
    removals.push_back({availabilityTopic(identity, mac), ""});
    removals.push_back({updateTopic(identity, mac), ""});
    return removals;
}

std::vector<MqttMessage> adapterStates(const MonitorIdentity& identity, const MonitorAdapter& adapter) {
    json state = {{"connectivity", adapter.answered ? kOn : kOff},
                  {"firmware", adapter.firmware.empty() ? json() : json(adapter.firmware)},
                  {"led", adapter.ledOn ? json(*adapter.ledOn ? kOn : kOff) : json()}};
    if (!adapter.local)
        state["phy_rate"] = optionalNumber(adapter.phyRate);
    for (const MonitorLinkRate& link : adapter.links)
        state[rateObject(link.peer)] = optionalNumber(link.rate);
    json update = {{"installed_version", adapter.firmware.empty() ? json() : json(adapter.firmware)},
                   {"latest_version", adapter.latestFirmware.empty()
                                          ? (adapter.firmware.empty() ? json() : json(adapter.firmware))
                                          : json(adapter.latestFirmware)}};
    return {{adapterStateTopic(identity, adapter.mac), text(state)},
            {updateTopic(identity, adapter.mac), text(update)},
            {availabilityTopic(identity, adapter.mac), adapter.answered ? "online" : "offline"}};
}

MqttMessage alertEvent(const MonitorIdentity& identity, const Alert& alert) {
    json event = {{"event_type", std::string(alertKindName(alert.kind))}, {"text", alertText(alert)}};
    if (alert.kind == AlertKind::LinkSlow) {
        event["peer"] = alert.peer.text();
        event["rate"] = alert.rate;
        event["median"] = alert.median;
    } else if (alert.kind == AlertKind::FirmwareChanged) {
        event["before"] = alert.before;
        event["after"] = alert.after;
    }
    return {eventTopic(identity, alert.device), text(event), false};
}

} // namespace zrq406::app
