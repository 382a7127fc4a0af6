#include "link/helper_frames.h"

#include <algorithm>

namespace zrq406::link::helper {

namespace {
constexpr std::uint16_t kProtocolType = 0x88E1;
constexpr std::size_t kDestinationOffset = 0;
constexpr std::size_t kSourceOffset = 6;
constexpr std::size_t kTypeOffset = 12;
constexpr std::size_t kEthernetHeader = 14;
constexpr std::size_t kMaxFrame = kMaxMessage - 1;
// The group bit of an Ethernet address, in its first byte.
constexpr std::uint8_t kGroupBit = 0x01;

// ldh [12]; jeq 0x88E1 -> accept, else drop.
constexpr std::array<BpfInstruction, 4> kFilter{{
    {0x28, 0, 0, kTypeOffset},
    {0x15, 0, 1, kProtocolType},
    {0x06, 0, 0, 0x40000},
    {0x06, 0, 0, 0},
}};

bool isProbe(std::span<const std::uint8_t> frame) {
    if (frame.size() < kProbeLength || frame.size() > kProbePaddedLength)
        return false;
    if ((frame[kDestinationOffset] & kGroupBit) != 0)
        return false;
    const auto fixed = frame.subspan(kProbeFixedOffset, kProbeFixed.size());
    if (!std::equal(fixed.begin(), fixed.end(), kProbeFixed.begin()))
        return false;
    const auto padding = frame.subspan(kProbeLength);
    return std::all_of(padding.begin(), padding.end(), [](std::uint8_t b) { return b == 0; });
}
} // namespace

bool passesFrame(std::span<const std::uint8_t> frame) {
    if (frame.size() < kEthernetHeader || frame.size() > kMaxFrame)
        return false;
    // The helper sends from the interface's own address whatever the program put there; a group address there
    // is refused outright.
    if ((frame[kSourceOffset] & kGroupBit) != 0)
        return false;
    const auto type = static_cast<std::uint16_t>(frame[kTypeOffset] << 8 | frame[kTypeOffset + 1]);
    return type == kProtocolType || isProbe(frame);
}

bool stampFrame(std::span<std::uint8_t> frame, std::span<const std::uint8_t, 6> ownAddress) {
    if (!passesFrame(frame))
        return false;
    std::copy(ownAddress.begin(), ownAddress.end(), frame.begin() + kSourceOffset);
    return true;
}

std::span<const BpfInstruction> receiveFilter() {
    return kFilter;
}

} // namespace zrq406::link::helper
