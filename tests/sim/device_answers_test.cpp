// The devices' answers to each request of the catalogue, through real frames on the simulated segment.

#include "link/adapter_link.h"
#include "mme/checksum.h"
#include "mme/confirmations.h"
#include "mme/key_derivation.h"
#include "sim/config_block.h"
#include "tests/sim/sim_test_support.h"

#include <gtest/gtest.h>
#include <random>

namespace zrq406::sim::test {
namespace {

const std::string kNetwork = R"({
  "hostAdapters": [{"name": "sim0", "mac": "02:00:00:00:00:10", "device": "00:b0:52:00:01:01"}],
  "devices": [
    {"mac": "00:b0:52:00:01:01", "password": "LOCAL-PASSWORD", "tei": 1, "platform": "ZRQPLC1", "deviceId": 3,
     "firmware": "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712",
     "rates": {"00:b0:52:00:01:02": {"tx": 100, "rx": 90}}},
    {"mac": "00:b0:52:00:01:02", "password": "REMOTE-ONE", "tei": 2, "bridgedMac": "02:11:22:33:44:55",
     "firmware": "ZRQPLC1-MAC-3-3-3348-00-2400-CE-0511", "led": false},
    {"mac": "00:b0:52:00:01:03", "password": "REMOTE-TWO", "tei": 5, "networkPassword": "OtherNetwork1",
     "platform": "ZRQPLC2"},
    {"mac": "00:b0:52:00:01:04", "password": "REMOTE-THREE", "tei": 4}
  ]
})";

const MacAddress kLocal = mac("00:b0:52:00:01:01");
const MacAddress kRemote = mac("00:b0:52:00:01:02");
const MacAddress kForeign = mac("00:b0:52:00:01:03"); // on another network key
const MacAddress kRemote2 = mac("00:b0:52:00:01:04");

class DeviceAnswers : public ::testing::Test {
protected:
    void SetUp() override {
        network = makeNetwork(kNetwork);
        ASSERT_TRUE(network);
        host = std::make_unique<HostPort>(firstSegment(*network), kHost);
    }

    std::unique_ptr<Network> network;
    std::unique_ptr<HostPort> host;
};

TEST_F(DeviceAnswers, SoftwareVersionFromOwnAddressAndLocalAddress) {
    for (const MacAddress& destination : {kLocal, MacAddress::localDevice()}) {
        auto request = mme::buildSoftwareVersionRequest(destination, kHost);
        mme::putU32le(request, 20, 0xCAFE0042);
        const auto frame = host->exchange(request);
        ASSERT_TRUE(frame);
        ASSERT_TRUE(mme::matchesConfirmation(*frame, 0xA001, &kHost));
        const auto confirm = mme::parseSoftwareVersion(*frame);
        ASSERT_TRUE(confirm);
        EXPECT_EQ(confirm->status, 0);
        // The answer names the device itself, also when it was asked through the local address.
        EXPECT_EQ(confirm->source, kLocal);
        EXPECT_EQ(confirm->version, "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712");
        EXPECT_EQ((*frame)[21], 3);                           // device id
        EXPECT_EQ((*frame)[22], confirm->version.size() + 1); // length with terminator
        // The whole answer of a device: the 128-byte version field, the upgrade flag and the echoed cookie.
        EXPECT_EQ(frame->size(), 156u);
        EXPECT_EQ((*frame)[23 + confirm->version.size()], 0);
        EXPECT_EQ((*frame)[151], 1);
        EXPECT_EQ(mme::getU32le(*frame, 152), 0xCAFE0042u);
        EXPECT_EQ((*frame)[14], 0);
        EXPECT_EQ((*frame)[17], 0x00);
        EXPECT_EQ((*frame)[18], 0xB0);
        EXPECT_EQ((*frame)[19], 0x52);
    }
    EXPECT_TRUE(host->drain().empty());
}

TEST_F(DeviceAnswers, RemoteDevicesAnswerThroughTheAttachedOneOnlyOnItsNetwork) {
    auto frame = host->exchange(mme::buildSoftwareVersionRequest(kRemote, kHost));
    ASSERT_TRUE(frame);
    const auto confirm = mme::parseSoftwareVersion(*frame);
    ASSERT_TRUE(confirm);
    EXPECT_EQ(confirm->source, kRemote);
    EXPECT_EQ(confirm->version, "ZRQPLC1-MAC-3-3-3348-00-2400-CE-0511");

    // A device with another network key is on the power line but not reachable.
    EXPECT_FALSE(host->exchange(mme::buildSoftwareVersionRequest(kForeign, kHost), kSilenceWindow));
}

TEST_F(DeviceAnswers, ProbesFramesForOthersAndNonRequestsGetNoAnswer) {
    host->send(mme::buildProbeFrame(kLocal, kHost));
    host->send(mme::buildSoftwareVersionRequest(mac("00:b0:52:77:77:77"), kHost));
    host->send(mme::buildSoftwareVersionRequest(MacAddress::broadcast(), kHost));
    // A confirmation on the wire, a frame that claims a device's own address as source, and frames with a wrong
    // version, a wrong OUI, an unknown type, or cut short.
    host->send(mme::makeFrame(60, kLocal, kHost, 0xA001));
    host->send(mme::buildSoftwareVersionRequest(kLocal, kRemote));
    auto wrongVersion = mme::buildSoftwareVersionRequest(kLocal, kHost);
    wrongVersion[14] = 1;
    host->send(wrongVersion);
    auto wrongOui = mme::buildSoftwareVersionRequest(kLocal, kHost);
    wrongOui[19] = 0x53;
    host->send(wrongOui);
    host->send(mme::makeFrame(60, kLocal, kHost, 0xA0F0));
    host->send(mme::makeFrame(21, kLocal, kHost, 0xA024));
    auto truncated = mme::buildSoftwareVersionRequest(kLocal, kHost);
    truncated.resize(16);
    host->send(truncated);
    EXPECT_TRUE(host->drain().empty());
    // Still alive and answering.
    EXPECT_TRUE(host->exchange(mme::buildSoftwareVersionRequest(kLocal, kHost)));
}

TEST_F(DeviceAnswers, AttributesCarryThePlatformAndEchoTheCookie) {
    auto request = mme::buildAttributesRequest(kRemote2, kHost);
    mme::putU32le(request, 20, 0x12345678);
    const auto frame = host->exchange(request);
    ASSERT_TRUE(frame);
    ASSERT_TRUE(mme::matchesConfirmation(*frame, 0xA069, nullptr));
    const auto confirm = mme::parseAttributes(*frame);
    ASSERT_TRUE(confirm);
    EXPECT_EQ(confirm->status, 0);
    EXPECT_EQ(confirm->platform, "ZRQPLC1");
    EXPECT_EQ(mme::getU32le(*frame, 22), 0x12345678u);
    // The whole attribute block, with the platform text in its first 17 bytes.
    EXPECT_EQ(mme::getU16le(*frame, 27), 80);
    EXPECT_EQ(frame->size(), 29u + 80u);
}

TEST_F(DeviceAnswers, NetworkInfoListsThePeersOnTheSameKey) {
    const auto frame = host->exchange(mme::buildNetworkInfoRequest(kLocal, kHost));
    ASSERT_TRUE(frame);
    const auto info = mme::parseNetworkInfo(*frame);
    ASSERT_TRUE(info);
    ASSERT_EQ(info->networks, 1);
    EXPECT_EQ(info->tei, 1);
    EXPECT_EQ(info->role, 2); // lowest TEI: the coordinator
    EXPECT_EQ(info->ccoMac, kLocal);
    EXPECT_EQ(info->ccoTei, 1);
    ASSERT_EQ(info->stations.size(), 2u);
    EXPECT_EQ(info->stations[0].mac, kRemote);
    EXPECT_EQ(info->stations[0].tei, 2);
    EXPECT_EQ(info->stations[0].bridgedMac, mac("02:11:22:33:44:55"));
    EXPECT_EQ(info->stations[0].averageTxRate, 100);
    EXPECT_EQ(info->stations[0].averageRxRate, 90);
    EXPECT_EQ(info->stations[1].mac, kRemote2);
    EXPECT_EQ(info->stations[1].bridgedMac, kRemote2);
    EXPECT_GE(info->stations[1].averageTxRate, 60);
    EXPECT_LE(info->stations[1].averageTxRate, 120);

    // Asked of the remote: the same network, the rates mirrored, and the remote a plain station.
    const auto remoteFrame = host->exchange(mme::buildNetworkInfoRequest(kRemote, kHost));
    ASSERT_TRUE(remoteFrame);
    const auto remote = mme::parseNetworkInfo(*remoteFrame);
    ASSERT_TRUE(remote);
    ASSERT_EQ(remote->networks, 1);
    EXPECT_EQ(remote->nid, info->nid);
    EXPECT_EQ(remote->role, 0);
    EXPECT_EQ(remote->ccoMac, kLocal);
    ASSERT_EQ(remote->stations.size(), 2u);
    EXPECT_EQ(remote->stations[0].mac, kLocal);
    EXPECT_EQ(remote->stations[0].averageTxRate, 90);
    EXPECT_EQ(remote->stations[0].averageRxRate, 100);
    // The pair without settings reports the same made-up rate from both ends.
    const auto fromRemote2 = mme::parseNetworkInfo(*host->exchange(mme::buildNetworkInfoRequest(kRemote2, kHost)));
    ASSERT_TRUE(fromRemote2);
    EXPECT_EQ(fromRemote2->stations[0].mac, kLocal);
    EXPECT_EQ(fromRemote2->stations[0].averageRxRate, info->stations[1].averageTxRate);
}

TEST_F(DeviceAnswers, NetworkInfoReportsNoNetworkWhenAlone) {
    const mme::Key key = mme::DeriveNmk("SomewhereElse1");
    ASSERT_EQ(statusOf(host->exchange(mme::buildSetLocalKeyRequest(kLocal, kHost, key))), 0);
    EXPECT_EQ(network->device(kLocal)->nmk, key);
    const auto frame = host->exchange(mme::buildNetworkInfoRequest(kLocal, kHost));
    ASSERT_TRUE(frame);
    const auto info = mme::parseNetworkInfo(*frame);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->networks, 0);
    // The old network's devices are out of reach now, the ones on the new key within it.
    EXPECT_FALSE(host->exchange(mme::buildSoftwareVersionRequest(kRemote, kHost), kSilenceWindow));
}

TEST_F(DeviceAnswers, LocalKeyJoinsTheAttachedDeviceToThatNetwork) {
    const mme::Key key = mme::DeriveNmk("OtherNetwork1");
    ASSERT_EQ(statusOf(host->exchange(mme::buildSetLocalKeyRequest(MacAddress::localDevice(), kHost, key))), 0);
    const auto snapshot = network->device(kLocal);
    EXPECT_EQ(snapshot->nmk, key);
    EXPECT_EQ(mme::nmkOf(snapshot->configBlock), key);
    EXPECT_TRUE(configBlockValid(snapshot->configBlock));
    const auto frame = host->exchange(mme::buildSoftwareVersionRequest(kForeign, kHost));
    ASSERT_TRUE(frame);
    EXPECT_EQ(mme::parseSoftwareVersion(*frame)->source, kForeign);
    const auto info = mme::parseNetworkInfo(*host->exchange(mme::buildNetworkInfoRequest(kLocal, kHost)));
    ASSERT_EQ(info->stations.size(), 1u);
    EXPECT_EQ(info->stations[0].mac, kForeign);
    EXPECT_EQ(info->ccoMac, kLocal);
}

TEST_F(DeviceAnswers, RemoteKeyNeedsTheRightDeviceAccessKey) {
    const mme::Key key = mme::DeriveNmk("NewNetwork99");
    // Wrong password: refused, nothing changes.
    auto frame =
        host->exchange(mme::buildSetRemoteKeyRequest(kLocal, kHost, key, kRemote, mme::DeriveDak("NOT-THE-PASSWORD")));
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->at(6), kLocal.bytes[0]);
    EXPECT_NE(statusOf(frame), 0);
    EXPECT_EQ(network->device(kRemote)->nmk, mme::kDefaultNmk);

    // No such device, or a device of another network whose password is right: the key travels the power line.
    EXPECT_NE(statusOf(host->exchange(mme::buildSetRemoteKeyRequest(kLocal, kHost, key, mac("00:b0:52:09:09:09"),
                                                                    mme::DeriveDak("REMOTE-ONE")))),
              0);
    EXPECT_EQ(statusOf(host->exchange(
                  mme::buildSetRemoteKeyRequest(kLocal, kHost, key, kForeign, mme::DeriveDak("REMOTE-TWO")))),
              0);
    EXPECT_EQ(network->device(kForeign)->nmk, key);

    // Right password: the remote takes the key and so leaves the local device's network.
    EXPECT_EQ(statusOf(host->exchange(
                  mme::buildSetRemoteKeyRequest(kLocal, kHost, key, kRemote, mme::DeriveDak("REMOTE-ONE")))),
              0);
    const auto remote = network->device(kRemote);
    EXPECT_EQ(remote->nmk, key);
    EXPECT_TRUE(configBlockValid(remote->configBlock));
    EXPECT_EQ(network->device(kLocal)->nmk, mme::kDefaultNmk);
    EXPECT_FALSE(host->exchange(mme::buildSoftwareVersionRequest(kRemote, kHost), kSilenceWindow));
}

TEST_F(DeviceAnswers, ReadModuleReturnsTheBlockWithinBounds) {
    const auto block = readConfigBlock(*host, kRemote);
    ASSERT_TRUE(block);
    EXPECT_EQ(block->size(), 8192u);
    EXPECT_EQ(*block, network->device(kRemote)->configBlock);
    EXPECT_TRUE(configBlockValid(*block));
    EXPECT_EQ(mme::productText(*block), "TALVERN ZRQ406-CE-12");
    EXPECT_TRUE(mme::ledsOff(*block));
    EXPECT_EQ(std::vector<std::uint8_t>(block->begin() + 12, block->begin() + 18),
              std::vector<std::uint8_t>(kRemote.bytes.begin(), kRemote.bytes.end()));

    // The confirmation echoes the request and carries the checksum of the bytes.
    const auto frame = host->exchange(mme::buildReadModuleRequest(kRemote, kHost, 2, 484, 524));
    ASSERT_TRUE(frame);
    const auto confirm = mme::parseReadModule(*frame, 484);
    ASSERT_TRUE(confirm);
    EXPECT_EQ(confirm->status, 0);
    EXPECT_EQ((*frame)[24], 2);
    EXPECT_EQ(mme::getU16le(*frame, 26), 484);
    EXPECT_EQ(mme::getU32le(*frame, 28), 524u);
    EXPECT_EQ(mme::getU32le(*frame, 32), mme::blockChecksum(confirm->data));

    // Out of the block, the firmware module, and zero or oversized lengths fail.
    EXPECT_NE(statusOf(host->exchange(mme::buildReadModuleRequest(kRemote, kHost, 2, 1024, 7680))), 0);
    EXPECT_NE(statusOf(host->exchange(mme::buildReadModuleRequest(kRemote, kHost, 2, 16, 0xFFFFFFF8))), 0);
    EXPECT_NE(statusOf(host->exchange(mme::buildReadModuleRequest(kRemote, kHost, 1, 1024, 0))), 0);
    EXPECT_NE(statusOf(host->exchange(mme::buildReadModuleRequest(kRemote, kHost, 2, 0, 0))), 0);
    EXPECT_NE(statusOf(host->exchange(mme::buildReadModuleRequest(kRemote, kHost, 2, 1025, 0))), 0);
}

TEST_F(DeviceAnswers, WriteModuleChecksEveryBlock) {
    std::vector<std::uint8_t> data(1024, 0x5A);
    // A good block of each module.
    EXPECT_EQ(statusOf(host->exchange(mme::buildWriteModuleRequest(kLocal, kHost, 2, 0, data))), 0);
    EXPECT_EQ(statusOf(host->exchange(mme::buildWriteModuleRequest(kLocal, kHost, 1, 4096, data))), 0);
    // The confirmation echoes module, length and offset after its status, as the request carried them.
    const auto echo =
        host->exchange(mme::buildWriteModuleRequest(kLocal, kHost, 1, 0x2400, std::span(data).first(1000)));
    ASSERT_TRUE(echo);
    EXPECT_TRUE(mme::matchesConfirmation(*echo, 0xA021, nullptr));
    EXPECT_EQ((*echo)[21], 1);
    EXPECT_EQ((*echo)[22], 0);
    EXPECT_EQ(mme::getU16le(*echo, 23), 1000);
    EXPECT_EQ(mme::getU32le(*echo, 25), 0x2400u);

    auto badChecksum = mme::buildWriteModuleRequest(kLocal, kHost, 2, 0, data);
    badChecksum[28] ^= 0x01;
    EXPECT_NE(statusOf(host->exchange(badChecksum)), 0);
    auto tooLong = mme::buildWriteModuleRequest(kLocal, kHost, 2, 0, data);
    mme::putU16le(tooLong, 22, 1025);
    EXPECT_NE(statusOf(host->exchange(tooLong)), 0);
    EXPECT_NE(statusOf(host->exchange(mme::buildWriteModuleRequest(kLocal, kHost, 2, 16384 - 512, data))), 0);
    EXPECT_NE(statusOf(host->exchange(mme::buildWriteModuleRequest(kLocal, kHost, 3, 0, data))), 0);
    EXPECT_NE(statusOf(host->exchange(mme::buildWriteModuleRequest(kLocal, kHost, 1, 4 * 1024 * 1024 - 4, data))), 0);
    // A block whose length runs past the received frame.
    auto cut = mme::buildWriteModuleRequest(kLocal, kHost, 2, 0, data);
    cut.resize(600);
    EXPECT_NE(statusOf(host->exchange(cut)), 0);

    // Staged, not active: the block as read is unchanged.
    EXPECT_EQ(readConfigBlock(*host, kLocal), network->device(kLocal)->configBlock);
    EXPECT_TRUE(configBlockValid(network->device(kLocal)->configBlock));
    // A commit of the incomplete images is refused; its confirmation names the module set.
    const auto commit = host->exchange(mme::buildCommitRequest(kLocal, kHost, 3));
    ASSERT_TRUE(commit);
    EXPECT_NE(statusOf(commit), 0);
    EXPECT_EQ((*commit)[21], 3);
}

TEST_F(DeviceAnswers, GarbageNeverBreaksTheDevices) {
    std::mt19937 random(4242);
    const std::uint16_t types[] = {0xA000, 0xA020, 0xA024, 0xA028, 0xA038, 0xA050, 0xA068, 0xA07C};
    for (int i = 0; i < 3000; ++i) {
        const std::size_t length = 14 + random() % 1500;
        const MacAddress destination = (i % 2) ? kLocal : kRemote;
        mme::Frame frame = mme::makeFrame(std::max<std::size_t>(length, 20), destination, kHost, types[random() % 8]);
        frame.resize(length);
        for (std::size_t b = 20; b < frame.size(); ++b)
            frame[b] = static_cast<std::uint8_t>(random());
        host->send(frame);
    }
    // Some of it reset or restarted the device; it comes back and answers.
    host->drain(50ms);
    EXPECT_TRUE(waitUntilAnswering(*host, MacAddress::localDevice()));
}

TEST_F(DeviceAnswers, AnswersComeThroughTheAdapterTableOfTheSimulatedBackend) {
    link::PacketLibrary library(network->backend());
    link::AdapterTable table(library, link::LinkMode::Utility);
    ASSERT_TRUE(table.OpenAdapters());
    ASSERT_EQ(table.count(), 1);
    table.setCurrentAdapter(0);
    const MacAddress hostMac = table.record(0).hostMac;
    EXPECT_EQ(hostMac, mac("02:00:00:00:00:10"));
    table.SendFrame(mme::buildSoftwareVersionRequest(MacAddress::localDevice(), hostMac));
    std::vector<std::uint8_t> frame;
    const auto deadline = std::chrono::steady_clock::now() + kAnswerWindow;
    std::size_t length = table.FetchFrame(frame);
    while (length == 0 && std::chrono::steady_clock::now() < deadline) {
        table.waitForFrame(deadline);
        length = table.FetchFrame(frame);
    }
    ASSERT_GT(length, 0u);
    ASSERT_TRUE(mme::matchesConfirmation(frame, 0xA001, &hostMac));
    EXPECT_EQ(mme::parseSoftwareVersion(frame)->source, kLocal);
}

TEST_F(DeviceAnswers, RequestLogHasOneLinePerHandledRequest) {
    std::mutex mutex;
    std::vector<std::string> lines;
    network->setRequestLog([&](const std::string& line) {
        std::lock_guard lock(mutex);
        lines.push_back(line);
    });
    ASSERT_TRUE(host->exchange(mme::buildSoftwareVersionRequest(MacAddress::localDevice(), kHost)));
    ASSERT_TRUE(host->exchange(mme::buildReadModuleRequest(kRemote, kHost, 2, 1024, 9000)));
    host->send(mme::buildProbeFrame(kLocal, kHost));
    host->drain();
    std::lock_guard lock(mutex);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("00:b0:52:00:01:01 software-version ok"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("00:b0:52:00:01:02 read-module status 2"), std::string::npos) << lines[1];
}

} // namespace
} // namespace zrq406::sim::test
