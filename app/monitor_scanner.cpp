#include "app/monitor_scanner.h"

#include "app/instance_names.h"
#include "app/scan_cycle.h"
#include "app/session.h"
#include "app/upgrade_search.h"
#include "app/utility_flows.h"
#include "mme/config_block.h"
#include "platform/display_text.h"
#include "platform/instance_lock.h"
#include "platform/text_field.h"

#include <algorithm>
#include <charconv>

namespace zrq406::app {

namespace {

// The region marker of a version text and the configuration build after it: ("-CE-", 712) of "...-CE-0712".
std::pair<std::string, long> regionBuild(const std::string& text) {
    for (const char* marker : {"-CE-", "-NA-"}) {
        const auto at = text.find(marker);
        if (at == std::string::npos)
            continue;
        long build = -1;
        const char* first = text.data() + at + 4;
        std::from_chars(first, text.data() + text.size(), build);
        return {marker, build};
    }
    return {"", -1};
}

// < 0 when `a` is older than `b`.
int compareVersions(const std::string& a, const std::string& b) {
    if (const int firmware = compareFirmware(a, b); firmware != 0)
        return firmware;
    const long left = regionBuild(a).second;
    const long right = regionBuild(b).second;
    return left < right ? -1 : left > right ? 1 : 0;
}

std::optional<std::uint32_t> rateOf(const char* field, std::size_t width) {
    const std::string text = fieldText(field, width);
    std::uint32_t rate = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), rate);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return rate;
}

} // namespace

std::string latestFirmwareFor(const std::string& installed, const std::vector<std::string>& files) {
    const std::string region = regionBuild(installed).first;
    std::string latest = installed;
    if (region.empty())
        return latest;
    for (const std::string& file : files)
        if (regionBuild(file).first == region && compareVersions(latest, file) < 0)
            latest = file;
    return latest;
}

MonitorScanner::MonitorScanner(Session& session, MonitorIdentity identity, int forgetAfterDays,
                               std::vector<std::string> upgradeVersions)
    : m_session(session), m_identity(std::move(identity)), m_forgetAfterDays(forgetAfterDays),
      m_upgradeVersions(std::move(upgradeVersions)) {
    if (!m_session.scanRecorder().path().empty())
        m_history =
            std::make_unique<LinkHistory>(m_session.scanRecorder().path(), LinkHistory::retentionDaysFromEnvironment());
}

MonitorScanner::~MonitorScanner() = default;

bool MonitorScanner::programsRunning() {
    // This user's programs, and (through the shared folder) those of every other user: run as a service, the monitor
    // is a user of its own.
    return InstanceLock::exists(kUtilityInstance) || InstanceLock::exists(kUpgradeToolInstance) ||
           InstanceLock::markedAnywhere(kUtilityInstance) || InstanceLock::markedAnywhere(kUpgradeToolInstance);
}

MonitorStep MonitorScanner::scan(std::time_t now) {
    MonitorStep step;
    const bool wasPaused = m_status.paused;
    m_status.paused = programsRunning();
    if (m_status.paused) {
        if (!wasPaused)
            step.log.push_back("the configuration utility or the upgrade tool runs on this computer: scans paused");
    } else {
        if (wasPaused)
            step.log.push_back("scans resumed");
        takeScan(step, now);
    }
    addChangedConfigs(step, false);
    addStates(step);
    return step;
}

MonitorStep MonitorScanner::everything() {
    MonitorStep step;
    m_published.clear();
    addChangedConfigs(step, true);
    addStates(step);
    return step;
}

void MonitorScanner::takeScan(MonitorStep& step, std::time_t now) {
    OperationLease lease = m_session.runner().begin();
    if (m_history && !m_historyOpen) {
        const HistoryOpenResult opened = m_history->open();
        m_historyOpen = static_cast<bool>(opened);
        if (m_historyOpen)
            (void)m_alerts.start(*m_history);
    }
    const int found = findLocalDevice(m_session, m_session.onlyAdapter());
    m_answering.clear();
    for (auto& [mac, known] : m_adapters)
        known.answered = false;
    if (found < 0) {
        const std::string conflict = localConflictText(m_session.texts(), m_session.discoveryResult());
        step.log.push_back(conflict.empty() ? "no powerline device answers" : terminalText(conflict));
    } else {
        const ScanReport report = buildScanRecords(m_session, scanTimeText(false, now));
        if (!report.historyNotice.empty())
            step.log.push_back(terminalText(report.historyNotice));
        if (report.stationListUnread)
            step.log.push_back("the local device answered, but its list of the network's stations could not be read");
        // The device history keeps each new device's name, as after `zrq406 scan`: a device is not renamed by the
        // next scan.
        DeviceRegistry& registry = m_session.registry();
        if (!report.stationListUnread) {
            const FileWriteResult saved = registry.SaveHistory(registry.historyTable().inUseCount);
            if (!saved && !m_saveFailureTold)
                step.log.push_back("the device history could not be written: " + terminalText(saved.error));
            m_saveFailureTold = !saved;
        }
        const ScanTable& scan = m_session.registry().scanTable();
        const LinkTable& links = m_session.linkTable();
        const std::string ledOff = m_session.registry().valueTexts().ledOff;
        const MacAddress local = m_session.discoveryResult().local.mac;
        for (int i = 0; i < std::clamp(scan.count, 0, ScanTable::capacity); ++i) {
            const DeviceRecord& d = scan.entries[i];
            const MacAddress mac = MacAddress::fromText(fieldText(d.mac));
            MonitorAdapter& adapter = m_adapters[mac];
            adapter.mac = mac;
            adapter.name = fieldText(d.name);
            adapter.firmware = fieldText(d.firmware);
            adapter.ownModel = d.isOwnModel != 0;
            adapter.local = mac == local;
            adapter.answered = std::find(report.built.silentStations.begin(), report.built.silentStations.end(),
                                         mac.text()) == report.built.silentStations.end();
            adapter.phyRate = adapter.local ? std::nullopt : rateOf(d.phyRate, sizeof d.phyRate);
            const bool blockRead =
                std::find(report.unreadBlocks.begin(), report.unreadBlocks.end(), mac) == report.unreadBlocks.end();
            adapter.ledOn =
                adapter.answered && blockRead ? std::optional<bool>(fieldText(d.led) != ledOff) : std::nullopt;
            adapter.latestFirmware = latestFirmwareFor(adapter.firmware, m_upgradeVersions);
            adapter.pbErrorRate.reset();
            for (const LinkDirectionHealth& health : report.localHealth)
                if (!adapter.local && health.from == local && health.to == mac)
                    adapter.pbErrorRate = health.pbErrorRate();
            adapter.links.clear();
            for (const LinkRow& row : links.rows)
                if (row.from == mac)
                    adapter.links.push_back({row.to, row.known ? std::optional<std::uint32_t>(row.tx) : std::nullopt,
                                             row.from == local || row.to == local});
            if (adapter.answered) {
                m_forgotten.erase(mac);
                m_answering.insert(mac);
                m_lastSeen[mac] = now;
            }
        }
        m_status.lastScan = now;
        m_status.devices = static_cast<int>(m_answering.size());
    }
    for (auto& [mac, known] : m_adapters)
        if (!known.answered) {
            for (MonitorLinkRate& link : known.links)
                link.rate.reset();
            known.pbErrorRate.reset();
        }

    // The history knows the adapters of earlier runs, and when each was seen last.
    std::vector<DeviceSighting> sightings;
    if (m_historyOpen) {
        std::vector<Alert> alerts;
        if (found >= 0 && m_alerts.newest(*m_history, alerts))
            for (const Alert& alert : alerts) {
                step.log.push_back("alert: " + terminalText(alertText(alert)));
                step.messages.push_back(alertEvent(m_identity, alert));
            }
        if (!m_history->devices(sightings))
            sightings.clear();
    }
    const std::time_t forgetBefore = now - static_cast<std::time_t>(m_forgetAfterDays) * 24 * 60 * 60;
    for (const DeviceSighting& sighting : sightings) {
        // Removed once in this run; the history keeps it until its retention ends.
        if (m_forgotten.count(sighting.mac) != 0 && sighting.lastSeen < forgetBefore)
            continue;
        m_forgotten.erase(sighting.mac);
        auto& lastSeen = m_lastSeen[sighting.mac];
        lastSeen = std::max(lastSeen, sighting.lastSeen);
        if (m_adapters.count(sighting.mac) == 0) {
            MonitorAdapter& adapter = m_adapters[sighting.mac];
            adapter.mac = sighting.mac;
            adapter.name = sighting.name;
            adapter.firmware = sighting.firmware;
            adapter.latestFirmware = latestFirmwareFor(adapter.firmware, m_upgradeVersions);
        }
    }
    std::vector<DeviceSighting> seen;
    std::vector<MacAddress> peers;
    for (const auto& [mac, when] : m_lastSeen) {
        DeviceSighting sighting;
        sighting.mac = mac;
        sighting.lastSeen = when;
        seen.push_back(sighting);
        peers.push_back(mac);
    }
    for (const MacAddress& mac : splitForgotten(seen, now, m_forgetAfterDays).forgotten) {
        step.log.push_back(mac.text() + " was not seen for " + std::to_string(m_forgetAfterDays) +
                           " days: removed from Home Assistant");
        for (MqttMessage& removal : adapterRemovals(m_identity, mac, peers))
            step.messages.push_back(std::move(removal));
        m_adapters.erase(mac);
        m_lastSeen.erase(mac);
        m_forgotten.insert(mac);
        std::erase_if(m_published, [&](const auto& entry) {
            return entry.first.find("/" + nodeOf(mac) + "/") != std::string::npos;
        });
    }
}

void MonitorScanner::addChangedConfigs(MonitorStep& step, bool all) {
    std::vector<MqttMessage> configs = monitorConfigs(m_identity);
    for (const auto& [mac, adapter] : m_adapters)
        for (MqttMessage& config : adapterConfigs(m_identity, adapter))
            configs.push_back(std::move(config));
    for (MqttMessage& config : configs) {
        std::string& published = m_published[config.topic];
        if (!all && published == config.payload)
            continue;
        published = config.payload;
        step.messages.push_back(std::move(config));
    }
}

void MonitorScanner::addStates(MonitorStep& step) {
    step.messages.push_back(monitorState(m_identity, m_status));
    for (const auto& [mac, adapter] : m_adapters)
        for (MqttMessage& state : adapterStates(m_identity, adapter))
            step.messages.push_back(std::move(state));
}

MonitorStep MonitorScanner::run(const MonitorCommand& command) {
    MonitorStep step;
    const std::string what = command.device.text() + " LEDs " + (command.ledOn ? "on" : "off");
    if (programsRunning()) {
        step.log.push_back("command " + what + " refused: the configuration utility or the upgrade tool runs");
        addStates(step);
        return step;
    }
    OperationLease lease = m_session.runner().begin();
    switch (switchLedAndWait(m_session, command.device, command.ledOn)) {
    case LedChange::Done:
        step.log.push_back("command " + what + ": done");
        break;
    case LedChange::Unchanged:
        step.log.push_back("command " + what + ": already so");
        break;
    case LedChange::ReadFailed:
    case LedChange::NoSetting:
        step.log.push_back("command " + what +
                           ": its configuration block could not be read or holds no LED "
                           "setting; nothing was changed");
        break;
    case LedChange::WriteFailed:
        step.log.push_back("command " + what + ": the device did not confirm the new setting");
        break;
    }
    // The state is what the device tells now, whatever the outcome.
    if (auto found = m_adapters.find(command.device); found != m_adapters.end()) {
        mme::ConfigBlock block{};
        found->second.ledOn = m_session.operations().ReadConfigFields(command.device, block)
                                  ? std::optional<bool>(!mme::ledsOff(block))
                                  : std::nullopt;
    }
    addStates(step);
    return step;
}

} // namespace zrq406::app
