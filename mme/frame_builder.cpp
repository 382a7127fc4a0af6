#include "mme/frame_builder.h"

#include "mme/checksum.h"

#include <algorithm>
#include <cassert>

namespace zrq406::mme {

namespace {

void putMac(Frame& frame, std::size_t offset, const MacAddress& mac) {
    std::copy(mac.bytes.begin(), mac.bytes.end(), frame.begin() + static_cast<std::ptrdiff_t>(offset));
}

void putKey(Frame& frame, std::size_t offset, const Key& key) {
    std::copy(key.begin(), key.end(), frame.begin() + static_cast<std::ptrdiff_t>(offset));
}

Frame request(std::size_t length, const MacAddress& destination, const MacAddress& source, MmType type) {
    return makeFrame(length, destination, source, static_cast<std::uint16_t>(type));
}

} // namespace

Frame makeStandardFrame(std::size_t length, const MacAddress& destination, const MacAddress& source,
                        std::uint16_t mmType) {
    assert(length >= hdr::kStandardPayload);
    Frame frame(length, 0);
    putMac(frame, hdr::kDestination, destination);
    putMac(frame, hdr::kSource, source);
    frame[hdr::kEthertype] = static_cast<std::uint8_t>(kEthertypeHomePlug >> 8);
    frame[hdr::kEthertype + 1] = static_cast<std::uint8_t>(kEthertypeHomePlug & 0xFF);
    frame[hdr::kVersion] = kMmeVersion;
    putU16le(frame, hdr::kMmType, mmType);
    return frame;
}

Frame makeFrame(std::size_t length, const MacAddress& destination, const MacAddress& source, std::uint16_t mmType) {
    assert(length >= hdr::kPayload);
    Frame frame = makeStandardFrame(length, destination, source, mmType);
    std::copy(std::begin(kOui), std::end(kOui), frame.begin() + hdr::kOui);
    return frame;
}

Frame buildSoftwareVersionRequest(const MacAddress& destination, const MacAddress& source) {
    return request(len::kSoftwareVersion, destination, source, MmType::SoftwareVersion);
}

Frame buildWriteModuleRequest(const MacAddress& destination, const MacAddress& source, std::uint8_t module,
                              std::uint32_t offset, std::span<const std::uint8_t> block) {
    assert(block.size() <= kMaxBlock);
    Frame frame = request(len::kWriteModule, destination, source, MmType::WriteModule);
    frame[off::kWrModule] = module;
    putU16le(frame, off::kWrLength, static_cast<std::uint16_t>(block.size()));
    putU32le(frame, off::kWrOffset, offset);
    putU32le(frame, off::kWrChecksum, blockChecksum(block));
    std::copy(block.begin(), block.end(), frame.begin() + off::kWrData);
    return frame;
}

Frame buildReadModuleRequest(const MacAddress& destination, const MacAddress& source, std::uint8_t module,
                             std::uint16_t length, std::uint32_t offset) {
    Frame frame = request(len::kReadModule, destination, source, MmType::ReadModule);
    frame[off::kRdModule] = module;
    putU16le(frame, off::kRdLength, length);
    putU32le(frame, off::kRdOffset, offset);
    return frame;
}

Frame buildCommitRequest(const MacAddress& destination, const MacAddress& source, std::uint8_t moduleSet) {
    Frame frame = request(len::kCommitModules, destination, source, MmType::CommitModules);
    frame[off::kCommitSet] = moduleSet;
    return frame;
}

Frame buildNetworkInfoRequest(const MacAddress& destination, const MacAddress& source) {
    return request(len::kNetworkInfo, destination, source, MmType::NetworkInfo);
}

Frame buildSetLocalKeyRequest(const MacAddress& destination, const MacAddress& source, const Key& nmk) {
    Frame frame = request(len::kSetKey, destination, source, MmType::SetKey);
    frame[off::kKeyEks] = 1;
    putKey(frame, off::kKeyNmk, nmk);
    frame[off::kKeyPeks] = kKeyApplyLocal;
    return frame;
}

Frame buildSetRemoteKeyRequest(const MacAddress& destination, const MacAddress& source, const Key& nmk,
                               const MacAddress& remote, const Key& dak) {
    Frame frame = request(len::kSetKey, destination, source, MmType::SetKey);
    frame[off::kKeyEks] = 1;
    putKey(frame, off::kKeyNmk, nmk);
    frame[off::kKeyPeks] = kKeyForwardRemote;
    putMac(frame, off::kKeyRemoteMac, remote);
    putKey(frame, off::kKeyDak, dak);
    return frame;
}

Frame buildAttributesRequest(const MacAddress& destination, const MacAddress& source) {
    return request(len::kAttributes, destination, source, MmType::Attributes);
}

Frame buildFactoryResetRequest(const MacAddress& destination, const MacAddress& source) {
    return request(len::kFactoryReset, destination, source, MmType::FactoryReset);
}

Frame buildPushButtonRequest(const MacAddress& destination, const MacAddress& source, PushButtonAction action) {
    Frame frame = makeStandardFrame(len::kPushButton, destination, source, static_cast<std::uint16_t>(MmType::PushButton));
    frame[off::kPbAction] = static_cast<std::uint8_t>(action);
    return frame;
}

Frame buildRestartRequest(const MacAddress& destination, const MacAddress& source) {
    return request(len::kRestart, destination, source, MmType::Restart);
}

Frame buildHostsRequest(const MacAddress& destination, const MacAddress& source) {
    return request(len::kHosts, destination, source, MmType::Hosts);
}

Frame buildLinkStatisticsRequest(const MacAddress& destination, const MacAddress& source, StatisticsControl control,
                                 StatisticsDirection direction, std::uint8_t linkId, const MacAddress& peer) {
    Frame frame = request(len::kLinkStatistics, destination, source, MmType::LinkStatistics);
    frame[off::kLsControl] = static_cast<std::uint8_t>(control);
    frame[off::kLsDirection] = static_cast<std::uint8_t>(direction);
    frame[off::kLsLinkId] = linkId;
    putMac(frame, off::kLsPeer, peer);
    return frame;
}

Frame buildCarrierMapRequest(const MacAddress& destination, const MacAddress& source, const MacAddress& peer,
                             std::uint8_t slot) {
    Frame frame = request(len::kCarrierMap, destination, source, MmType::CarrierMap);
    putMac(frame, off::kCmPeer, peer);
    frame[off::kCmSlot] = slot;
    return frame;
}

Frame buildProbeFrame(const MacAddress& station, const MacAddress& host) {
    Frame frame(len::kProbe, 0);
    putMac(frame, hdr::kDestination, station);
    putMac(frame, hdr::kSource, host);
    frame[12] = 0x08;
    frame[13] = 0x00;
    // Past its first two bytes the header is free; it is made a well-formed IPv4 header of a packet without
    // payload (length 20, TTL 64, protocol 253 for experiments), so that a capture shows a sound packet. Its
    // addresses, 0.0.0.0 both, lie in the zero padding of the 60-byte wire frame.
    constexpr std::size_t kIpv4Header = 20;
    std::uint8_t ipv4[kIpv4Header] = {0x45, 0x00, 0x00, kIpv4Header, 0x00, 0x00, 0x00, 0x00, 0x40, 0xFD};
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < kIpv4Header; i += 2)
        sum += static_cast<std::uint32_t>(ipv4[i] << 8 | ipv4[i + 1]);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    ipv4[10] = static_cast<std::uint8_t>(~sum >> 8);
    ipv4[11] = static_cast<std::uint8_t>(~sum);
    std::copy_n(ipv4, len::kProbe - 14, frame.begin() + 14);
    return frame;
}

} // namespace zrq406::mme
