#include "app/scan_cycle.h"

#include "app/device_actions.h"
#include "app/device_password_table.h"
#include "app/session.h"
#include "mme/key_derivation.h"
#include "platform/text_field.h"
#include "uitext/load_ui_setting.h"
#include "uitext/placeholders.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <utility>

namespace zrq406::app {

int findLocalDevice(Session& session, int only) {
    auto& result = session.discoveryResult();
    if (!session.isOpen()) {
        result.clear();
        return -1;
    }
    auto& adapters = session.adapters();
    for (int i = 0; i < adapters.count(); ++i) {
        if (only >= 0 && i != only)
            continue;
        result.clear();
        if (session.discovery().ScanNetwork(i, result)) {
            // It alone answered the local-device address, and its network information came from its own MAC.
            if (result.local.stationListRead)
                session.noteLocalDeviceConfirmed();
            return i;
        }
        // Two devices answer as the attached one: the scan stops here with them named, and no adapter is current.
        if (!result.local.conflictingSources.empty())
            return -1;
    }
    result.clear();
    return -1;
}

ScanReport buildScanRecords(Session& session, const std::string& lastScanTime, const DevicePasswordTable* passwords) {
    ScanReport report;
    if (!session.hasCurrentAdapter())
        return report;
    report.found = true;
    report.adapter = session.adapters().currentAdapter();
    const auto& result = session.discoveryResult();
    auto& operations = session.operations();
    // Without the station list the network is unknown: the last tables stand rather than a network of one.
    if (!result.local.stationListRead) {
        report.stationListUnread = true;
        return report;
    }

    // Each device's configuration block gives its product, LED state and (for the local one) network key. The
    // local device and every station that answered are read together; a silent station is listed, not read.
    const MacAddress localMac = result.local.mac;
    const std::uint32_t stationCount = std::min<std::uint32_t>(result.local.stationCount, mme::kMaxStations);
    std::vector<MacAddress> readFrom{localMac};
    std::vector<std::size_t> blockOf(stationCount, 0);
    for (std::uint32_t i = 0; i < stationCount; ++i) {
        if (!result.local.stations[i].answered)
            continue;
        blockOf[i] = readFrom.size();
        readFrom.push_back(result.local.stations[i].mac);
    }
    std::vector<mme::ConfigBlock> blocks(readFrom.size());
    const auto problems = operations.ReadConfigFieldsOf(readFrom, blocks);
    const auto blockAt = [&](std::size_t k) -> std::optional<std::span<const std::uint8_t>> {
        if (problems[k] != mme::BlockProblem::None) {
            report.unreadBlocks.push_back(readFrom[k]);
            return std::nullopt;
        }
        return std::span<const std::uint8_t>(blocks[k]);
    };

    LocalDeviceData local{localMac, fieldText(result.local.text), blockAt(0)};
    std::vector<StationData> stations;
    for (std::uint32_t i = 0; i < stationCount; ++i) {
        const auto& station = result.local.stations[i];
        stations.push_back({station.mac, static_cast<std::uint8_t>(station.transmitRate), fieldText(station.text),
                            station.answered ? blockAt(blockOf[i]) : std::nullopt, station.answered});
    }

    DeviceRegistry& registry = session.registry();
    registry.reloadValueTexts(session.texts());
    report.built = registry.buildScanTable(local, stations, lastScanTime, mme::kDefaultNmk);
    if (passwords != nullptr) {
        ScanTable& scan = registry.scanTable();
        for (int i = 0; i < scan.count; ++i)
            if (const auto password = passwords->find(fieldText(scan.entries[i].mac)))
                copyToField(scan.entries[i].password, *password);
    }
    // Every link of the network, asked within the same operation (all stations at once): the session keeps the
    // table for the map, the link commands and the report, and the history keeps every link of every scan.
    const LinkTable& links = readLinkTable(session);
    // The local device's links also keep their PB error rate: one more question to each station that answered.
    std::vector<MacAddress> answering;
    for (const MacAddress& station : links.stations) {
        if (std::find(links.silent.begin(), links.silent.end(), station) == links.silent.end())
            answering.push_back(station);
    }
    // The history keeps the PB error rate of the frames since the last scan.
    std::vector<LinkDirectionHealth> reading = readLocalLinkHealth(session, answering);
    report.localHealth = countedSince(reading, session.lastLocalHealth());
    session.lastLocalHealth() = std::move(reading);
    report.historyNotice = session.scanRecorder().record(
        historyScanOf(result, registry.scanTable(), links, std::time(nullptr), report.localHealth), session.texts());
    return report;
}

HistoryScan historyScanOf(const mme::DiscoveryResult& result, const ScanTable& scan, const LinkTable& links,
                          std::time_t when, const std::vector<LinkDirectionHealth>& health) {
    HistoryScan history;
    history.when = when;
    const auto& local = result.local;
    const std::uint32_t stationCount = std::min<std::uint32_t>(local.stationCount, mme::kMaxStations);
    const auto answered = [&](const MacAddress& mac) {
        for (std::uint32_t i = 0; i < stationCount; ++i)
            if (local.stations[i].mac == mac)
                return local.stations[i].answered;
        return true;
    };
    for (int i = 0; i < std::clamp(scan.count, 0, ScanTable::capacity); ++i) {
        const DeviceRecord& d = scan.entries[i];
        const MacAddress mac = MacAddress::fromText(fieldText(d.mac));
        if (std::none_of(history.devices.begin(), history.devices.end(), [&](const auto& k) { return k.mac == mac; }))
            history.devices.push_back({mac, fieldText(d.name), fieldText(d.firmware), answered(mac)});
    }
    // A link of a device to itself, or one stored twice in a scan, would read as a link down.
    const auto addLink = [&](HistoryLinkRow link) {
        if (link.from == link.to || std::any_of(history.links.begin(), history.links.end(),
                                                [&](const auto& k) { return k.from == link.from && k.to == link.to; }))
            return;
        for (const LinkDirectionHealth& h : health) {
            if (h.from == link.from && h.to == link.to)
                link.pbErrorRate = h.pbErrorRate();
        }
        history.links.push_back(link);
    };
    if (!links.rows.empty()) {
        for (const LinkRow& row : links.rows)
            addLink({row.from, row.to, row.tx, row.rx, row.known});
        return history;
    }
    for (std::uint32_t i = 0; i < stationCount; ++i) {
        const auto& station = local.stations[i];
        addLink({local.mac, station.mac, phyRateOfField(static_cast<std::uint8_t>(station.transmitRate)),
                 phyRateOfField(static_cast<std::uint8_t>(station.receiveRate)), station.answered});
    }
    return history;
}

ScanReport runScan(Session& session, const std::string& lastScanTime, const DevicePasswordTable* passwords) {
    if (findLocalDevice(session, session.onlyAdapter()) < 0)
        return {};
    return buildScanRecords(session, lastScanTime, passwords);
}

std::string localConflictText(CLoadUISetting& texts, const mme::DiscoveryResult& result) {
    const auto& sources = result.local.conflictingSources;
    if (sources.empty())
        return {};
    return fillPlaceholders(texts.LoadPageCaption("ZRQ406", "Messages", kLocalConflict, "Text"),
                            {macListText(sources)});
}

std::string scanTimeText(bool german, std::time_t when) {
    static const char* const kGermanMonths[12] = {"Jan", "Feb", "Mär", "Apr", "Mai", "Jun",
                                                  "Jul", "Aug", "Sep", "Okt", "Nov", "Dez"};
    static const char* const kEnglishMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm local{};
    localtime_r(&when, &local);
    char text[32];
    if (german)
        std::snprintf(text, sizeof text, "%02d %s %02d:%02d", local.tm_mday, kGermanMonths[local.tm_mon], local.tm_hour,
                      local.tm_min);
    else
        std::snprintf(text, sizeof text, "%s %02d %02d:%02d", kEnglishMonths[local.tm_mon], local.tm_mday,
                      local.tm_hour, local.tm_min);
    return text;
}

std::string networkTypeText(CLoadUISetting& texts, const ScanBuildResult& built) {
    if (!built.localKeyIsDefault)
        return {};
    return texts.LoadPageCaption("ZRQ406", "NetworkTab", "lblNetworkType",
                                 *built.localKeyIsDefault ? "Text2" : "Text3");
}

std::string historyFullNotice(CLoadUISetting& texts, const ScanReport& report, int& lastTold) {
    const int left = report.built.notInHistory;
    const bool due = left > lastTold;
    lastTold = left;
    if (!due)
        return {};
    return fillPlaceholders(texts.LoadPageCaption("ZRQ406", "Messages", kHistoryFull, "Text"), {std::to_string(left)});
}

} // namespace zrq406::app
