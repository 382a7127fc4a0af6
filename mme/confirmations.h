#pragma once

#include "mme/mme_frame.h"
#include "platform/mac_address.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zrq406::mme {

// Whether a received frame is the awaited confirmation: HomePlug AV Ethertype, the confirmation type, and,
// when `requiredDestination` is given, addressed to it.
bool matchesConfirmation(std::span<const std::uint8_t> frame, std::uint16_t confirmationType,
                         const MacAddress* requiredDestination);

// Whether a received frame answers `request`: HomePlug AV Ethertype, the request's confirmation type, sent by
// `requiredSource` and addressed to `requiredDestination` where they are given, and, for a successful answer of
// a message that echoes the request's module fields (read and write module block, commit), echoing them as sent.
// A late answer of another device, or to another block, is no answer to this request.
bool answersRequest(std::span<const std::uint8_t> frame, std::span<const std::uint8_t> request,
                    const MacAddress* requiredDestination, const MacAddress* requiredSource);

// Each parser reads only within the received frame and returns nothing for a frame whose counts or lengths
// do not fit: such a frame is no answer.

struct SoftwareVersionConfirm {
    std::uint8_t status = 0;
    MacAddress source; // the answering device
    std::string version;
};
std::optional<SoftwareVersionConfirm> parseSoftwareVersion(std::span<const std::uint8_t> frame);

// Write module, commit, set key and factory reset confirmations carry a status byte only.
std::optional<std::uint8_t> parseStatus(std::span<const std::uint8_t> frame);

struct ReadModuleConfirm {
    std::uint8_t status = 0;
    std::span<const std::uint8_t> data; // the requested bytes, inside the frame
};
// `requestedLength` bytes must follow the header; a frame that does not hold them is no answer.
std::optional<ReadModuleConfirm> parseReadModule(std::span<const std::uint8_t> frame, std::size_t requestedLength);

struct AttributesConfirm {
    std::uint16_t status = 0;
    std::string platform; // up to the first zero of its 17 bytes
};
std::optional<AttributesConfirm> parseAttributes(std::span<const std::uint8_t> frame);

struct NetworkStation {
    MacAddress mac;
    std::uint8_t tei = 0;
    MacAddress bridgedMac;
    std::uint8_t averageTxRate = 0;
    std::uint8_t averageRxRate = 0;
};

struct NetworkInfoConfirm {
    std::uint8_t networks = 0;
    // Valid only when networks is not 0.
    std::array<std::uint8_t, 7> nid{};
    std::uint8_t snid = 0;
    std::uint8_t tei = 0;
    std::uint8_t role = 0;
    MacAddress ccoMac;
    std::uint8_t ccoTei = 0;
    std::vector<NetworkStation> stations; // each other station once, in the order listed
};
// The station list leaves out the answering device itself, the broadcast address and every repeat of a station
// (the first entry of each stands).
std::optional<NetworkInfoConfirm> parseNetworkInfo(std::span<const std::uint8_t> frame);

struct PushButtonConfirm {
    std::uint8_t status = 0;     // 0: done
    std::uint8_t membership = 0; // 0-3 on no network, 4 and up associated, 8 its network's coordinator
    bool associated() const { return membership >= kMembershipAssociated; }
};
// The push button's confirmation (standard layout: status at 17, membership state at 18).
std::optional<PushButtonConfirm> parsePushButton(std::span<const std::uint8_t> frame);

struct HostEntry {
    MacAddress mac;
    std::uint8_t id = 0; // the device's enumeration id of the host
};
struct HostsConfirm {
    std::uint8_t status = 0;
    std::vector<HostEntry> hosts; // in the order listed; empty for a refusal
};
// The hosts behind a device. A count of hosts that the frame does not hold makes it no answer.
std::optional<HostsConfirm> parseHosts(std::span<const std::uint8_t> frame);

// What a device counted of the frames it sent on a link. An MPDU is one transmission, a PB one 520-byte physical
// block of it.
struct TransmitCounters {
    std::uint64_t mpdusAcknowledged = 0;
    std::uint64_t mpdusCollided = 0;
    std::uint64_t mpdusFailed = 0;
    std::uint64_t pbsPassed = 0;
    std::uint64_t pbsFailed = 0;
};
// PBs received at one PHY rate.
struct RateInterval {
    std::uint8_t rate = 0; // Mbit/s
    std::uint64_t pbsPassed = 0;
    std::uint64_t pbsFailed = 0;
    std::uint64_t bitErrorsPassed = 0;
    std::uint64_t bitErrorsFailed = 0;
};
// What a device counted of the frames it received on a link. The bit-error sums are the bits that forward error
// correction mended (passed PBs) or could not mend (failed ones).
struct ReceiveCounters {
    std::uint64_t mpdusAcknowledged = 0;
    std::uint64_t mpdusFailed = 0;
    std::uint64_t pbsPassed = 0;
    std::uint64_t pbsFailed = 0;
    std::uint64_t bitErrorsPassed = 0;
    std::uint64_t bitErrorsFailed = 0;
    std::vector<RateInterval> intervals;
};
struct LinkStatisticsConfirm {
    std::uint8_t status = 0; // a refusal carries nothing further
    StatisticsDirection direction = StatisticsDirection::Both;
    std::uint8_t linkId = 0;
    std::uint8_t peerTei = 0;
    std::optional<TransmitCounters> transmit; // present for direction Transmit and Both
    std::optional<ReceiveCounters> receive;   // present for direction Receive and Both
};
// A direction other than the three, or an interval count that the frame does not hold, makes it no answer.
std::optional<LinkStatisticsConfirm> parseLinkStatistics(std::span<const std::uint8_t> frame);

struct CarrierMapConfirm {
    std::uint8_t status = 0; // a refusal carries nothing further
    std::uint8_t slot = 0;
    std::uint8_t slots = 0; // 0: no carrier map yet, nothing has been received on the link
    std::uint16_t activeCarriers = 0;
    std::array<std::uint8_t, kCarriers> modulation{}; // per carrier, 0 (off) to kLargestModulation
    std::uint8_t gain = 0;
    std::uint8_t agc = 0;
};
// A map that does not fit the frame, a slot beyond the number of slots (or more than six), more active carriers
// than there are, or a modulation code beyond 4096-QAM makes it no answer. With no slots nothing further is read.
std::optional<CarrierMapConfirm> parseCarrierMap(std::span<const std::uint8_t> frame);
// The bits that each modulation code carries per carrier and symbol, and the signal to noise (dB) it needs.
std::uint8_t bitsOfModulation(std::uint8_t code);
double snrOfModulation(std::uint8_t code);

} // namespace zrq406::mme
