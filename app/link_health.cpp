#include "app/link_health.h"

#include "app/session.h"
#include "mme/exchange.h"
#include "mme/frame_builder.h"
#include "uitext/placeholders.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace zrq406::app {

namespace {

// The bytes of a PB, whose bits the bit-error sums count.
constexpr double kPbBits = 8.0 * 520.0;
// Neighbouring runs of a band closer than this many carriers are one band.
constexpr std::size_t kBandGap = 4;

std::optional<double> fraction(std::uint64_t part, std::uint64_t whole) {
    if (whole == 0)
        return std::nullopt;
    return static_cast<double>(part) / static_cast<double>(whole);
}

std::optional<mme::LinkStatisticsConfirm> statisticsOf(const std::optional<mme::Frame>& frame) {
    return frame ? mme::parseLinkStatistics(*frame) : std::nullopt;
}

mme::Frame statisticsRequest(const MacAddress& device, const MacAddress& host, const MacAddress& peer,
                             mme::StatisticsControl control = mme::StatisticsControl::Read) {
    return mme::buildLinkStatisticsRequest(device, host, control, mme::StatisticsDirection::Both, mme::kLinkIdOfPeer,
                                           peer);
}

LinkDirectionHealth* directionOf(std::vector<LinkDirectionHealth>& links, const MacAddress& from,
                                 const MacAddress& to) {
    for (LinkDirectionHealth& link : links) {
        if (link.from == from && link.to == to)
            return &link;
    }
    return nullptr;
}

// A device's answer about its link to `peer`: its transmit counters are the direction device -> peer as sent, its
// receive counters the direction peer -> device as received.
void takeStatistics(std::vector<LinkDirectionHealth>& links, const MacAddress& device, const MacAddress& peer,
                    const mme::LinkStatisticsConfirm& confirm) {
    if (LinkDirectionHealth* out = directionOf(links, device, peer); out != nullptr && confirm.transmit)
        out->sent = confirm.transmit;
    if (LinkDirectionHealth* in = directionOf(links, peer, device); in != nullptr && confirm.receive)
        in->received = confirm.receive;
}

// Runs of carriers that `inBand` takes, short gaps merged, short runs left out, as [first, end) index ranges. A
// carrier that `breaks` takes ends a run and is never bridged.
template <typename Pred, typename Break>
std::vector<std::pair<std::size_t, std::size_t>> runsWhere(std::size_t count, Pred inBand, Break breaks) {
    std::vector<std::pair<std::size_t, std::size_t>> runs;
    std::size_t start = 0;
    std::size_t end = 0; // one past the run's last carrier
    bool open = false;
    auto close = [&] {
        if (open && end - start >= kMinBandCarriers)
            runs.emplace_back(start, end);
        open = false;
    };
    for (std::size_t k = 0; k < count; ++k) {
        if (breaks(k)) {
            close();
            continue;
        }
        if (!inBand(k))
            continue;
        if (open && k - end > kBandGap)
            close();
        if (!open) {
            open = true;
            start = k;
        }
        end = k + 1;
    }
    close();
    return runs;
}

} // namespace

std::optional<double> LinkDirectionHealth::pbErrorRate() const {
    if (received && received->pbsPassed + received->pbsFailed > 0)
        return fraction(received->pbsFailed, received->pbsPassed + received->pbsFailed);
    if (sent)
        return fraction(sent->pbsFailed, sent->pbsPassed + sent->pbsFailed);
    return std::nullopt;
}

std::optional<double> LinkDirectionHealth::mpduFailureRate() const {
    if (received && received->mpdusAcknowledged + received->mpdusFailed > 0)
        return fraction(received->mpdusFailed, received->mpdusAcknowledged + received->mpdusFailed);
    if (sent)
        return fraction(sent->mpdusFailed, sent->mpdusAcknowledged + sent->mpdusFailed);
    return std::nullopt;
}

std::optional<double> LinkDirectionHealth::collisionRate() const {
    if (!sent)
        return std::nullopt;
    return fraction(sent->mpdusCollided, sent->mpdusAcknowledged + sent->mpdusCollided + sent->mpdusFailed);
}

std::optional<double> LinkDirectionHealth::fecBitErrorRate() const {
    if (!received || received->pbsPassed + received->pbsFailed == 0)
        return std::nullopt;
    const double bits = kPbBits * static_cast<double>(received->pbsPassed + received->pbsFailed);
    return 100.0 * static_cast<double>(received->bitErrorsPassed + received->bitErrorsFailed) / bits;
}

std::vector<LinkDirectionHealth> healthSortedWeakestFirst(std::vector<LinkDirectionHealth> links) {
    auto rank = [](const LinkDirectionHealth& link) { return link.pbErrorRate() ? 0 : link.counted() ? 1 : 2; };
    std::stable_sort(links.begin(), links.end(), [&](const LinkDirectionHealth& a, const LinkDirectionHealth& b) {
        const int ra = rank(a);
        const int rb = rank(b);
        if (ra != rb)
            return ra < rb;
        if (ra == 0 && *a.pbErrorRate() != *b.pbErrorRate())
            return *a.pbErrorRate() > *b.pbErrorRate();
        return a.rate < b.rate;
    });
    return links;
}

HealthTable readLinkHealth(Session& session, const std::optional<MacAddress>& device) {
    HealthTable health;
    health.rates = readLinkTable(session);
    const LinkTable& table = health.rates;
    const link::AdapterRecord* adapter = session.isOpen() ? session.adapters().current() : nullptr;
    if (adapter == nullptr || table.stations.empty())
        return health;
    health.silent = table.silent;
    auto concerns = [&](const MacAddress& a, const MacAddress& b) { return !device || a == *device || b == *device; };
    for (const LinkRow& row : table.rows) {
        if (!concerns(row.from, row.to))
            continue;
        LinkDirectionHealth link;
        link.from = row.from;
        link.to = row.to;
        link.rateKnown = row.known && row.listed;
        link.rate = link.rateKnown ? row.tx : 0;
        health.links.push_back(link);
    }

    // Each answering station with the peers to ask it about, one at a time.
    struct Asking {
        MacAddress device;
        std::vector<MacAddress> peers;
        std::size_t next = 0;
        bool answered = false;
        bool stopped = false;
    };
    std::vector<Asking> asking;
    for (const MacAddress& station : table.stations) {
        if (std::find(table.silent.begin(), table.silent.end(), station) != table.silent.end())
            continue;
        Asking a{station, {}};
        for (const MacAddress& peer : table.stations) {
            if (peer != station && concerns(station, peer))
                a.peers.push_back(peer);
        }
        if (!a.peers.empty())
            asking.push_back(std::move(a));
    }
    for (;;) {
        std::vector<std::size_t> who;
        std::vector<mme::Frame> requests;
        for (std::size_t i = 0; i < asking.size(); ++i) {
            if (asking[i].stopped || asking[i].next >= asking[i].peers.size())
                continue;
            who.push_back(i);
            requests.push_back(statisticsRequest(asking[i].device, adapter->hostMac, asking[i].peers[asking[i].next]));
        }
        if (requests.empty())
            break;
        const auto frames = session.exchange().runAll(requests, mme::timing::kLinkStatistics);
        for (std::size_t k = 0; k < who.size(); ++k) {
            Asking& a = asking[who[k]];
            const MacAddress peer = a.peers[a.next++];
            const auto confirm = statisticsOf(frames[k]);
            if (confirm && confirm->status == 0) {
                a.answered = true;
                takeStatistics(health.links, a.device, peer, *confirm);
            } else if (!a.answered && (!frames[k] || confirm)) {
                // Silence or a refusal at the first question: the device does not know the message.
                a.stopped = true;
                health.withoutStatistics.push_back(a.device);
            }
        }
    }
    health.links = healthSortedWeakestFirst(std::move(health.links));
    return health;
}

std::vector<LinkDirectionHealth> readLocalLinkHealth(Session& session, const std::vector<MacAddress>& stations) {
    std::vector<LinkDirectionHealth> links;
    const MacAddress local = session.discoveryResult().local.mac;
    const link::AdapterRecord* adapter = session.isOpen() ? session.adapters().current() : nullptr;
    if (adapter == nullptr || local == MacAddress{})
        return links;
    std::vector<MacAddress> peers;
    std::vector<mme::Frame> requests;
    for (const MacAddress& station : stations) {
        if (station == local || std::find(peers.begin(), peers.end(), station) != peers.end())
            continue;
        peers.push_back(station);
        requests.push_back(statisticsRequest(station, adapter->hostMac, local));
        for (const auto& [from, to] : {std::pair{local, station}, std::pair{station, local}}) {
            LinkDirectionHealth link;
            link.from = from;
            link.to = to;
            links.push_back(link);
        }
    }
    const auto frames = session.exchange().runAll(requests, mme::timing::kLinkStatistics);
    for (std::size_t i = 0; i < peers.size(); ++i) {
        const auto confirm = statisticsOf(frames[i]);
        if (confirm && confirm->status == 0)
            takeStatistics(links, peers[i], local, *confirm);
    }
    return links;
}

namespace {

// `now` less `before`, field by field; false when a field went back.
template <typename Counters, std::size_t N>
bool subtract(Counters& now, const Counters& before, std::uint64_t Counters::*const (&fields)[N]) {
    for (auto field : fields)
        if (now.*field < before.*field)
            return false;
    for (auto field : fields)
        now.*field -= before.*field;
    return true;
}

constexpr std::uint64_t mme::TransmitCounters::*kSentFields[] = {
    &mme::TransmitCounters::mpdusAcknowledged, &mme::TransmitCounters::mpdusCollided,
    &mme::TransmitCounters::mpdusFailed, &mme::TransmitCounters::pbsPassed, &mme::TransmitCounters::pbsFailed};
constexpr std::uint64_t mme::ReceiveCounters::*kReceivedFields[] = {
    &mme::ReceiveCounters::mpdusAcknowledged, &mme::ReceiveCounters::mpdusFailed,
    &mme::ReceiveCounters::pbsPassed,         &mme::ReceiveCounters::pbsFailed,
    &mme::ReceiveCounters::bitErrorsPassed,   &mme::ReceiveCounters::bitErrorsFailed};

} // namespace

std::vector<LinkDirectionHealth> countedSince(std::vector<LinkDirectionHealth> now,
                                              const std::vector<LinkDirectionHealth>& before) {
    for (LinkDirectionHealth& link : now) {
        if (link.received)
            link.received->intervals.clear();
        const auto earlier = std::find_if(before.begin(), before.end(), [&](const LinkDirectionHealth& b) {
            return b.from == link.from && b.to == link.to;
        });
        if (earlier == before.end())
            continue;
        if (link.sent && earlier->sent) {
            const mme::TransmitCounters whole = *link.sent;
            if (!subtract(*link.sent, *earlier->sent, kSentFields))
                link.sent = whole;
        }
        if (link.received && earlier->received) {
            const mme::ReceiveCounters whole = *link.received;
            if (!subtract(*link.received, *earlier->received, kReceivedFields))
                link.received = whole;
        }
    }
    return now;
}

StatisticsOutcome clearLinkCounters(Session& session, const MacAddress& device, const MacAddress& peer) {
    const link::AdapterRecord* adapter = session.isOpen() ? session.adapters().current() : nullptr;
    if (adapter == nullptr)
        return StatisticsOutcome::NoAnswer;
    const auto frame =
        session.exchange().run(statisticsRequest(device, adapter->hostMac, peer, mme::StatisticsControl::ReadAndClear),
                               mme::MmType::LinkStatistics, mme::timing::kLinkStatistics);
    if (!frame)
        return StatisticsOutcome::NoAnswer;
    const auto confirm = mme::parseLinkStatistics(*frame);
    if (!confirm)
        return StatisticsOutcome::NoAnswer;
    return confirm->status == 0 ? StatisticsOutcome::Done : StatisticsOutcome::NotOffered;
}

CarrierMapOutcome readCarrierMap(Session& session, const MacAddress& receiver, const MacAddress& transmitter,
                                 std::optional<int> slot, CarrierMap& out) {
    out = CarrierMap{};
    out.receiver = receiver;
    out.transmitter = transmitter;
    const link::AdapterRecord* adapter = session.isOpen() ? session.adapters().current() : nullptr;
    if (adapter == nullptr)
        return CarrierMapOutcome::NoAnswer;
    auto request = [&](int s) {
        return mme::buildCarrierMapRequest(receiver, adapter->hostMac, transmitter, static_cast<std::uint8_t>(s));
    };
    auto take = [&](const mme::CarrierMapConfirm& confirm) {
        CarrierSlot read;
        read.slot = confirm.slot;
        read.activeCarriers = confirm.activeCarriers;
        read.modulation = confirm.modulation;
        read.gain = confirm.gain;
        read.agc = confirm.agc;
        out.read.push_back(read);
    };

    const auto first = session.exchange().run(request(0), mme::MmType::CarrierMap, mme::timing::kCarrierMap);
    if (!first)
        return CarrierMapOutcome::NotOffered;
    const auto zero = mme::parseCarrierMap(*first);
    if (!zero || (zero->status == 0 && zero->slots != 0 && zero->slot != 0))
        return CarrierMapOutcome::NoAnswer;
    if (zero->status != 0)
        return CarrierMapOutcome::NotOffered;
    out.slots = zero->slots;
    if (zero->slots == 0)
        return CarrierMapOutcome::NoMapYet;
    if (slot && (*slot < 0 || *slot >= zero->slots))
        return CarrierMapOutcome::NoSuchSlot;
    if (!slot || *slot == 0)
        take(*zero);

    // The other slots all at once: each answer echoes its slot.
    std::vector<int> asked;
    std::vector<mme::Frame> requests;
    for (int s = 1; s < zero->slots; ++s) {
        if (!slot || *slot == s) {
            asked.push_back(s);
            requests.push_back(request(s));
        }
    }
    if (requests.empty())
        return CarrierMapOutcome::Read;
    const auto frames = session.exchange().runAll(requests, mme::timing::kCarrierMap);
    for (std::size_t i = 0; i < asked.size(); ++i) {
        const auto confirm = frames[i] ? mme::parseCarrierMap(*frames[i]) : std::nullopt;
        if (!confirm || confirm->status != 0 || confirm->slots == 0 || confirm->slot != asked[i]) {
            out.read.clear();
            return CarrierMapOutcome::NoAnswer;
        }
        take(*confirm);
    }
    return CarrierMapOutcome::Read;
}

double carrierFrequencyMhz(std::size_t carrier) {
    return static_cast<double>(mme::kFirstCarrierIndex + carrier) * mme::kCarrierSpacingKhz / 1000.0;
}

namespace {

template <typename PerCode>
std::vector<double> perCarrier(const CarrierMap& map, std::optional<int> slot, PerCode value) {
    std::vector<const CarrierSlot*> slots;
    for (const CarrierSlot& read : map.read) {
        if (!slot || read.slot == *slot)
            slots.push_back(&read);
    }
    if (slots.empty())
        return {};
    std::vector<double> values(mme::kCarriers, 0.0);
    for (const CarrierSlot* read : slots) {
        for (std::size_t k = 0; k < mme::kCarriers; ++k)
            values[k] += value(read->modulation[k]);
    }
    for (double& v : values)
        v /= static_cast<double>(slots.size());
    return values;
}

} // namespace

std::vector<double> carrierBits(const CarrierMap& map, std::optional<int> slot) {
    return perCarrier(map, slot, [](std::uint8_t code) { return static_cast<double>(mme::bitsOfModulation(code)); });
}

std::vector<double> carrierSnrDb(const CarrierMap& map, std::optional<int> slot) {
    return perCarrier(map, slot, [](std::uint8_t code) { return mme::snrOfModulation(code); });
}

double rateOfBits(double bitsPerSymbol) {
    // A symbol with its guard interval lasts 46.52 µs; forward error correction keeps 16 of every 21 bits.
    return bitsPerSymbol * 16.0 / 21.0 / 46.52;
}

CarrierSummary summarizeCarriers(const CarrierMap& map, std::optional<int> slot) {
    CarrierSummary summary;
    const std::vector<double> bits = carrierBits(map, slot);
    if (bits.empty()) {
        summary.carriers = 0;
        return summary;
    }
    double sum = 0;
    for (double b : bits) {
        sum += b;
        summary.active += b > 0 ? 1 : 0;
    }
    summary.meanBits = summary.active > 0 ? sum / static_cast<double>(summary.active) : 0;
    summary.rateMbps = rateOfBits(sum);
    // The bands that carry nothing first; a band that carries little stops at their edges, so no carrier is named
    // twice.
    const auto none = runsWhere(
        bits.size(), [&](std::size_t k) { return bits[k] == 0; }, [](std::size_t) { return false; });
    std::vector<bool> inNone(bits.size(), false);
    for (const auto& [first, end] : none) {
        std::fill(inNone.begin() + static_cast<std::ptrdiff_t>(first),
                  inNone.begin() + static_cast<std::ptrdiff_t>(end), true);
        summary.bands.push_back({carrierFrequencyMhz(first), carrierFrequencyMhz(end - 1), true});
    }
    const auto little = runsWhere(
        bits.size(), [&](std::size_t k) { return bits[k] > 0 && bits[k] <= kLittleBits; },
        [&](std::size_t k) { return inNone[k]; });
    for (const auto& [first, end] : little)
        summary.bands.push_back({carrierFrequencyMhz(first), carrierFrequencyMhz(end - 1), false});
    std::sort(summary.bands.begin(), summary.bands.end(),
              [](const CarrierBand& a, const CarrierBand& b) { return a.fromMhz < b.fromMhz; });
    return summary;
}

std::string bandRangeText(const CarrierBand& band) {
    char text[48];
    std::snprintf(text, sizeof text, "%.1f-%.1f MHz", band.fromMhz, band.toMhz);
    return text;
}

std::string bandText(const CarrierBand& band, const HealthWords& words) {
    return fillPlaceholders(band.none ? words.noData : words.littleData, {bandRangeText(band)});
}

std::string percentText(const std::optional<double>& value) {
    if (!value)
        return {};
    char text[32];
    std::snprintf(text, sizeof text, "%.2f %%", *value * 100.0);
    return text;
}

} // namespace zrq406::app
