#include "link/adapter_link.h"
#include "link/helper_frames.h"
#include "mme/checksum.h"
#include "mme/frame_builder.h"

#include <gtest/gtest.h>
#include <numeric>

using namespace zrq406;
using namespace zrq406::mme;

namespace {

const MacAddress kDevice{{0x00, 0xB0, 0x52, 0x11, 0x22, 0x33}};
const MacAddress kHost{{0x02, 0x00, 0x00, 0xAA, 0xBB, 0xCC}};

// The header every message starts with, written out by hand: DA, SA, 88 E1, version 0, type LE, OUI.
Frame header(std::uint8_t typeLow, std::uint8_t typeHigh) {
    return {0x00, 0xB0, 0x52, 0x11, 0x22, 0x33,    0x02,     0x00, 0x00, 0xAA,
            0xBB, 0xCC, 0x88, 0xE1, 0x00, typeLow, typeHigh, 0x00, 0xB0, 0x52};
}

Frame withPayload(Frame frame, std::initializer_list<std::uint8_t> payload) {
    frame.insert(frame.end(), payload);
    return frame;
}

} // namespace

TEST(FrameBuilder, FixedRequestsByteForByte) {
    EXPECT_EQ(buildSoftwareVersionRequest(kDevice, kHost), withPayload(header(0x00, 0xA0), {0, 0, 0, 0}));
    EXPECT_EQ(buildNetworkInfoRequest(kDevice, kHost), header(0x38, 0xA0));
    EXPECT_EQ(buildFactoryResetRequest(kDevice, kHost), header(0x7C, 0xA0));
    EXPECT_EQ(buildAttributesRequest(kDevice, kHost), withPayload(header(0x68, 0xA0), {0, 0, 0, 0, 0}));
    EXPECT_EQ(buildCommitRequest(kDevice, kHost, 3), withPayload(header(0x28, 0xA0), {3, 0}));
    EXPECT_EQ(buildReadModuleRequest(kDevice, kHost, 2, 484, 524),
              withPayload(header(0x24, 0xA0), {2, 0, 0xE4, 0x01, 0x0C, 0x02, 0x00, 0x00}));
}

TEST(FrameBuilder, ProbeFrameIsIpv4Typed) {
    // An IPv4 header of 20 bytes, no payload, TTL 64, protocol 253, checksum 0x79EE over addresses 0.0.0.0 (in
    // the wire frame's padding).
    const Frame expected = {0x00, 0xB0, 0x52, 0x11, 0x22, 0x33, 0x02, 0x00, 0x00, 0xAA, 0xBB, 0xCC, 0x08,
                            0x00, 0x45, 0x00, 0x00, 0x14, 0,    0,    0,    0,    0x40, 0xFD, 0x79, 0xEE};
    EXPECT_EQ(buildProbeFrame(kDevice, kHost), expected);
}

// The frame helper lets exactly this probe out (and nothing wider): as built, and as the link pads it.
TEST(FrameBuilder, TheProbePassesTheFrameHelper) {
    Frame probe = buildProbeFrame(kDevice, kHost);
    EXPECT_TRUE(link::helper::passesFrame(probe));
    probe.resize(link::kMinFrameLength, 0);
    EXPECT_TRUE(link::helper::passesFrame(probe));
}

TEST(FrameBuilder, SetKeyLocalAndRemoteForms) {
    Key nmk;
    std::iota(nmk.begin(), nmk.end(), std::uint8_t{0x10});
    Key dak;
    std::iota(dak.begin(), dak.end(), std::uint8_t{0x80});
    const MacAddress remote{{0x00, 0xB0, 0x52, 0x44, 0x55, 0x66}};

    Frame local = withPayload(header(0x50, 0xA0), {1});
    local.insert(local.end(), nmk.begin(), nmk.end());
    local.push_back(0x0F);
    local.resize(60, 0);
    EXPECT_EQ(buildSetLocalKeyRequest(kDevice, kHost, nmk), local);

    Frame forwarded = withPayload(header(0x50, 0xA0), {1});
    forwarded.insert(forwarded.end(), nmk.begin(), nmk.end());
    forwarded.push_back(0x00);
    forwarded.insert(forwarded.end(), remote.bytes.begin(), remote.bytes.end());
    forwarded.insert(forwarded.end(), dak.begin(), dak.end());
    ASSERT_EQ(forwarded.size(), 60u);
    // The request goes to the attached device; the remote device is named inside it.
    EXPECT_EQ(buildSetRemoteKeyRequest(kDevice, kHost, nmk, remote, dak), forwarded);
}

TEST(FrameBuilder, WriteModuleCarriesBlockAndItsChecksum) {
    std::vector<std::uint8_t> block(1030 - 1024 + 2); // 8 bytes: two words
    block = {0x01, 0x02, 0x03, 0x04, 0x10, 0x20, 0x30, 0x40};
    const Frame frame = buildWriteModuleRequest(kDevice, kHost, 1, 0x00012000, block);
    ASSERT_EQ(frame.size(), 1056u);
    Frame expected = withPayload(header(0x20, 0xA0), {1, 0, 8, 0, 0x00, 0x20, 0x01, 0x00});
    // ~(0x04030201 ^ 0x40302010) = ~0x44332211
    expected.insert(expected.end(), {0xEE, 0xDD, 0xCC, 0xBB});
    expected.insert(expected.end(), block.begin(), block.end());
    expected.resize(1056, 0);
    EXPECT_EQ(frame, expected);
}
