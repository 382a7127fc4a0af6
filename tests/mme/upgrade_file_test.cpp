#include "mme/checksum.h"
#include "mme/device_operations.h"
#include "mme/firmware_image.h"
#include "mme/firmware_upgrade.h"
#include "mme/upgrade_file.h"

#include <gtest/gtest.h>

using namespace zrq406::mme;

namespace {

std::vector<std::uint8_t> configImage(std::size_t length) {
    std::vector<std::uint8_t> bytes(length);
    for (std::size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 13 + 1);
    putU16le(bytes, cfg::kLength, static_cast<std::uint16_t>(length));
    if (length >= kConfigBlockMin)
        sealConfigBlock(bytes);
    return bytes;
}

// A firmware image whose head announces its length and carries its own checksum.
std::vector<std::uint8_t> firmwareImage(std::size_t length) {
    std::vector<std::uint8_t> bytes(length);
    for (std::size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
    putU32le(bytes, firmware_header::kLength, static_cast<std::uint32_t>(length));
    putU32le(bytes, firmware_header::kChecksum, 0);
    putU32le(bytes, firmware_header::kChecksum, blockChecksum(bytes));
    return bytes;
}

std::vector<std::uint8_t> goodFile() {
    const std::vector<std::uint8_t> firmware = firmwareImage(5000);
    return packUpgradeFile(firmware, configImage(2048), "3-3-3348-00-2764-CE-0713");
}

} // namespace

TEST(UpgradeFile, PackedFileReadsBack) {
    std::string error;
    const auto bytes = goodFile();
    const auto file = parseUpgradeFile(bytes, kManufacturerWord, kModelWord, error);
    ASSERT_TRUE(file) << error;
    EXPECT_EQ(file->version, "3-3-3348-00-2764-CE-0713");
    EXPECT_EQ(file->firmware.size(), 5000u);
    EXPECT_EQ(file->config.size(), 2048u);
}

TEST(UpgradeFile, BadFilesAreRefusedWithTheirReason) {
    std::string error;
    auto expectRefused = [&](std::vector<std::uint8_t> bytes, const std::string& reason) {
        error.clear();
        EXPECT_FALSE(parseUpgradeFile(bytes, kManufacturerWord, kModelWord, error)) << reason;
        EXPECT_NE(error.find(reason), std::string::npos) << "got: " << error;
    };
    expectRefused({}, "empty");
    auto bytes = goodFile();
    expectRefused(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 91), "cut short");
    expectRefused(std::vector<std::uint8_t>(bytes.begin(), bytes.end() - 1), "outside the file");

    auto maker = bytes;
    maker[4] = 'X';
    expectRefused(maker, "manufacturer");
    auto model = bytes;
    model[25 + 6] = 'X'; // overwrites the terminator
    expectRefused(model, "model");

    auto offset = bytes;
    putU32le(offset, upgrade_header::kFirmwareOffset, 0xFFFFFFF0u); // offset + length would wrap
    expectRefused(offset, "outside the file");
    auto length = bytes;
    putU32le(length, upgrade_header::kConfigLength, 0);
    expectRefused(length, "empty");

    auto flipped = bytes;
    flipped[bytes.size() - 5000 + 10] ^= 0x01;
    expectRefused(flipped, "firmware image does not match");

    // The stored sums never reach the second half of an image: a damaged byte there passes the file check, and
    // each image's own checksum catches it.
    auto lateFirmware = bytes;
    lateFirmware[bytes.size() - 8] ^= 0x01;
    expectRefused(lateFirmware, "firmware image fails its own");
    auto lateConfig = bytes;
    lateConfig[92 + 2000] ^= 0x01;
    expectRefused(lateConfig, "fails its own checksum");

    // A checksum computed over non-overlapping words is not the file's checksum.
    auto wrongSum = bytes;
    const std::uint32_t configOffset = getU32le(bytes, upgrade_header::kConfigOffset);
    std::uint32_t s = 0;
    for (std::size_t i = 0; i + 1 < 2048; i += 2)
        s += static_cast<std::uint32_t>(bytes[configOffset + i] | bytes[configOffset + i + 1] << 8);
    while (s >> 16)
        s = (s & 0xFFFF) + (s >> 16);
    putU32le(wrongSum, upgrade_header::kConfigChecksum, ~s);
    expectRefused(wrongSum, "configuration block image does not match");

    const std::vector<std::uint8_t> firmware = firmwareImage(100);
    expectRefused(packUpgradeFile(firmware, configImage(1000), "V"), "announces 1000 bytes");
    auto tooLong = configImage(2048);
    putU16le(tooLong, cfg::kLength, 4096); // announces more than the image holds
    expectRefused(packUpgradeFile(firmware, tooLong, "V"), "announces 4096 bytes");
}

TEST(VersionRule, FirmwareMovesForwardRegionAndProductStay) {
    const std::string product = "TALVERN ZRQ406-CE-12";
    const std::string device = "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712";
    EXPECT_EQ(compareVersions("3-3-3348-00-2764-CE-0713", device, product), VersionVerdict::ConfigOnly);
    EXPECT_EQ(compareVersions("3-3-3348-00-2764-CE-0712", device, product), VersionVerdict::Same);
    EXPECT_EQ(compareVersions("3-3-3348-00-2800-CE-0800", device, product), VersionVerdict::FirmwareDiffers);
    EXPECT_EQ(compareVersions("3-3-3348-00-2700-CE-0800", device, product), VersionVerdict::FirmwareOlder);
    EXPECT_EQ(compareVersions("3-3-3348-00-2764-NA-0712", device, product), VersionVerdict::RegionChange);
    EXPECT_EQ(compareVersions("3-3-3348-00-2764-CE-0712", device, "OTHER ZRQ406"), VersionVerdict::ProductMismatch);
    // Numbers compare as numbers, not as text.
    EXPECT_EQ(compareVersions("3-3-3348-00-10000-CE-1", "ZRQPLC1-MAC-3-3-3348-00-9999-CE-1", product),
              VersionVerdict::FirmwareDiffers);
    // A device text without a region takes its region from the product string.
    EXPECT_EQ(compareVersions("3-3-3348-00-2764-NA-1", "ZRQPLC1-MAC-3-3-3348-00-2700-1", product),
              VersionVerdict::RegionChange);
    const auto parts = splitVersion(device);
    EXPECT_EQ(parts.firmware, (std::vector<unsigned long>{3, 3, 3348, 0, 2764}));
    EXPECT_EQ(parts.region, "CE");
    EXPECT_EQ(parts.trailing, "0712");
}
