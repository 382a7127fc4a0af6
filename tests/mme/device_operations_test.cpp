#include "mme/checksum.h"
#include "mme/key_derivation.h"
#include "scripted_link.h"

#include <cstring>
#include <gtest/gtest.h>

using namespace zrq406;
using namespace zrq406::mme;
using test::ScriptedLink;

namespace {

const MacAddress kRemote{{0x00, 0xB0, 0x52, 0x00, 0x20, 0x07}};

// A device that keeps a configuration block and records the write and commit requests it gets.
struct BlockDevice {
    std::vector<std::uint8_t> block;
    std::vector<Frame> writes;
    std::vector<int> commits;
    int failWriteAt = -1; // answer this write (0-based) with a failing status

    explicit BlockDevice(std::size_t length) : block(kConfigBlockMax, 0) {
        putU16le(block, cfg::kLength, static_cast<std::uint16_t>(length));
    }

    ScriptedLink::Responder responder() {
        return [this](const Frame& request) -> std::vector<Frame> {
            const MacAddress from = ScriptedLink::kLocal;
            switch (test::typeOf(request)) {
            case 0xA024: {
                // A sound device's block names it and carries its checksum.
                std::copy(from.bytes.begin(), from.bytes.end(), block.begin() + cfg::kMac);
                sealConfigBlock(block);
                const std::uint16_t length = getU16le(request, off::kRdLength);
                const std::uint32_t offset = getU32le(request, off::kRdOffset);
                auto f = test::confirmTo(from, MmType::ReadModule, 36 + length);
                std::memcpy(f.data() + 36, block.data() + offset, length);
                return {f};
            }
            case 0xA020: {
                const int index = static_cast<int>(writes.size());
                writes.push_back(request);
                return {test::statusConfirm(from, MmType::WriteModule, index == failWriteAt ? 0x10 : 0)};
            }
            case 0xA028:
                commits.push_back(request[off::kCommitSet]);
                return {test::statusConfirm(from, MmType::CommitModules, 0)};
            default:
                return {};
            }
        };
    }
};

std::vector<std::uint8_t> image(std::size_t length) {
    std::vector<std::uint8_t> bytes(kConfigBlockMax, 0);
    for (std::size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7);
    putU16le(bytes, cfg::kLength, static_cast<std::uint16_t>(length));
    return bytes;
}

} // namespace

TEST(DeviceOperations, ReadsTheBlockInPiecesUpToItsLength) {
    ScriptedLink link;
    BlockDevice device(2500);
    device.block[2499] = 0x5A;
    device.block[2500] = 0x77; // beyond the announced length: never read
    link.setResponder(device.responder());
    ConfigBlock block{};
    ASSERT_TRUE(link.operations().ReadConfigBlock(ScriptedLink::kLocal, block));
    EXPECT_EQ(block[2499], 0x5A);
    EXPECT_EQ(block[2500], 0);
    const auto reads = link.sentOfType(MmType::ReadModule);
    ASSERT_EQ(reads.size(), 3u);
    EXPECT_EQ(getU16le(reads[2], off::kRdLength), 452);
    EXPECT_EQ(getU32le(reads[2], off::kRdOffset), 2048u);
}

TEST(DeviceOperations, BlocksAnnouncingImpossibleLengthsAreRefused) {
    for (std::size_t length : {0u, 1023u, 16385u, 65535u}) {
        ScriptedLink link;
        BlockDevice device(length);
        link.setResponder(device.responder());
        ConfigBlock block{};
        EXPECT_FALSE(link.operations().ReadConfigBlock(ScriptedLink::kLocal, block)) << length;
        // A length can be a damaged byte: the first block is read again, then the read is given up.
        EXPECT_EQ(link.sentOfType(MmType::ReadModule).size(), std::size_t{DeviceOperations::kBlockReadTries}) << length;

        auto bad = image(1024);
        putU16le(bad, cfg::kLength, static_cast<std::uint16_t>(length));
        EXPECT_FALSE(link.operations().WriteConfigBlock(false, 0, 0, ScriptedLink::kLocal, bad)) << length;
        EXPECT_TRUE(device.writes.empty()) << "nothing may be written for length " << length;
    }
}

TEST(DeviceOperations, WritesWholeBlocksThenCommits) {
    ScriptedLink link;
    BlockDevice device(1024);
    link.setResponder(device.responder());
    auto block = image(3072);
    ASSERT_TRUE(link.operations().WriteConfigBlock(false, 0, 0, ScriptedLink::kLocal, block));
    ASSERT_EQ(device.writes.size(), 3u);
    EXPECT_EQ(device.commits, std::vector<int>{2});
    // The image's own checksum was computed over its length with the field zeroed.
    auto copy = block;
    putU32le(copy, cfg::kChecksum, 0);
    EXPECT_EQ(getU32le(block, cfg::kChecksum), blockChecksum(std::span(copy).first(3072)));
    EXPECT_EQ(getU32le(device.writes[1], off::kWrOffset), 1024u);
    EXPECT_EQ(device.writes[1][off::kWrModule], kModuleConfig);
}

TEST(DeviceOperations, A1030ByteBlockEndsWithASixByteWrite) {
    ScriptedLink link;
    BlockDevice device(1024);
    link.setResponder(device.responder());
    auto block = image(1030);
    ASSERT_TRUE(link.operations().WriteConfigBlock(true, 100, 1130, ScriptedLink::kLocal, block));
    ASSERT_EQ(device.writes.size(), 2u);
    const Frame& last = device.writes[1];
    EXPECT_EQ(getU16le(last, off::kWrLength), 6);
    // The 6-byte block's checksum covers its first word only.
    EXPECT_EQ(getU32le(last, off::kWrChecksum), ~getU32le(block, 1024));
    EXPECT_EQ(device.commits, std::vector<int>{3});
    EXPECT_DOUBLE_EQ(link.progress().fraction.load(), 1.0);
}

TEST(DeviceOperations, AFailedBlockStopsBeforeTheCommit) {
    ScriptedLink link;
    BlockDevice device(1024);
    device.failWriteAt = 1;
    link.setResponder(device.responder());
    auto block = image(4096);
    EXPECT_FALSE(link.operations().WriteConfigBlock(false, 0, 0, ScriptedLink::kLocal, block));
    EXPECT_EQ(device.writes.size(), 2u);
    EXPECT_TRUE(device.commits.empty());
}

TEST(DeviceOperations, KeysGoToTheLocalDevice) {
    ScriptedLink link;
    std::vector<Frame> keys;
    link.setResponder([&](const Frame& request) -> std::vector<Frame> {
        const MacAddress to = test::destinationOf(request);
        if (test::typeOf(request) == 0xA000 && to == MacAddress::localDevice())
            return {test::versionConfirm(ScriptedLink::kLocal, "V")};
        if (test::typeOf(request) == 0xA050) {
            keys.push_back(request);
            return {test::statusConfirm(ScriptedLink::kLocal, MmType::SetKey, 0)};
        }
        return {};
    });
    LocalNetworkRecord record;
    ASSERT_TRUE(link.discovery().QuerySoftwareVersion(nullptr, record));

    EXPECT_EQ(link.operations().SetNetworkKey("short", false, {}, ""), KeyResult::PasswordLength);
    EXPECT_EQ(link.operations().SetNetworkKey("with space", false, {}, ""), KeyResult::PasswordCharacter);
    EXPECT_TRUE(keys.empty());

    ASSERT_EQ(link.operations().SetNetworkKey("SecretNetwork1", true, kRemote, "ABCD-EFGH-IJKL-MNOP"), KeyResult::Done);
    ASSERT_EQ(keys.size(), 1u);
    const Frame& remote = keys[0];
    EXPECT_EQ(test::destinationOf(remote), ScriptedLink::kLocal);
    EXPECT_EQ(remote[off::kKeyPeks], kKeyForwardRemote);
    EXPECT_TRUE(std::equal(kRemote.bytes.begin(), kRemote.bytes.end(), remote.begin() + off::kKeyRemoteMac));
    const Key dak = DeriveDak("ABCD-EFGH-IJKL-MNOP");
    EXPECT_TRUE(std::equal(dak.begin(), dak.end(), remote.begin() + off::kKeyDak));
    const Key nmk = DeriveNmk("SecretNetwork1");
    EXPECT_TRUE(std::equal(nmk.begin(), nmk.end(), remote.begin() + off::kKeyNmk));

    ASSERT_EQ(link.operations().SetNetworkKey("SecretNetwork1", false, {}, ""), KeyResult::Done);
    EXPECT_EQ(keys[1][off::kKeyPeks], kKeyApplyLocal);
}

TEST(DeviceOperations, LedBytes) {
    std::vector<std::uint8_t> block(kConfigBlockMax, 0xFF);
    // LED bytes beyond the length the block announces are no LED setting: they read as on and are not written.
    putU16le(block, cfg::kLength, 0x1F00);
    EXPECT_FALSE(hasLeds(block));
    EXPECT_FALSE(ledsOff(block));
    setLeds(block, true);
    EXPECT_EQ(block[0x1EFA], 0xFF);
    std::fill(block.begin(), block.end(), 0);
    putU16le(block, cfg::kLength, 8192);
    EXPECT_FALSE(ledsOff(block));
    setLeds(block, false);
    EXPECT_TRUE(ledsOff(block));
    block[0x1EFE] = 0x01; // not one of the bytes that tell "off"
    EXPECT_TRUE(ledsOff(block));
    setLeds(block, true);
    EXPECT_FALSE(ledsOff(block));
    EXPECT_EQ(block[0x1EFE], 0x01);
    EXPECT_EQ(block[0x1F02], 0xFF);
}
