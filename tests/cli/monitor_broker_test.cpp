// zrq406 monitor against Debian's mosquitto broker, started by each test on 127.0.0.1 with its own configuration.
#include "registry/device_registry.h"
#include "app/instance_names.h"
#include "platform/instance_lock.h"
#include "platform/text_field.h"
#include "tests/support/mqtt_broker.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>

using namespace zrq406;
using namespace zrq406::test;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

const std::string kLocal = "00b0525a0001";
const std::string kRemote = "00b0525a0002";
const std::string kLedOff = "00b0525a0004"; // the built-in network's device with its LEDs off

std::string config(const std::string& component, const std::string& node, const std::string& object) {
    return "homeassistant/" + component + "/" + node + "/" + object + "/config";
}

std::string readText(const fs::path& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

int countLines(const std::string& text, const std::string& part) {
    int count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

class MonitorBrokerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!TestBroker::available())
            GTEST_SKIP() << "Debian's mosquitto broker is not installed (package mosquitto)";
        char pattern[] = "/tmp/zrq406-monitor-XXXXXX";
        m_dir = ::mkdtemp(pattern);
        fs::create_directories(m_dir / "run");
        fs::permissions(m_dir / "run", fs::perms::owner_all);
        m_environment = {{"ZRQ406_TIME_SCALE", "0.02"},
                         {"XDG_DATA_HOME", (m_dir / "data").string()},
                         {"XDG_CONFIG_HOME", (m_dir / "config").string()},
                         {"XDG_RUNTIME_DIR", (m_dir / "run").string()},
                         {"HOME", m_dir.string()},
                         {"ZRQ406_LINK_HISTORY", (m_dir / "history.db").string()}};
    }
    void TearDown() override {
        m_monitor.reset();
        if (!m_dir.empty())
            fs::remove_all(m_dir);
    }

    std::string program() const { return std::string(ZRQ406_TEST_DATA_DIR) + "/zrq406"; }

    // zrq406 --simulate monitor with a scan every 1.2 s (60 s scaled).
    void startMonitor(int port, std::vector<std::string> extra = {}, const std::string& user = {}) {
        std::vector<std::string> argv{program(), "--simulate", "monitor", "--interval", "60", "--mqtt",
                                      "mqtt://" + (user.empty() ? "" : user + "@") + "127.0.0.1:" +
                                          std::to_string(port)};
        argv.insert(argv.end(), extra.begin(), extra.end());
        m_monitor = std::make_unique<ChildProcess>(argv, m_environment, m_dir / "monitor.log");
    }
    std::string log() const { return readText(m_dir / "monitor.log"); }
    json scanJson() {
        std::vector<std::string> argv{program(), "--simulate", "--json", "scan", "--no-save"};
        return json::parse(runProgram(argv, m_environment));
    }
    std::string ledOf(const json& scan, const std::string& mac) {
        for (const json& device : scan["devices"])
            if (device["mac"] == mac)
                return device["led"];
        return "?";
    }
    // Waits for the whole discovery of the built-in network: the last config of every adapter and its state.
    bool waitForDiscovery(TestSubscriber& subscriber, std::size_t from = 0) {
        for (const std::string& node : {kLocal, kRemote, std::string("00b0525a0003"), kLedOff})
            if (!subscriber.waitForMessage(config("event", node, "alert"), {}, from) ||
                !subscriber.waitForMessage("zrq406/" + node, {}, from))
                return false;
        return true;
    }

    fs::path m_dir;
    std::map<std::string, std::string> m_environment;
    std::unique_ptr<ChildProcess> m_monitor;
};

// The configs as Home Assistant reads them, compared with the files in golden/monitor (sorted keys); the program's
// version is the one thing that may differ. ZRQ406_UPDATE_GOLDEN=1 writes the files anew.
TEST_F(MonitorBrokerTest, DiscoveryMatchesTheGoldenFilesAndTheLastWillFollowsAKill) {
    TestBroker broker(m_dir / "broker");
    ASSERT_TRUE(broker.start());
    TestSubscriber subscriber(broker.port());
    startMonitor(broker.port());
    ASSERT_TRUE(subscriber.waitForMessage("zrq406/status", "online")) << log();
    ASSERT_TRUE(waitForDiscovery(subscriber)) << log();

    const std::string monitorNode = "monitor_025a52000001";
    const std::vector<std::pair<std::string, std::string>> golden{
        {config("binary_sensor", monitorNode, "status"), "monitor_status"},
        {config("sensor", monitorNode, "last_scan"), "monitor_last_scan"},
        {config("binary_sensor", kRemote, "connectivity"), "remote_connectivity"},
        {config("sensor", kRemote, "firmware"), "remote_firmware"},
        {config("sensor", kRemote, "phy_rate"), "remote_phy_rate"},
        {config("sensor", kRemote, "rate_" + kLocal), "remote_rate_to_local"},
        {config("sensor", kRemote, "rate_00b0525a0003"), "remote_rate_to_remote"},
        {config("switch", kRemote, "led"), "remote_led"},
        {config("update", kRemote, "update"), "remote_update"},
        {config("event", kRemote, "alert"), "remote_alert"},
        {config("sensor", kLocal, "firmware"), "local_firmware"},
    };
    const fs::path folder = fs::path(ZRQ406_TEST_SOURCE_DIR) / "tests/cli/golden/monitor";
    for (const auto& [topic, name] : golden) {
        const std::string payload = subscriber.last(topic);
        ASSERT_FALSE(payload.empty()) << topic;
        json document = json::parse(payload);
        // Published compact, with sorted keys.
        EXPECT_EQ(payload, document.dump()) << topic;
        document["origin"]["sw_version"] = "VERSION";
        if (document["device"].contains("via_device") == false)
            document["device"]["sw_version"] = "VERSION";
        const std::string text = document.dump(2) + "\n";
        const fs::path file = folder / (name + ".json");
        if (std::getenv("ZRQ406_UPDATE_GOLDEN") != nullptr)
            std::ofstream(file) << text;
        EXPECT_EQ(text, readText(file)) << topic;
    }
    // The local device has no PHY rate to itself; the links of other devices are there but disabled.
    EXPECT_TRUE(subscriber.last(config("sensor", kLocal, "phy_rate")).empty());
    const json state = json::parse(subscriber.last("zrq406/" + kRemote));
    EXPECT_EQ(state["connectivity"], "ON");
    EXPECT_EQ(state["led"], "ON");
    EXPECT_EQ(state["phy_rate"], 128);
    EXPECT_EQ(json::parse(subscriber.last("zrq406/" + kLedOff))["led"], "OFF");
    EXPECT_EQ(subscriber.last("zrq406/" + kRemote + "/availability"), "online");
    const json monitor = json::parse(subscriber.last("zrq406/" + monitorNode));
    EXPECT_EQ(monitor["devices"], 4);
    EXPECT_EQ(monitor["paused"], "OFF");

    // Killed without a goodbye: the broker publishes the retained last will.
    const std::size_t before = subscriber.count();
    m_monitor->signal(SIGKILL);
    ASSERT_NE(m_monitor->wait(std::chrono::seconds(5)), -1);
    EXPECT_TRUE(subscriber.waitForMessage("zrq406/status", "offline", before));
}

// Started before the broker, the monitor keeps scanning and retries; a broker restarted without persistence gets
// every config back.
TEST_F(MonitorBrokerTest, AnAbsentOrRestartedBrokerGetsTheCurrentStateWhenItComesBack) {
    TestBroker broker(m_dir / "broker");
    startMonitor(broker.port());
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    EXPECT_GE(countLines(log(), "is not reachable"), 2) << log();
    EXPECT_GE(countLines(log(), "alert: new device"), 4) << "scans go on without the broker\n" << log();

    ASSERT_TRUE(broker.start());
    TestSubscriber subscriber(broker.port());
    ASSERT_TRUE(subscriber.waitForMessage("zrq406/status", "online", 0, std::chrono::seconds(30))) << log();
    ASSERT_TRUE(waitForDiscovery(subscriber)) << log();
    // The alerts of the scans made while the broker was away are not a backlog sent afterwards.
    for (const ReceivedMessage& message : subscriber.messages())
        EXPECT_FALSE(message.topic.ends_with("/event") && message.payload.find("device_new") != std::string::npos)
            << message.topic;

    broker.stop();
    ASSERT_TRUE(broker.start());
    TestSubscriber fresh(broker.port());
    ASSERT_TRUE(fresh.waitForMessage("zrq406/status", "online", 0, std::chrono::seconds(30))) << log();
    ASSERT_TRUE(waitForDiscovery(fresh)) << log();
    EXPECT_TRUE(fresh.waitForMessage(config("switch", kRemote, "led")));
}

// A checked LED command switches the simulated device and the state follows; every other message on the command
// topics is logged and touches nothing. SIGTERM ends the monitor within 2 s with "offline" and the history whole.
TEST_F(MonitorBrokerTest, AnLedCommandSwitchesTheDeviceAndBadCommandsTouchNothing) {
    TestBroker broker(m_dir / "broker");
    ASSERT_TRUE(broker.start());
    TestSubscriber subscriber(broker.port());
    startMonitor(broker.port());
    ASSERT_TRUE(waitForDiscovery(subscriber)) << log();

    subscriber.publish("zrq406/" + kLedOff + "/led/set", "on");
    subscriber.publish("zrq406/" + kLedOff + "/led/set", "ON\n");
    subscriber.publish("zrq406/" + kLedOff + "/led/set", std::string(5000, 'O'));
    subscriber.publish("zrq406/00B0525A0004/led/set", "ON");
    subscriber.publish("zrq406/00b0525a0099/led/set", "ON");
    subscriber.publish("zrq406/not-a-mac/led/set", "ON");
    const std::size_t before = subscriber.count();
    subscriber.publish("zrq406/" + kRemote + "/led/set", "OFF");
    ASSERT_TRUE(subscriber.waitFor([&](const std::vector<ReceivedMessage>& messages) {
        for (std::size_t i = before; i < messages.size(); ++i)
            if (messages[i].topic == "zrq406/" + kRemote && json::parse(messages[i].payload)["led"] == "OFF")
                return true;
        return false;
    })) << log();
    EXPECT_EQ(countLines(log(), "command ignored"), 6) << log();
    EXPECT_EQ(json::parse(subscriber.last("zrq406/" + kLedOff))["led"], "OFF");

    const std::size_t beforeStop = subscriber.count();
    const auto stopped = std::chrono::steady_clock::now();
    m_monitor->signal(SIGTERM);
    const int status = m_monitor->wait(std::chrono::seconds(2));
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(2));
    ASSERT_NE(status, -1) << "still running 2 s after SIGTERM";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << log();
    EXPECT_TRUE(subscriber.waitForMessage("zrq406/status", "offline", beforeStop));

    const json scan = scanJson();
    EXPECT_EQ(ledOf(scan, "00:b0:52:5a:00:02"), "Off");
    EXPECT_EQ(ledOf(scan, "00:b0:52:5a:00:04"), "Off");
    const std::string devices =
        runProgram({program(), "--simulate", "history", "devices", "--csv"}, m_environment);
    EXPECT_EQ(countLines(devices, "00:b0:52:5a:00:0"), 4) << devices;
    // The device history keeps the names, as after zrq406 scan.
    EXPECT_TRUE(fs::exists(m_dir / "data/zrq406/devices.dat"));
}

// While the configuration utility runs on this computer the monitor neither scans nor takes commands, and says so.
TEST_F(MonitorBrokerTest, WhileTheUtilityRunsTheMonitorIsPausedAndTouchesNoDevice) {
    TestBroker broker(m_dir / "broker");
    ASSERT_TRUE(broker.start());
    TestSubscriber subscriber(broker.port());
    startMonitor(broker.port());
    ASSERT_TRUE(waitForDiscovery(subscriber)) << log();
    const std::string monitorState = "zrq406/monitor_025a52000001";
    const auto pausedIs = [&](const std::string& value, std::size_t from) {
        return subscriber.waitFor([&](const std::vector<ReceivedMessage>& messages) {
            for (std::size_t i = from; i < messages.size(); ++i)
                if (messages[i].topic == monitorState && json::parse(messages[i].payload)["paused"] == value)
                    return true;
            return false;
        });
    };

    InstanceLock utility;
    ASSERT_TRUE(utility.acquire(app::kUtilityInstance, m_dir / "run"));
    ASSERT_TRUE(pausedIs("ON", subscriber.count())) << log();
    subscriber.publish("zrq406/" + kRemote + "/led/set", "OFF");
    for (int i = 0; i < 100 && log().find("refused") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_NE(log().find("command 00:b0:52:5a:00:02 LEDs off refused"), std::string::npos) << log();
    EXPECT_NE(log().find("scans paused"), std::string::npos);
    utility.release();
    ASSERT_TRUE(pausedIs("OFF", subscriber.count())) << log();
    m_monitor.reset();
    EXPECT_EQ(ledOf(scanJson(), "00:b0:52:5a:00:02"), "On");
}

// A name that a user gave a device reaches Home Assistant as that text, escaped in the JSON, never in a topic.
TEST_F(MonitorBrokerTest, AHostileDeviceNameIsEscapedInTheJsonAndStaysOutOfTopics) {
    runProgram({program(), "--simulate", "scan"}, m_environment);
    const std::string hostile = "x\"},{\"a\":\"/#+\n\x01\\</b>";
    {
        DeviceRegistry registry(m_dir / "data/zrq406/devices.dat");
        ASSERT_TRUE(registry.LoadHistory().opened);
        HistoryTable& table = registry.historyTable();
        for (int i = 0; i < table.fileCount; ++i)
            if (fieldText(table.records[i].mac) == "00:b0:52:5a:00:02")
                copyToField(table.records[i].name, hostile);
        ASSERT_TRUE(registry.SaveHistory(table.fileCount));
    }
    TestBroker broker(m_dir / "broker");
    ASSERT_TRUE(broker.start());
    TestSubscriber subscriber(broker.port());
    startMonitor(broker.port());
    ASSERT_TRUE(waitForDiscovery(subscriber)) << log();
    const json document = json::parse(subscriber.last(config("switch", kRemote, "led")));
    EXPECT_EQ(document["device"]["name"], hostile);
    for (const ReceivedMessage& message : subscriber.messages()) {
        EXPECT_EQ(message.topic.find('"'), std::string::npos) << message.topic;
        EXPECT_EQ(message.payload.find('\n'), std::string::npos) << message.topic;
    }
}

// A broker that needs a password: the right one from a file only the user may read connects, a wrong one is told.
TEST_F(MonitorBrokerTest, ABrokerThatNeedsAPasswordTakesTheOneFromThePasswordFile) {
    TestBroker broker(m_dir / "broker", "homeassistant", "s3cret pass");
    ASSERT_TRUE(broker.start());
    TestSubscriber subscriber(broker.port(), "homeassistant", "s3cret pass");
    const fs::path file = m_dir / "password";
    std::ofstream(file) << "wrong\n";
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    startMonitor(broker.port(), {"--mqtt-password-file", file.string()}, "homeassistant");
    for (int i = 0; i < 100 && log().find("not accepted") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_NE(log().find("user name or password not accepted"), std::string::npos) << log();
    m_monitor.reset();

    std::ofstream(file) << "s3cret pass\n";
    startMonitor(broker.port(), {"--mqtt-password-file", file.string()}, "homeassistant");
    EXPECT_TRUE(subscriber.waitForMessage("zrq406/status", "online")) << log();
    EXPECT_EQ(log().find("s3cret"), std::string::npos);
}

} // namespace
