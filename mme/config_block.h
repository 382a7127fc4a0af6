#pragma once

#include "mme/frame_builder.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace zrq406::mme {

// The configuration block (module 2 of a device) as far as the programs and the devices use it.
namespace cfg {
constexpr std::size_t kLength = 4;    // u16: the block's own length
constexpr std::size_t kChecksum = 8;  // u32: blockChecksum over length / 4 words with this field zeroed
constexpr std::size_t kMac = 12;      // 6: the device's address
constexpr std::size_t kIdentity = 18; // 16: identity field, kept through upgrades
constexpr std::size_t kIdentityWidth = 16;
constexpr std::size_t kUserData = 36; // 64: device text, kept through upgrades
constexpr std::size_t kUserDataWidth = 64;
constexpr std::size_t kNmk = 100;     // 16: network membership key
constexpr std::size_t kProduct = 116; // 64: product text, e.g. "TALVERN ZRQ406-CE-12"
constexpr std::size_t kProductWidth = 64;
// The LED bytes and their values; a device reads as LED off when all but 0x1EFE are 0xFF.
constexpr std::array<std::size_t, 6> kLedOffsets = {0x1EFA, 0x1EFC, 0x1EFE, 0x1F02, 0x1F0E, 0x1F10};
constexpr std::array<std::uint8_t, 6> kLedOn = {0x00, 0x00, 0x01, 0xFF, 0x00, 0x00};
constexpr std::array<std::uint8_t, 6> kLedOff = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
// A block is at least one read block long and at most the module's size.
constexpr std::size_t kMinLength = 1024;
constexpr std::size_t kMaxLength = 16384;
} // namespace cfg

// The length the block announces at offset 4 (0 when it is too short to hold it).
std::size_t configBlockLength(std::span<const std::uint8_t> block);
// Recomputes the checksum at offset 8 over the announced length (cut to the bytes present).
void sealConfigBlock(std::span<std::uint8_t> block);
// Whether the announced length lies within 1024..16384 and the bytes present, and the checksum matches.
bool configBlockValid(std::span<const std::uint8_t> block);
// Whether the block, by its announced length and its bytes, holds every LED byte.
bool hasLeds(std::span<const std::uint8_t> block);
// Whether the LED bytes say "off"; a block too short to hold them reads as on.
bool ledsOff(std::span<const std::uint8_t> block);
// Writes the six LED bytes for the given state; a block too short to hold them is left alone.
void setLeds(std::span<std::uint8_t> block, bool on);
// The product text at offset 116, up to its first zero (empty for a block too short to hold it).
std::string productText(std::span<const std::uint8_t> block);
void setProductText(std::span<std::uint8_t> block, std::string_view product);
// The network membership key at offset 100 (zero for a block too short to hold it).
Key nmkOf(std::span<const std::uint8_t> block);
void setNmk(std::span<std::uint8_t> block, const Key& nmk);

} // namespace zrq406::mme
