#pragma once

#include "platform/mac_address.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace zrq406::mme {

constexpr std::uint16_t kEthertypeHomePlug = 0x88E1;
constexpr std::uint8_t kMmeVersion = 0;
constexpr std::uint8_t kOui[3] = {0x00, 0xB0, 0x52};

// Message types. A request's two low bits are 00; its confirmation is request + 1. The push button is a
// standard message of the powerline family: no OUI follows its type, its payload starts at byte 17. The others
// are vendor messages (0xA000 and up), each with the OUI at bytes 17-19 and its payload from byte 20.
enum class MmType : std::uint16_t {
    PushButton = 0x8000,
    SoftwareVersion = 0xA000,
    Restart = 0xA01C,
    WriteModule = 0xA020,
    ReadModule = 0xA024,
    CommitModules = 0xA028,
    NetworkInfo = 0xA038,
    SetKey = 0xA050,
    Attributes = 0xA068,
    FactoryReset = 0xA07C,
    Hosts = 0xA0DC,
    LinkStatistics = 0xA030,
    CarrierMap = 0xA090,
};
constexpr bool isVendorMessage(std::uint16_t type) {
    return type >= 0xA000 && type <= 0xBFFF;
}
constexpr std::uint16_t confirmationOf(MmType request) {
    return static_cast<std::uint16_t>(request) + 1;
}

// Offsets of the header shared by every message.
namespace hdr {
constexpr std::size_t kDestination = 0;
constexpr std::size_t kSource = 6;
constexpr std::size_t kEthertype = 12;
constexpr std::size_t kVersion = 14;
constexpr std::size_t kMmType = 15;
constexpr std::size_t kOui = 17;
constexpr std::size_t kPayload = 20;
// Where the payload of a standard message (no OUI) starts.
constexpr std::size_t kStandardPayload = 17;
} // namespace hdr

// Exact lengths of the requests as they are built (the link pads short frames to 60 bytes on the wire).
namespace len {
constexpr std::size_t kSoftwareVersion = 24;
constexpr std::size_t kWriteModule = 1056;
constexpr std::size_t kReadModule = 28;
constexpr std::size_t kCommitModules = 22;
constexpr std::size_t kNetworkInfo = 20;
constexpr std::size_t kSetKey = 60;
constexpr std::size_t kAttributes = 25;
constexpr std::size_t kFactoryReset = 20;
constexpr std::size_t kProbe = 26;
constexpr std::size_t kPushButton = 18;
constexpr std::size_t kRestart = 20;
constexpr std::size_t kHosts = 20;
constexpr std::size_t kLinkStatistics = 29;
constexpr std::size_t kCarrierMap = 27;
} // namespace len

// Payload offsets of each message, requests and confirmations.
namespace off {
// write module block request
constexpr std::size_t kWrModule = 20;
constexpr std::size_t kWrLength = 22;
constexpr std::size_t kWrOffset = 24;
constexpr std::size_t kWrChecksum = 28;
constexpr std::size_t kWrData = 32;
// read module block request and confirmation
constexpr std::size_t kRdModule = 20;
constexpr std::size_t kRdLength = 22;
constexpr std::size_t kRdOffset = 24;
constexpr std::size_t kRdCnfModule = 24;
constexpr std::size_t kRdCnfLength = 26;
constexpr std::size_t kRdCnfOffset = 28;
constexpr std::size_t kRdCnfChecksum = 32;
constexpr std::size_t kRdCnfData = 36;
// commit modules request
constexpr std::size_t kCommitSet = 20;
// set encryption key request
constexpr std::size_t kKeyEks = 20;
constexpr std::size_t kKeyNmk = 21;
constexpr std::size_t kKeyPeks = 37;
constexpr std::size_t kKeyRemoteMac = 38;
constexpr std::size_t kKeyDak = 44;
// confirmations
constexpr std::size_t kStatus = 20;
constexpr std::size_t kSwDeviceId = 21;
constexpr std::size_t kSwVersionLength = 22;
constexpr std::size_t kSwVersion = 23;
// What devices of this family send after the 128-byte version field; the programs read neither.
constexpr std::size_t kSwUpgradeable = 151;
constexpr std::size_t kSwCookie = 152; // the request's bytes 20-23, echoed
constexpr std::size_t kSwEnd = 156;
constexpr std::size_t kAttrCookie = 22;
constexpr std::size_t kAttrReportType = 26;
constexpr std::size_t kAttrSize = 27;
constexpr std::size_t kAttrPlatform = 29;
// The whole binary attribute block of a device starts at the platform text: hardware and software platform
// texts, version numbers, build date, release type, memory and mains settings.
constexpr std::size_t kAttrBlockSize = 80;
// write module block and commit confirmations: after the status, the request's module fields as it sent them
constexpr std::size_t kWrCnfModule = 21;
constexpr std::size_t kWrCnfLength = 23;
constexpr std::size_t kWrCnfOffset = 25;
constexpr std::size_t kCommitCnfSet = 21;
constexpr std::size_t kNiNetworks = 20;
constexpr std::size_t kNiNid = 21;
constexpr std::size_t kNiSnid = 28;
constexpr std::size_t kNiTei = 29;
constexpr std::size_t kNiRole = 30;
constexpr std::size_t kNiCcoMac = 31;
constexpr std::size_t kNiCcoTei = 37;
constexpr std::size_t kNiStationCount = 38;
constexpr std::size_t kNiStations = 39;
constexpr std::size_t kNiStationSize = 15;
// push button request and confirmation (standard layout, no OUI)
constexpr std::size_t kPbAction = 17;
constexpr std::size_t kPbStatus = 17;
constexpr std::size_t kPbMembership = 18;
// hosts confirmation: status at 20, the number of hosts (u32), then one entry per host: MAC, enumeration id
constexpr std::size_t kHostCount = 21;
constexpr std::size_t kHosts = 25;
constexpr std::size_t kHostEntrySize = 7;
// link statistics request: control (read, or read and clear), direction, link id, the peer's MAC
constexpr std::size_t kLsControl = 20;
constexpr std::size_t kLsDirection = 21;
constexpr std::size_t kLsLinkId = 22;
constexpr std::size_t kLsPeer = 23;
// link statistics confirmation: status, direction and link id as asked, the peer's TEI, then the counter blocks
constexpr std::size_t kLsCnfDirection = 21;
constexpr std::size_t kLsCnfLinkId = 22;
constexpr std::size_t kLsCnfPeerTei = 23;
constexpr std::size_t kLsCnfStatistics = 24;
// The transmit block: five u64 (MPDUs acknowledged, collided, failed; PBs passed, failed).
constexpr std::size_t kLsTransmitSize = 40;
// The receive block: six u64 (MPDUs acknowledged, failed; PBs passed, failed; bit-error sums of passed and failed
// PBs), a u8 count of rate intervals, then the intervals: a u8 PHY rate (Mbit/s) and four u64 (PBs passed, failed;
// bit-error sums passed, failed).
constexpr std::size_t kLsReceiveCounters = 48;
constexpr std::size_t kLsIntervalSize = 33;
// carrier map request: the peer whose frames the device receives, the slot
constexpr std::size_t kCmPeer = 20;
constexpr std::size_t kCmSlot = 26;
// carrier map confirmation: status, slot, number of slots (0: no map yet), number of active carriers (u16), the
// modulation of every carrier (4 bits each, carrier 2k in the low half of a byte), gain, AGC
constexpr std::size_t kCmCnfSlot = 21;
constexpr std::size_t kCmCnfSlots = 22;
constexpr std::size_t kCmCnfActive = 23;
constexpr std::size_t kCmCnfModulation = 25;
constexpr std::size_t kCmCnfGain = 602;
constexpr std::size_t kCmCnfAgc = 603;
constexpr std::size_t kCmCnfEnd = 604;
} // namespace off

// The link statistics' control byte, direction and link ids.
enum class StatisticsControl : std::uint8_t { Read = 0, ReadAndClear = 1 };
enum class StatisticsDirection : std::uint8_t { Transmit = 0, Receive = 1, Both = 2 };
constexpr std::uint8_t kLinkIdOfPeer = 0xF8; // the link to the peer named in the request
// Priority classes CAP0-CAP3 are link ids 0-3.
constexpr std::uint8_t kLinkIdLastPriority = 0x03;

// The carriers of a carrier map: carrier k sits at (74 + k) x 24.414 kHz, 1.8 to 30 MHz.
constexpr std::size_t kCarriers = 1154;
constexpr std::size_t kFirstCarrierIndex = 74;
constexpr double kCarrierSpacingKhz = 24.414;
constexpr std::uint8_t kLargestModulation = 8;
constexpr std::uint8_t kMaxCarrierMapSlots = 6;
static_assert(off::kCmCnfModulation + kCarriers / 2 == off::kCmCnfGain);

// The push button's actions: join (as if the device's pair button were pressed), leave (a random network key),
// status.
enum class PushButtonAction : std::uint8_t { Join = 1, Leave = 2, Status = 3 };
// Membership states of the push button's confirmation: below 4 the device is on no network, from 4 on it is
// associated, and 8 marks its network's coordinator.
constexpr std::uint8_t kMembershipAssociated = 4;
constexpr std::uint8_t kMembershipCoordinator = 8;

constexpr std::uint8_t kModuleFirmware = 1;
constexpr std::uint8_t kModuleConfig = 2;
constexpr std::uint8_t kCommitConfigOnly = 2;
constexpr std::uint8_t kCommitFirmwareAndConfig = 3;
constexpr std::uint8_t kKeyApplyLocal = 0x0F;
constexpr std::uint8_t kKeyForwardRemote = 0x00;
constexpr std::size_t kMaxBlock = 1024;
constexpr std::size_t kPlatformTextWidth = 17;
constexpr std::size_t kMaxVersionText = 128;
static_assert(off::kSwUpgradeable == off::kSwVersion + kMaxVersionText);

// Reads fields of a received frame without ever going past its received length.
class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}
    std::size_t size() const { return m_bytes.size(); }
    bool has(std::size_t offset, std::size_t count) const {
        return offset <= m_bytes.size() && count <= m_bytes.size() - offset;
    }
    std::optional<std::uint8_t> u8(std::size_t offset) const;
    std::optional<std::uint16_t> u16le(std::size_t offset) const;
    std::optional<std::uint16_t> u16be(std::size_t offset) const;
    std::optional<std::uint32_t> u32le(std::size_t offset) const;
    std::optional<std::uint64_t> u64le(std::size_t offset) const;
    std::optional<MacAddress> mac(std::size_t offset) const;
    std::optional<std::span<const std::uint8_t>> bytes(std::size_t offset, std::size_t count) const;
    // A zero-terminated text starting at `offset` whose terminator lies within `maxBytes` and the frame.
    std::optional<std::string> terminatedText(std::size_t offset, std::size_t maxBytes) const;
    // A zero-padded fixed field: its text up to the first zero, or all of it.
    std::optional<std::string> paddedText(std::size_t offset, std::size_t width) const;

private:
    std::span<const std::uint8_t> m_bytes;
};

// Little-endian stores into a buffer the caller sized.
void putU16le(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t value);
void putU32le(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value);
void putU64le(std::span<std::uint8_t> bytes, std::size_t offset, std::uint64_t value);
std::uint16_t getU16le(std::span<const std::uint8_t> bytes, std::size_t offset);
std::uint32_t getU32le(std::span<const std::uint8_t> bytes, std::size_t offset);

} // namespace zrq406::mme
