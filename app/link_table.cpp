#include "app/link_table.h"

#include "app/session.h"
#include "mme/frame_builder.h"
#include "platform/text_field.h"

#include <algorithm>

namespace zrq406::app {

std::string LinkTable::label(const MacAddress& mac) const {
    for (std::size_t i = 0; i < stations.size(); ++i) {
        if (stations[i] == mac && i < names.size() && !names[i].empty())
            return names[i];
    }
    return mac.text();
}

std::uint32_t weakerRate(const LinkRow& row) {
    return std::min(row.tx, row.rx);
}

bool transmitIsWeaker(const LinkRow& row) {
    return row.tx <= row.rx;
}

std::vector<LinkRow> sortedWeakestFirst(std::vector<LinkRow> rows) {
    std::stable_sort(rows.begin(), rows.end(), [](const LinkRow& a, const LinkRow& b) {
        if (a.known != b.known)
            return a.known;
        return a.known && weakerRate(a) < weakerRate(b);
    });
    return rows;
}

std::string rateText(std::uint32_t rate, std::uint32_t fieldMax) {
    return (rate >= fieldMax ? "\u2265" : "") + std::to_string(rate);
}

LinkTable buildLinkTable(const std::vector<MacAddress>& stations,
                         const std::vector<std::optional<mme::NetworkInfoConfirm>>& answers) {
    LinkTable table;
    // Each station once, with its first answer: a repeat would make links of a device to itself and second rows.
    std::vector<const mme::NetworkInfoConfirm*> answerOf;
    for (std::size_t i = 0; i < stations.size(); ++i) {
        if (std::find(table.stations.begin(), table.stations.end(), stations[i]) != table.stations.end())
            continue;
        table.stations.push_back(stations[i]);
        answerOf.push_back(i < answers.size() && answers[i] ? &*answers[i] : nullptr);
    }
    table.names.assign(table.stations.size(), std::string());
    for (std::size_t i = 0; i < table.stations.size(); ++i) {
        const auto* answer = answerOf[i];
        if (answer == nullptr)
            table.silent.push_back(table.stations[i]);
        for (std::size_t j = 0; j < table.stations.size(); ++j) {
            if (i == j)
                continue;
            LinkRow row;
            row.from = table.stations[i];
            row.to = table.stations[j];
            row.known = answer != nullptr;
            if (answer != nullptr && answer->networks != 0) {
                const auto it = std::find_if(answer->stations.begin(), answer->stations.end(),
                                             [&](const mme::NetworkStation& s) { return s.mac == row.to; });
                if (it != answer->stations.end()) {
                    row.listed = true;
                    row.tx = phyRateOfField(it->averageTxRate);
                    row.rx = phyRateOfField(it->averageRxRate);
                }
            }
            table.rows.push_back(row);
        }
    }
    return table;
}

LinkTable readLinkTable(Session& session) {
    const mme::LocalNetworkRecord& local = session.discoveryResult().local;
    const link::AdapterRecord* adapter = session.isOpen() ? session.adapters().current() : nullptr;
    if (adapter == nullptr || local.mac == MacAddress{}) {
        session.linkTable() = LinkTable{};
        return {};
    }
    std::vector<MacAddress> stations{local.mac};
    for (std::uint32_t i = 0; i < local.stationCount && i < mme::kMaxStations; ++i) {
        if (std::find(stations.begin(), stations.end(), local.stations[i].mac) == stations.end())
            stations.push_back(local.stations[i].mac);
    }

    std::vector<mme::Frame> requests;
    for (const MacAddress& station : stations)
        requests.push_back(mme::buildNetworkInfoRequest(station, adapter->hostMac));
    const auto frames = session.exchange().runAll(requests, mme::timing::kNetworkInfo);
    std::vector<std::optional<mme::NetworkInfoConfirm>> answers;
    for (const auto& frame : frames)
        answers.push_back(frame ? mme::parseNetworkInfo(*frame) : std::nullopt);

    LinkTable table = buildLinkTable(stations, answers);
    const ScanTable& scan = session.registry().scanTable();
    for (std::size_t i = 0; i < table.stations.size(); ++i) {
        for (int k = 0; k < scan.count; ++k) {
            if (MacAddress::parse(fieldText(scan.entries[k].mac)) == table.stations[i])
                table.names[i] = fieldText(scan.entries[k].name);
        }
    }
    session.linkTable() = table;
    return table;
}

} // namespace zrq406::app
