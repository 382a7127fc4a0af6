// Staged and committed images, restarts and factory reset, through real frames on the simulated segment.

#include "mme/confirmations.h"
#include "mme/key_derivation.h"
#include "sim/config_block.h"
#include "sim/firmware_image.h"
#include "tests/sim/sim_test_support.h"

#include <gtest/gtest.h>

namespace zrq406::sim::test {
namespace {

const MacAddress kLocal = mac("00:b0:52:00:02:01");
const MacAddress kRemote = mac("00:b0:52:00:02:02");
const std::string kOldFirmware = "ZRQPLC1-MAC-3-3-3348-00-2400-CE-0511";
const std::string kNewFirmware = "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0800";

// Restarts short enough to wait for (scaled they last some tens of milliseconds).
std::string network(const std::string& restart) {
    return R"({
  "settings": {"restartMs": )" +
           restart + R"(},
  "devices": [
    {"mac": "00:b0:52:00:02:01", "tei": 1, "networkPassword": "HomeNetwork1", "led": false,
     "firmware": ")" +
           kOldFirmware + R"(", "product": "TALVERN ZRQ406-NA-7", "configLength": 8200,
     "factory": {"firmware": "ZRQPLC1-MAC-3-3-3348-00-2000-NA-0100"}},
    {"mac": "00:b0:52:00:02:02", "tei": 2, "networkPassword": "HomeNetwork1", "firmware": ")" +
           kOldFirmware + R"("}
  ]
})";
}

const std::string kQuickRestarts = R"({"firmwareCommit": 2500, "configCommit": 1500, "factoryReset": 2500})";
// Long enough that the device is certainly still silent when the test looks.
const std::string kLongRestarts = R"({"firmwareCommit": 300000, "configCommit": 300000, "factoryReset": 300000})";

class CommitRestart : public ::testing::Test {
protected:
    void start(const std::string& restart) {
        net = makeNetwork(network(restart));
        ASSERT_TRUE(net);
        host = std::make_unique<HostPort>(firstSegment(*net), kHost);
    }

    std::optional<std::uint8_t> commit(const MacAddress& device, std::uint8_t set) {
        return statusOf(host->exchange(mme::buildCommitRequest(device, kHost, set)));
    }

    std::string version(const MacAddress& device) {
        const auto frame = host->exchange(mme::buildSoftwareVersionRequest(device, kHost));
        if (!frame)
            return "(no answer)";
        const auto confirm = mme::parseSoftwareVersion(*frame);
        return confirm ? confirm->version : "(malformed)";
    }

    std::unique_ptr<Network> net;
    std::unique_ptr<HostPort> host;
};

TEST_F(CommitRestart, ConfigurationBlockIsStagedUntilCommitted) {
    start(kQuickRestarts);
    auto block = readConfigBlock(*host, kLocal);
    ASSERT_TRUE(block);
    const auto original = *block;
    EXPECT_TRUE(mme::ledsOff(*block));
    mme::setLeds(*block, true);
    sealConfigBlock(*block);
    const auto statuses = writeModule(*host, kLocal, 2, *block);
    // 8200 bytes: eight full blocks and one of 8 bytes.
    EXPECT_EQ(statuses, std::vector<std::uint8_t>(9, 0));
    EXPECT_EQ(readConfigBlock(*host, kLocal), original);
    EXPECT_EQ(net->device(kLocal)->stagedConfigBytes, 8200u);

    EXPECT_EQ(commit(kLocal, 2), 0);
    const auto committed = net->device(kLocal);
    EXPECT_TRUE(committed->ledOn);
    EXPECT_EQ(committed->configBlock, *block);
    ASSERT_TRUE(waitUntilAnswering(*host, kLocal));
    EXPECT_EQ(readConfigBlock(*host, kLocal), *block);
    // The firmware stays as it was: a configuration commit does not touch it.
    EXPECT_EQ(version(kLocal), kOldFirmware);
}

TEST_F(CommitRestart, DeviceIsSilentWhileItRestarts) {
    start(kLongRestarts);
    auto block = *readConfigBlock(*host, kRemote);
    ASSERT_EQ(writeModule(*host, kRemote, 2, block), std::vector<std::uint8_t>(8, 0));
    EXPECT_EQ(commit(kRemote, 2), 0);
    for (const auto& request :
         {mme::buildSoftwareVersionRequest(kRemote, kHost), mme::buildNetworkInfoRequest(kRemote, kHost),
          mme::buildReadModuleRequest(kRemote, kHost, 2, 1024, 0), mme::buildFactoryResetRequest(kRemote, kHost)})
        EXPECT_FALSE(host->exchange(request, kSilenceWindow));
    // A restarting device is no station of the network meanwhile, and takes no forwarded key.
    const auto info = mme::parseNetworkInfo(*host->exchange(mme::buildNetworkInfoRequest(kLocal, kHost)));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->networks, 0);
    EXPECT_NE(statusOf(host->exchange(
                  mme::buildSetRemoteKeyRequest(kLocal, kHost, mme::kDefaultNmk, kRemote, net->device(kRemote)->dak))),
              0);

    // A restarting attached device carries nothing for the others either.
    ASSERT_EQ(writeModule(*host, kLocal, 2, *readConfigBlock(*host, kLocal)), std::vector<std::uint8_t>(9, 0));
    EXPECT_EQ(commit(MacAddress::localDevice(), 2), 0);
    EXPECT_FALSE(host->exchange(mme::buildSoftwareVersionRequest(MacAddress::localDevice(), kHost), kSilenceWindow));
}

TEST_F(CommitRestart, FirmwareAndConfigurationCommitTogether) {
    start(kQuickRestarts);
    const auto image = makeFirmwareImage(kNewFirmware, 5000);
    auto block = *readConfigBlock(*host, kRemote);
    // What an upgrade writes: a new block carrying the device's identity, on the default key.
    mme::setNmk(block, mme::kDefaultNmk);
    sealConfigBlock(block);
    EXPECT_EQ(writeModule(*host, kRemote, 1, image), std::vector<std::uint8_t>(5, 0));
    EXPECT_EQ(writeModule(*host, kRemote, 2, block), std::vector<std::uint8_t>(8, 0));
    EXPECT_EQ(version(kRemote), kOldFirmware); // staged only
    EXPECT_EQ(commit(kRemote, 3), 0);
    const auto snapshot = net->device(kRemote);
    EXPECT_EQ(snapshot->firmware, kNewFirmware);
    EXPECT_EQ(snapshot->firmwareImage, *firmwareImageIdentity(image));
    EXPECT_EQ(snapshot->nmk, mme::kDefaultNmk);
    EXPECT_EQ(snapshot->mac, kRemote);

    // On the default key now, it left the attached device's network; joining it brings it back in reach.
    ASSERT_EQ(statusOf(host->exchange(mme::buildSetLocalKeyRequest(kLocal, kHost, mme::kDefaultNmk))), 0);
    ASSERT_TRUE(waitUntilAnswering(*host, kRemote));
    EXPECT_EQ(version(kRemote), kNewFirmware);
}

TEST_F(CommitRestart, ModuleSetThreeWithOnlyAConfigurationBlock) {
    start(kQuickRestarts);
    auto block = *readConfigBlock(*host, kLocal);
    mme::setProductText(block, "TALVERN ZRQ406-NA-8");
    sealConfigBlock(block);
    ASSERT_EQ(writeModule(*host, kLocal, 2, block).size(), 9u);
    EXPECT_EQ(commit(kLocal, 3), 0);
    EXPECT_EQ(net->device(kLocal)->product, "TALVERN ZRQ406-NA-8");
    EXPECT_EQ(net->device(kLocal)->firmware, kOldFirmware);
}

TEST_F(CommitRestart, InvalidStagedImagesAreRefusedAndChangeNothing) {
    start(kLongRestarts);
    const auto before = *net->device(kLocal);

    EXPECT_NE(commit(kLocal, 2), 0); // nothing staged
    EXPECT_NE(commit(kLocal, 7), 0); // no such module set

    // A block whose own checksum is wrong (each written block is fine).
    auto block = before.configBlock;
    block[200] ^= 0xFF;
    ASSERT_EQ(writeModule(*host, kLocal, 2, block), std::vector<std::uint8_t>(9, 0));
    EXPECT_NE(commit(kLocal, 2), 0);
    // A block announcing more bytes than were written.
    block = before.configBlock;
    mme::putU16le(block, 4, 9000);
    sealConfigBlock(block);
    ASSERT_EQ(writeModule(*host, kLocal, 2, std::vector<std::uint8_t>(block.begin(), block.begin() + 8200)).size(), 9u);
    EXPECT_NE(commit(kLocal, 2), 0);
    // A block announcing less than one read block.
    block = before.configBlock;
    mme::putU16le(block, 4, 1000);
    sealConfigBlock(block);
    ASSERT_EQ(writeModule(*host, kLocal, 2, block).size(), 9u);
    EXPECT_NE(commit(kLocal, 3), 0);

    // A firmware image in another format, beside a valid block: the whole commit is refused.
    ASSERT_EQ(writeModule(*host, kLocal, 2, before.configBlock).size(), 9u);
    auto image = makeFirmwareImage(kNewFirmware, 3000);
    image[0] = 'X';
    ASSERT_EQ(writeModule(*host, kLocal, 1, image).size(), 3u);
    EXPECT_NE(commit(kLocal, 3), 0);
    // And one with a bad checksum.
    image = makeFirmwareImage(kNewFirmware, 3000);
    image[2000] ^= 0x10;
    ASSERT_EQ(writeModule(*host, kLocal, 1, image).size(), 3u);
    EXPECT_NE(commit(kLocal, 3), 0);

    const auto after = *net->device(kLocal);
    EXPECT_TRUE(after.up);
    EXPECT_EQ(after.configBlock, before.configBlock);
    EXPECT_EQ(after.firmware, kOldFirmware);
    EXPECT_EQ(version(kLocal), kOldFirmware);
}

TEST_F(CommitRestart, RestartLosesStagedData) {
    start(kQuickRestarts);
    const auto image = makeFirmwareImage(kNewFirmware, 3000);
    ASSERT_EQ(writeModule(*host, kLocal, 1, image).size(), 3u);
    auto block = *readConfigBlock(*host, kLocal);
    ASSERT_EQ(writeModule(*host, kLocal, 2, block).size(), 9u);
    EXPECT_EQ(commit(kLocal, 2), 0); // the firmware staged beside it is not committed, and the restart drops it
    ASSERT_TRUE(waitUntilAnswering(*host, kLocal));
    EXPECT_EQ(net->device(kLocal)->stagedFirmwareBytes, 0u);
    EXPECT_NE(commit(kLocal, 3), 0);
    EXPECT_EQ(version(kLocal), kOldFirmware);
}

TEST_F(CommitRestart, FactoryResetRestoresFactorySettingsAndKeepsTheAddress) {
    start(kQuickRestarts);
    const auto frame = host->exchange(mme::buildFactoryResetRequest(kLocal, kHost));
    ASSERT_TRUE(frame);
    EXPECT_TRUE(mme::matchesConfirmation(*frame, 0xA07D, &kHost));
    EXPECT_EQ(statusOf(frame), 0);
    const auto snapshot = net->device(kLocal);
    EXPECT_EQ(snapshot->nmk, mme::kDefaultNmk);
    EXPECT_TRUE(snapshot->ledOn);
    EXPECT_EQ(snapshot->firmware, "ZRQPLC1-MAC-3-3-3348-00-2000-NA-0100");
    EXPECT_EQ(snapshot->product, "TALVERN ZRQ406-NA-7");
    EXPECT_EQ(snapshot->configBlock.size(), 8200u);
    EXPECT_TRUE(configBlockValid(snapshot->configBlock));
    EXPECT_EQ(std::vector<std::uint8_t>(snapshot->configBlock.begin() + 12, snapshot->configBlock.begin() + 18),
              std::vector<std::uint8_t>(kLocal.bytes.begin(), kLocal.bytes.end()));
    ASSERT_TRUE(waitUntilAnswering(*host, MacAddress::localDevice()));
    const auto again =
        mme::parseSoftwareVersion(*host->exchange(mme::buildSoftwareVersionRequest(MacAddress::localDevice(), kHost)));
    ASSERT_TRUE(again);
    EXPECT_EQ(again->source, kLocal);
    // The remote is still on the old key: out of reach.
    EXPECT_FALSE(host->exchange(mme::buildSoftwareVersionRequest(kRemote, kHost), kSilenceWindow));
}

} // namespace
} // namespace zrq406::sim::test
