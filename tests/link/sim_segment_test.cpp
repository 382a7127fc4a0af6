#include "link/packet_library.h"
#include "link/sim_port.h"
#include "link/sim_segment.h"
#include "tests/link/link_test_support.h"

#include <array>
#include <gtest/gtest.h>

namespace zrq406::link {
namespace {

using test::Endpoint;
using test::makeFrame;

constexpr auto kNoWait = std::chrono::milliseconds(0);
constexpr auto kShortWait = std::chrono::milliseconds(2000);

TEST(SimSegment, DeliversToEveryOtherPortButNotBackToTheSender) {
    auto segment = std::make_shared<SimSegment>();
    Endpoint a(segment), b(segment), c(segment);
    a.transmit(makeFrame(60, 0x88E1, 1));
    EXPECT_TRUE(a.received().empty());
    ASSERT_EQ(b.received().size(), 1u);
    ASSERT_EQ(c.received().size(), 1u);
    EXPECT_EQ(b.received()[0], makeFrame(60, 0x88E1, 1));
}

TEST(SimSegment, ReceiverMayTransmitAndDetachedPortsHearNothing) {
    auto segment = std::make_shared<SimSegment>();
    Endpoint listener(segment);
    // An answering station: transmits from inside its receiver, which would deadlock under the segment's lock.
    int answerer = 0;
    answerer = segment->attach([&](std::span<const std::uint8_t> frame, SimSegment::Clock::time_point) {
        if (frame.size() > 12 && frame[12] == 0x88)
            segment->transmit(answerer, makeFrame(60, 0x0800, 9));
    });
    segment->transmit(0, makeFrame(60, 0x88E1));
    ASSERT_EQ(listener.received().size(), 2u);
    EXPECT_EQ(listener.received()[1], makeFrame(60, 0x0800, 9));
    segment->detach(answerer);
    segment->transmit(0, makeFrame(60, 0x88E1));
    EXPECT_EQ(listener.received().size(), 3u);
}

TEST(SimPort, QueuesFilteredFramesForReceive) {
    const SimHostAdapter adapter = test::simAdapter("sim0", 1);
    SimPort port(adapter);
    Endpoint station(adapter.segment);
    ASSERT_TRUE(port.setPromiscuous(true));
    ASSERT_TRUE(port.setFilter(kHomePlugFilter));
    station.transmit(makeFrame(60, 0x0800, 1));
    station.transmit(makeFrame(64, 0x88E1, 2));

    std::array<std::uint8_t, 1600> buffer{};
    ASSERT_EQ(port.receive(buffer, kShortWait), 64);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 64, makeFrame(64, 0x88E1, 2).begin()));
    EXPECT_EQ(port.receive(buffer, kNoWait), 0);

    // A program the port cannot run is refused and the old one stays.
    const BpfInstruction loadWord[] = {{0x20, 0, 0, 12}, {0x06, 0, 0, 0xFFFF}};
    EXPECT_FALSE(port.setFilter(loadWord));
    station.transmit(makeFrame(60, 0x0800, 3));
    EXPECT_EQ(port.receive(buffer, kNoWait), 0);
}

TEST(SimPort, AFrameIsHandedOverFromTheMomentItReachesThePortInThatOrder) {
    const SimHostAdapter adapter = test::simAdapter("sim0", 1);
    SimPort port(adapter);
    ASSERT_TRUE(port.setPromiscuous(true));
    const auto now = SimSegment::Clock::now();
    const auto soon = now + std::chrono::milliseconds(30);
    adapter.segment->transmit(0, makeFrame(60, 0x88E1, 1), now + std::chrono::hours(1));
    adapter.segment->transmit(0, makeFrame(60, 0x88E1, 2), soon);
    adapter.segment->transmit(0, makeFrame(60, 0x88E1, 3), soon);
    adapter.segment->transmit(0, makeFrame(60, 0x88E1, 4));

    std::array<std::uint8_t, 1600> buffer{};
    const auto next = [&] {
        return port.receive(buffer, kShortWait) == 60 ? std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + 60)
                                                      : std::vector<std::uint8_t>();
    };
    EXPECT_EQ(next(), makeFrame(60, 0x88E1, 4));
    EXPECT_EQ(next(), makeFrame(60, 0x88E1, 2));
    EXPECT_GE(SimSegment::Clock::now(), soon);
    EXPECT_EQ(next(), makeFrame(60, 0x88E1, 3));
    // The frame of the next hour has not reached the port; closing it ends every wait.
    EXPECT_EQ(port.waitReadable(kNoWait), 0);
    port.interrupt();
    EXPECT_EQ(port.waitReadable(kShortWait), -1);
    EXPECT_EQ(port.receive(buffer, kShortWait), -1);
}

TEST(SimPort, WithoutPromiscuityOnlyOwnAndGroupAddressesArrive) {
    const SimHostAdapter adapter = test::simAdapter("sim0", 1);
    SimPort port(adapter);
    Endpoint station(adapter.segment);
    const MacAddress other{{0x02, 0, 0, 0, 0, 0x55}};
    station.transmit(makeFrame(60, 0x88E1, 1, other));
    station.transmit(makeFrame(60, 0x88E1, 2, adapter.mac));
    station.transmit(makeFrame(60, 0x88E1, 3, MacAddress::broadcast()));
    std::array<std::uint8_t, 1600> buffer{};
    ASSERT_EQ(port.receive(buffer, kShortWait), 60);
    EXPECT_EQ(buffer[14], makeFrame(60, 0x88E1, 2)[14]);
    ASSERT_EQ(port.receive(buffer, kShortWait), 60);
    EXPECT_EQ(buffer[14], makeFrame(60, 0x88E1, 3)[14]);
    EXPECT_EQ(port.receive(buffer, kNoWait), 0);
    ASSERT_TRUE(port.setPromiscuous(true));
    station.transmit(makeFrame(60, 0x88E1, 4, other));
    EXPECT_EQ(port.receive(buffer, kShortWait), 60);
}

TEST(SimPort, QueueIsBoundedAndInterruptEndsReceive) {
    const SimHostAdapter adapter = test::simAdapter("sim0", 1);
    SimPort port(adapter);
    port.setPromiscuous(true);
    Endpoint station(adapter.segment);
    for (std::size_t i = 0; i < SimPort::kQueueLimit + 10; ++i)
        station.transmit(makeFrame(60, 0x88E1, static_cast<std::uint8_t>(i)));
    std::array<std::uint8_t, 1600> buffer{};
    std::size_t received = 0;
    while (port.receive(buffer, kNoWait) > 0)
        ++received;
    EXPECT_EQ(received, SimPort::kQueueLimit);

    // A short buffer gets the frame cut to its size.
    station.transmit(makeFrame(100));
    std::array<std::uint8_t, 20> small{};
    EXPECT_EQ(port.receive(small, kShortWait), 20);

    port.interrupt();
    EXPECT_EQ(port.receive(buffer, kShortWait), -1);
    EXPECT_FALSE(port.send(makeFrame(60)));
}

TEST(SimPort, SendsToTheSegmentAndReportsItsAddress) {
    const SimHostAdapter adapter = test::simAdapter("sim0", 7);
    SimPort port(adapter);
    Endpoint station(adapter.segment);
    EXPECT_EQ(port.hardwareAddress(), adapter.mac);
    EXPECT_TRUE(port.send(makeFrame(60)));
    EXPECT_TRUE(port.send(makeFrame(1514)));
    EXPECT_FALSE(port.send(makeFrame(1515)));
    EXPECT_FALSE(port.send({}));
    ASSERT_EQ(station.received().size(), 2u);
    EXPECT_EQ(station.received()[1].size(), 1514u);
}

TEST(SimBackend, ListsItsAdaptersAndOpensOnlyThose) {
    auto backend = makeSimBackend({test::simAdapter("sim0", 1, "first"), test::simAdapter("sim1", 2)});
    const auto hosts = backend->hostInterfaces();
    ASSERT_EQ(hosts.size(), 2u);
    EXPECT_EQ(hosts[0].name, "sim0");
    EXPECT_EQ(hosts[0].description, "first");
    EXPECT_EQ(backend->libraryInterfaces(), (std::vector<std::string>{"sim0", "sim1"}));
    std::string error;
    EXPECT_TRUE(backend->open("sim1", error));
    EXPECT_FALSE(backend->open("sim9", error));
    EXPECT_NE(error.find("sim9"), std::string::npos);
}

} // namespace
} // namespace zrq406::link
