#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace zrq406::mme {

// The head of a firmware image (module 1) as far as the programs check it: the image's total length and its
// own checksum, blockChecksum over the whole image with the checksum field zeroed.
namespace firmware_header {
constexpr std::size_t kLength = 4;   // u32 LE: the image's length in bytes
constexpr std::size_t kChecksum = 8; // u32 LE
constexpr std::size_t kSize = 12;
} // namespace firmware_header

// Whether the image is as long as it announces and matches its own checksum. Upgrade files carry a second
// checksum per image, but that one reads only the first half of the image.
bool firmwareImageValid(std::span<const std::uint8_t> image);

} // namespace zrq406::mme
