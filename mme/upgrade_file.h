#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zrq406::mme {

// The upgrade file: a 92-byte header (manufacturer, model and version texts, offset, length and checksum of
// a configuration block image and of a firmware image), followed by the images.
namespace upgrade_header {
constexpr std::size_t kSize = 92;
constexpr std::size_t kManufacturer = 4;
constexpr std::size_t kManufacturerWidth = 21;
constexpr std::size_t kModel = 25;
constexpr std::size_t kModelWidth = 11;
constexpr std::size_t kVersion = 36;
constexpr std::size_t kVersionWidth = 32;
constexpr std::size_t kConfigOffset = 68;
constexpr std::size_t kConfigLength = 72;
constexpr std::size_t kConfigChecksum = 76;
constexpr std::size_t kFirmwareOffset = 80;
constexpr std::size_t kFirmwareLength = 84;
constexpr std::size_t kFirmwareChecksum = 88;
} // namespace upgrade_header

inline constexpr std::string_view kManufacturerWord = "TALVERN";
inline constexpr std::string_view kModelWord = "ZRQ406";
// Upgrade files larger than this are not read (the firmware module of these devices is far smaller).
constexpr std::size_t kMaxUpgradeFileSize = 64u * 1024 * 1024;

struct UpgradeFile {
    std::string version;
    std::vector<std::uint8_t> config;
    std::vector<std::uint8_t> firmware;
};

// Parses and checks upgrade file bytes: texts, image bounds, the configuration block's own length, checksums.
// On failure `error` says what is wrong.
std::optional<UpgradeFile> parseUpgradeFile(std::span<const std::uint8_t> bytes, std::string_view manufacturer,
                                            std::string_view model, std::string& error);
// Reads and checks the upgrade file at `path`; the error names the file.
std::optional<UpgradeFile> readUpgradeFile(const std::string& path, std::string_view manufacturer,
                                           std::string_view model, std::string& error);
// 0 with the file's version text when the file is a good upgrade file for this model, else -1.
int CheckUpgradeFile(const std::string& path, std::string& version);

// Builds an upgrade file with correct checksums from its two images.
std::vector<std::uint8_t> packUpgradeFile(std::span<const std::uint8_t> firmware, std::span<const std::uint8_t> config,
                                          std::string_view version, std::string_view manufacturer = kManufacturerWord,
                                          std::string_view model = kModelWord);

} // namespace zrq406::mme
