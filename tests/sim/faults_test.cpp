// Every fault setting of the network file, made to happen through real frames on the simulated segment.

#include "mme/checksum.h"
#include "mme/confirmations.h"
#include "sim/config_block.h"
#include "sim/firmware_image.h"
#include "tests/sim/sim_test_support.h"

#include <gtest/gtest.h>

namespace zrq406::sim::test {
namespace {

const MacAddress kLocal = mac("00:b0:52:00:03:01");
const MacAddress kRemote = mac("00:b0:52:00:03:02");

// A local and a remote device; the faults go to the device named.
std::unique_ptr<Network> withFaults(const std::string& faults, bool onRemote = false) {
    const std::string none = "[]";
    return makeNetwork(R"({
  "devices": [
    {"mac": "00:b0:52:00:03:01", "tei": 1, "faults": )" +
                       (onRemote ? none : faults) + R"(},
    {"mac": "00:b0:52:00:03:02", "tei": 2, "restartMs": {"firmwareCommit": 2500},
     "faults": )" + (onRemote ? faults : none) +
                       R"(}
  ]
})");
}

struct Rig {
    explicit Rig(const std::string& faults, bool onRemote = false) : network(withFaults(faults, onRemote)) {
        if (network)
            host = std::make_unique<HostPort>(firstSegment(*network), kHost);
    }
    std::unique_ptr<Network> network;
    std::unique_ptr<HostPort> host;
};

#define RIG(name, ...)                                                                                                 \
    Rig name(__VA_ARGS__);                                                                                             \
    ASSERT_TRUE(name.network)

TEST(Faults, DropTheNthRequestOfOneType) {
    RIG(rig, R"([{"kind": "drop", "message": "software-version", "nth": 2}])");
    auto& host = *rig.host;
    EXPECT_TRUE(host.exchange(mme::buildSoftwareVersionRequest(kLocal, kHost)));
    EXPECT_TRUE(host.exchange(mme::buildAttributesRequest(kLocal, kHost))); // other types do not count
    EXPECT_FALSE(host.exchange(mme::buildSoftwareVersionRequest(kLocal, kHost), kSilenceWindow));
    EXPECT_TRUE(host.exchange(mme::buildSoftwareVersionRequest(kLocal, kHost)));
}

TEST(Faults, DropTheNthOfAllRequestsStillActsOnTheRequest) {
    RIG(rig, R"([{"kind": "drop", "nth": 2}])", true);
    auto& host = *rig.host;
    EXPECT_TRUE(host.exchange(mme::buildSoftwareVersionRequest(kRemote, kHost)));
    // The second request is a configuration write: its confirmation is lost, the block is staged all the same.
    const std::vector<std::uint8_t> data(1024, 0x11);
    EXPECT_FALSE(host.exchange(mme::buildWriteModuleRequest(kRemote, kHost, 2, 0, data), kSilenceWindow));
    EXPECT_EQ(rig.network->device(kRemote)->stagedConfigBytes, 1024u);
    EXPECT_TRUE(host.exchange(mme::buildSoftwareVersionRequest(kRemote, kHost)));
    // Counted per device: the local device's requests never matched.
    EXPECT_TRUE(host.exchange(mme::buildSoftwareVersionRequest(kLocal, kHost)));
    EXPECT_TRUE(host.exchange(mme::buildSoftwareVersionRequest(kLocal, kHost)));
}

TEST(Faults, RandomShareIsSeededAndRepeatable) {
    const std::string faults = R"([{"kind": "drop", "message": "attributes", "share": 0.5, "seed": 77}])";
    std::vector<bool> first;
    std::vector<bool> second;
    for (auto* pattern : {&first, &second}) {
        RIG(rig, faults);
        // Each request from a host address of its own, so that the answers tell which ones came back.
        for (std::uint8_t i = 0; i < 40; ++i)
            rig.host->send(mme::buildAttributesRequest(kLocal, MacAddress{{0x02, 0, 0, 0, 1, i}}));
        pattern->assign(40, false);
        for (const auto& frame : rig.host->drain())
            pattern->at(frame[5]) = true;
    }
    EXPECT_EQ(first, second);
    const auto answered = std::count(first.begin(), first.end(), true);
    EXPECT_GT(answered, 5);
    EXPECT_LT(answered, 35);

    // A share of 1 drops every one.
    RIG(all, R"([{"kind": "drop", "share": 1}])");
    EXPECT_FALSE(all.host->exchange(mme::buildSoftwareVersionRequest(kLocal, kHost), kSilenceWindow));
}

TEST(Faults, DelayedConfirmationArrivesAfterLaterOnes) {
    // 50 s scaled by the tests' time scale; later answers overtake it.
    RIG(rig, R"([{"kind": "delay", "message": "software-version", "nth": 1, "ms": 50000}])");
    auto& host = *rig.host;
    host.send(mme::buildSoftwareVersionRequest(kLocal, kHost));
    host.send(mme::buildSoftwareVersionRequest(kLocal, kOtherHost));
    const auto first = host.next();
    const auto second = host.next(60000ms);
    ASSERT_TRUE(first);
    ASSERT_TRUE(second);
    EXPECT_TRUE(mme::matchesConfirmation(*first, 0xA001, &kOtherHost));
    EXPECT_TRUE(mme::matchesConfirmation(*second, 0xA001, &kHost));
}

TEST(Faults, DuplicatedConfirmation) {
    RIG(rig, R"([{"kind": "duplicate", "message": "commit", "nth": 1}])");
    auto& host = *rig.host;
    host.send(mme::buildCommitRequest(kLocal, kHost, 2));
    const auto frames = host.drain();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], frames[1]);
    EXPECT_NE(mme::parseStatus(frames[0]), 0); // nothing staged
}

TEST(Faults, FailingStatusAndNoChange) {
    RIG(rig, R"([{"kind": "fail", "message": "set-key", "nth": 1, "status": 17},
                 {"kind": "fail", "message": "attributes", "nth": 1},
                 {"kind": "fail", "message": "network-info", "nth": 1},
                 {"kind": "fail", "message": "software-version", "nth": 1, "status": 3}])");
    auto& host = *rig.host;
    const mme::Key key{1, 2, 3};
    EXPECT_EQ(statusOf(host.exchange(mme::buildSetLocalKeyRequest(kLocal, kHost, key))), 17);
    EXPECT_EQ(rig.network->device(kLocal)->nmk, mme::kDefaultNmk);
    const auto attributes = mme::parseAttributes(*host.exchange(mme::buildAttributesRequest(kLocal, kHost)));
    ASSERT_TRUE(attributes);
    EXPECT_EQ(attributes->status, 1);
    const auto info = mme::parseNetworkInfo(*host.exchange(mme::buildNetworkInfoRequest(kLocal, kHost)));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->networks, 0);
    const auto version = mme::parseSoftwareVersion(*host.exchange(mme::buildSoftwareVersionRequest(kLocal, kHost)));
    ASSERT_TRUE(version);
    EXPECT_EQ(version->status, 3);
    // Only the first of each.
    EXPECT_EQ(statusOf(host.exchange(mme::buildSetLocalKeyRequest(kLocal, kHost, key))), 0);
    EXPECT_EQ(rig.network->device(kLocal)->nmk, key);
}

TEST(Faults, MalformedConfirmationsAreNoAnswerToTheParsers) {
    RIG(rig, R"([{"kind": "malformed", "message": "read-module", "nth": 1},
                 {"kind": "malformed", "message": "network-info", "nth": 1, "form": "stations"},
                 {"kind": "malformed", "message": "software-version", "nth": 1, "form": "unterminated"}])",
        true);
    auto& host = *rig.host;
    const auto shortFrame = host.exchange(mme::buildReadModuleRequest(kRemote, kHost, 2, 1024, 0));
    ASSERT_TRUE(shortFrame);
    EXPECT_EQ(shortFrame->size(), 21u);
    EXPECT_FALSE(mme::parseReadModule(*shortFrame, 1024));

    const auto stations = host.exchange(mme::buildNetworkInfoRequest(kRemote, kHost));
    ASSERT_TRUE(stations);
    EXPECT_FALSE(mme::parseNetworkInfo(*stations));
    EXPECT_EQ((*stations)[38], 3); // one station sent, three claimed

    const auto unterminated = host.exchange(mme::buildSoftwareVersionRequest(kRemote, kHost));
    ASSERT_TRUE(unterminated);
    EXPECT_FALSE(mme::parseSoftwareVersion(*unterminated));
    EXPECT_EQ(std::count(unterminated->begin() + 23, unterminated->end(), 0), 0);
    // The next ones are whole again.
    EXPECT_TRUE(mme::parseSoftwareVersion(*host.exchange(mme::buildSoftwareVersionRequest(kRemote, kHost))));
    EXPECT_TRUE(mme::parseReadModule(*host.exchange(mme::buildReadModuleRequest(kRemote, kHost, 2, 1024, 0)), 1024));
}

TEST(Faults, MalformedStationsWhenAlone) {
    RIG(rig, R"([{"kind": "malformed", "message": "network-info", "nth": 1, "form": "stations"}])");
    auto& host = *rig.host;
    ASSERT_EQ(statusOf(host.exchange(mme::buildSetLocalKeyRequest(kLocal, kHost, mme::Key{7}))), 0);
    const auto frame = host.exchange(mme::buildNetworkInfoRequest(kLocal, kHost));
    ASSERT_TRUE(frame);
    EXPECT_EQ((*frame)[20], 1);
    EXPECT_FALSE(mme::parseNetworkInfo(*frame));
}

TEST(Faults, RepeatedStationAndLeftOutChecksum) {
    RIG(rig, R"([{"kind": "malformed", "message": "network-info", "nth": 1, "form": "repeated-station"},
                 {"kind": "malformed", "message": "read-module", "nth": 1, "form": "no-checksum"}])");
    auto& host = *rig.host;
    const auto info = host.exchange(mme::buildNetworkInfoRequest(kLocal, kHost));
    ASSERT_TRUE(info);
    ASSERT_EQ((*info)[38], 2);
    EXPECT_TRUE(std::equal(info->begin() + 39, info->begin() + 54, info->begin() + 54));
    MacAddress listed;
    std::copy_n(info->begin() + 39, 6, listed.bytes.begin());
    EXPECT_EQ(listed, kRemote);
    const auto read = host.exchange(mme::buildReadModuleRequest(kLocal, kHost, 2, 1024, 0));
    ASSERT_TRUE(read);
    EXPECT_EQ(std::count(read->begin() + 32, read->begin() + 36, 0), 4);
    EXPECT_TRUE(std::equal(read->begin() + 36, read->end(), rig.network->device(kLocal)->configBlock.begin()));
}

TEST(Faults, CorruptedReadData) {
    RIG(rig, R"([{"kind": "corrupt", "message": "read-module", "nth": 1, "offset": 40}])");
    auto& host = *rig.host;
    const auto block = rig.network->device(kLocal)->configBlock;
    const auto frame = host.exchange(mme::buildReadModuleRequest(kLocal, kHost, 2, 64, 0));
    ASSERT_TRUE(frame);
    const auto confirm = mme::parseReadModule(*frame, 64);
    ASSERT_TRUE(confirm);
    EXPECT_EQ(confirm->data[4], block[4] ^ 0xFF);
    EXPECT_NE(mme::getU32le(*frame, 32), mme::blockChecksum(confirm->data));
}

TEST(Faults, PowerLossInTheMiddleOfAnUpgrade) {
    RIG(rig, R"([{"kind": "power-loss", "afterBlock": 3, "downMs": 20000}])", true);
    auto& host = *rig.host;
    const auto before = *rig.network->device(kRemote);
    const auto image = makeFirmwareImage("ZRQPLC1-MAC-3-3-3348-00-2764-CE-0900", 6 * 1024);
    // The third block is confirmed, then the device goes dark.
    EXPECT_EQ(writeModule(host, kRemote, 1, image, kSilenceWindow), std::vector<std::uint8_t>(3, 0));
    ASSERT_TRUE(waitUntilAnswering(host, kRemote));
    const auto after = *rig.network->device(kRemote);
    EXPECT_EQ(after.stagedFirmwareBytes, 0u);
    EXPECT_EQ(after.firmware, before.firmware);
    EXPECT_EQ(after.configBlock, before.configBlock);
    EXPECT_NE(statusOf(host.exchange(mme::buildCommitRequest(kRemote, kHost, 3))), 0);
    // Once only: a second attempt goes through.
    EXPECT_EQ(writeModule(host, kRemote, 1, image), std::vector<std::uint8_t>(6, 0));
    EXPECT_EQ(statusOf(host.exchange(mme::buildCommitRequest(kRemote, kHost, 3))), 0);
    EXPECT_EQ(rig.network->device(kRemote)->firmware, "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0900");
}

} // namespace
} // namespace zrq406::sim::test
