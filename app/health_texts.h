#pragma once

#include "app/link_health.h"
#include "registry/list_rows.h"

#include <string>
#include <vector>

namespace zrq406 {
class CLoadUISetting;
}

namespace zrq406::app {

// The utility's words for link health and carriers (/ZRQ406/LinkDetails), for its windows and the report.
struct HealthTexts {
    std::string heading;              // the health table's heading (the Diagnostics tab, the report)
    std::vector<std::string> columns; // from, to, rate, PB error rate, MPDU failure rate, collisions, FEC
    std::string unknown;              // a figure nobody told
    std::string weakest;              // heads the weakest link's carriers: "%s", "%s" its ends
    std::string summary;              // active, all, mean bits, rate
    std::string noBands;              // a map without lost bands
    std::string noMap;                // a link without a carrier map yet
    std::string noCarrierMap;         // "%s" does not offer carrier maps
    std::string noAnswer;             // the devices could not be read
    HealthWords words;                // bands, and devices that do not offer statistics or did not answer
    bool german = false;              // decimal commas

    static HealthTexts load(CLoadUISetting& texts, bool german);
};

// A number with `decimals` decimals, with a decimal comma in German.
std::string decimalText(double value, int decimals, bool german);

// The health table's rows, weakest first, in the texts' columns; rates of loss in percent, unknown in words.
ListRows healthRows(const HealthTable& table, const HealthTexts& texts);

// A carrier map in words: what share of the carriers carry data, their mean bits and rate, and each lost band on a
// line of its own ("10.2-13.9 MHz carry no data."). `outcome` other than Read says why there is no map.
std::string carrierSummaryText(const CarrierMap& map, CarrierMapOutcome outcome, const std::string& receiverLabel,
                               const HealthTexts& texts, std::optional<int> slot = std::nullopt);

// The lines that tell of devices without statistics and silent ones, once each.
std::vector<std::string> healthNotes(const HealthTable& table, const HealthTexts& texts);

} // namespace zrq406::app
