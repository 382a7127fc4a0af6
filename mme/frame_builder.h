#pragma once

#include "mme/mme_frame.h"
#include "platform/mac_address.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace zrq406::mme {

using Key = std::array<std::uint8_t, 16>;
using Frame = std::vector<std::uint8_t>;

// Each builder returns a frame of exactly the message's length, addressed to `destination` from `source` (the
// host MAC of the current adapter); bytes that carry no meaning are zero.
Frame buildSoftwareVersionRequest(const MacAddress& destination, const MacAddress& source);
// One block of at most 1024 bytes of a module, with its block checksum.
Frame buildWriteModuleRequest(const MacAddress& destination, const MacAddress& source, std::uint8_t module,
                              std::uint32_t offset, std::span<const std::uint8_t> block);
Frame buildReadModuleRequest(const MacAddress& destination, const MacAddress& source, std::uint8_t module,
                             std::uint16_t length, std::uint32_t offset);
Frame buildCommitRequest(const MacAddress& destination, const MacAddress& source, std::uint8_t moduleSet);
Frame buildNetworkInfoRequest(const MacAddress& destination, const MacAddress& source);
// The local form: the attached device takes the NMK itself.
Frame buildSetLocalKeyRequest(const MacAddress& destination, const MacAddress& source, const Key& nmk);
// The remote form: the attached device forwards the NMK to `remote`, which accepts it only under its own DAK.
Frame buildSetRemoteKeyRequest(const MacAddress& destination, const MacAddress& source, const Key& nmk,
                               const MacAddress& remote, const Key& dak);
Frame buildAttributesRequest(const MacAddress& destination, const MacAddress& source);
Frame buildFactoryResetRequest(const MacAddress& destination, const MacAddress& source);
// The push button request (standard layout: the action at byte 17, no OUI).
Frame buildPushButtonRequest(const MacAddress& destination, const MacAddress& source, PushButtonAction action);
// A restart with key, name and settings kept.
Frame buildRestartRequest(const MacAddress& destination, const MacAddress& source);
// The list of the hosts behind the device.
Frame buildHostsRequest(const MacAddress& destination, const MacAddress& source);
// The counters of `destination`'s link to `peer` (link id kLinkIdOfPeer) or of one priority class, in one or both
// directions; ReadAndClear sets them to zero after the read.
Frame buildLinkStatisticsRequest(const MacAddress& destination, const MacAddress& source, StatisticsControl control,
                                 StatisticsDirection direction, std::uint8_t linkId, const MacAddress& peer);
// The carrier map with which `destination` receives frames from `peer`, for one slot.
Frame buildCarrierMapRequest(const MacAddress& destination, const MacAddress& source, const MacAddress& peer,
                             std::uint8_t slot);
// A plain IPv4-typed frame sent to a station before its version query; nothing answers it.
Frame buildProbeFrame(const MacAddress& station, const MacAddress& host);

// A frame of `length` bytes with the management header filled in; used by the builders and by the simulated
// devices for their confirmations.
Frame makeFrame(std::size_t length, const MacAddress& destination, const MacAddress& source, std::uint16_t mmType);
// The same for a standard message: header up to the type, no OUI, payload from byte 17.
Frame makeStandardFrame(std::size_t length, const MacAddress& destination, const MacAddress& source,
                        std::uint16_t mmType);

} // namespace zrq406::mme
