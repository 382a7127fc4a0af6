#include "mme/discovery.h"

#include "mme/confirmations.h"
#include "platform/text_field.h"

#include <algorithm>

namespace zrq406::mme {

namespace {

bool inStationTable(const StationTable& table, const MacAddress& mac, const StationRecord** found) {
    for (int i = 0; i < table.count; ++i) {
        if (table.entries[static_cast<std::size_t>(i)].mac == mac) {
            *found = &table.entries[static_cast<std::size_t>(i)];
            return true;
        }
    }
    return false;
}

void storeNetworkFields(const NetworkInfoConfirm& info, LocalNetworkRecord& record) {
    record.tei = info.tei;
    record.nid = info.nid;
    record.snid = info.snid;
    record.ccoMac = info.ccoMac;
    record.ccoTei = info.ccoTei;
}

} // namespace

Discovery::Discovery(Exchange& exchange) : m_exchange(exchange) {}

bool Discovery::QuerySoftwareVersion(const MacAddress* device, LocalNetworkRecord& record, bool upgradeTool) {
    link::AdapterRecord* adapter = m_exchange.adapters().current();
    if (adapter == nullptr)
        return false;
    const MacAddress destination = device ? *device : MacAddress::localDevice();
    const Frame request = buildSoftwareVersionRequest(destination, adapter->hostMac);
    const auto frame = upgradeTool ? m_exchange.runRetrying(request, MmType::SoftwareVersion)
                                   : m_exchange.run(request, MmType::SoftwareVersion, timing::kSoftwareVersion);
    if (!frame)
        return false;
    const auto confirm = parseSoftwareVersion(*frame);
    if (!confirm || confirm->status != 0)
        return false;
    record.mac = confirm->source;
    copyToField(record.text, confirm->version);
    if (device == nullptr) {
        adapter->localDeviceMac = confirm->source;
        record.reachedThrough = confirm->source;
    } else {
        record.reachedThrough = adapter->localDeviceMac;
    }
    return true;
}

bool Discovery::QueryAttributes(const MacAddress& device, LocalNetworkRecord& record) {
    const link::AdapterRecord* adapter = m_exchange.adapters().current();
    if (adapter == nullptr)
        return false;
    const Frame request = buildAttributesRequest(device, adapter->hostMac);
    const auto frame = m_exchange.run(request, MmType::Attributes, timing::kAttributes);
    if (!frame)
        return false;
    const auto confirm = parseAttributes(*frame);
    if (!confirm || confirm->status != 0)
        return false;
    // The version text starts with a 7-character chip word, which the platform text replaces.
    const std::string old = fieldText(record.text);
    const std::string rest = old.size() > 7 ? old.substr(7) : std::string();
    copyToField(record.text, confirm->platform + rest);
    return true;
}

std::optional<NetworkInfoConfirm> Discovery::QueryNetworkInfo(const MacAddress& device) {
    const link::AdapterRecord* adapter = m_exchange.adapters().current();
    if (adapter == nullptr)
        return std::nullopt;
    const Frame request = buildNetworkInfoRequest(device, adapter->hostMac);
    const auto frame = m_exchange.run(request, MmType::NetworkInfo, timing::kNetworkInfo);
    if (!frame)
        return std::nullopt;
    auto confirm = parseNetworkInfo(*frame);
    if (!confirm || confirm->networks == 0)
        return std::nullopt;
    return confirm;
}

bool Discovery::ScanNetwork(int adapter, DiscoveryResult& result) {
    auto& adapters = m_exchange.adapters();
    if (adapter < 0 || adapter >= adapters.count())
        return false;
    adapters.setCurrentAdapter(adapter);
    LocalNetworkRecord& local = result.local;
    if (!QuerySoftwareVersion(nullptr, local))
        return false;
    const MacAddress localMac = adapters.record(adapter).localDeviceMac;
    QueryAttributes(localMac, local);

    if (const auto first = QueryNetworkInfo(localMac)) {
        const std::size_t n = std::min<std::size_t>(first->stations.size(), kMaxStations);
        for (std::size_t i = 0; i < n; ++i)
            local.stations[i].mac = first->stations[i].mac;
        local.stationCount = static_cast<std::uint32_t>(n);
    }

    StationTable& table = result.stationTable;
    table = StationTable{};
    const MacAddress host = adapters.record(adapter).hostMac;
    for (std::uint32_t i = 0; i < local.stationCount; ++i) {
        const MacAddress station = local.stations[i].mac;
        adapters.SendFrame(buildProbeFrame(station, host));
        LocalNetworkRecord scratch;
        if (QuerySoftwareVersion(&station, scratch) && QueryAttributes(station, scratch) &&
            table.count < kMaxStations) {
            auto& entry = table.entries[static_cast<std::size_t>(table.count++)];
            entry.mac = station;
            copyToField(entry.text, fieldText(scratch.text));
        }
    }

    if (const auto second = QueryNetworkInfo(localMac)) {
        storeNetworkFields(*second, local);
        std::uint32_t written = 0;
        for (const auto& station : second->stations) {
            const StationRecord* answered = nullptr;
            if (station.mac == MacAddress::broadcast() || !inStationTable(table, station.mac, &answered))
                continue;
            if (written >= kMaxStations)
                break;
            StationRecord& entry = local.stations[written++];
            entry.mac = station.mac;
            entry.tei = station.tei;
            entry.bridgedMac = station.bridgedMac;
            entry.transmitRate = station.averageTxRate;
            entry.receiveRate = station.averageRxRate;
            std::copy(std::begin(answered->text), std::end(answered->text), std::begin(entry.text));
        }
        local.stationCount = written;
    }
    return true;
}

bool Discovery::QueryDevice(int adapter, const MacAddress* device, LocalNetworkRecord& record) {
    auto& adapters = m_exchange.adapters();
    if (adapter < 0 || adapter >= adapters.count())
        return false;
    adapters.setCurrentAdapter(adapter);
    if (!QuerySoftwareVersion(device, record, true))
        return false;
    const MacAddress target = device ? *device : adapters.record(adapter).localDeviceMac;
    QueryAttributes(target, record);
    if (const auto info = QueryNetworkInfo(target)) {
        storeNetworkFields(*info, record);
        std::uint32_t kept = 0;
        for (const auto& station : info->stations) {
            if (station.mac == MacAddress::broadcast() || kept >= kMaxStations)
                continue;
            LocalNetworkRecord scratch;
            if (!QuerySoftwareVersion(&station.mac, scratch, true))
                continue;
            StationRecord& entry = record.stations[kept++];
            entry = StationRecord{};
            entry.mac = station.mac;
            entry.tei = station.tei;
            entry.bridgedMac = station.bridgedMac;
            entry.transmitRate = station.averageTxRate;
            entry.receiveRate = station.averageRxRate;
        }
        record.stationCount = kept;
    }
    return true;
}

} // namespace zrq406::mme
