#include "app/monitor_config.h"

#include "platform/regular_file.h"
#include "platform/text_field.h"

#include <charconv>
#include <cstdlib>
#include <sys/stat.h>

namespace zrq406::app {

namespace {

constexpr std::size_t kMaxConfigFile = 64 * 1024;

MonitorConfigResult failed(std::string error) {
    return {false, std::move(error)};
}

bool parseNumber(std::string_view text, int& out) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size())
        return false;
    out = value;
    return true;
}

bool othersMayRead(const std::filesystem::path& file) {
    struct stat status {};
    return ::stat(file.c_str(), &status) != 0 || (status.st_mode & S_IROTH) != 0;
}

MonitorConfigResult checkPrefix(const std::string& prefix, const char* name) {
    if (prefix.empty() || prefix.front() == '/' || prefix.back() == '/' ||
        prefix.find_first_of("+#") != std::string::npos || prefix.find("//") != std::string::npos ||
        prefix.find('\0') != std::string::npos)
        return failed(std::string("the ") + name + " \"" + prefix +
                      "\" is not a topic prefix (no + or #, no empty level)");
    return {};
}

} // namespace

std::vector<std::filesystem::path> monitorConfigFiles() {
    std::vector<std::filesystem::path> files{"/etc/zrq406/monitor.conf"};
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/')
        files.push_back(std::filesystem::path(xdg) / "zrq406" / "monitor.conf");
    else if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/')
        files.push_back(std::filesystem::path(home) / ".config" / "zrq406" / "monitor.conf");
    return files;
}

MonitorConfigResult applyMonitorConfigText(MonitorConfig& config, std::string_view text, const std::string& file,
                                           bool othersMayReadIt) {
    MonitorConfig read = config;
    int number = 0;
    while (!text.empty()) {
        ++number;
        const auto end = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.empty() || line.front() == '#')
            continue;
        const auto equals = line.find('=');
        const std::string where = file + ", line " + std::to_string(number) + ": ";
        if (equals == std::string_view::npos)
            return failed(where + "write each setting as key = value");
        const std::string key(trimmed(line.substr(0, equals)));
        const std::string value(trimmed(line.substr(equals + 1)));
        const auto numberOf = [&](int& out) { return parseNumber(value, out); };
        bool good = true;
        if (key == "interval")
            good = numberOf(read.intervalSeconds);
        else if (key == "mqtt-keepalive")
            good = numberOf(read.keepaliveSeconds);
        else if (key == "forget-after")
            good = numberOf(read.forgetAfterDays);
        else if (key == "mqtt")
            read.mqtt = value;
        else if (key == "mqtt-ca")
            read.mqttCa = value;
        else if (key == "mqtt-password-file")
            read.passwordFile = value;
        else if (key == "mqtt-prefix")
            read.mqttPrefix = value;
        else if (key == "discovery-prefix")
            read.discoveryPrefix = value;
        else if (key == "interface")
            read.interfaceName = value;
        else if (key == "mqtt-password") {
            // Anyone who may read the file would learn the broker's password.
            if (othersMayReadIt)
                return failed(file + " holds a password but other users may read it; refused (chmod o-r " + file +
                              ", or name a password file with mqtt-password-file)");
            read.password = value;
        } else
            return failed(where + "unknown setting \"" + key + "\"");
        if (!good)
            return failed(where + key + " needs a whole number, not \"" + value + "\"");
    }
    config = read;
    return {};
}

MonitorConfigResult applyMonitorConfigFile(MonitorConfig& config, const std::filesystem::path& file) {
    const FileReadResult read = readRegularFile(file, kMaxConfigFile);
    if (read.status == FileReadStatus::Missing)
        return {};
    if (!read)
        return failed(read.error);
    return applyMonitorConfigText(config, read.content, file.string(), othersMayRead(file));
}

MonitorConfigResult checkMonitorConfig(const MonitorConfig& config) {
    if (config.intervalSeconds < kMinimumInterval || config.intervalSeconds > 24 * 60 * 60)
        return failed("the interval is " + std::to_string(config.intervalSeconds) +
                      " seconds; it is at least 10 and at most a day");
    if (config.keepaliveSeconds < 5 || config.keepaliveSeconds > 65535)
        return failed("the MQTT keepalive is " + std::to_string(config.keepaliveSeconds) +
                      " seconds; it is 5 to 65535");
    if (config.forgetAfterDays < 1 || config.forgetAfterDays > 36500)
        return failed("forget-after is " + std::to_string(config.forgetAfterDays) + " days; it is 1 to 36500");
    if (auto checked = checkPrefix(config.mqttPrefix, "MQTT prefix"); !checked)
        return checked;
    if (auto checked = checkPrefix(config.discoveryPrefix, "discovery prefix"); !checked)
        return checked;
    if (config.mqtt.empty())
        return failed("no broker: give --mqtt mqtt://[user@]host[:port] or mqtt = ... in monitor.conf");
    std::string error;
    const auto address = parseMqttAddress(config.mqtt, error);
    if (!address)
        return failed(error);
    if (!config.mqttCa.empty() && !address->tls)
        return failed("--mqtt-ca goes with an mqtts:// broker");
    if ((!config.password.empty() || !config.passwordFile.empty()) && address->user.empty())
        return failed("a broker password needs a user: mqtt://USER@host");
    return {};
}

std::optional<MqttAddress> parseMqttAddress(std::string_view text, std::string& error) {
    MqttAddress address;
    const std::string given(text);
    if (text.starts_with("mqtt://")) {
        text.remove_prefix(7);
    } else if (text.starts_with("mqtts://")) {
        text.remove_prefix(8);
        address.tls = true;
        address.port = 8883;
    } else {
        error = "\"" + given + "\" is not a broker address: write mqtt://[user@]host[:port] or mqtts://...";
        return std::nullopt;
    }
    if (!text.empty() && text.back() == '/')
        text.remove_suffix(1);
    if (const auto at = text.rfind('@'); at != std::string_view::npos) {
        address.user = std::string(text.substr(0, at));
        text.remove_prefix(at + 1);
        if (address.user.empty() || address.user.find(':') != std::string::npos) {
            error = "\"" + given +
                    "\": a user name without a password (the password goes in a file: " + "--mqtt-password-file)";
            return std::nullopt;
        }
    }
    std::string_view host = text;
    if (text.starts_with('[')) {
        const auto close = text.find(']');
        if (close == std::string_view::npos) {
            error = "\"" + given + "\": an IPv6 address needs its closing ]";
            return std::nullopt;
        }
        host = text.substr(1, close - 1);
        text.remove_prefix(close + 1);
    } else {
        const auto colon = text.find(':');
        host = text.substr(0, colon);
        text.remove_prefix(colon == std::string_view::npos ? text.size() : colon);
    }
    if (!text.empty()) {
        int port = 0;
        if (!text.starts_with(':') || !parseNumber(text.substr(1), port) || port < 1 || port > 65535) {
            error = "\"" + given + "\": the port is a number from 1 to 65535";
            return std::nullopt;
        }
        address.port = port;
    }
    if (host.empty() || host.find_first_of("/?#@ ") != std::string_view::npos) {
        error = "\"" + given + "\" names no host";
        return std::nullopt;
    }
    address.host = std::string(host);
    return address;
}

MonitorConfigResult readMonitorPassword(const MonitorConfig& config, std::optional<std::string>& password) {
    password.reset();
    if (config.passwordFile.empty()) {
        if (!config.password.empty())
            password = config.password;
        return {};
    }
    const FileReadResult read = readRegularFile(config.passwordFile, kMaxConfigFile);
    if (!read)
        return failed(read.error);
    if (othersMayRead(config.passwordFile))
        return failed(config.passwordFile +
                      " holds the broker password but other users may read it; refused (chmod o-r " +
                      config.passwordFile + ")");
    std::string line = read.content.substr(0, read.content.find('\n'));
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    password = line;
    return {};
}

} // namespace zrq406::app
