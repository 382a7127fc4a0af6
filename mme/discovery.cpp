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
    record.conflictingSources.clear();
    if (device == nullptr)
        adapter->localDeviceMac = MacAddress{};
    const MacAddress destination = device ? *device : MacAddress::localDevice();
    const Frame request = buildSoftwareVersionRequest(destination, adapter->hostMac);
    std::vector<Frame> answers;
    if (device == nullptr) {
        answers = upgradeTool ? m_exchange.runRetryingGathering(request)
                              : m_exchange.runGathering(request, timing::kSoftwareVersion);
    } else if (auto frame = upgradeTool ? m_exchange.runRetrying(request, MmType::SoftwareVersion)
                                        : m_exchange.run(request, MmType::SoftwareVersion, timing::kSoftwareVersion)) {
        answers.push_back(std::move(*frame));
    }
    const std::vector<MacAddress> sources = answerSources(answers);
    if (sources.size() > 1) {
        record.conflictingSources = sources;
        return false;
    }
    std::optional<SoftwareVersionConfirm> confirm;
    for (const Frame& frame : answers) {
        confirm = parseSoftwareVersion(frame);
        if (confirm && confirm->status == 0)
            break;
    }
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

std::vector<MacAddress> answerSources(const std::vector<Frame>& answers) {
    std::vector<MacAddress> sources;
    for (const Frame& frame : answers) {
        const auto source = ByteReader(frame).mac(hdr::kSource);
        if (source && std::find(sources.begin(), sources.end(), *source) == sources.end())
            sources.push_back(*source);
    }
    return sources;
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

Discovery::NetworkInfoReading Discovery::ReadNetworkInfo(const MacAddress& device, int tries) {
    NetworkInfoReading reading;
    const link::AdapterRecord* adapter = m_exchange.adapters().current();
    if (adapter == nullptr)
        return reading;
    const Frame request = buildNetworkInfoRequest(device, adapter->hostMac);
    for (int i = 0; i < tries; ++i) {
        const auto frame = m_exchange.run(request, MmType::NetworkInfo, timing::kNetworkInfo);
        auto confirm = frame ? parseNetworkInfo(*frame) : std::nullopt;
        if (!confirm)
            continue;
        reading.answered = true;
        if (confirm->networks != 0)
            reading.info = std::move(confirm);
        return reading;
    }
    return reading;
}

std::vector<std::optional<Frame>> Discovery::askVersions(const std::vector<MacAddress>& stations, bool upgradeTool) {
    std::vector<std::optional<Frame>> answers(stations.size());
    const link::AdapterRecord* adapter = m_exchange.adapters().current();
    if (adapter == nullptr || stations.empty())
        return answers;
    const MacAddress host = adapter->hostMac;
    std::vector<Frame> requests;
    for (const MacAddress& station : stations)
        requests.push_back(buildSoftwareVersionRequest(station, host));
    if (!upgradeTool)
        return m_exchange.runAll(requests, timing::kSoftwareVersion);
    // The upgrade tool's form: the stations still silent are asked again with a longer wait, and answers addressed
    // to any host count.
    std::vector<std::size_t> silent(stations.size());
    for (std::size_t i = 0; i < silent.size(); ++i)
        silent[i] = i;
    for (double wait = timing::kRetryFirstWaitMs; wait <= timing::kRetryLastWaitMs && !silent.empty();
         wait += timing::kRetryStepMs) {
        std::vector<Frame> round;
        for (const std::size_t i : silent)
            round.push_back(requests[i]);
        auto got = m_exchange.runAll(round, ExchangeTiming{wait, false});
        std::vector<std::size_t> still;
        for (std::size_t k = 0; k < silent.size(); ++k) {
            if (got[k])
                answers[silent[k]] = std::move(got[k]);
            else
                still.push_back(silent[k]);
        }
        silent = std::move(still);
    }
    return answers;
}

std::vector<std::optional<std::string>> Discovery::QueryFirmwareTexts(const std::vector<MacAddress>& stations,
                                                                      bool upgradeTool) {
    std::vector<std::optional<std::string>> texts(stations.size());
    const link::AdapterRecord* adapter = m_exchange.adapters().current();
    if (adapter == nullptr || stations.empty())
        return texts;
    const MacAddress host = adapter->hostMac;
    if (!upgradeTool)
        for (const MacAddress& station : stations)
            m_exchange.adapters().SendFrame(buildProbeFrame(station, host));
    const auto versions = askVersions(stations, upgradeTool);

    std::vector<std::size_t> asked;
    std::vector<Frame> requests;
    for (std::size_t i = 0; i < stations.size(); ++i) {
        const auto confirm = versions[i] ? parseSoftwareVersion(*versions[i]) : std::nullopt;
        if (!confirm || confirm->status != 0)
            continue;
        texts[i] = confirm->version;
        asked.push_back(i);
        requests.push_back(buildAttributesRequest(stations[i], host));
    }
    const auto attributes = m_exchange.runAll(requests, timing::kAttributes);
    for (std::size_t k = 0; k < asked.size(); ++k) {
        std::optional<std::string>& text = texts[asked[k]];
        const auto confirm = attributes[k] ? parseAttributes(*attributes[k]) : std::nullopt;
        if (!confirm || confirm->status != 0) {
            // The upgrade tool goes on with the version text alone.
            if (!upgradeTool)
                text.reset();
            continue;
        }
        // The version text starts with a 7-character chip word, which the platform text replaces.
        char field[206] = {};
        copyToField(field, *text);
        const std::string old = fieldText(field);
        *text = confirm->platform + (old.size() > 7 ? old.substr(7) : std::string());
    }
    return texts;
}

bool Discovery::ScanNetwork(int adapter, DiscoveryResult& result) {
    auto& adapters = m_exchange.adapters();
    if (adapter < 0 || adapter >= adapters.count())
        return false;
    adapters.setCurrentAdapter(adapter);
    LocalNetworkRecord& local = result.local;
    if (!QuerySoftwareVersion(nullptr, local)) {
        // With two devices answering as the attached one, nothing may go out on this adapter.
        if (!local.conflictingSources.empty())
            adapters.setCurrentAdapter(-1);
        return false;
    }
    const MacAddress localMac = adapters.record(adapter).localDeviceMac;
    QueryAttributes(localMac, local);

    const NetworkInfoReading first = ReadNetworkInfo(localMac);
    if (!first.answered) {
        local.stationListRead = false;
        return true;
    }
    std::vector<MacAddress> stations;
    if (first.info) {
        for (const auto& station : first.info->stations) {
            if (station.mac != MacAddress::broadcast() && stations.size() < kMaxStations)
                stations.push_back(station.mac);
        }
    }
    const auto texts = QueryFirmwareTexts(stations);

    StationTable& table = result.stationTable;
    table = StationTable{};
    for (std::size_t i = 0; i < stations.size(); ++i) {
        if (!texts[i])
            continue;
        auto& entry = table.entries[static_cast<std::size_t>(table.count++)];
        entry.mac = stations[i];
        copyToField(entry.text, *texts[i]);
    }

    // The rates are read again now that every station was asked; where that answer fails, the first one serves.
    const NetworkInfoReading second = ReadNetworkInfo(localMac);
    const std::optional<NetworkInfoConfirm>& info = second.answered ? second.info : first.info;
    std::uint32_t written = 0;
    if (info) {
        storeNetworkFields(*info, local);
        for (const auto& station : info->stations) {
            if (station.mac == MacAddress::broadcast() || written >= kMaxStations)
                continue;
            const StationRecord* answered = nullptr;
            const bool listed = inStationTable(table, station.mac, &answered);
            // A station that joined after the queries was never asked; it shows at the next scan.
            if (!listed && std::find(stations.begin(), stations.end(), station.mac) == stations.end())
                continue;
            StationRecord& entry = local.stations[written++];
            entry = StationRecord{};
            entry.mac = station.mac;
            entry.tei = station.tei;
            entry.bridgedMac = station.bridgedMac;
            entry.transmitRate = station.averageTxRate;
            entry.receiveRate = station.averageRxRate;
            entry.answered = listed;
            if (listed)
                std::copy(std::begin(answered->text), std::end(answered->text), std::begin(entry.text));
        }
    }
    local.stationCount = written;
    return true;
}

bool Discovery::QueryDevice(int adapter, const MacAddress* device, LocalNetworkRecord& record) {
    auto& adapters = m_exchange.adapters();
    if (adapter < 0 || adapter >= adapters.count())
        return false;
    adapters.setCurrentAdapter(adapter);
    if (!QuerySoftwareVersion(device, record, true)) {
        if (!record.conflictingSources.empty())
            adapters.setCurrentAdapter(-1);
        return false;
    }
    const MacAddress target = device ? *device : adapters.record(adapter).localDeviceMac;
    QueryAttributes(target, record);
    if (const auto info = QueryNetworkInfo(target)) {
        storeNetworkFields(*info, record);
        std::vector<const NetworkStation*> listed;
        std::vector<MacAddress> macs;
        for (const auto& station : info->stations) {
            if (station.mac != MacAddress::broadcast() && listed.size() < kMaxStations) {
                listed.push_back(&station);
                macs.push_back(station.mac);
            }
        }
        // Every station asked at once; only those that answer are kept.
        const auto versions = askVersions(macs, true);
        std::uint32_t kept = 0;
        for (std::size_t i = 0; i < listed.size(); ++i) {
            const auto confirm = versions[i] ? parseSoftwareVersion(*versions[i]) : std::nullopt;
            if (!confirm || confirm->status != 0)
                continue;
            const NetworkStation& station = *listed[i];
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
