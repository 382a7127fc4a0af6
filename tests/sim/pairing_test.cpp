// The push button's pairing window, leave and status, the restart that keeps everything, and the hosts behind
// each device, through real frames on the simulated segment.

#include "mme/confirmations.h"
#include "mme/key_derivation.h"
#include "platform/pacing.h"
#include "tests/sim/sim_test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <thread>

namespace zrq406::sim::test {
namespace {

const MacAddress kLocal = mac("00:b0:52:00:03:01");
const MacAddress kMember = mac("00:b0:52:00:03:02");
const MacAddress kNewcomer = mac("00:b0:52:00:03:03");

// Two devices on one key and a third, its pair button pressed, on another.
const std::string kNetwork = R"({
  "settings": {"restartMs": {"restart": 30000}},
  "devices": [
    {"mac": "00:b0:52:00:03:01", "tei": 1, "networkPassword": "HomeNetwork1",
     "hosts": [{"mac": "ac:ed:5c:4e:21:07", "id": 1}, {"mac": "98:9b:cb:12:34:56", "id": 5}]},
    {"mac": "00:b0:52:00:03:02", "tei": 2, "networkPassword": "HomeNetwork1", "product": "Kitchen"},
    {"mac": "00:b0:52:00:03:03", "tei": 3, "networkPassword": "SomeOtherKey", "pairing": true}
  ]
})";

class Pairing : public ::testing::Test {
protected:
    void start(std::unique_ptr<Network> network) {
        net = std::move(network);
        ASSERT_TRUE(net);
        host = std::make_unique<HostPort>(firstSegment(*net), kHost);
    }

    std::optional<mme::PushButtonConfirm> press(const MacAddress& device, mme::PushButtonAction action) {
        const auto frame = host->exchange(mme::buildPushButtonRequest(device, kHost, action));
        if (!frame)
            return std::nullopt;
        EXPECT_GE(frame->size(), 60u);
        return mme::parsePushButton(*frame);
    }

    mme::Key key(const MacAddress& device) { return net->device(device)->nmk; }

    std::unique_ptr<Network> net;
    std::unique_ptr<HostPort> host;
};

TEST_F(Pairing, AJoinWithinTheTwoMinutesBringsThePairingDeviceOntoTheNetworkAndItStaysThere) {
    TempDir dir;
    const std::string path = dir.file("network.json");
    writeFile(path, kNetwork);
    std::string error;
    start(Network::load(path, error));
    ASSERT_TRUE(net) << error;
    EXPECT_TRUE(net->device(kNewcomer)->pairing);
    EXPECT_NE(key(kNewcomer), key(kLocal));
    // The newcomer is on another key: over the power line it is not reachable yet.
    EXPECT_FALSE(host->exchange(mme::buildSoftwareVersionRequest(kNewcomer, kHost), kSilenceWindow));

    const auto joined = press(MacAddress::localDevice(), mme::PushButtonAction::Join);
    ASSERT_TRUE(joined);
    EXPECT_EQ(joined->status, 0);
    EXPECT_EQ(joined->membership, mme::kMembershipCoordinator); // the lowest TEI of its network
    EXPECT_EQ(key(kNewcomer), key(kLocal));
    EXPECT_FALSE(net->device(kNewcomer)->pairing);
    EXPECT_FALSE(net->device(kLocal)->pairing); // paired: both windows closed
    EXPECT_EQ(press(kNewcomer, mme::PushButtonAction::Status)->membership, mme::kMembershipAssociated);

    // The new key is saved like any key change, and the button is not pressed again on the next load.
    ASSERT_TRUE(net->flush(error)) << error;
    host.reset();
    net.reset();
    const auto saved = nlohmann::json::parse(readFile(path));
    EXPECT_FALSE(saved["devices"][2].contains("pairing"));
    start(Network::load(path, error));
    ASSERT_TRUE(net) << error;
    EXPECT_EQ(key(kNewcomer), key(kLocal));
    EXPECT_FALSE(net->device(kNewcomer)->pairing);
}

TEST_F(Pairing, AJoinAfterTheTwoMinutesLeavesThePairingDeviceAloneAndOpensANewWindow) {
    start(makeNetwork(kNetwork));
    // Two minutes, scaled.
    std::this_thread::sleep_until(std::chrono::steady_clock::now() +
                                  zrq406::Pacing::fromEnvironment().scaled(120000) + std::chrono::milliseconds(50));
    EXPECT_FALSE(net->device(kNewcomer)->pairing);
    const auto pressed = press(kMember, mme::PushButtonAction::Join);
    ASSERT_TRUE(pressed);
    EXPECT_EQ(pressed->status, 0);
    EXPECT_EQ(pressed->membership, mme::kMembershipAssociated);
    EXPECT_NE(key(kNewcomer), key(kLocal));
    EXPECT_TRUE(net->device(kMember)->pairing);
}

TEST_F(Pairing, LeaveGivesARandomKeyAndStatusTellsTheMembership) {
    start(makeNetwork(kNetwork));
    EXPECT_EQ(press(kLocal, mme::PushButtonAction::Status)->membership, mme::kMembershipCoordinator);
    EXPECT_EQ(press(kMember, mme::PushButtonAction::Status)->membership, mme::kMembershipAssociated);
    const mme::Key before = key(kMember);
    const auto left = press(kMember, mme::PushButtonAction::Leave);
    ASSERT_TRUE(left);
    EXPECT_EQ(left->status, 0);
    EXPECT_LT(left->membership, mme::kMembershipAssociated);
    EXPECT_NE(key(kMember), before);
    EXPECT_NE(key(kMember), key(kNewcomer));
    // Off the network, it is out of reach; the local device is now alone on its key.
    EXPECT_FALSE(press(kMember, mme::PushButtonAction::Status));
    EXPECT_EQ(press(kLocal, mme::PushButtonAction::Status)->membership, 0);
}

TEST_F(Pairing, RestartIsSilentForItsTimeThenAnswersWithKeyNameAndSettingsKept) {
    start(makeNetwork(kNetwork));
    const auto before = net->device(kMember);
    const auto confirm = host->exchange(mme::buildRestartRequest(kMember, kHost));
    ASSERT_TRUE(confirm);
    ASSERT_EQ(confirm->size(), 60u);
    EXPECT_EQ((*confirm)[15], 0x1D);
    EXPECT_EQ((*confirm)[16], 0xA0);
    EXPECT_EQ(statusOf(confirm), 0);
    EXPECT_FALSE(net->device(kMember)->up);
    EXPECT_FALSE(host->exchange(mme::buildSoftwareVersionRequest(kMember, kHost), kSilenceWindow));
    ASSERT_TRUE(waitUntilAnswering(*host, kMember));
    const auto after = net->device(kMember);
    EXPECT_EQ(after->nmk, before->nmk);
    EXPECT_EQ(after->configBlock, before->configBlock);
    EXPECT_EQ(after->product, "Kitchen");
}

TEST_F(Pairing, HostsAnswerListsEachHostWithItsId) {
    start(makeNetwork(kNetwork));
    const auto frame = host->exchange(mme::buildHostsRequest(kLocal, kHost));
    ASSERT_TRUE(frame);
    ASSERT_EQ(frame->size(), 60u);
    const std::vector<std::uint8_t> expected = {0x00, 0x02, 0x00, 0x00, 0x00, // status, two hosts
                                                0xAC, 0xED, 0x5C, 0x4E, 0x21, 0x07, 0x01,
                                                0x98, 0x9B, 0xCB, 0x12, 0x34, 0x56, 0x05};
    EXPECT_EQ(std::vector<std::uint8_t>(frame->begin() + 20, frame->begin() + 39), expected);
    EXPECT_EQ((*frame)[15], 0xDD);
    const auto none = mme::parseHosts(*host->exchange(mme::buildHostsRequest(kMember, kHost)));
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->hosts.empty());
}

} // namespace
} // namespace zrq406::sim::test
