#pragma once

#include "mme/confirmations.h"
#include "platform/mac_address.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zrq406::app {

class Session;

// The average PHY rate (Mbit/s) of a one-byte rate field of the network information, as the device list shows it.
constexpr std::uint32_t phyRateOfField(std::uint8_t field) {
    return field * 21u / 16u;
}

// One ordered pair of stations as the first of them sees it: `tx` is its average PHY rate towards `to`, `rx` its
// average PHY rate from `to` (Mbit/s, phyRateOfField: the same figures as the device list). Unknown when `from` did not
// answer: its rates are not zero, they were never told.
struct LinkRow {
    MacAddress from;
    MacAddress to;
    std::uint32_t tx = 0;
    std::uint32_t rx = 0;
    bool known = false;
    // `from` answered but does not list `to`: it has no link to it (rates 0).
    bool listed = false;
};

// The rates of every ordered pair of a network's stations.
struct LinkTable {
    std::vector<MacAddress> stations; // the local device first, then the scan's stations
    std::vector<std::string> names;   // each station's name from the scan table ("" when it has none)
    std::vector<LinkRow> rows;        // every ordered pair, in station order
    std::vector<MacAddress> silent;   // stations that did not answer
    // The largest rate the devices' rate fields can tell: the network information message has one byte per rate,
    // so this reads as "this or more".
    std::uint32_t rateFieldMax = phyRateOfField(255);

    // The station's name, or its MAC text when it has none.
    std::string label(const MacAddress& mac) const;
};

// The rate of a link's weaker direction.
std::uint32_t weakerRate(const LinkRow& row);
// True when the weaker direction is the one towards `to` (ties count as the transmit side).
bool transmitIsWeaker(const LinkRow& row);
// Known links first, by their weaker rate, then unknown ones; ties keep station order.
std::vector<LinkRow> sortedWeakestFirst(std::vector<LinkRow> rows);
// A rate as shown to users: "≥334" for a value at the field's maximum, since the field cannot tell more.
std::string rateText(std::uint32_t rate, std::uint32_t fieldMax);

// Builds the table from each station's own network information (nothing for a station that did not answer; an
// answer with no network lists no station). A station handed in twice is taken once, with its first answer.
LinkTable buildLinkTable(const std::vector<MacAddress>& stations,
                         const std::vector<std::optional<mme::NetworkInfoConfirm>>& answers);

// Asks the local device and every station of the last scan for its network information, all in flight together
// under one deadline, and builds the table, with the names of the scan table. Call it after a scan while holding
// the session's operation runner; an empty table when the scan found no device. The session keeps it.
LinkTable readLinkTable(Session& session);

} // namespace zrq406::app
