#pragma once

#include "mme/confirmations.h"
#include "mme/exchange.h"
#include "platform/mac_address.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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
    // False for a station that the local device lists but that did not answer its own queries.
    bool answered = true;
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
    // False when the local device answered but its station list could not be read (no, late or broken network
    // information answers): the network is unknown, not empty.
    bool stationListRead = true;
    // Every device that answered the local-device address when more than one did. Then none of them is taken for
    // the attached device: anyone on the Ethernet segment can answer that address.
    std::vector<MacAddress> conflictingSources;
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

// The devices that sent `answers`, each once, in the order of their first answer.
std::vector<MacAddress> answerSources(const std::vector<Frame>& answers);

// Finds the device attached to an adapter, its network and the stations of that network.
class Discovery {
public:
    explicit Discovery(Exchange& exchange);

    // The configuration utility's scan of one adapter: true when the local device answered.
    bool ScanNetwork(int adapter, DiscoveryResult& result);
    // The upgrade tool's query of any device of the network (the local one when `device` is null).
    bool QueryDevice(int adapter, const MacAddress* device, LocalNetworkRecord& record);
    // One software version exchange; with no device the request goes to the local-device address, every answer
    // is gathered until the deadline, and more than one answering device fails it (their MACs in the record's
    // conflictingSources, the adapter's local device cleared). The upgrade tool's form retries and takes answers
    // addressed to any host.
    bool QuerySoftwareVersion(const MacAddress* device, LocalNetworkRecord& record, bool upgradeTool = false);
    // One operational attributes exchange: the record's text becomes the platform text followed by the old
    // text without its first 7 characters.
    bool QueryAttributes(const MacAddress& device, LocalNetworkRecord& record);
    // One network information exchange; nothing when it fails or names no network.
    std::optional<NetworkInfoConfirm> QueryNetworkInfo(const MacAddress& device);
    // The network information of a device, asked up to `tries` times while no sound answer comes. A device alone
    // answers with no network: `answered` and no `info`.
    struct NetworkInfoReading {
        bool answered = false;
        std::optional<NetworkInfoConfirm> info;
    };
    NetworkInfoReading ReadNetworkInfo(const MacAddress& device, int tries = kNetworkInfoTries);

    static constexpr int kNetworkInfoTries = 3;

    // Asks every station for its version and then its attributes, all in flight together; returns, per station,
    // its firmware text or nothing when it did not answer both. The upgrade tool's form asks as its software version
    // exchange does (silent stations again, with longer waits) and keeps the version text of a station whose
    // attributes do not come.
    std::vector<std::optional<std::string>> QueryFirmwareTexts(const std::vector<MacAddress>& stations,
                                                               bool upgradeTool = false);

private:
    // Every station's software version confirmation, asked all at once (nothing for a station that stays silent).
    std::vector<std::optional<Frame>> askVersions(const std::vector<MacAddress>& stations, bool upgradeTool);

    Exchange& m_exchange;
};

} // namespace zrq406::mme
