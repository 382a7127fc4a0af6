#include "link/helper_frames.h"

namespace zrq406::link::helper {

namespace {
constexpr std::uint16_t kProtocolType = 0x88E1;
constexpr std::uint16_t kIpv4Type = 0x0800;
constexpr std::uint8_t kProbeProtocol = 253;
constexpr std::size_t kTypeOffset = 12;
constexpr std::size_t kIpVersionOffset = 14;
constexpr std::size_t kIpProtocolOffset = 23;
constexpr std::size_t kEthernetHeader = 14;
constexpr std::size_t kMaxFrame = kMaxMessage - 1;

// ldh [12]; jeq 0x88E1 -> accept; jeq 0x0800 -> next, else drop; ldb [23]; jeq 253 -> accept, else drop.
constexpr std::array<BpfInstruction, 7> kFilter{{
    {0x28, 0, 0, kTypeOffset},
    {0x15, 3, 0, kProtocolType},
    {0x15, 0, 3, kIpv4Type},
    {0x30, 0, 0, kIpProtocolOffset},
    {0x15, 0, 1, kProbeProtocol},
    {0x06, 0, 0, 0x40000},
    {0x06, 0, 0, 0},
}};
} // namespace

bool passesFrame(std::span<const std::uint8_t> frame) {
    if (frame.size() < kEthernetHeader || frame.size() > kMaxFrame)
        return false;
    const auto type = static_cast<std::uint16_t>(frame[kTypeOffset] << 8 | frame[kTypeOffset + 1]);
    if (type == kProtocolType)
        return true;
    return type == kIpv4Type && frame.size() > kIpProtocolOffset && (frame[kIpVersionOffset] >> 4) == 4 &&
           frame[kIpProtocolOffset] == kProbeProtocol;
}

std::span<const BpfInstruction> receiveFilter() {
    return kFilter;
}

} // namespace zrq406::link::helper
