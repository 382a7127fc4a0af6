// Link statistics and carrier maps of the simulated devices: the channel behind them, their layout, their
// counters, and the drift of the links' rates over the day.

#include "mme/confirmations.h"
#include "sim/link_health.h"
#include "sim/network_file.h"
#include "tests/sim/sim_test_support.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <thread>

namespace zrq406::sim::test {
namespace {

const std::string kNetwork = R"({
  "settings": {"carrierMapSlots": 3},
  "hostAdapters": [{"name": "sim0", "mac": "02:00:00:00:00:10", "device": "00:b0:52:00:02:01"}],
  "devices": [
    {"mac": "00:b0:52:00:02:01", "tei": 1,
     "rates": {"00:b0:52:00:02:02": {"tx": 113, "rx": 69}, "00:b0:52:00:02:03": {"tx": 30, "rx": 150, "slots": 6},
               "00:b0:52:00:02:04": {"tx": 90, "rx": 90, "slots": 0}},
     "noise": [{"fromMHz": 10.2, "toMHz": 13.9, "dB": 60, "peers": ["00:b0:52:00:02:02"]}]},
    {"mac": "00:b0:52:00:02:02", "tei": 2, "rates": {"00:b0:52:00:02:03": {"tx": 80, "rx": 20, "slots": 1}}},
    {"mac": "00:b0:52:00:02:03", "tei": 3},
    {"mac": "00:b0:52:00:02:04", "tei": 4,
     "faults": [{"kind": "fail", "message": "carrier-map", "nth": 1, "status": 7}]},
    {"mac": "00:b0:52:00:02:05", "tei": 5, "linkHealth": "silent"},
    {"mac": "00:b0:52:00:02:06", "tei": 6, "linkHealth": "refuse"},
    {"mac": "00:b0:52:00:02:07", "tei": 7, "networkPassword": "SomeOtherNetwork"}
  ]
})";

const MacAddress kA = mac("00:b0:52:00:02:01");
const MacAddress kB = mac("00:b0:52:00:02:02"); // A hears B through a noise band
const MacAddress kC = mac("00:b0:52:00:02:03");
const MacAddress kD = mac("00:b0:52:00:02:04"); // nothing sent between A and D yet
const MacAddress kSilent = mac("00:b0:52:00:02:05");
const MacAddress kRefusing = mac("00:b0:52:00:02:06");
const MacAddress kForeign = mac("00:b0:52:00:02:07");

class LinkHealthOverFrames : public ::testing::Test {
protected:
    void SetUp() override {
        network = makeNetwork(kNetwork);
        ASSERT_TRUE(network);
        host = std::make_unique<HostPort>(firstSegment(*network), kHost);
    }

    // Every slot of the carrier map with which `device` receives from `peer`.
    std::vector<mme::CarrierMapConfirm> maps(const MacAddress& device, const MacAddress& peer) {
        std::vector<mme::CarrierMapConfirm> all;
        for (std::uint8_t slot = 0;; ++slot) {
            const auto frame = host->exchange(mme::buildCarrierMapRequest(device, kHost, peer, slot));
            if (!frame) {
                ADD_FAILURE() << "no carrier map answer";
                return all;
            }
            EXPECT_EQ(frame->size(), mme::off::kCmCnfEnd);
            const auto map = mme::parseCarrierMap(*frame);
            if (!map || map->status != 0) {
                ADD_FAILURE() << "carrier map refused or unreadable";
                return all;
            }
            all.push_back(*map);
            if (slot + 1 >= map->slots)
                return all;
        }
    }

    std::optional<mme::LinkStatisticsConfirm> statistics(const MacAddress& device, const MacAddress& peer,
                                                         mme::StatisticsDirection direction,
                                                         mme::StatisticsControl control = mme::StatisticsControl::Read,
                                                         std::uint8_t linkId = mme::kLinkIdOfPeer) {
        const auto frame =
            host->exchange(mme::buildLinkStatisticsRequest(device, kHost, control, direction, linkId, peer));
        if (!frame)
            return std::nullopt;
        return mme::parseLinkStatistics(*frame);
    }

    std::unique_ptr<Network> network;
    std::unique_ptr<HostPort> host;
};

TEST_F(LinkHealthOverFrames, NoiseBandCarriesNothingExactlyThereAndOnlyInTheNoisyDirection) {
    const auto noisy = maps(kA, kB);
    ASSERT_EQ(noisy.size(), 3u);
    for (const auto& map : noisy) {
        for (std::size_t k = 0; k < mme::kCarriers; ++k) {
            const double mhz = carrierMHz(k);
            const bool inBand = mhz >= 10.2 && mhz <= 13.9;
            EXPECT_EQ(map.modulation[k] == 0, inBand) << "carrier " << k << " at " << mhz << " MHz";
        }
    }
    // B hears A without that noise.
    for (const auto& map : maps(kB, kA))
        EXPECT_EQ(std::count(map.modulation.begin(), map.modulation.end(), 0), 0);
}

TEST_F(LinkHealthOverFrames, ReportedRatesFollowTheBitLoading) {
    struct Link {
        MacAddress device, peer;
    };
    int checked = 0;
    for (const Link link : {Link{kA, kB}, Link{kB, kA}, Link{kA, kC}, Link{kC, kA}, Link{kB, kC}, Link{kC, kB}}) {
        const auto info = mme::parseNetworkInfo(*host->exchange(mme::buildNetworkInfoRequest(link.device, kHost)));
        ASSERT_TRUE(info);
        const auto station = std::find_if(info->stations.begin(), info->stations.end(),
                                          [&](const mme::NetworkStation& s) { return s.mac == link.peer; });
        ASSERT_NE(station, info->stations.end());
        const auto slots = maps(link.device, link.peer);
        ASSERT_FALSE(slots.empty());
        const double reported = station->averageRxRate * 21.0 / 16.0;
        double bits = 0;
        for (const auto& map : slots) {
            unsigned active = 0;
            double slotBits = 0;
            for (const std::uint8_t code : map.modulation) {
                slotBits += mme::bitsOfModulation(code);
                active += code != 0 ? 1 : 0;
            }
            EXPECT_EQ(map.activeCarriers, active);
            EXPECT_GT(map.agc, 0);
            // The slots differ only a little: each alone gives about the rate too.
            EXPECT_NEAR(slotBits * 16.0 / 21.0 / 46.52, reported, reported * 0.1) << "slot " << int{map.slot};
            bits += slotBits;
        }
        bits /= static_cast<double>(slots.size());
        EXPECT_NEAR(bits * 16.0 / 21.0 / 46.52, reported, reported * 0.1)
            << link.device.text() << " from " << link.peer.text();
        ++checked;
    }
    EXPECT_EQ(checked, 6);
}

TEST_F(LinkHealthOverFrames, StatisticsOfBothDirectionsParseAndGrow) {
    const auto first = statistics(kA, kC, mme::StatisticsDirection::Both);
    ASSERT_TRUE(first);
    ASSERT_EQ(first->status, 0);
    ASSERT_TRUE(first->transmit && first->receive);
    EXPECT_EQ(first->peerTei, 3);
    EXPECT_EQ(first->receive->intervals.size(), 6u);
    std::this_thread::sleep_for(100ms); // five simulated seconds at the tests' scale
    const auto later = statistics(kA, kC, mme::StatisticsDirection::Receive);
    ASSERT_TRUE(later && later->receive);
    EXPECT_FALSE(later->transmit);
    EXPECT_GT(later->receive->pbsPassed, first->receive->pbsPassed);
    EXPECT_GT(later->receive->mpdusAcknowledged, first->receive->mpdusAcknowledged);
}

TEST_F(LinkHealthOverFrames, LinksWithoutMapsAndDevicesThatDoNotOfferThem) {
    // Faults pick the new requests by name.
    EXPECT_EQ(statusOf(host->exchange(mme::buildCarrierMapRequest(kD, kHost, kA, 0))), 7);
    EXPECT_EQ(statusOf(host->exchange(mme::buildCarrierMapRequest(kD, kHost, kA, 0))), 0);

    // Nothing sent between A and D yet: no slots, no counts.
    const auto frame = host->exchange(mme::buildCarrierMapRequest(kA, kHost, kD, 0));
    ASSERT_TRUE(frame);
    const auto empty = mme::parseCarrierMap(*frame);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->status, 0);
    EXPECT_EQ(empty->slots, 0);
    std::this_thread::sleep_for(50ms);
    const auto idle = statistics(kA, kD, mme::StatisticsDirection::Both);
    ASSERT_TRUE(idle && idle->status == 0 && idle->transmit && idle->receive);
    EXPECT_EQ(idle->transmit->pbsPassed + idle->receive->pbsPassed + idle->receive->mpdusAcknowledged, 0u);
    EXPECT_TRUE(idle->receive->intervals.empty());

    // A slot beyond the map's, a peer off the network, the device itself, and a bad direction are refused.
    EXPECT_NE(statusOf(host->exchange(mme::buildCarrierMapRequest(kA, kHost, kB, 3))).value_or(0), 0);
    for (const MacAddress& peer : {kForeign, kA, mac("00:b0:52:00:09:09")}) {
        const auto refused = statistics(kA, peer, mme::StatisticsDirection::Both);
        ASSERT_TRUE(refused);
        EXPECT_NE(refused->status, 0) << peer.text();
        EXPECT_NE(statusOf(host->exchange(mme::buildCarrierMapRequest(kA, kHost, peer, 0))).value_or(0), 0);
    }
    auto badDirection = mme::buildLinkStatisticsRequest(kA, kHost, mme::StatisticsControl::Read,
                                                        mme::StatisticsDirection::Both, mme::kLinkIdOfPeer, kB);
    badDirection[mme::off::kLsDirection] = 3;
    EXPECT_EQ(statusOf(host->exchange(badDirection)), status::kBadParameter);

    // One device ignores both messages, another refuses them.
    host->send(mme::buildLinkStatisticsRequest(kSilent, kHost, mme::StatisticsControl::Read,
                                               mme::StatisticsDirection::Both, mme::kLinkIdOfPeer, kA));
    host->send(mme::buildCarrierMapRequest(kSilent, kHost, kA, 0));
    EXPECT_TRUE(host->drain().empty());
    const auto refusedStatistics = statistics(kRefusing, kA, mme::StatisticsDirection::Both);
    ASSERT_TRUE(refusedStatistics);
    EXPECT_EQ(refusedStatistics->status, status::kNotOffered);
    EXPECT_EQ(statusOf(host->exchange(mme::buildCarrierMapRequest(kRefusing, kHost, kA, 0))), status::kNotOffered);
}

// The counters at fixed moments, without the network's clock.
class LinkHealthAtMoments : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        auto file = NetworkFile::parse(kNetwork, "test", error);
        ASSERT_TRUE(file) << error;
        for (const DeviceDescription& d : file->description().devices)
            devices.emplace_back(d);
    }

    mme::Frame ask(std::size_t device, std::size_t peer, double ms, mme::StatisticsControl control,
                   std::uint8_t linkId = mme::kLinkIdOfPeer) {
        const auto request = mme::buildLinkStatisticsRequest(
            devices[device].mac(), kHost, control, mme::StatisticsDirection::Both, linkId, devices[peer].mac());
        return health.statistics(devices[device], &devices[peer], kHost, request, ms).frame;
    }

    std::vector<SimDevice> devices;
    LinkHealth health;
};

TEST_F(LinkHealthAtMoments, LayoutTransmitThenReceiveAndBothEndsAgree) {
    constexpr double kAt = 3600 * 1000.0;
    const mme::Frame f = ask(0, 2, kAt, mme::StatisticsControl::Read);
    // Status, direction, link id, the peer's TEI; 40 bytes transmit, 48 receive, the count and six intervals.
    ASSERT_EQ(f.size(), 24u + 40 + 48 + 1 + 6 * 33);
    EXPECT_EQ(f[20], 0);
    EXPECT_EQ(f[21], 2);
    EXPECT_EQ(f[22], 0xF8);
    EXPECT_EQ(f[23], 3);
    EXPECT_EQ(f[112], 6);
    const auto parsed = mme::parseLinkStatistics(f);
    ASSERT_TRUE(parsed && parsed->transmit && parsed->receive);
    EXPECT_EQ(mme::ByteReader(f).u64le(24), parsed->transmit->mpdusAcknowledged);
    EXPECT_EQ(mme::ByteReader(f).u64le(24 + 24), parsed->transmit->pbsPassed);
    EXPECT_EQ(mme::ByteReader(f).u64le(64 + 16), parsed->receive->pbsPassed);
    EXPECT_EQ(f[113], parsed->receive->intervals[0].rate);
    std::uint64_t passed = 0;
    for (const auto& interval : parsed->receive->intervals) {
        passed += interval.pbsPassed;
        EXPECT_GT(interval.rate, 0);
    }
    EXPECT_EQ(passed, parsed->receive->pbsPassed);
    EXPECT_GT(parsed->transmit->pbsPassed, 100000u);
    EXPECT_GT(parsed->transmit->mpdusCollided, 0u);

    // What A sent to C is what C received from A, and the other way round.
    const auto peer = mme::parseLinkStatistics(ask(2, 0, kAt, mme::StatisticsControl::Read));
    ASSERT_TRUE(peer && peer->transmit && peer->receive);
    EXPECT_EQ(peer->peerTei, 1);
    EXPECT_EQ(peer->receive->pbsPassed, parsed->transmit->pbsPassed);
    EXPECT_EQ(peer->receive->pbsFailed, parsed->transmit->pbsFailed);
    EXPECT_EQ(peer->transmit->pbsPassed, parsed->receive->pbsPassed);

    // The priority classes split the link's traffic.
    const auto cap1 = mme::parseLinkStatistics(ask(0, 2, kAt, mme::StatisticsControl::Read, 1));
    ASSERT_TRUE(cap1 && cap1->transmit);
    EXPECT_EQ(cap1->linkId, 1);
    EXPECT_GT(cap1->transmit->pbsPassed, 0u);
    EXPECT_LT(cap1->transmit->pbsPassed, parsed->transmit->pbsPassed);
}

TEST_F(LinkHealthAtMoments, ReadAndClearStartsTheCountersAgain) {
    const auto cleared = mme::parseLinkStatistics(ask(0, 1, 600000, mme::StatisticsControl::ReadAndClear));
    ASSERT_TRUE(cleared && cleared->transmit && cleared->receive);
    EXPECT_GT(cleared->transmit->pbsPassed, 0u);
    EXPECT_GT(cleared->receive->pbsPassed, 0u);
    const auto same = mme::parseLinkStatistics(ask(0, 1, 600000, mme::StatisticsControl::Read));
    ASSERT_TRUE(same && same->transmit && same->receive);
    EXPECT_EQ(same->transmit->pbsPassed + same->transmit->mpdusAcknowledged + same->receive->pbsPassed +
                  same->receive->bitErrorsPassed,
              0u);
    const auto later = mme::parseLinkStatistics(ask(0, 1, 660000, mme::StatisticsControl::Read));
    ASSERT_TRUE(later && later->transmit);
    EXPECT_GT(later->transmit->pbsPassed, 0u);
    EXPECT_LT(later->transmit->pbsPassed, cleared->transmit->pbsPassed);
    // The far end's own counters are not cleared by it.
    const auto far = mme::parseLinkStatistics(ask(1, 0, 600000, mme::StatisticsControl::Read));
    ASSERT_TRUE(far && far->receive);
    EXPECT_EQ(far->receive->pbsPassed, cleared->transmit->pbsPassed);
}

TEST(LinkChannel, NoiseRaisesTheErrorRate) {
    const std::uint32_t seed = linkSeed(kA, kB);
    const Channel clean = fitChannel(seed, 100, 2, {});
    const Channel noisy = fitChannel(seed, 100, 2, {NoiseBand{4, 20, 12, {}}});
    EXPECT_NEAR(clean.meanMbps, noisy.meanMbps, 100 * 21.0 / 16 * 0.05);
    EXPECT_GT(noisy.pbErrorRate, clean.pbErrorRate * 2);
    EXPECT_GT(noisy.bitErrorsPerPb, clean.bitErrorsPerPb);
}

TEST(RateDrift, BuiltInLinksDriftOverTheDayAndOneFallsNowAndThen) {
    const NetworkFile file = NetworkFile::builtIn();
    std::vector<SimDevice> devices;
    for (const DeviceDescription& d : file.description().devices)
        devices.emplace_back(d);
    constexpr double kScanMs = 120000;
    constexpr int kScans = 24 * 30; // a day of scans
    for (std::size_t i = 0; i < devices.size(); ++i) {
        for (std::size_t j = 0; j < devices.size(); ++j) {
            if (i == j)
                continue;
            const auto described = devices[i].describedRateTowards(devices[j]);
            ASSERT_TRUE(described);
            // At load time every link has its described rate.
            EXPECT_EQ(devices[i].rateTowards(devices[j], 0)->tx, described->tx);
            std::vector<int> rates;
            for (int n = 0; n < kScans; ++n) {
                const double at = n * kScanMs;
                const auto rate = devices[i].rateTowards(devices[j], at);
                ASSERT_TRUE(rate);
                EXPECT_EQ(rate->tx, devices[i].rateTowards(devices[j], at)->tx);
                rates.push_back(rate->tx);
            }
            std::vector<int> sorted = rates;
            std::sort(sorted.begin(), sorted.end());
            const double median = sorted[sorted.size() / 2];
            EXPECT_LT(sorted.front(), described->tx) << "drifts";
            int run = 0;
            int longest = 0;
            for (const int rate : rates) {
                run = rate < 0.6 * median ? run + 1 : 0;
                longest = std::max(longest, run);
            }
            const bool falling = (i == 0 && j == 3) || (i == 3 && j == 0);
            if (falling)
                EXPECT_GE(longest, 3) << i << " to " << j;
            else
                EXPECT_EQ(longest, 0) << i << " to " << j;
        }
    }
}

} // namespace
} // namespace zrq406::sim::test
