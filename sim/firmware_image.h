#pragma once

#include "mme/firmware_image.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zrq406::sim {

// The firmware image (module 1) that the simulated devices run:
//   0-3    magic "ZQFW"
//   4-7    total image length, u32 LE
//   8-11   mme::blockChecksum over the first (length / 4) words of the image with this field zeroed
//   12-139 version text, zero-terminated (at most 127 characters)
//   140..  payload
namespace fw {
constexpr std::size_t kMagic = 0;
constexpr std::size_t kLength = mme::firmware_header::kLength;
constexpr std::size_t kChecksum = mme::firmware_header::kChecksum;
constexpr std::size_t kVersion = 12;
constexpr std::size_t kVersionWidth = 128;
constexpr std::size_t kHeaderLength = kVersion + kVersionWidth;
constexpr char kMagicText[4] = {'Z', 'Q', 'F', 'W'};
// The largest image a device's firmware module holds.
constexpr std::size_t kMaxLength = 4 * 1024 * 1024;
constexpr std::size_t kDefaultLength = 64 * 1024;
} // namespace fw

// What identifies a firmware image without its bytes.
struct FirmwareIdentity {
    std::string version;
    std::uint32_t length = 0;
    std::uint32_t checksum = 0;
    bool operator==(const FirmwareIdentity&) const = default;
};

// A valid image of `totalLength` bytes (at least the header, at most 4 MiB) carrying `version` (cut to 127
// bytes); the payload is a deterministic function of version and position.
std::vector<std::uint8_t> makeFirmwareImage(std::string_view version, std::size_t totalLength = fw::kDefaultLength);
// The version text of a valid image: magic, length field equal to the byte count, checksum and a terminated,
// non-empty version text; nothing for anything else.
std::optional<std::string> firmwareImageVersion(std::span<const std::uint8_t> bytes);
// Version, length and checksum of a valid image.
std::optional<FirmwareIdentity> firmwareImageIdentity(std::span<const std::uint8_t> bytes);

} // namespace zrq406::sim
