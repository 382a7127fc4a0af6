#include "link/adapter_link.h"
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

// The station inside the namespace: the real pcap backend on the namespace's own interfaces, driven by lines
// from the test ("send <hex>", "fetch <ms>", "quit").
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
            const auto deadline = Clock::now() + std::chrono::milliseconds(std::stoi(line->substr(6)));
            std::vector<std::uint8_t> frame;
            std::size_t length = table.FetchFrame(frame);
            while (length == 0 && Clock::now() < deadline) {
                table.waitForFrame(deadline);
                length = table.FetchFrame(frame);
            }
            parent.sendLine(length > 0 ? "frame " + hex(frame) : "none");
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
    std::optional<std::string> answer;
    // The first frames may go before the kernel has the pair's queues running; a few tries cover that.
    for (int attempt = 0; attempt < 10; ++attempt) {
        table.SendFrame(ipv4);
        table.SendFrame(request);
        answer = rig.ask("fetch 500");
        ASSERT_TRUE(answer);
        if (*answer != "none")
            break;
    }
    EXPECT_EQ(*answer, "frame " + hex(padded(request)));

    // Namespace to host.
    const auto reply = test::makeFrame(100, 0x88E1, 0x41, record.hostMac, rig.peerMac);
    std::vector<std::uint8_t> frame;
    std::size_t length = 0;
    for (int attempt = 0; attempt < 10 && length == 0; ++attempt) {
        ASSERT_EQ(rig.ask("send " + hex(reply)), "sent");
        const auto deadline = Clock::now() + std::chrono::milliseconds(500);
        length = table.FetchFrame(frame);
        while (length == 0 && Clock::now() < deadline) {
            table.waitForFrame(deadline);
            length = table.FetchFrame(frame);
        }
    }
    ASSERT_EQ(length, reply.size());
    EXPECT_EQ(frame, reply);

    // Our own sends are never read back: whatever is left came from the namespace.
    while (table.FetchFrame(frame) > 0)
        EXPECT_EQ(frame, reply);
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
    bool arrived = false;
    for (int attempt = 0; attempt < 10 && !arrived; ++attempt) {
        EXPECT_EQ(rig.ask("send " + hex(fromPeer)), "sent");
        const auto deadline = Clock::now() + std::chrono::milliseconds(500);
        while (!arrived && Clock::now() < deadline) {
            for (const auto& f : station.received())
                arrived = arrived || f == fromPeer;
            if (!arrived)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    EXPECT_TRUE(arrived);

    // From the segment out of the interface into the namespace.
    const auto toPeer = test::makeFrame(80, 0x88E1, 0x61, rig.peerMac, simulated);
    std::optional<std::string> answer;
    for (int attempt = 0; attempt < 10; ++attempt) {
        station.transmit(toPeer);
        answer = rig.ask("fetch 500");
        ASSERT_TRUE(answer);
        if (*answer != "none")
            break;
    }
    EXPECT_EQ(*answer, "frame " + hex(toPeer));

    stop = true;
    relay.join();
}

} // namespace
} // namespace zrq406::link
