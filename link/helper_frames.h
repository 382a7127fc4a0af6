#pragma once

#include "link/link_backend.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace zrq406::link {

// What the frame helper and the program say to each other over their socket pair: one datagram a message, its
// first byte the kind.
namespace helper {

constexpr std::uint8_t kFrame = 'F';       // a frame, either way
constexpr std::uint8_t kPromiscuous = 'P'; // program to helper: one byte, 1 = on, 0 = off
constexpr std::uint8_t kReady = 'R';       // helper to program: the interface is open
constexpr std::uint8_t kError = 'E';       // helper to program: why it could not open it, then it ends
// The descriptor on which the helper finds its end of the socket pair.
constexpr int kChannelFd = 3;
// Room for the largest Ethernet frame with a VLAN tag, and the kind byte.
constexpr std::size_t kMaxMessage = 1 + 1522;

// Whether the helper may put this frame on the wire: this protocol's Ethertype 0x88E1, or the discovery probe
// (an IPv4 header of protocol 253). Anything else, or a frame shorter than its header, is refused.
bool passesFrame(std::span<const std::uint8_t> frame);

// The kernel filter of the helper's raw socket: only the frames passesFrame() would pass are received.
std::span<const BpfInstruction> receiveFilter();

} // namespace helper
} // namespace zrq406::link
