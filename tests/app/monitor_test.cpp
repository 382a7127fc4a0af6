#include "app/link_alerts.h"
#include "app/link_history.h"
#include "app/monitor_commands.h"
#include "app/monitor_config.h"
#include "app/monitor_payloads.h"
#include "app/monitor_scanner.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

using namespace zrq406;
using namespace zrq406::app;
using nlohmann::json;

namespace {

const MacAddress kDevice = MacAddress::fromText("00:b0:52:00:00:02");
const MacAddress kLocal = MacAddress::fromText("00:b0:52:00:00:01");

MonitorConfigResult applied(MonitorConfig& config, const std::string& text, bool othersMayRead = false) {
    return applyMonitorConfigText(config, text, "monitor.conf", othersMayRead);
}

} // namespace

TEST(MonitorConfigTest, ReadsKeyValueLinesAndRefusesWhatItCannotTake) {
    MonitorConfig config;
    ASSERT_TRUE(applied(config, "# broker\n\n mqtt = mqtts://ha@broker.lan:8884 \ninterval=300\nmqtt-prefix = plc\n"
                                "forget-after = 7\nmqtt-ca = /etc/ssl/ca.pem\n"));
    EXPECT_EQ(config.mqtt, "mqtts://ha@broker.lan:8884");
    EXPECT_EQ(config.intervalSeconds, 300);
    EXPECT_EQ(config.mqttPrefix, "plc");
    EXPECT_EQ(config.forgetAfterDays, 7);
    EXPECT_EQ(config.discoveryPrefix, "homeassistant");
    EXPECT_TRUE(checkMonitorConfig(config));

    // A bad line leaves the configuration as it was.
    MonitorConfig before = config;
    const auto bad = applied(config, "interval = 60\nintervall = 60\n");
    EXPECT_FALSE(bad);
    EXPECT_NE(bad.error.find("line 2"), std::string::npos);
    EXPECT_EQ(config.intervalSeconds, before.intervalSeconds);
    EXPECT_FALSE(applied(config, "interval = 60s\n"));
    EXPECT_FALSE(applied(config, "just words\n"));

    // A password only in a file that others cannot read.
    EXPECT_FALSE(applied(config, "mqtt-password = hunter2\n", true));
    EXPECT_TRUE(config.password.empty());
    EXPECT_TRUE(applied(config, "mqtt-password = hunter2\n", false));
    EXPECT_EQ(config.password, "hunter2");

    for (const char* text : {"interval = 9\n", "mqtt-prefix = a/#\n", "discovery-prefix = /ha\n", "mqtt-prefix = a//b\n",
                             "forget-after = 0\n", "mqtt = http://broker\n", "mqtt = mqtt://host:70000\n",
                             "mqtt = mqtt://user:pw@host\n", "mqtt = mqtt://\n"}) {
        MonitorConfig checked = before;
        ASSERT_TRUE(applied(checked, text)) << text;
        EXPECT_FALSE(checkMonitorConfig(checked)) << text;
    }
    MonitorConfig plain;
    ASSERT_TRUE(applied(plain, "mqtt = mqtt://host\nmqtt-ca = ca.pem\n"));
    EXPECT_FALSE(checkMonitorConfig(plain)) << "a CA file without TLS";
    ASSERT_TRUE(applied(plain, "mqtt = mqtt://host\nmqtt-ca =\nmqtt-password-file = pw\n"));
    EXPECT_FALSE(checkMonitorConfig(plain)) << "a password without a user";
}

TEST(MonitorConfigTest, ParsesBrokerAddresses) {
    std::string error;
    auto address = parseMqttAddress("mqtt://broker", error);
    ASSERT_TRUE(address);
    EXPECT_FALSE(address->tls);
    EXPECT_EQ(address->port, 1883);
    EXPECT_TRUE(address->user.empty());
    address = parseMqttAddress("mqtts://ha@[fd00::1]/", error);
    ASSERT_TRUE(address);
    EXPECT_TRUE(address->tls);
    EXPECT_EQ(address->port, 8883);
    EXPECT_EQ(address->user, "ha");
    EXPECT_EQ(address->host, "fd00::1");
    address = parseMqttAddress("mqtt://127.0.0.1:1884", error);
    ASSERT_TRUE(address);
    EXPECT_EQ(address->port, 1884);
}

TEST(MonitorConfigTest, FilesThatOthersMayReadKeepNoPassword) {
    char pattern[] = "/tmp/zrq406-monitor-config-XXXXXX";
    const std::filesystem::path dir = ::mkdtemp(pattern);
    const auto conf = dir / "monitor.conf";
    std::ofstream(conf) << "mqtt = mqtt://ha@host\nmqtt-password = hunter2\n";
    std::filesystem::permissions(conf, std::filesystem::perms::owner_read | std::filesystem::perms::others_read);
    MonitorConfig config;
    EXPECT_FALSE(applyMonitorConfigFile(config, conf));
    std::filesystem::permissions(conf, std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
    EXPECT_TRUE(applyMonitorConfigFile(config, conf));
    EXPECT_TRUE(applyMonitorConfigFile(config, dir / "missing.conf"));

    const auto passwordFile = dir / "password";
    std::ofstream(passwordFile) << "s3cret pass\r\nsecond line\n";
    config.passwordFile = passwordFile.string();
    std::optional<std::string> password;
    std::filesystem::permissions(passwordFile, std::filesystem::perms::owner_read | std::filesystem::perms::others_read);
    EXPECT_FALSE(readMonitorPassword(config, password));
    EXPECT_FALSE(password);
    std::filesystem::permissions(passwordFile, std::filesystem::perms::owner_read);
    ASSERT_TRUE(readMonitorPassword(config, password));
    EXPECT_EQ(password, "s3cret pass");
    std::filesystem::remove_all(dir);
}

TEST(MonitorCommandTest, TakesOnlyLedCommandsForKnownDevicesAndAShortQueue) {
    const std::set<MacAddress> known{kDevice};
    auto checked = checkCommand("zrq406", "zrq406/00b052000002/led/set", "OFF", false, known);
    ASSERT_EQ(checked.check, CommandCheck::Accepted);
    EXPECT_EQ(checked.command.device, kDevice);
    EXPECT_FALSE(checked.command.ledOn);
    EXPECT_TRUE(checkCommand("zrq406", "zrq406/00b052000002/led/set", "ON", false, known).command.ledOn);

    EXPECT_EQ(checkCommand("zrq406", "zrq406/00B052000002/led/set", "ON", false, known).check, CommandCheck::NotACommand);
    EXPECT_EQ(checkCommand("zrq406", "other/00b052000002/led/set", "ON", false, known).check, CommandCheck::NotACommand);
    EXPECT_EQ(checkCommand("zrq406", "zrq406/00b05200000/led/set", "ON", false, known).check, CommandCheck::NotACommand);
    EXPECT_EQ(checkCommand("zrq406", "zrq406/00b052000002/led/sett", "ON", false, known).check,
              CommandCheck::NotACommand);
    EXPECT_EQ(checkCommand("zrq406", "zrq406/00b052000003/led/set", "ON", false, known).check,
              CommandCheck::UnknownDevice);
    for (const char* payload : {"on", "ON ", "", "1", "{\"state\":\"ON\"}"})
        EXPECT_EQ(checkCommand("zrq406", "zrq406/00b052000002/led/set", payload, false, known).check,
                  CommandCheck::BadPayload)
            << payload;
    EXPECT_EQ(checkCommand("zrq406", "zrq406/00b052000002/led/set", "ON", true, known).check, CommandCheck::Retained);
    // The log never carries a topic's control characters.
    const auto hostile = checkCommand("zrq406", "zrq406/\x1b[2J/led/set", "ON", false, known);
    EXPECT_EQ(hostile.reason.find('\x1b'), std::string::npos);

    CommandQueue queue;
    for (std::size_t i = 0; i < CommandQueue::kCapacity; ++i)
        EXPECT_TRUE(queue.push({kDevice, i % 2 == 0}));
    EXPECT_FALSE(queue.push({kDevice, true}));
    EXPECT_TRUE(queue.pop()->ledOn);
    EXPECT_TRUE(queue.push({kDevice, true}));
}

TEST(MonitorCommandTest, BacksOffFromOneSecondDoublingToAMinuteAndForgetsOldAdapters) {
    Backoff backoff;
    std::vector<long> waits;
    for (int i = 0; i < 9; ++i)
        waits.push_back(backoff.next().count());
    EXPECT_EQ(waits, (std::vector<long>{1, 2, 4, 8, 16, 32, 60, 60, 60}));
    backoff.reset();
    EXPECT_EQ(backoff.next().count(), 1);

    const std::time_t now = 1'800'000'000;
    DeviceSighting recent;
    recent.mac = kLocal;
    recent.lastSeen = now - 30 * 86400 + 1;
    DeviceSighting old;
    old.mac = kDevice;
    old.lastSeen = now - 30 * 86400 - 1;
    const ForgetSplit split = splitForgotten({recent, old}, now, 30);
    EXPECT_EQ(split.kept, std::vector<MacAddress>{kLocal});
    EXPECT_EQ(split.forgotten, std::vector<MacAddress>{kDevice});
}

TEST(MonitorPayloadTest, TopicsComeFromMacsAndNamesAreEscaped) {
    MonitorIdentity identity;
    identity.host = MacAddress::fromText("02:00:00:00:00:09");
    identity.version = "1.0";
    MonitorAdapter adapter;
    adapter.mac = kDevice;
    adapter.name = "a/b+#\"\n\x01 \xff";
    adapter.firmware = "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712";
    adapter.answered = true;
    adapter.phyRate = 128;
    adapter.ledOn = false;
    adapter.links = {{kLocal, 120u, true}, {MacAddress::fromText("00:b0:52:00:00:03"), std::nullopt, false}};

    const auto configs = adapterConfigs(identity, adapter);
    ASSERT_EQ(configs.size(), 8u);
    for (const MqttMessage& message : configs) {
        EXPECT_TRUE(message.topic.starts_with("homeassistant/")) << message.topic;
        EXPECT_NE(message.topic.find("/00b052000002/"), std::string::npos) << message.topic;
        EXPECT_EQ(message.topic.find('"'), std::string::npos) << message.topic;
        EXPECT_TRUE(message.retained);
        const json document = json::parse(message.payload);
        EXPECT_EQ(document["device"]["name"], "a/b+#\"\n\x01 \xef\xbf\xbd");
        EXPECT_EQ(document["device"]["via_device"], "zrq406_monitor_020000000009");
        EXPECT_EQ(message.payload, document.dump());
    }
    const auto rate = [&](const std::string& object) {
        for (const MqttMessage& message : configs)
            if (message.topic == "homeassistant/sensor/00b052000002/" + object + "/config")
                return json::parse(message.payload);
        return json();
    };
    EXPECT_EQ(rate("rate_00b052000001")["enabled_by_default"], true);
    EXPECT_EQ(rate("rate_00b052000003")["enabled_by_default"], false);
    EXPECT_EQ(rate("phy_rate")["unit_of_measurement"], "Mbit/s");

    const auto states = adapterStates(identity, adapter);
    ASSERT_EQ(states.size(), 3u);
    EXPECT_EQ(json::parse(states[0].payload),
              json::parse(R"({"connectivity":"ON","firmware":"ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712","led":"OFF",)"
                          R"("phy_rate":128,"rate_00b052000001":120,"rate_00b052000003":null})"));
    EXPECT_EQ(states[2].topic, "zrq406/00b052000002/availability");
    EXPECT_EQ(states[2].payload, "online");

    // A forgotten adapter's every config goes, its rate sensors to every peer included.
    const auto removals = adapterRemovals(identity, kDevice, {kLocal, kDevice, MacAddress::fromText("00:b0:52:00:00:03")});
    for (const MqttMessage& config : configs)
        EXPECT_TRUE(std::any_of(removals.begin(), removals.end(),
                                [&](const MqttMessage& removal) { return removal.topic == config.topic; }))
            << config.topic;
    for (const MqttMessage& removal : removals) {
        EXPECT_TRUE(removal.payload.empty());
        EXPECT_TRUE(removal.retained);
    }

    Alert alert;
    alert.kind = AlertKind::LinkSlow;
    alert.device = kDevice;
    alert.peer = kLocal;
    alert.rate = 40;
    alert.median = 120;
    const MqttMessage event = alertEvent(identity, alert);
    EXPECT_EQ(event.topic, "zrq406/00b052000002/event");
    EXPECT_FALSE(event.retained);
    EXPECT_EQ(json::parse(event.payload)["event_type"], "link_slow");
}

TEST(MonitorPayloadTest, OffersTheNewestUpgradeFileOfTheDevicesRegion) {
    const std::string installed = "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0511";
    EXPECT_EQ(latestFirmwareFor(installed, {}), installed);
    EXPECT_EQ(latestFirmwareFor(installed, {"ZRQPLC1-MAC-3-3-3348-00-2764-NA-0712"}), installed);
    EXPECT_EQ(latestFirmwareFor(installed, {"ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712", "ZRQPLC1-MAC-3-3-3348-00-2400-CE-0900"}),
              "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712");
    EXPECT_EQ(latestFirmwareFor(installed, {"ZRQPLC1-MAC-3-3-3348-00-2764-CE-0400"}), installed);
}
