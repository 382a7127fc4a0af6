#pragma once

#include "app/link_table.h"
#include "mme/confirmations.h"
#include "platform/mac_address.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zrq406::app {

class Session;

// One direction of a link, from -> to, with what both ends counted of it. Every figure is unknown (nothing) when
// neither end told its counters, or when they count no traffic yet.
struct LinkDirectionHealth {
    MacAddress from;
    MacAddress to;
    std::uint32_t rate = 0; // from's average PHY rate towards `to` (Mbit/s, as the link table); 0 when not told
    bool rateKnown = false; // `from` answered its network information and lists `to`
    std::optional<mme::TransmitCounters> sent{};    // as `from` counted its frames to `to`
    std::optional<mme::ReceiveCounters> received{}; // as `to` counted the frames from `from`

    // PBs failed / (passed + failed), 0..1: from the receiver's counters, else from the sender's.
    std::optional<double> pbErrorRate() const;
    // MPDUs failed / (acknowledged + failed), 0..1: from the receiver's counters, else from the sender's.
    std::optional<double> mpduFailureRate() const;
    // MPDUs collided / all MPDUs sent, 0..1 (the sender alone counts collisions).
    std::optional<double> collisionRate() const;
    // The bits that forward error correction mended or could not, in percent of the bits received:
    // 100 x (bit-error sums passed + failed) / (8 x 520 x (PBs passed + failed)).
    std::optional<double> fecBitErrorRate() const;
    // The same as a fraction, 0..1, for texts that show every rate of loss as a percentage.
    std::optional<double> fecBitErrorShare() const {
        const auto percent = fecBitErrorRate();
        return percent ? std::optional<double>(*percent / 100.0) : std::nullopt;
    }
    // True when either end told its counters.
    bool counted() const { return sent.has_value() || received.has_value(); }
};

// Every link direction of a network (or of one device) with its counters.
struct HealthTable {
    LinkTable rates;                             // the stations, their names and rates, as readLinkTable reads them
    std::vector<LinkDirectionHealth> links;      // weakest first (healthSortedWeakestFirst)
    std::vector<MacAddress> silent;              // stations that did not answer: their links are unknown
    std::vector<MacAddress> withoutStatistics;   // stations that answered but do not offer link statistics

    // The station's name, or its MAC text.
    std::string label(const MacAddress& mac) const { return rates.label(mac); }
};

// Links with a PB error rate first, highest first (ties: lower rate first), then counted links without traffic by
// rate, then links that nobody counted; ties keep the given order.
std::vector<LinkDirectionHealth> healthSortedWeakestFirst(std::vector<LinkDirectionHealth> links);

// The exchange outcome of one statistics or carrier map question.
enum class StatisticsOutcome {
    Done,       // answered
    NotOffered, // the device refused (non-zero status) or answered nothing to its first question
    NoAnswer,   // nothing by the deadline (or an answer that lies about its lengths)
};

// Reads the network's rates (readLinkTable) and then every answering station's counters of its link to each other
// station (direction both, link id of the peer): one question per device in flight, every device together under
// one deadline, then each device's next peer; the answers name the peer by TEI only, so a device never has two
// questions out. With `device`, only that device's links in both directions. A device that refuses or does not
// answer its first question is listed once in withoutStatistics and asked no more. Call it after a scan while
// holding the session's operation runner.
HealthTable readLinkHealth(Session& session, const std::optional<MacAddress>& device = std::nullopt);

// The counters of the local device's links to each of `stations`, asked of each station about its link to the
// local device, all in flight together under one deadline: from each answer the direction station -> local
// (`sent`) and local -> station (`received`). Silent or refusing stations give directions without counters.
// The link history records their PB error rates. Hold the runner.
std::vector<LinkDirectionHealth> readLocalLinkHealth(Session& session, const std::vector<MacAddress>& stations);

// What each link of `now` counted since `before` was read (the same link found by its two ends): the history's PB
// error rate of a scan is that of the frames since the last scan, not of everything since the device started. A
// counter below its earlier reading means the device restarted or was cleared in between; the reading is then the
// count since. A link not in `before` keeps its whole reading. Rate intervals are not carried over.
std::vector<LinkDirectionHealth> countedSince(std::vector<LinkDirectionHealth> now,
                                              const std::vector<LinkDirectionHealth>& before);

// Asks `device` to read and clear its counters of the link to `peer` (both directions).
StatisticsOutcome clearLinkCounters(Session& session, const MacAddress& device, const MacAddress& peer);

// One slot of a carrier map as the receiver told it.
struct CarrierSlot {
    std::uint8_t slot = 0;
    std::uint16_t activeCarriers = 0;
    std::array<std::uint8_t, mme::kCarriers> modulation{}; // modulation code of each carrier (0 off .. 8)
    std::uint8_t gain = 0;
    std::uint8_t agc = 0;
};

// The carrier map with which `receiver` takes frames from `transmitter`.
struct CarrierMap {
    MacAddress receiver;
    MacAddress transmitter;
    std::uint8_t slots = 0;          // how many slots the receiver has (0: no map yet)
    std::vector<CarrierSlot> read;   // the slots read, in slot order
};

enum class CarrierMapOutcome {
    Read,       // out.read holds the asked slot, or every slot
    NoMapYet,   // the receiver has no map of that link yet: nothing was sent on it (slots 0)
    NoSuchSlot, // the asked slot is beyond the receiver's slots
    NotOffered, // the device refused (non-zero status) or answered nothing to its first question
    NoAnswer,   // a later slot was not answered
};

// Reads slot 0 (its answer tells the number of slots) and then the others, or only `slot`. Hold the runner.
CarrierMapOutcome readCarrierMap(Session& session, const MacAddress& receiver, const MacAddress& transmitter,
                                 std::optional<int> slot, CarrierMap& out);

// The frequency (MHz) of carrier k: (74 + k) x 24.414 kHz.
double carrierFrequencyMhz(std::size_t carrier);
// Bits per carrier of one slot (by slot number), or the mean over the slots read (nothing): kCarriers values.
// Empty when that slot was not read.
std::vector<double> carrierBits(const CarrierMap& map, std::optional<int> slot = std::nullopt);
// The signal to noise (dB) that each carrier's modulation needs: an estimate of its SNR. For the mean, the mean of
// the slots' estimates.
std::vector<double> carrierSnrDb(const CarrierMap& map, std::optional<int> slot = std::nullopt);

// A stretch of neighbouring carriers that carries nothing, or little (a mean of 2 bits or less per carrier).
struct CarrierBand {
    double fromMhz = 0;
    double toMhz = 0;
    bool none = true; // true: no data at all; false: little
};

// What a carrier map says in a few numbers.
struct CarrierSummary {
    std::size_t carriers = mme::kCarriers;
    std::size_t active = 0;      // carriers that carry bits
    double meanBits = 0;         // bits per active carrier
    double rateMbps = 0;         // the rate the map allows: sum of bits x 16/21 / 46.52
    std::vector<CarrierBand> bands; // in frequency order; runs of at least kMinBandCarriers, short gaps merged
};
inline constexpr std::size_t kMinBandCarriers = 8;
inline constexpr double kLittleBits = 2.0;

// Summarizes one slot, or the mean of the slots read; an empty summary when that slot was not read.
CarrierSummary summarizeCarriers(const CarrierMap& map, std::optional<int> slot = std::nullopt);
// The rate (Mbit/s) that bits per symbol over the carriers allow.
double rateOfBits(double bitsPerSymbol);

// The words of the health and carrier texts; the defaults are the command line's English, the utility fills them
// from its language file. "%s" stands for a range ("10.2-13.9 MHz") or a device's label.
struct HealthWords {
    std::string noData = "%s carry no data";
    std::string littleData = "%s carry little data";
    std::string noStatistics = "%s does not offer link statistics";
    std::string noCarrierMap = "%s does not offer carrier maps";
    std::string silent = "%s did not answer: its links are unknown";
};

// "10.2-13.9 MHz".
std::string bandRangeText(const CarrierBand& band);
// "10.2-13.9 MHz carry no data".
std::string bandText(const CarrierBand& band, const HealthWords& words = {});
// A rate of loss in percent with two decimals ("0.25 %"), or "" when unknown.
std::string percentText(const std::optional<double>& fraction);

} // namespace zrq406::app
