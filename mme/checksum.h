#pragma once

#include <cstdint>
#include <span>

namespace zrq406::mme {

// Complement of the XOR of the first (length / 4) little-endian 32-bit words: the checksum of a written block,
// of a configuration block (with its own checksum field zeroed first) and of a firmware image.
std::uint32_t blockChecksum(std::span<const std::uint8_t> bytes);

// The checksum that upgrade files store for each image: 16-bit little-endian values taken at every byte
// position (overlapping), the middle byte added for an odd length, folded to 16 bits, complemented.
std::uint32_t fileChecksum(std::span<const std::uint8_t> image);

} // namespace zrq406::mme
