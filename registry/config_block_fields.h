#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace zrq406 {

// A 16-byte network membership key.
using NetworkKey = std::array<std::uint8_t, 16>;

// The fields of a device's configuration block that the device tables read.
namespace config_block {

inline constexpr std::size_t nmkOffset = 100;
inline constexpr std::size_t productOffset = 116;
inline constexpr std::size_t productWidth = 64;
// The LED bytes that all read 0xFF while the device's LEDs are switched off.
inline constexpr std::array<std::size_t, 5> ledOffBytes = {0x1EFA, 0x1EFC, 0x1F02, 0x1F0E, 0x1F10};

// True when the block holds all LED bytes and every one is 0xFF; a block too short to hold them reads as on.
bool ledsOff(std::span<const std::uint8_t> block);
// True when the 64-byte product string contains "TALVERN ZRQ406".
bool isOwnModel(std::span<const std::uint8_t> block);
// Whether the block's network membership key equals `key`; nothing when the block is too short to hold one.
std::optional<bool> hasNetworkKey(std::span<const std::uint8_t> block, const NetworkKey& key);

} // namespace config_block
} // namespace zrq406
