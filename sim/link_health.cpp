#include "sim/link_health.h"

#include "mme/frame_builder.h"

#include <algorithm>
#include <cmath>

namespace zrq406::sim {

namespace {

constexpr std::size_t kMinWireFrame = 60;
constexpr double kStepMs = 10000;
// The devices were on for six hours before the network was loaded, at the rates they had when it was: a program
// that asks at once sees counters a running device would show, not a handful of frames.
constexpr double kStepsBeforeLoad = 6 * 3600 * 1000 / kStepMs;
// PBs per MPDU on average.
constexpr double kPbsPerMpdu = 6;
// What a PB that fails carries beyond what forward error correction mends.
constexpr double kFailedPbErrors = 160;

// The share of a link's traffic in each priority class CAP0-CAP3; the link itself (0xF8) carries all of it.
double classShare(std::uint8_t linkId) {
    static constexpr double kShares[] = {0.05, 0.80, 0.10, 0.05};
    return linkId <= mme::kLinkIdLastPriority ? kShares[linkId] : 1.0;
}

std::string statusText(std::uint8_t code, std::string_view what) {
    return "status " + std::to_string(code) + " (" + std::string(what) + ")";
}

Answer refusal(mme::MmType type, const SimDevice& device, const MacAddress& requester, std::uint8_t code,
               std::string_view what) {
    Answer answer;
    answer.frame = mme::makeFrame(kMinWireFrame, requester, device.mac(), mme::confirmationOf(type));
    answer.frame[mme::off::kStatus] = code;
    answer.status = code;
    answer.result = statusText(code, what);
    return answer;
}

// The device's answer when it does not answer these requests normally; nothing when it does.
std::optional<Answer> notOffered(mme::MmType type, const SimDevice& device, const MacAddress& requester) {
    const std::string_view what = type == mme::MmType::LinkStatistics ? "link statistics" : "carrier maps";
    switch (device.description().linkHealth) {
    case LinkHealthOffer::Answer:
        return std::nullopt;
    case LinkHealthOffer::Silent: {
        Answer answer;
        answer.silent = true;
        answer.result = "no answer (" + std::string(what) + " not offered)";
        return answer;
    }
    case LinkHealthOffer::Refuse:
        return refusal(type, device, requester, status::kNotOffered, std::string(what) + " not offered");
    }
    return std::nullopt;
}

std::uint64_t share(std::uint64_t value, std::size_t part, std::size_t parts) {
    return value / parts + (part == 0 ? value % parts : 0);
}

} // namespace

const Channel& LinkHealth::fitted(std::uint32_t seed, std::uint8_t field, int slots, const SimDevice& receiver,
                                  const MacAddress& transmitter) {
    const auto key = std::make_tuple(seed, field, slots);
    auto it = m_channels.find(key);
    if (it == m_channels.end())
        it = m_channels.emplace(key, fitChannel(seed, field, slots, receiver.noiseFrom(transmitter))).first;
    return it->second;
}

const Channel* LinkHealth::channel(const SimDevice& transmitter, const SimDevice& receiver, double elapsedMs) {
    const auto rate = receiver.rateTowards(transmitter, elapsedMs);
    if (!rate)
        return nullptr;
    const int slots = std::max(1, receiver.slotsTowards(transmitter));
    return &fitted(linkSeed(transmitter.mac(), receiver.mac()), rate->rx, slots, receiver, transmitter.mac());
}

LinkHealth::Totals LinkHealth::step(const SimDevice& transmitter, const SimDevice& receiver, std::int64_t index) {
    const double at = static_cast<double>(index) * kStepMs;
    const auto rate = receiver.rateTowards(transmitter, at);
    const int slots = receiver.slotsTowards(transmitter);
    if (!rate || rate->rx == 0 || slots == 0)
        return Totals{};
    const std::uint32_t seed = linkSeed(transmitter.mac(), receiver.mac());
    const Channel& ch = fitted(seed, rate->rx, slots, receiver, transmitter.mac());
    // Each link carries a few per cent of what its rate allows, the same share all day.
    const double load = 0.02 + 0.03 * static_cast<double>((seed >> 3) % 1000) / 1000.0;
    const double collisions = 0.005 + 0.02 * static_cast<double>((seed >> 13) % 1000) / 1000.0;
    const double pbs = load * ch.meanMbps * 1e6 / kPbBits * kStepMs / 1000.0;
    const double failed = pbs * ch.pbErrorRate;
    const double mpdus = pbs / kPbsPerMpdu;
    const double mpdusFailed = mpdus * std::min(1.0, ch.pbErrorRate / 4);
    return Totals{mpdus - mpdusFailed,
                  mpdus * collisions,
                  mpdusFailed,
                  pbs - failed,
                  failed,
                  (pbs - failed) * ch.bitErrorsPerPb,
                  failed * kFailedPbErrors};
}

LinkHealth::Totals LinkHealth::flowAt(const SimDevice& transmitter, const SimDevice& receiver, double elapsedMs) {
    if (!(elapsedMs >= 0))
        return Totals{};
    Flow& flow = m_flows[{transmitter.mac(), receiver.mac()}];
    const auto whole = static_cast<std::int64_t>(elapsedMs / kStepMs);
    // Time only runs forward on a network; a moment before the sums kept is summed afresh.
    if (flow.steps > whole)
        flow = Flow{};
    for (; flow.steps < whole; ++flow.steps) {
        const Totals add = step(transmitter, receiver, flow.steps);
        for (std::size_t i = 0; i < add.size(); ++i)
            flow.sum[i] += add[i];
    }
    Totals total = flow.sum;
    const Totals before = step(transmitter, receiver, 0);
    for (std::size_t i = 0; i < before.size(); ++i)
        total[i] += before[i] * kStepsBeforeLoad;
    const double part = elapsedMs / kStepMs - static_cast<double>(whole);
    const Totals add = step(transmitter, receiver, whole);
    for (std::size_t i = 0; i < add.size(); ++i)
        total[i] += add[i] * part;
    return total;
}

LinkHealth::Counts LinkHealth::counts(const SimDevice& reporter, const SimDevice& peer, bool transmit,
                                      std::uint8_t linkId, double elapsedMs, bool clear) {
    const Totals total = transmit ? flowAt(reporter, peer, elapsedMs) : flowAt(peer, reporter, elapsedMs);
    Counts now{};
    for (std::size_t i = 0; i < now.size(); ++i)
        now[i] = static_cast<std::uint64_t>(std::floor(total[i] * classShare(linkId)));
    Counts& cleared = m_cleared[{reporter.mac(), peer.mac(), transmit, linkId}];
    Counts shown{};
    for (std::size_t i = 0; i < now.size(); ++i)
        shown[i] = now[i] > cleared[i] ? now[i] - cleared[i] : 0;
    if (clear)
        cleared = now;
    return shown;
}

Answer LinkHealth::statistics(const SimDevice& device, const SimDevice* peer, const MacAddress& requester,
                              std::span<const std::uint8_t> request, double elapsedMs) {
    constexpr auto kType = mme::MmType::LinkStatistics;
    if (auto answer = notOffered(kType, device, requester))
        return std::move(*answer);
    const std::uint8_t control = request[mme::off::kLsControl];
    const std::uint8_t direction = request[mme::off::kLsDirection];
    const std::uint8_t linkId = request[mme::off::kLsLinkId];
    if (control > static_cast<std::uint8_t>(mme::StatisticsControl::ReadAndClear))
        return refusal(kType, device, requester, status::kBadParameter, "control " + std::to_string(control));
    if (direction > static_cast<std::uint8_t>(mme::StatisticsDirection::Both))
        return refusal(kType, device, requester, status::kBadParameter, "direction " + std::to_string(direction));
    if (linkId > mme::kLinkIdLastPriority && linkId != mme::kLinkIdOfPeer)
        return refusal(kType, device, requester, status::kBadParameter, "link id " + std::to_string(linkId));
    const MacAddress peerMac = *mme::ByteReader(request).mac(mme::off::kLsPeer);
    if (peer == nullptr || !device.rateTowards(*peer, elapsedMs))
        return refusal(kType, device, requester, status::kNoLink, "no link to " + peerMac.text());

    const bool clear = control == static_cast<std::uint8_t>(mme::StatisticsControl::ReadAndClear);
    const bool withTransmit = direction != static_cast<std::uint8_t>(mme::StatisticsDirection::Receive);
    const bool withReceive = direction != static_cast<std::uint8_t>(mme::StatisticsDirection::Transmit);
    const int slots = device.slotsTowards(*peer);
    const std::size_t intervals = withReceive ? static_cast<std::size_t>(slots) : 0;
    const std::size_t length =
        mme::off::kLsCnfStatistics + (withTransmit ? mme::off::kLsTransmitSize : 0) +
        (withReceive ? mme::off::kLsReceiveCounters + 1 + intervals * mme::off::kLsIntervalSize : 0);
    Answer answer;
    answer.frame = mme::makeFrame(std::max(length, kMinWireFrame), requester, device.mac(), mme::confirmationOf(kType));
    mme::Frame& f = answer.frame;
    f[mme::off::kStatus] = 0;
    f[mme::off::kLsCnfDirection] = direction;
    f[mme::off::kLsCnfLinkId] = linkId;
    f[mme::off::kLsCnfPeerTei] = peer->description().tei;
    std::size_t at = mme::off::kLsCnfStatistics;
    if (withTransmit) {
        const Counts c = counts(device, *peer, true, linkId, elapsedMs, clear);
        for (const std::size_t i : {0, 1, 2, 3, 4}) {
            mme::putU64le(f, at, c[i]);
            at += 8;
        }
    }
    if (withReceive) {
        const Counts c = counts(device, *peer, false, linkId, elapsedMs, clear);
        for (const std::size_t i : {0, 2, 3, 4, 5, 6}) {
            mme::putU64le(f, at, c[i]);
            at += 8;
        }
        f[at++] = static_cast<std::uint8_t>(intervals);
        // One interval per carrier map slot, at the slot's rate; the PBs are spread evenly over them.
        const Channel* ch = intervals > 0 ? channel(*peer, device, elapsedMs) : nullptr;
        for (std::size_t i = 0; i < intervals; ++i) {
            f[at] = static_cast<std::uint8_t>(std::clamp(std::lround(ch->slots[i].mbps), 0L, 255L));
            for (const std::size_t k : {3, 4, 5, 6})
                mme::putU64le(f, at + 1 + 8 * (k - 3), share(c[k], i, intervals));
            at += mme::off::kLsIntervalSize;
        }
    }
    answer.result = std::string(clear ? "read and cleared" : "read") + ", link " +
                    (linkId == mme::kLinkIdOfPeer ? peerMac.text() : "CAP" + std::to_string(linkId));
    return answer;
}

Answer LinkHealth::carrierMap(const SimDevice& device, const SimDevice* peer, const MacAddress& requester,
                              std::span<const std::uint8_t> request, double elapsedMs) {
    constexpr auto kType = mme::MmType::CarrierMap;
    if (auto answer = notOffered(kType, device, requester))
        return std::move(*answer);
    const MacAddress peerMac = *mme::ByteReader(request).mac(mme::off::kCmPeer);
    const std::uint8_t slot = request[mme::off::kCmSlot];
    const Channel* ch = peer != nullptr ? channel(*peer, device, elapsedMs) : nullptr;
    if (ch == nullptr)
        return refusal(kType, device, requester, status::kNoLink, "no link to " + peerMac.text());
    const int slots = device.slotsTowards(*peer);
    if (slots > 0 && slot >= slots)
        return refusal(kType, device, requester, status::kOutOfRange,
                       "slot " + std::to_string(slot) + " of " + std::to_string(slots));
    Answer answer;
    answer.frame = mme::makeFrame(mme::off::kCmCnfEnd, requester, device.mac(), mme::confirmationOf(kType));
    mme::Frame& f = answer.frame;
    f[mme::off::kStatus] = 0;
    f[mme::off::kCmCnfSlot] = slot;
    f[mme::off::kCmCnfSlots] = static_cast<std::uint8_t>(slots);
    if (slots == 0) {
        answer.result = "no carrier map yet from " + peerMac.text();
        return answer;
    }
    const ChannelSlot& map = ch->slots[slot];
    mme::putU16le(f, mme::off::kCmCnfActive, static_cast<std::uint16_t>(map.active));
    for (std::size_t k = 0; k < mme::kCarriers; k += 2)
        f[mme::off::kCmCnfModulation + k / 2] = static_cast<std::uint8_t>(map.codes[k] | (map.codes[k + 1] << 4));
    f[mme::off::kCmCnfGain] = ch->gain;
    f[mme::off::kCmCnfAgc] = ch->agc;
    answer.result = "slot " + std::to_string(slot) + " of " + std::to_string(slots) + " from " + peerMac.text() + ", " +
                    std::to_string(map.active) + " carriers";
    return answer;
}

} // namespace zrq406::sim
