#include "link/helper_frames.h"

#include <gtest/gtest.h>
#include <vector>

using namespace zrq406::link;

namespace {

std::vector<std::uint8_t> frameOfType(std::uint8_t high, std::uint8_t low, std::size_t size = 60) {
    std::vector<std::uint8_t> frame(size, 0);
    frame[12] = high;
    frame[13] = low;
    return frame;
}

} // namespace

// The helper holds raw-socket rights for users who may not read the host's traffic: it passes this protocol's
// frames and the discovery probe, and nothing a caller could use to send other traffic.
TEST(HelperFramesTest, PassesOnlyTheProtocolAndTheProbe) {
    EXPECT_TRUE(helper::passesFrame(frameOfType(0x88, 0xE1)));
    EXPECT_TRUE(helper::passesFrame(frameOfType(0x88, 0xE1, 1514)));

    // The probe: 14 header bytes and the first 12 of an IPv4 header of protocol 253.
    std::vector<std::uint8_t> probe = frameOfType(0x08, 0x00, 26);
    const std::uint8_t ipv4[] = {0x45, 0x00, 0x00, 0x14, 0x00, 0x00, 0x00, 0x00, 0x40, 0xFD, 0x7A, 0xEE};
    std::copy(std::begin(ipv4), std::end(ipv4), probe.begin() + 14);
    EXPECT_TRUE(helper::passesFrame(probe));

    std::vector<std::uint8_t> tcp = probe;
    tcp[23] = 6;
    EXPECT_FALSE(helper::passesFrame(tcp));
    std::vector<std::uint8_t> ipv6Looking = probe;
    ipv6Looking[14] = 0x65;
    EXPECT_FALSE(helper::passesFrame(ipv6Looking));
    EXPECT_FALSE(helper::passesFrame(std::span(probe.data(), 23)));
    EXPECT_FALSE(helper::passesFrame(frameOfType(0x08, 0x06)));
    // Shorter than an Ethernet header: the type bytes themselves are cut.
    const std::vector<std::uint8_t> whole = frameOfType(0x88, 0xE1);
    EXPECT_FALSE(helper::passesFrame(std::span(whole.data(), 13)));
    EXPECT_FALSE(helper::passesFrame(frameOfType(0x88, 0xE1, 1523)));
}
