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

// The discovery probe, the one frame of another protocol that the programs send: to one station (a unicast
// destination), Ethertype IPv4, then the first 12 bytes of an IPv4 header without payload (length 20, TTL 64,
// protocol 253, its checksum over addresses 0.0.0.0), 26 bytes in all. The link pads it with zeros to 60.
constexpr std::size_t kProbeLength = 26;
constexpr std::size_t kProbeFixedOffset = 12;
constexpr std::array<std::uint8_t, kProbeLength - kProbeFixedOffset> kProbeFixed{
    0x08, 0x00, 0x45, 0x00, 0x00, 0x14, 0x00, 0x00, 0x00, 0x00, 0x40, 0xFD, 0x79, 0xEE};
// The shortest frame on the wire; the probe's padding ends there.
constexpr std::size_t kProbePaddedLength = 60;

// Whether the helper may put this frame on the wire: a frame of this protocol's Ethertype 0x88E1 (header to
// 1522 bytes), or the probe above, byte for byte but for its destination and source, with nothing but zeros
// after it up to 60 bytes. A group (multicast) source address is refused, as is anything else.
bool passesFrame(std::span<const std::uint8_t> frame);

// Readies a frame that the program handed the helper for the wire: false when passesFrame() refuses it, else
// true with `ownAddress`, the interface's own, written over its source (bytes 6-11).
bool stampFrame(std::span<std::uint8_t> frame, std::span<const std::uint8_t, 6> ownAddress);

// The kernel filter of the helper's raw socket: only frames of Ethertype 0x88E1 are received, the only ones that
// the programs read.
std::span<const BpfInstruction> receiveFilter();

} // namespace helper
} // namespace zrq406::link
