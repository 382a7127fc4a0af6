// The firmware image format and the configuration block helpers that others build their test images with.

#include "mme/checksum.h"
#include "mme/key_derivation.h"
#include "mme/mme_frame.h"
#include "sim/config_block.h"
#include "sim/firmware_image.h"

#include <gtest/gtest.h>

namespace zrq406::sim {
namespace {

TEST(FirmwareImage, LayoutAndRoundTrip) {
    const auto image = makeFirmwareImage("ZRQPLC1-MAC-3-3-3348-00-2764-CE-0800", 4098);
    ASSERT_EQ(image.size(), 4098u);
    EXPECT_EQ(std::string(image.begin(), image.begin() + 4), "ZQFW");
    EXPECT_EQ(mme::getU32le(image, 4), 4098u);
    auto zeroed = image;
    mme::putU32le(zeroed, 8, 0);
    EXPECT_EQ(mme::getU32le(image, 8), mme::blockChecksum(zeroed));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(image.data() + 12)), "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0800");
    EXPECT_EQ(firmwareImageVersion(image), "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0800");
    // Deterministic, and different for another version.
    EXPECT_EQ(image, makeFirmwareImage("ZRQPLC1-MAC-3-3-3348-00-2764-CE-0800", 4098));
    const auto other = makeFirmwareImage("ZRQPLC1-MAC-3-3-3348-00-2764-CE-0801", 4098);
    EXPECT_NE(std::vector<std::uint8_t>(image.begin() + 200, image.end()),
              std::vector<std::uint8_t>(other.begin() + 200, other.end()));
}

TEST(FirmwareImage, InvalidImagesHaveNoVersion) {
    const auto good = makeFirmwareImage("V1", 2048);
    auto bad = good;
    bad[1] = 'X';
    EXPECT_FALSE(firmwareImageVersion(bad));
    bad = good;
    bad[1500] ^= 0x40;
    EXPECT_FALSE(firmwareImageVersion(bad));
    bad = good;
    bad.push_back(0); // length field no longer matches
    EXPECT_FALSE(firmwareImageVersion(bad));
    EXPECT_FALSE(firmwareImageVersion(std::span(good).first(100)));
    // A version text without its terminator, checksum made good again.
    bad = good;
    std::fill(bad.begin() + 12, bad.begin() + 140, 'A');
    mme::putU32le(bad, 8, 0);
    mme::putU32le(bad, 8, mme::blockChecksum(bad));
    EXPECT_FALSE(firmwareImageVersion(bad));
    // Checksum words stop at length / 4: the last two bytes of an odd-sized image are outside it.
    auto odd = makeFirmwareImage("V2", 1030);
    odd[1029] ^= 0xFF;
    EXPECT_EQ(firmwareImageVersion(odd), "V2");
}

TEST(ConfigBlock, FieldsAndChecksum) {
    ConfigBlockFields fields;
    fields.mac = MacAddress{{0x00, 0xB0, 0x52, 0x01, 0x02, 0x03}};
    fields.identity[0] = 0xAA;
    fields.hfid = "desk";
    fields.nmk = mme::DeriveNmk("SomeNetwork1");
    fields.product = "TALVERN ZRQ406-NA-4";
    fields.ledOn = false;
    fields.length = 8192;
    auto block = makeConfigBlock(fields);
    ASSERT_EQ(block.size(), 8192u);
    EXPECT_EQ(mme::getU16le(block, 4), 8192);
    EXPECT_TRUE(configBlockValid(block));
    EXPECT_TRUE(std::equal(fields.mac.bytes.begin(), fields.mac.bytes.end(), block.begin() + 12));
    EXPECT_EQ(block[18], 0xAA);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(block.data() + 36)), "desk");
    EXPECT_EQ(mme::nmkOf(block), fields.nmk);
    EXPECT_EQ(mme::productText(block), "TALVERN ZRQ406-NA-4");
    EXPECT_TRUE(mme::ledsOff(block));
    for (const std::size_t offset : cfg::kLedOffsets)
        EXPECT_EQ(block[offset], 0xFF);

    mme::setLeds(block, true);
    EXPECT_FALSE(configBlockValid(block));
    sealConfigBlock(block);
    EXPECT_TRUE(configBlockValid(block));
    EXPECT_FALSE(mme::ledsOff(block));
    const std::uint8_t on[] = {0x00, 0x00, 0x01, 0xFF, 0x00, 0x00};
    for (std::size_t i = 0; i < 6; ++i)
        EXPECT_EQ(block[cfg::kLedOffsets[i]], on[i]);
    // 0x1EFE alone does not make the LEDs read as on.
    mme::setLeds(block, false);
    block[0x1EFE] = 0x01;
    EXPECT_TRUE(mme::ledsOff(block));
}

TEST(ConfigBlock, LengthsOutsideTheModuleAreInvalid) {
    ConfigBlockFields fields;
    fields.length = 1030;
    auto block = makeConfigBlock(fields);
    EXPECT_TRUE(configBlockValid(block));
    // The checksum covers 257 words: the last two bytes are outside it.
    block[1029] ^= 1;
    EXPECT_TRUE(configBlockValid(block));
    mme::putU16le(block, 4, 1000);
    sealConfigBlock(block);
    EXPECT_FALSE(configBlockValid(block));
    mme::putU16le(block, 4, 2000); // longer than the bytes present
    EXPECT_FALSE(configBlockValid(block));
    EXPECT_FALSE(configBlockValid(std::vector<std::uint8_t>(4, 0)));
}

} // namespace
} // namespace zrq406::sim
