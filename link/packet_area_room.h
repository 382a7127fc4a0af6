#pragma once

#include "link/packet_library.h"

#include <cstddef>
#include <cstdint>

namespace zrq406::link {

// The bytes a read may fill behind the frame offset of a PacketArea. The named array holds 1513 bytes, one short
// of a full 1514-byte Ethernet frame (header and 1500 bytes of payload, no FCS); the record's alignment padding
// behind it belongs to the same object, so the room actually available is the whole tail of the record. Both the
// library (writing) and the adapter table (copying out) use this bound, never the 1500 of the capacity field.
constexpr std::size_t kPacketAreaRoom = sizeof(PacketArea) - offsetof(PacketArea, frame);
static_assert(kPacketAreaRoom >= 1514, "a PacketArea must hold a full Ethernet frame");

// The frame bytes of an area, addressed through the record itself so that the whole tail room is in bounds.
inline std::uint8_t* frameRoom(PacketArea& area) {
    return reinterpret_cast<std::uint8_t*>(&area) + offsetof(PacketArea, frame);
}
inline const std::uint8_t* frameRoom(const PacketArea& area) {
    return reinterpret_cast<const std::uint8_t*>(&area) + offsetof(PacketArea, frame);
}

} // namespace zrq406::link
