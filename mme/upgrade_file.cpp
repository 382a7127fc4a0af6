#include "mme/upgrade_file.h"

#include "mme/checksum.h"
#include "mme/device_operations.h"
#include "mme/firmware_image.h"
#include "mme/mme_frame.h"
#include "platform/regular_file.h"

#include <cstring>

namespace zrq406::mme {

namespace h = upgrade_header;

namespace {

// The zero-terminated text of a header field; nothing when the field holds no terminator.
std::optional<std::string> headerText(std::span<const std::uint8_t> bytes, std::size_t offset, std::size_t width) {
    const auto* start = reinterpret_cast<const char*>(bytes.data() + offset);
    const std::size_t length = strnlen(start, width);
    if (length == width)
        return std::nullopt;
    return std::string(start, length);
}

bool imageBounds(std::size_t fileSize, std::uint32_t offset, std::uint32_t length, const char* what,
                 std::string& error) {
    if (length == 0) {
        error = std::string("the ") + what + " image is empty";
        return false;
    }
    if (offset < h::kSize || offset > fileSize || length > fileSize - offset) {
        error = std::string("the ") + what + " image (offset " + std::to_string(offset) + ", length " +
                std::to_string(length) + ") reaches outside the file of " + std::to_string(fileSize) + " bytes";
        return false;
    }
    return true;
}

} // namespace

std::optional<UpgradeFile> parseUpgradeFile(std::span<const std::uint8_t> bytes, std::string_view manufacturer,
                                            std::string_view model, std::string& error) {
    if (bytes.empty()) {
        error = "the file is empty";
        return std::nullopt;
    }
    if (bytes.size() < h::kSize) {
        error = "the file is cut short: " + std::to_string(bytes.size()) + " bytes, less than its 92-byte header";
        return std::nullopt;
    }
    const auto maker = headerText(bytes, h::kManufacturer, h::kManufacturerWidth);
    if (!maker || *maker != manufacturer) {
        error = "the manufacturer is not \"" + std::string(manufacturer) + "\"";
        return std::nullopt;
    }
    const auto modelText = headerText(bytes, h::kModel, h::kModelWidth);
    if (!modelText || *modelText != model) {
        error = "the model is not \"" + std::string(model) + "\"";
        return std::nullopt;
    }
    const auto* versionStart = reinterpret_cast<const char*>(bytes.data() + h::kVersion);
    UpgradeFile file;
    file.version.assign(versionStart, strnlen(versionStart, h::kVersionWidth));
    if (file.version.empty()) {
        error = "the version text is empty";
        return std::nullopt;
    }

    const std::uint32_t configOffset = getU32le(bytes, h::kConfigOffset);
    const std::uint32_t configLength = getU32le(bytes, h::kConfigLength);
    const std::uint32_t firmwareOffset = getU32le(bytes, h::kFirmwareOffset);
    const std::uint32_t firmwareLength = getU32le(bytes, h::kFirmwareLength);
    if (!imageBounds(bytes.size(), configOffset, configLength, "configuration block", error) ||
        !imageBounds(bytes.size(), firmwareOffset, firmwareLength, "firmware", error))
        return std::nullopt;
    const auto config = bytes.subspan(configOffset, configLength);
    const auto firmware = bytes.subspan(firmwareOffset, firmwareLength);
    if (fileChecksum(config) != getU32le(bytes, h::kConfigChecksum)) {
        error = "the configuration block image does not match its checksum";
        return std::nullopt;
    }
    if (fileChecksum(firmware) != getU32le(bytes, h::kFirmwareChecksum)) {
        error = "the firmware image does not match its checksum";
        return std::nullopt;
    }
    // The file's checksums read only the first half of each image: a damaged byte further on shows only in the
    // image's own checksum.
    if (!firmwareImageValid(firmware)) {
        error = "the firmware image fails its own length or checksum";
        return std::nullopt;
    }
    const std::size_t announced = configBlockLength(config);
    if (announced < kConfigBlockMin || announced > kConfigBlockMax || announced > config.size()) {
        error = "the configuration block announces " + std::to_string(announced) + " bytes; it must be 1024 to " +
                std::to_string(std::min<std::size_t>(kConfigBlockMax, config.size())) + " bytes";
        return std::nullopt;
    }
    // Its own checksum covers the whole block, and the upgrade reseals the block after carrying the device's
    // fields, which would hide a damaged byte.
    if (!configBlockValid(config)) {
        error = "the configuration block image fails its own checksum";
        return std::nullopt;
    }
    file.config.assign(config.begin(), config.end());
    file.firmware.assign(firmware.begin(), firmware.end());
    return file;
}

std::optional<UpgradeFile> readUpgradeFile(const std::string& path, std::string_view manufacturer,
                                           std::string_view model, std::string& error) {
    const FileReadResult read = readRegularFile(path, kMaxUpgradeFileSize);
    if (!read) {
        error = read.status == FileReadStatus::TooLarge ? path + ": not a readable file of at most 64 MiB" : read.error;
        return std::nullopt;
    }
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(read.content.data()),
                                              read.content.size());
    auto file = parseUpgradeFile(bytes, manufacturer, model, error);
    if (!file)
        error = path + ": " + error;
    return file;
}

int CheckUpgradeFile(const std::string& path, std::string& version) {
    std::string error;
    const auto file = readUpgradeFile(path, kManufacturerWord, kModelWord, error);
    if (!file)
        return -1;
    version = file->version;
    return 0;
}

std::vector<std::uint8_t> packUpgradeFile(std::span<const std::uint8_t> firmware, std::span<const std::uint8_t> config,
                                          std::string_view version, std::string_view manufacturer,
                                          std::string_view model) {
    std::vector<std::uint8_t> out(h::kSize, 0);
    auto putText = [&out](std::size_t offset, std::size_t width, std::string_view text) {
        std::memcpy(out.data() + offset, text.data(), std::min(text.size(), width - 1));
    };
    putText(h::kManufacturer, h::kManufacturerWidth, manufacturer);
    putText(h::kModel, h::kModelWidth, model);
    std::memcpy(out.data() + h::kVersion, version.data(), std::min(version.size(), h::kVersionWidth));
    putU32le(out, h::kConfigOffset, static_cast<std::uint32_t>(h::kSize));
    putU32le(out, h::kConfigLength, static_cast<std::uint32_t>(config.size()));
    putU32le(out, h::kConfigChecksum, fileChecksum(config));
    putU32le(out, h::kFirmwareOffset, static_cast<std::uint32_t>(h::kSize + config.size()));
    putU32le(out, h::kFirmwareLength, static_cast<std::uint32_t>(firmware.size()));
    putU32le(out, h::kFirmwareChecksum, fileChecksum(firmware));
    out.insert(out.end(), config.begin(), config.end());
    out.insert(out.end(), firmware.begin(), firmware.end());
    return out;
}

} // namespace zrq406::mme
