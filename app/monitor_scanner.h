#pragma once

#include "app/link_alerts.h"
#include "app/link_history.h"
#include "app/monitor_commands.h"
#include "app/monitor_payloads.h"

#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace zrq406::app {

class Session;

// The newest upgrade file's version text for a device running `installed`: among `files` (version texts of the
// upgrade files present) those of the same region ("-CE-", "-NA-"), by firmware and then configuration build;
// `installed` itself when none is newer.
std::string latestFirmwareFor(const std::string& installed, const std::vector<std::string>& files);

// What one scan or command of the monitor gives: the messages for the broker, the lines for the log.
struct MonitorStep {
    std::vector<MqttMessage> messages;
    std::vector<std::string> log;
};

// The monitor's work with the devices, without the broker: each scan through the session's operation runner,
// recorded in the link history as every scan is, turned into Home Assistant's configs and states, with the alerts
// the scan raised and the adapters to forget. Its memory is bounded by the devices the history holds.
class MonitorScanner {
public:
    MonitorScanner(Session& session, MonitorIdentity identity, int forgetAfterDays,
                   std::vector<std::string> upgradeVersions);
    ~MonitorScanner();

    // Scans (unless the utility or the upgrade tool runs: then only the paused state), records the scan and
    // returns what changed: configs new or changed since last published, every state, alerts, removals.
    MonitorStep scan(std::time_t now);
    // Everything current, configs included: after a connect and when Home Assistant comes online.
    MonitorStep everything();
    // Switches an adapter's LEDs through the runner and publishes what the device reports afterwards.
    MonitorStep run(const MonitorCommand& command);
    // The adapters that answered the last scan: the only ones that take commands.
    const std::set<MacAddress>& answering() const { return m_answering; }
    bool paused() const { return m_status.paused; }
    const MonitorIdentity& identity() const { return m_identity; }

    // Whether the utility or the upgrade tool runs on this computer (their instance locks).
    static bool programsRunning();

private:
    void takeScan(MonitorStep& step, std::time_t now);
    void addChangedConfigs(MonitorStep& step, bool all);
    void addStates(MonitorStep& step);

    Session& m_session;
    MonitorIdentity m_identity;
    int m_forgetAfterDays;
    std::vector<std::string> m_upgradeVersions;
    std::unique_ptr<LinkHistory> m_history;
    AlertWatch m_alerts;
    bool m_historyOpen = false;
    bool m_saveFailureTold = false;
    std::map<MacAddress, MonitorAdapter> m_adapters;
    std::map<MacAddress, std::time_t> m_lastSeen;
    std::map<std::string, std::string> m_published; // config topic -> payload last published
    std::set<MacAddress> m_answering;
    MonitorStatus m_status;
};

} // namespace zrq406::app
