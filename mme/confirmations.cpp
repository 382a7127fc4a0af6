#include "mme/confirmations.h"

#include <algorithm>

namespace zrq406::mme {

bool matchesConfirmation(std::span<const std::uint8_t> frame, std::uint16_t confirmationType,
                         const MacAddress* requiredDestination) {
    const ByteReader reader(frame);
    if (reader.u16be(hdr::kEthertype) != kEthertypeHomePlug)
        return false;
    if (reader.u16le(hdr::kMmType) != confirmationType)
        return false;
    if (requiredDestination != nullptr && reader.mac(hdr::kDestination) != *requiredDestination)
        return false;
    return true;
}

namespace {

// The request's fields that a successful confirmation carries back, as (request offset, confirmation offset,
// width) triples.
struct Echo {
    std::size_t requestOffset;
    std::size_t confirmOffset;
    std::size_t width;
};
constexpr Echo kReadModuleEcho[] = {{off::kRdModule, off::kRdCnfModule, 1},
                                    {off::kRdLength, off::kRdCnfLength, 2},
                                    {off::kRdOffset, off::kRdCnfOffset, 4}};
constexpr Echo kWriteModuleEcho[] = {{off::kWrModule, off::kWrCnfModule, 1},
                                     {off::kWrLength, off::kWrCnfLength, 2},
                                     {off::kWrOffset, off::kWrCnfOffset, 4}};
constexpr Echo kCommitEcho[] = {{off::kCommitSet, off::kCommitCnfSet, 1}};
// Direction and link id; the peer comes back as its TEI only.
constexpr Echo kLinkStatisticsEcho[] = {{off::kLsDirection, off::kLsCnfDirection, 1}, {off::kLsLinkId, off::kLsCnfLinkId, 1}};
constexpr Echo kCarrierMapEcho[] = {{off::kCmSlot, off::kCmCnfSlot, 1}};

std::span<const Echo> echoesOf(std::uint16_t requestType) {
    switch (static_cast<MmType>(requestType)) {
    case MmType::ReadModule:
        return kReadModuleEcho;
    case MmType::WriteModule:
        return kWriteModuleEcho;
    case MmType::CommitModules:
        return kCommitEcho;
    case MmType::LinkStatistics:
        return kLinkStatisticsEcho;
    case MmType::CarrierMap:
        return kCarrierMapEcho;
    default:
        return {};
    }
}

} // namespace

bool answersRequest(std::span<const std::uint8_t> frame, std::span<const std::uint8_t> request,
                    const MacAddress* requiredDestination, const MacAddress* requiredSource) {
    const ByteReader asked(request);
    const auto requestType = asked.u16le(hdr::kMmType);
    if (!requestType)
        return false;
    const auto confirmationType = static_cast<std::uint16_t>(*requestType + 1);
    if (!matchesConfirmation(frame, confirmationType, requiredDestination))
        return false;
    const ByteReader answer(frame);
    if (requiredSource != nullptr && answer.mac(hdr::kSource) != *requiredSource)
        return false;
    // The push button's answer has no OUI: its status and membership state stand at bytes 17 and 18, and an
    // answer that does not hold both answers nothing. It echoes nothing.
    if (!isVendorMessage(*requestType))
        return answer.has(off::kPbStatus, 2);
    // A refusal carries no echo worth comparing. A success names what was asked for, unless it is of the short
    // form that ends after its status: on the wire its echo fields are the zero padding.
    if (answer.u8(off::kStatus).value_or(1) != 0)
        return true;
    const auto echoes = echoesOf(*requestType);
    bool echoed = false;
    for (const Echo& echo : echoes) {
        const auto back = answer.bytes(echo.confirmOffset, echo.width);
        echoed = echoed || (back && std::any_of(back->begin(), back->end(), [](std::uint8_t b) { return b != 0; }));
    }
    if (!echoed)
        return true;
    for (const Echo& echo : echoes) {
        const auto sent = asked.bytes(echo.requestOffset, echo.width);
        const auto back = answer.bytes(echo.confirmOffset, echo.width);
        if (!sent || !back || !std::equal(sent->begin(), sent->end(), back->begin()))
            return false;
    }
    return true;
}

std::optional<SoftwareVersionConfirm> parseSoftwareVersion(std::span<const std::uint8_t> frame) {
    const ByteReader reader(frame);
    const auto status = reader.u8(off::kStatus);
    const auto source = reader.mac(hdr::kSource);
    if (!status || !source)
        return std::nullopt;
    SoftwareVersionConfirm confirm{*status, *source, {}};
    if (*status != 0)
        return confirm;
    // The text must end inside the frame; an unterminated text is a malformed answer, not a text to guess at.
    auto version = reader.terminatedText(off::kSwVersion, kMaxVersionText);
    if (!version)
        return std::nullopt;
    confirm.version = std::move(*version);
    return confirm;
}

std::optional<std::uint8_t> parseStatus(std::span<const std::uint8_t> frame) {
    return ByteReader(frame).u8(off::kStatus);
}

std::optional<ReadModuleConfirm> parseReadModule(std::span<const std::uint8_t> frame, std::size_t requestedLength) {
    const ByteReader reader(frame);
    const auto status = reader.u8(off::kStatus);
    if (!status)
        return std::nullopt;
    if (*status != 0)
        return ReadModuleConfirm{*status, {}};
    const auto data = reader.bytes(off::kRdCnfData, requestedLength);
    if (!data)
        return std::nullopt;
    return ReadModuleConfirm{*status, *data};
}

std::optional<AttributesConfirm> parseAttributes(std::span<const std::uint8_t> frame) {
    const ByteReader reader(frame);
    const auto status = reader.u16le(off::kStatus);
    if (!status)
        return std::nullopt;
    if (*status != 0)
        return AttributesConfirm{*status, {}};
    auto platform = reader.paddedText(off::kAttrPlatform, kPlatformTextWidth);
    if (!platform)
        return std::nullopt;
    return AttributesConfirm{*status, std::move(*platform)};
}

std::optional<PushButtonConfirm> parsePushButton(std::span<const std::uint8_t> frame) {
    const ByteReader reader(frame);
    const auto status = reader.u8(off::kPbStatus);
    const auto membership = reader.u8(off::kPbMembership);
    if (!status || !membership)
        return std::nullopt;
    return PushButtonConfirm{*status, *membership};
}

std::optional<HostsConfirm> parseHosts(std::span<const std::uint8_t> frame) {
    const ByteReader reader(frame);
    const auto status = reader.u8(off::kStatus);
    if (!status)
        return std::nullopt;
    HostsConfirm confirm{*status, {}};
    if (*status != 0)
        return confirm;
    const auto count = reader.u32le(off::kHostCount);
    // The count is read against what the frame holds before anything is reserved for it.
    if (!count || !reader.has(off::kHosts, std::size_t{*count} * off::kHostEntrySize))
        return std::nullopt;
    confirm.hosts.reserve(*count);
    for (std::size_t i = 0; i < *count; ++i) {
        const std::size_t at = off::kHosts + i * off::kHostEntrySize;
        confirm.hosts.push_back(HostEntry{*reader.mac(at), *reader.u8(at + 6)});
    }
    return confirm;
}

std::optional<NetworkInfoConfirm> parseNetworkInfo(std::span<const std::uint8_t> frame) {
    const ByteReader reader(frame);
    NetworkInfoConfirm confirm;
    const auto networks = reader.u8(off::kNiNetworks);
    if (!networks)
        return std::nullopt;
    confirm.networks = *networks;
    // With no network nothing further is read, whatever the frame carries.
    if (confirm.networks == 0)
        return confirm;
    const auto nid = reader.bytes(off::kNiNid, 7);
    const auto snid = reader.u8(off::kNiSnid);
    const auto tei = reader.u8(off::kNiTei);
    const auto role = reader.u8(off::kNiRole);
    const auto cco = reader.mac(off::kNiCcoMac);
    const auto ccoTei = reader.u8(off::kNiCcoTei);
    const auto count = reader.u8(off::kNiStationCount);
    if (!nid || !snid || !tei || !role || !cco || !ccoTei || !count)
        return std::nullopt;
    std::copy(nid->begin(), nid->end(), confirm.nid.begin());
    confirm.snid = *snid;
    confirm.tei = *tei;
    confirm.role = *role;
    confirm.ccoMac = *cco;
    confirm.ccoTei = *ccoTei;
    // A frame that claims more stations than it carries is no answer.
    if (!reader.has(off::kNiStations, std::size_t{*count} * off::kNiStationSize))
        return std::nullopt;
    // The list names the other stations once each: an entry for the answering device itself, for the broadcast
    // address or for a station already listed would show as a link of a device to itself or as a second device.
    const auto self = reader.mac(hdr::kSource);
    confirm.stations.reserve(*count);
    for (std::size_t i = 0; i < *count; ++i) {
        const std::size_t at = off::kNiStations + i * off::kNiStationSize;
        NetworkStation station;
        station.mac = *reader.mac(at);
        if (station.mac == self || station.mac == MacAddress::broadcast() ||
            std::any_of(confirm.stations.begin(), confirm.stations.end(),
                        [&](const NetworkStation& listed) { return listed.mac == station.mac; }))
            continue;
        station.tei = *reader.u8(at + 6);
        station.bridgedMac = *reader.mac(at + 7);
        station.averageTxRate = *reader.u8(at + 13);
        station.averageRxRate = *reader.u8(at + 14);
        confirm.stations.push_back(station);
    }
    return confirm;
}

namespace {

constexpr std::uint8_t kBitsOfModulation[kLargestModulation + 1] = {0, 1, 2, 3, 4, 6, 8, 10, 12};
constexpr double kSnrOfModulation[kLargestModulation + 1] = {0, 2, 4, 7, 10, 16, 22, 28, 36};

std::optional<TransmitCounters> transmitCounters(const ByteReader& reader, std::size_t at) {
    if (!reader.has(at, off::kLsTransmitSize))
        return std::nullopt;
    return TransmitCounters{*reader.u64le(at), *reader.u64le(at + 8), *reader.u64le(at + 16), *reader.u64le(at + 24),
                            *reader.u64le(at + 32)};
}

std::optional<ReceiveCounters> receiveCounters(const ByteReader& reader, std::size_t at) {
    const auto count = reader.u8(at + off::kLsReceiveCounters);
    const std::size_t first = at + off::kLsReceiveCounters + 1;
    if (!count || !reader.has(first, std::size_t{*count} * off::kLsIntervalSize))
        return std::nullopt;
    ReceiveCounters counters{*reader.u64le(at),      *reader.u64le(at + 8),  *reader.u64le(at + 16),
                             *reader.u64le(at + 24), *reader.u64le(at + 32), *reader.u64le(at + 40),
                             {}};
    counters.intervals.reserve(*count);
    for (std::size_t i = 0; i < *count; ++i) {
        const std::size_t k = first + i * off::kLsIntervalSize;
        counters.intervals.push_back(RateInterval{*reader.u8(k), *reader.u64le(k + 1), *reader.u64le(k + 9),
                                                  *reader.u64le(k + 17), *reader.u64le(k + 25)});
    }
    return counters;
}

} // namespace

std::optional<LinkStatisticsConfirm> parseLinkStatistics(std::span<const std::uint8_t> frame) {
    const ByteReader reader(frame);
    const auto status = reader.u8(off::kStatus);
    if (!status)
        return std::nullopt;
    LinkStatisticsConfirm confirm;
    confirm.status = *status;
    if (*status != 0)
        return confirm;
    const auto direction = reader.u8(off::kLsCnfDirection);
    const auto linkId = reader.u8(off::kLsCnfLinkId);
    const auto tei = reader.u8(off::kLsCnfPeerTei);
    if (!direction || !linkId || !tei || *direction > static_cast<std::uint8_t>(StatisticsDirection::Both))
        return std::nullopt;
    confirm.direction = static_cast<StatisticsDirection>(*direction);
    confirm.linkId = *linkId;
    confirm.peerTei = *tei;
    std::size_t at = off::kLsCnfStatistics;
    if (confirm.direction != StatisticsDirection::Receive) {
        confirm.transmit = transmitCounters(reader, at);
        if (!confirm.transmit)
            return std::nullopt;
        at += off::kLsTransmitSize;
    }
    if (confirm.direction != StatisticsDirection::Transmit) {
        confirm.receive = receiveCounters(reader, at);
        if (!confirm.receive)
            return std::nullopt;
    }
    return confirm;
}

std::optional<CarrierMapConfirm> parseCarrierMap(std::span<const std::uint8_t> frame) {
    const ByteReader reader(frame);
    const auto status = reader.u8(off::kStatus);
    if (!status)
        return std::nullopt;
    auto confirm = std::make_optional<CarrierMapConfirm>();
    confirm->status = *status;
    if (*status != 0)
        return confirm;
    const auto slot = reader.u8(off::kCmCnfSlot);
    const auto slots = reader.u8(off::kCmCnfSlots);
    if (!slot || !slots || *slots > kMaxCarrierMapSlots)
        return std::nullopt;
    confirm->slot = *slot;
    confirm->slots = *slots;
    if (*slots == 0)
        return confirm;
    const auto active = reader.u16le(off::kCmCnfActive);
    const auto codes = reader.bytes(off::kCmCnfModulation, kCarriers / 2);
    const auto gain = reader.u8(off::kCmCnfGain);
    const auto agc = reader.u8(off::kCmCnfAgc);
    if (*slot >= *slots || !active || *active > kCarriers || !codes || !gain || !agc)
        return std::nullopt;
    for (std::size_t i = 0; i < kCarriers / 2; ++i) {
        const std::uint8_t low = (*codes)[i] & 0x0F;
        const std::uint8_t high = (*codes)[i] >> 4;
        if (low > kLargestModulation || high > kLargestModulation)
            return std::nullopt;
        confirm->modulation[2 * i] = low;
        confirm->modulation[2 * i + 1] = high;
    }
    confirm->activeCarriers = *active;
    confirm->gain = *gain;
    confirm->agc = *agc;
    return confirm;
}

std::uint8_t bitsOfModulation(std::uint8_t code) {
    return code <= kLargestModulation ? kBitsOfModulation[code] : 0;
}

double snrOfModulation(std::uint8_t code) {
    return code <= kLargestModulation ? kSnrOfModulation[code] : 0;
}

} // namespace zrq406::mme
