#pragma once

#include "mme/key_derivation.h"
#include "platform/mac_address.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zrq406::sim {

// Offsets of the fields of a configuration block (module 2) that the devices and the programs use.
namespace cfg {
constexpr std::size_t kLength = 4;    // u16 LE: the block's own length
constexpr std::size_t kChecksum = 8;  // u32 LE: mme::blockChecksum over length / 4 words, this field zeroed
constexpr std::size_t kMac = 12;      // 6: the device's address
constexpr std::size_t kIdentity = 18; // 16: identity field kept through upgrades (the device access key)
constexpr std::size_t kIdentityWidth = 16;
constexpr std::size_t kHfid = 36; // 64: device text kept through upgrades
constexpr std::size_t kHfidWidth = 64;
constexpr std::size_t kNmk = 100;     // 16: network membership key
constexpr std::size_t kProduct = 116; // 64: product text, e.g. "TALVERN ZRQ406-CE-12"
constexpr std::size_t kProductWidth = 64;
// The LED bytes and their values when the LEDs are on; all of them are 0xFF when the LEDs are off.
constexpr std::array<std::size_t, 6> kLedOffsets = {0x1EFA, 0x1EFC, 0x1EFE, 0x1F02, 0x1F0E, 0x1F10};
constexpr std::array<std::uint8_t, 6> kLedOnValues = {0x00, 0x00, 0x01, 0xFF, 0x00, 0x00};
// A block is at least one read block long and at most the module's size.
constexpr std::size_t kMinLength = 1024;
constexpr std::size_t kMaxLength = 16384;
constexpr std::size_t kTypicalLength = 8192;
} // namespace cfg

// What makeConfigBlock puts into a new block; everything else is zero.
struct ConfigBlockFields {
    MacAddress mac;
    std::array<std::uint8_t, cfg::kIdentityWidth> identity{};
    std::string hfid;
    mme::Key nmk = mme::kDefaultNmk;
    std::string product = "TALVERN ZRQ406-CE-12";
    bool ledOn = true;
    std::size_t length = cfg::kTypicalLength; // kept within kMinLength..kMaxLength
};

// The device text that a device's block carries at offset 36 from the factory.
std::string factoryDeviceText(const MacAddress& mac);
// A valid configuration block of exactly `fields.length` bytes, checksum in place.
std::vector<std::uint8_t> makeConfigBlock(const ConfigBlockFields& fields);
// Recomputes the checksum at offset 8 over the block's own length (cut to the bytes present).
void sealConfigBlock(std::span<std::uint8_t> block);
// Whether the block's length field lies within 1024..16384 and the bytes present, and its checksum matches.
bool configBlockValid(std::span<const std::uint8_t> block);
// The u16 length field at offset 4 (0 when the block is too short to hold it).
std::size_t configBlockLength(std::span<const std::uint8_t> block);

// Field access on a block at least 180 bytes long; setters do not reseal.
mme::Key configNmk(std::span<const std::uint8_t> block);
void setConfigNmk(std::span<std::uint8_t> block, const mme::Key& nmk);
std::string configProduct(std::span<const std::uint8_t> block);
void setConfigProduct(std::span<std::uint8_t> block, std::string_view product);
// Whether the block holds all LED bytes.
bool configHasLeds(std::span<const std::uint8_t> block);
// LEDs read as off when the five bytes the programs look at (all but 0x1EFE) are 0xFF; a block too short to
// hold them reads as on.
bool configLedOn(std::span<const std::uint8_t> block);
// Writes the six LED bytes; a block too short to hold them is left alone.
void setConfigLed(std::span<std::uint8_t> block, bool on);

} // namespace zrq406::sim
