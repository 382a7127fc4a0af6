#include "link/adapter_link.h"
#include "link/helper_port.h"
#include "link/pcap_bridge.h"
#include "platform/text_field.h"
#include "tests/link/link_test_support.h"
#include "tests/support/interface_subset_backend.h"
#include "tests/support/namespace_child.h"
#include "tests/support/netns_veth.h"

#include <fstream>
#include <gtest/gtest.h>
#include <thread>

namespace zrq406::link {
namespace {

using testsupport::LineChannel;
using testsupport::NamespaceChild;
using testsupport::NetnsVeth;
using Clock = std::chrono::steady_clock;

std::string hex(const std::vector<std::uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (const std::uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 0xF];
    }
    return text;
}

std::vector<std::uint8_t> unhex(const std::string& text) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::vector<std::uint8_t> padded(std::vector<std::uint8_t> frame) {
    if (frame.size() < kMinFrameLength)
        frame.resize(kMinFrameLength, 0);
    return frame;
}

// The frames with which the rig finds out that the pair carries frames both ways; the tests never see them.
constexpr std::uint8_t kProbeMark[] = {'z', 'r', 'q', '-', 'p', 'r', 'o', 'b', 'e'};

std::vector<std::uint8_t> probeFrame(const MacAddress& to, const MacAddress& from) {
    auto frame = test::makeFrame(60, 0x88E1, 0, to, from);
    std::copy(std::begin(kProbeMark), std::end(kProbeMark), frame.begin() + 14);
    return frame;
}

bool isProbe(const std::vector<std::uint8_t>& frame) {
    return frame.size() >= 14 + sizeof kProbeMark &&
           std::equal(std::begin(kProbeMark), std::end(kProbeMark), frame.begin() + 14);
}

// The next frame of the current adapter that is no probe, waiting until `deadline`; empty when none came.
std::vector<std::uint8_t> nextFrame(AdapterTable& table, Clock::time_point deadline) {
    std::vector<std::uint8_t> frame;
    for (;;) {
        if (table.FetchFrame(frame) > 0) {
            if (!isProbe(frame))
                return frame;
            continue;
        }
        if (Clock::now() >= deadline)
            return {};
        table.waitForFrame(deadline);
    }
}

// The station inside the namespace: the real pcap backend on the namespace's own interfaces, driven by lines
// from the test ("send <hex>", "fetch <ms>", "answer-probe <ms>", "quit").
int peerStation(LineChannel& parent, const std::string& peerEnd) {
    PacketLibrary library(makePcapBackend());
    AdapterTable table(library, LinkMode::Utility);
    if (!table.OpenAdapters()) {
        parent.sendLine("error no adapter could be opened in the namespace");
        return 1;
    }
    const int index = table.findInterface(peerEnd);
    if (index < 0) {
        parent.sendLine("error " + peerEnd + " is not in the adapter table (" + std::to_string(table.count()) +
                        " adapters)");
        return 1;
    }
    table.setCurrentAdapter(index);
    parent.sendLine("ready " + table.record(index).hostMac.text());
    for (;;) {
        const auto line = parent.receiveLine(Clock::now() + std::chrono::seconds(60));
        if (!line || *line == "quit")
            return line ? 0 : 2;
        if (line->rfind("send ", 0) == 0) {
            table.SendFrame(unhex(line->substr(5)));
            parent.sendLine("sent");
        } else if (line->rfind("fetch ", 0) == 0) {
            const auto frame = nextFrame(table, Clock::now() + std::chrono::milliseconds(std::stoi(line->substr(6))));
            parent.sendLine(!frame.empty() ? "frame " + hex(frame) : "none");
        } else if (line->rfind("answer-probe ", 0) == 0) {
            // A probe that came through is sent back to where it came from.
            const auto deadline = Clock::now() + std::chrono::milliseconds(std::stoi(line->substr(13)));
            std::vector<std::uint8_t> frame;
            bool answered = false;
            while (!answered) {
                if (table.FetchFrame(frame) > 0) {
                    if (isProbe(frame)) {
                        MacAddress sender;
                        std::copy_n(frame.begin() + 6, sender.bytes.size(), sender.bytes.begin());
                        table.SendFrame(probeFrame(sender, table.record(index).hostMac));
                        answered = true;
                    }
                    continue;
                }
                if (Clock::now() >= deadline)
                    break;
                table.waitForFrame(deadline);
            }
            parent.sendLine(answered ? "answered" : "none");
        }
    }
}

// A veth pair with the peer station running in its namespace, or a skip reason.
struct VethRig {
    std::unique_ptr<NetnsVeth> veth;
    std::unique_ptr<NamespaceChild> child;
    MacAddress peerMac;
    std::string skipReason;
    std::string failure;

    VethRig() {
        veth = NetnsVeth::create(skipReason);
        if (!veth)
            return;
        const std::string peerEnd = veth->peerEnd();
        child = NamespaceChild::start(
            *veth, [peerEnd](LineChannel& parent) { return peerStation(parent, peerEnd); }, failure);
        if (!child)
            return;
        const auto ready = child->channel().receiveLine(Clock::now() + std::chrono::seconds(30));
        if (!ready || ready->rfind("ready ", 0) != 0) {
            const std::string said = ready ? *ready : "nothing";
            // Not being allowed into the namespace is this machine's limit, not a fault of the link.
            if (said.rfind("error setns", 0) == 0 || said.rfind("error unshare", 0) == 0 ||
                said.rfind("error mount", 0) == 0)
                skipReason = "cannot enter the network namespace: " + said.substr(6);
            else
                failure = "the station in the namespace said " + said;
            child.reset();
            return;
        }
        peerMac = MacAddress::fromText(ready->substr(6));
        waitUntilTheStationAnswers();
    }

    // The kernel brings a veth pair's queues up a little after its ends are set up and drops what comes before:
    // probes go to the station until one comes back, for at most ten seconds.
    void waitUntilTheStationAnswers() {
        const std::string hostEnd = veth->hostEnd();
        PacketLibrary library(std::make_shared<testsupport::InterfaceSubsetBackend>(makePcapBackend(),
                                                                                    std::vector<std::string>{hostEnd}));
        AdapterTable table(library, LinkMode::Utility);
        if (!table.OpenAdapters() || table.count() != 1) {
            failure = hostEnd + " cannot be opened for raw frames";
            return;
        }
        table.setCurrentAdapter(0);
        const MacAddress host = table.record(0).hostMac;
        const auto giveUp = Clock::now() + std::chrono::seconds(10);
        std::vector<std::uint8_t> frame;
        while (Clock::now() < giveUp) {
            table.SendFrame(probeFrame(peerMac, host));
            const auto answered = ask("answer-probe 250");
            if (!answered) {
                failure = "the station in the namespace stopped answering its commands";
                return;
            }
            if (*answered != "answered")
                continue;
            const auto backBy = std::min(giveUp, Clock::now() + std::chrono::milliseconds(250));
            while (Clock::now() < backBy) {
                if (table.FetchFrame(frame) > 0) {
                    if (isProbe(frame))
                        return;
                    continue;
                }
                table.waitForFrame(backBy);
            }
        }
        failure = "no probe went from " + hostEnd + " to the station in the namespace and back within 10 s";
    }

    ~VethRig() {
        if (child) {
            child->channel().sendLine("quit");
            child->wait(Clock::now() + std::chrono::seconds(10));
        }
    }

    std::optional<std::string> ask(const std::string& line) {
        if (!child->channel().sendLine(line))
            return std::nullopt;
        return child->channel().receiveLine(Clock::now() + std::chrono::seconds(30));
    }
};

MacAddress sysfsAddress(const std::string& interfaceName) {
    std::ifstream in("/sys/class/net/" + interfaceName + "/address");
    std::string text;
    in >> text;
    return MacAddress::fromText(text);
}

#define START_RIG(rig)                                                                                                 \
    VethRig rig;                                                                                                       \
    if (!rig.skipReason.empty())                                                                                       \
        GTEST_SKIP() << rig.skipReason;                                                                                \
    ASSERT_TRUE(rig.failure.empty()) << rig.failure;                                                                   \
    ASSERT_TRUE(rig.child)

TEST(VethEndToEnd, FramesCrossTheVethPairThroughTheAdapterTables) {
    START_RIG(rig);
    const std::string hostEnd = rig.veth->hostEnd();
    PacketLibrary library(
        std::make_shared<testsupport::InterfaceSubsetBackend>(makePcapBackend(), std::vector<std::string>{hostEnd}));
    AdapterTable table(library, LinkMode::Utility);
    ASSERT_TRUE(table.OpenAdapters());
    ASSERT_EQ(table.count(), 1);
    const AdapterRecord& record = table.record(0);
    // The description comes from the driver: "veth", then the library's name of the adapter.
    EXPECT_EQ(fieldText(record.text), "veth" + std::string(kAdapterNamePrefix) + hostEnd);
    EXPECT_EQ(record.hostMac, sysfsAddress(hostEnd));
    EXPECT_EQ(rig.peerMac.isZero(), false);

    // Host to namespace: a 20-byte request goes out as 60 bytes; the IPv4 frame before it is filtered out there.
    auto request = test::makeFrame(20, 0x88E1, 0x21, rig.peerMac, record.hostMac);
    const auto ipv4 = test::makeFrame(60, 0x0800, 0x31, rig.peerMac, record.hostMac);
    table.SendFrame(ipv4);
    table.SendFrame(request);
    const auto answer = rig.ask("fetch 5000");
    ASSERT_TRUE(answer) << "the station in the namespace stopped answering its commands";
    EXPECT_EQ(*answer, "frame " + hex(padded(request)));

    // Namespace to host.
    const auto reply = test::makeFrame(100, 0x88E1, 0x41, record.hostMac, rig.peerMac);
    ASSERT_EQ(rig.ask("send " + hex(reply)), "sent");
    EXPECT_EQ(nextFrame(table, Clock::now() + std::chrono::seconds(5)), reply) << "nothing came within 5 s";

    // Our own sends are never read back: whatever is left came from the namespace.
    std::vector<std::uint8_t> frame;
    while (table.FetchFrame(frame) > 0) {
        if (!isProbe(frame)) {
            EXPECT_EQ(frame, reply);
        }
    }
}

// Through the frame helper a frame leaves from the interface's own address, whatever source the program wrote.
TEST(VethEndToEnd, TheFrameHelperSendsFromTheInterfacesOwnAddress) {
    START_RIG(rig);
    std::string error;
    const auto port = HelperPort::open(ZRQ406_TEST_LINK_HELPER, rig.veth->hostEnd(), error);
    ASSERT_TRUE(port) << error;
    const auto spoofed = test::makeFrame(60, 0x88E1, 0x51, rig.peerMac, MacAddress::localDevice());
    ASSERT_TRUE(port->send(spoofed));
    auto expected = spoofed;
    const MacAddress own = sysfsAddress(rig.veth->hostEnd());
    std::copy(own.bytes.begin(), own.bytes.end(), expected.begin() + 6);
    EXPECT_EQ(rig.ask("fetch 5000"), "frame " + hex(expected));
}

TEST(VethEndToEnd, TheBridgeJoinsTheInterfaceToASimulatedSegment) {
    START_RIG(rig);
    auto segment = std::make_shared<SimSegment>();
    test::Endpoint station(segment);
    std::string error;
    auto bridge = PcapBridge::open(rig.veth->hostEnd(), segment, error);
    ASSERT_TRUE(bridge) << error;
    std::atomic<bool> stop{false};
    std::thread relay([&] { bridge->run(stop); });

    // From the namespace onto the segment; the station's address is not the interface's (promiscuous bridge).
    const MacAddress simulated{{0x00, 0xB0, 0x52, 0x00, 0x00, 0x01}};
    const auto fromPeer = test::makeFrame(64, 0x88E1, 0x51, simulated, rig.peerMac);
    EXPECT_EQ(rig.ask("send " + hex(fromPeer)), "sent");
    EXPECT_TRUE(station.waitFor(fromPeer, std::chrono::seconds(5))) << "the frame did not reach the segment in 5 s";

    // From the segment out of the interface into the namespace.
    const auto toPeer = test::makeFrame(80, 0x88E1, 0x61, rig.peerMac, simulated);
    station.transmit(toPeer);
    const auto answer = rig.ask("fetch 5000");
    ASSERT_TRUE(answer) << "the station in the namespace stopped answering its commands";
    EXPECT_EQ(*answer, "frame " + hex(toPeer));

    stop = true;
    relay.join();
}

} // namespace
} // namespace zrq406::link
