#pragma once

#include "mme/exchange.h"
#include "platform/mac_address.h"

#include <array>
#include <cstdint>
#include <optional>

namespace zrq406::mme {

constexpr int kMaxStations = 100;

// One station of the powerline network.
struct StationRecord {
    MacAddress mac;
    std::uint8_t tei = 0;
    MacAddress bridgedMac;
    std::uint32_t transmitRate = 0;
    std::uint32_t receiveRate = 0;
    char text[129] = {}; // the station's firmware text (configuration utility only)
};

// What discovery learnt about the device behind one adapter and its network.
struct LocalNetworkRecord {
    MacAddress mac;
    char text[206] = {};
    std::uint8_t tei = 0;
    MacAddress reachedThrough;
    std::array<std::uint8_t, 7> nid{};
    std::uint8_t snid = 0;
    MacAddress ccoMac;
    std::uint8_t ccoTei = 0;
    std::uint32_t stationCount = 0;
    std::array<StationRecord, kMaxStations> stations{};
};

// The stations that answered their own queries during the last scan (configuration utility).
struct StationTable {
    std::array<StationRecord, kMaxStations> entries{};
    int count = 0;
};

// The result of the last discovery run; overwritten by each run.
struct DiscoveryResult {
    LocalNetworkRecord local;
    StationTable stationTable;
    void clear() { *this = DiscoveryResult{}; }
};

// Finds the device attached to an adapter, its network and the stations of that network.
class Discovery {
public:
    explicit Discovery(Exchange& exchange);

    // The configuration utility's scan of one adapter: true when the local device answered.
    bool ScanNetwork(int adapter, DiscoveryResult& result);
    // The upgrade tool's query of any device of the network (the local one when `device` is null).
    bool QueryDevice(int adapter, const MacAddress* device, LocalNetworkRecord& record);
    // One software version exchange; with no device the request goes to the local-device address. The
    // upgrade tool's form retries and takes answers addressed to any host.
    bool QuerySoftwareVersion(const MacAddress* device, LocalNetworkRecord& record, bool upgradeTool = false);
    // One operational attributes exchange: the record's text becomes the platform text followed by the old
    // text without its first 7 characters.
    bool QueryAttributes(const MacAddress& device, LocalNetworkRecord& record);
    // One network information exchange; nothing when it fails or names no network.
    std::optional<struct NetworkInfoConfirm> QueryNetworkInfo(const MacAddress& device);

private:
    Exchange& m_exchange;
};

} // namespace zrq406::mme
