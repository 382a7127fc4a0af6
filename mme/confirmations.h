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

} // namespace zrq406::mme
