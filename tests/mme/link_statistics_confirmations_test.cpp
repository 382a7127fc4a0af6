// The link statistics and carrier map answers, written out by hand from their layout: payload from byte 20,
// integers little-endian, every answer padded to at least 60 bytes.
#include "mme/confirmations.h"
#include "mme/frame_builder.h"

#include <gtest/gtest.h>

using namespace zrq406;
using namespace zrq406::mme;

namespace {

const MacAddress kHost{{0x02, 0x00, 0x00, 0xAA, 0xBB, 0xCC}};
const MacAddress kDevice{{0x00, 0xB0, 0x52, 0x11, 0x22, 0x33}};
const MacAddress kPeer{{0x00, 0xB0, 0x52, 0x11, 0x22, 0x44}};

Frame answer(MmType type, std::size_t length) {
    return makeFrame(std::max<std::size_t>(60, length), kHost, kDevice, confirmationOf(type));
}

// Direction 2 (both): the transmit block at 24, the receive block at 64, its interval count at 112 and `carried`
// intervals of 33 bytes from 113, with `claimed` in the count.
Frame bothDirections(std::uint8_t claimed, std::uint8_t carried) {
    Frame f = answer(MmType::LinkStatistics, 113 + 33u * carried);
    f[20] = 0;    // status
    f[21] = 2;    // direction
    f[22] = 0xF8; // link id of the peer
    f[23] = 7;    // the peer's TEI
    for (std::uint64_t i = 0; i < 5; ++i)
        putU64le(f, 24 + 8 * i, 100 + i); // 100 acknowledged, 101 collided, 102 failed, 103 PBs passed, 104 failed
    for (std::uint64_t i = 0; i < 6; ++i)
        putU64le(f, 64 + 8 * i, 200 + i);
    f[112] = claimed;
    for (std::size_t k = 0; k < carried; ++k) {
        const std::size_t at = 113 + 33 * k;
        f[at] = static_cast<std::uint8_t>(90 + k);
        for (std::uint64_t i = 0; i < 4; ++i)
            putU64le(f, at + 1 + 8 * i, 1000 * (k + 1) + i);
    }
    return f;
}

Frame cut(Frame f, std::size_t length) {
    f.resize(length);
    return f;
}

Frame carrierMap(std::uint8_t slot, std::uint8_t slots, std::uint16_t active) {
    Frame f = answer(MmType::CarrierMap, 604);
    f[21] = slot;
    f[22] = slots;
    putU16le(f, 23, active);
    f[25] = 0x18;         // carrier 0: 4096-QAM (8), carrier 1: BPSK (1)
    f[25 + 576] = 0x50;   // carrier 1152: off, carrier 1153: 64-QAM (5)
    f[602] = 0x21;        // gain
    f[603] = 0x42;        // AGC
    return f;
}

} // namespace

TEST(LinkStatisticsConfirm, BothDirectionsWithTheirRateIntervals) {
    const auto c = parseLinkStatistics(bothDirections(2, 2));
    ASSERT_TRUE(c);
    EXPECT_EQ(c->status, 0);
    EXPECT_EQ(c->direction, StatisticsDirection::Both);
    EXPECT_EQ(c->linkId, 0xF8);
    EXPECT_EQ(c->peerTei, 7);
    ASSERT_TRUE(c->transmit && c->receive);
    EXPECT_EQ(c->transmit->mpdusAcknowledged, 100u);
    EXPECT_EQ(c->transmit->mpdusCollided, 101u);
    EXPECT_EQ(c->transmit->mpdusFailed, 102u);
    EXPECT_EQ(c->transmit->pbsPassed, 103u);
    EXPECT_EQ(c->transmit->pbsFailed, 104u);
    EXPECT_EQ(c->receive->mpdusAcknowledged, 200u);
    EXPECT_EQ(c->receive->mpdusFailed, 201u);
    EXPECT_EQ(c->receive->pbsPassed, 202u);
    EXPECT_EQ(c->receive->pbsFailed, 203u);
    EXPECT_EQ(c->receive->bitErrorsPassed, 204u);
    EXPECT_EQ(c->receive->bitErrorsFailed, 205u);
    ASSERT_EQ(c->receive->intervals.size(), 2u);
    EXPECT_EQ(c->receive->intervals[1].rate, 91);
    EXPECT_EQ(c->receive->intervals[1].pbsPassed, 2000u);
    EXPECT_EQ(c->receive->intervals[1].pbsFailed, 2001u);
    EXPECT_EQ(c->receive->intervals[1].bitErrorsPassed, 2002u);
    EXPECT_EQ(c->receive->intervals[1].bitErrorsFailed, 2003u);

    // A request with the same direction and link id is answered by it; another link id is not.
    const Frame asked = buildLinkStatisticsRequest(kDevice, kHost, StatisticsControl::Read, StatisticsDirection::Both,
                                                   kLinkIdOfPeer, kPeer);
    EXPECT_TRUE(answersRequest(bothDirections(0, 0), asked, &kHost, &kDevice));
    const Frame cap1 = buildLinkStatisticsRequest(kDevice, kHost, StatisticsControl::Read, StatisticsDirection::Both,
                                                  1, kPeer);
    EXPECT_FALSE(answersRequest(bothDirections(0, 0), cap1, &kHost, &kDevice));
}

TEST(LinkStatisticsConfirm, ShortOrLyingAnswersAreNoAnswers) {
    // More intervals claimed than carried, and a frame cut inside an interval or inside the receive block.
    EXPECT_FALSE(parseLinkStatistics(bothDirections(3, 2)));
    EXPECT_FALSE(parseLinkStatistics(cut(bothDirections(2, 2), 113 + 33 + 20)));
    EXPECT_FALSE(parseLinkStatistics(cut(bothDirections(0, 0), 100)));
    EXPECT_TRUE(parseLinkStatistics(bothDirections(0, 0)));
    // The transmit block alone does not fit the 60-byte padding: a device must send the whole of it.
    Frame transmitOnly = answer(MmType::LinkStatistics, 60);
    transmitOnly[21] = 0;
    EXPECT_FALSE(parseLinkStatistics(transmitOnly));
    transmitOnly.resize(64);
    const auto t = parseLinkStatistics(transmitOnly);
    ASSERT_TRUE(t);
    EXPECT_TRUE(t->transmit);
    EXPECT_FALSE(t->receive);
    // No fourth direction.
    Frame f = bothDirections(0, 0);
    f[21] = 3;
    EXPECT_FALSE(parseLinkStatistics(f));
}

TEST(LinkStatisticsConfirm, ARefusalCarriesOnlyItsStatus) {
    Frame f = answer(MmType::LinkStatistics, 60);
    f[20] = 1;
    f[21] = 9; // not read after a refusal
    const auto c = parseLinkStatistics(f);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->status, 1);
    EXPECT_FALSE(c->transmit);
    EXPECT_FALSE(c->receive);
    EXPECT_FALSE(parseLinkStatistics(std::span(f).first(20)));
}

TEST(CarrierMapConfirm, TwoCarriersPerByteLowHalfFirst) {
    const auto c = parseCarrierMap(carrierMap(1, 3, 3));
    ASSERT_TRUE(c);
    EXPECT_EQ(c->slot, 1);
    EXPECT_EQ(c->slots, 3);
    EXPECT_EQ(c->activeCarriers, 3);
    EXPECT_EQ(c->modulation[0], 8);
    EXPECT_EQ(c->modulation[1], 1);
    EXPECT_EQ(c->modulation[2], 0);
    EXPECT_EQ(c->modulation[1152], 0);
    EXPECT_EQ(c->modulation[1153], 5);
    EXPECT_EQ(c->gain, 0x21);
    EXPECT_EQ(c->agc, 0x42);
    // Bits and needed SNR of the nine codes.
    const int bits[] = {0, 1, 2, 3, 4, 6, 8, 10, 12};
    const double snr[] = {0, 2, 4, 7, 10, 16, 22, 28, 36};
    for (std::uint8_t code = 0; code <= 8; ++code) {
        EXPECT_EQ(bitsOfModulation(code), bits[code]);
        EXPECT_DOUBLE_EQ(snrOfModulation(code), snr[code]);
    }
}

TEST(CarrierMapConfirm, NoSlotsMeansNoMapYetAndNothingFurtherIsRead) {
    Frame f = answer(MmType::CarrierMap, 60);
    f[22] = 0;
    const auto c = parseCarrierMap(f);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->status, 0);
    EXPECT_EQ(c->slots, 0);
}

TEST(CarrierMapConfirm, ShortLyingOrBadlyCodedMapsAreNoAnswers) {
    EXPECT_FALSE(parseCarrierMap(cut(carrierMap(0, 1, 3), 603))); // without its AGC byte
    EXPECT_FALSE(parseCarrierMap(carrierMap(3, 3, 3)));                       // a slot beyond the slots
    EXPECT_FALSE(parseCarrierMap(carrierMap(0, 7, 3)));                       // more than six slots
    EXPECT_FALSE(parseCarrierMap(carrierMap(0, 1, 1155)));                    // more active carriers than exist
    Frame badCode = carrierMap(0, 1, 3);
    badCode[300] = 0x90; // a code 9 in a high half
    EXPECT_FALSE(parseCarrierMap(badCode));
    badCode[300] = 0x0A; // and in a low half
    EXPECT_FALSE(parseCarrierMap(badCode));
    Frame refused = answer(MmType::CarrierMap, 60);
    refused[20] = 2;
    const auto c = parseCarrierMap(refused);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->status, 2);
}
