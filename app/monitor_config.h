#pragma once

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace zrq406::app {

// What `zrq406 monitor` is told by its configuration files and its command line.
struct MonitorConfig {
    int intervalSeconds = 120;
    std::string mqtt;         // mqtt://[user@]host[:port] or mqtts://...
    std::string mqttCa;       // the CA certificate file for mqtts ("" for the system's)
    std::string passwordFile; // the broker password, first line
    std::string password;     // the broker password itself: only from a configuration file that others cannot read
    int keepaliveSeconds = 30;
    std::string mqttPrefix = "zrq406";
    std::string discoveryPrefix = "homeassistant";
    int forgetAfterDays = 30;
    std::string interfaceName;
};

// Where the broker is.
struct MqttAddress {
    bool tls = false;
    std::string user; // "" for none
    std::string host;
    int port = 1883;
};

// The outcome of reading or checking a configuration; `error` in plain words, naming the file.
struct [[nodiscard]] MonitorConfigResult {
    bool ok = true;
    std::string error;
    explicit operator bool() const { return ok; }
};

inline constexpr int kMinimumInterval = 10;

// The configuration files in the order they are read: /etc/zrq406/monitor.conf, then
// $XDG_CONFIG_HOME/zrq406/monitor.conf (~/.config when unset). Later ones win, the command line over both.
std::vector<std::filesystem::path> monitorConfigFiles();

// Applies "key = value" lines (blank lines and lines starting with '#' skipped) to `config`; `file` names them in
// errors. Keys: interval, mqtt, mqtt-ca, mqtt-password-file, mqtt-password, mqtt-keepalive, mqtt-prefix,
// discovery-prefix, forget-after, interface. A password in a text that others may read is refused.
MonitorConfigResult applyMonitorConfigText(MonitorConfig& config, std::string_view text, const std::string& file,
                                           bool othersMayRead);
// Reads one configuration file into `config`; a file that does not exist changes nothing.
MonitorConfigResult applyMonitorConfigFile(MonitorConfig& config, const std::filesystem::path& file);

// Checks the whole configuration: the ranges of the numbers, the prefixes (no MQTT wildcards, no empty level at
// either end), the broker address.
MonitorConfigResult checkMonitorConfig(const MonitorConfig& config);

// Parses mqtt://[user@]host[:port] and mqtts://[user@]host[:port] (default ports 1883 and 8883).
std::optional<MqttAddress> parseMqttAddress(std::string_view text, std::string& error);

// The broker password: the configuration's own, else the first line of the password file, which is refused when
// others may read it; nothing (and no error) when neither is given.
MonitorConfigResult readMonitorPassword(const MonitorConfig& config, std::optional<std::string>& password);

} // namespace zrq406::app
