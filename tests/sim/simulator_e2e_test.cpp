// The simulator on a real interface: runSimulator at one end of a veth pair inside a network namespace, the
// programs' link and message code at the other end, talking libpcap as they would to hardware.

#include "link/adapter_link.h"
#include "mme/confirmations.h"
#include "sim/config_block.h"
#include "sim/simulator.h"
#include "tests/sim/sim_test_support.h"
#include "tests/support/interface_subset_backend.h"
#include "tests/support/namespace_child.h"
#include "tests/support/netns_veth.h"
#include "tests/support/powerline_answer.h"

#include <atomic>
#include <gtest/gtest.h>
#include <ostream>
#include <streambuf>
#include <thread>

namespace zrq406::sim::test {
namespace {

using testsupport::LineChannel;
using testsupport::NamespaceChild;
using testsupport::NetnsVeth;
using Clock = std::chrono::steady_clock;

// Sends every line written to it to the parent as "log <line>".
class LineForwarder : public std::streambuf {
public:
    explicit LineForwarder(LineChannel& channel) : m_channel(channel) {}

protected:
    int overflow(int c) override {
        if (c == traits_type::eof())
            return c;
        if (c == '\n') {
            m_channel.sendLine("log " + m_line);
            m_line.clear();
        } else {
            m_line += static_cast<char>(c);
        }
        return c;
    }

private:
    LineChannel& m_channel;
    std::string m_line;
};

int simulatorChild(LineChannel& parent, const std::string& interfaceName, const std::string& networkFile) {
    std::atomic<bool> stop{false};
    std::thread watcher([&] {
        for (;;) {
            const auto line = parent.receiveLine(Clock::now() + std::chrono::seconds(120));
            if (!line || *line == "quit")
                break;
        }
        stop = true;
    });
    LineForwarder forwarder(parent);
    std::ostream log(&forwarder);
    const int code = runSimulator(interfaceName, networkFile, false, stop, log);
    parent.sendLine("exit " + std::to_string(code));
    watcher.join();
    return code;
}

const char* const kNetwork = R"({
  "hostAdapters": [{"name": "plc", "device": "00:b0:52:00:0a:01"}],
  "devices": [
    {"mac": "00:b0:52:00:0a:01", "tei": 1, "firmware": "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712",
     "rates": {"00:b0:52:00:0a:02": {"tx": 111, "rx": 99}}},
    {"mac": "00:b0:52:00:0a:02", "tei": 2, "firmware": "ZRQPLC1-MAC-3-3-3348-00-2400-NA-0500"}
  ]
})";

// Sends `request` on the table's current adapter and waits, a few seconds at most, for a confirmation of `type`.
std::optional<std::vector<std::uint8_t>> ask(link::AdapterTable& table, const mme::Frame& request, std::uint16_t type) {
    const link::AdapterRecord* adapter = table.current();
    if (adapter == nullptr)
        return std::nullopt;
    const MacAddress host = adapter->hostMac;
    table.SendFrame(request);
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    std::vector<std::uint8_t> frame;
    while (Clock::now() < deadline) {
        if (table.FetchFrame(frame) > 0) {
            if (mme::matchesConfirmation(frame, type, &host))
                return frame;
            continue;
        }
        table.waitForFrame(deadline);
    }
    return std::nullopt;
}

TEST(SimulatorEndToEnd, AnswersRealFramesOverAVethPair) {
    std::string reason;
    auto veth = NetnsVeth::create(reason);
    if (!veth)
        GTEST_SKIP() << "no veth pair in a network namespace: " << reason;
    TempDir dir;
    const std::string networkFile = dir.file("network.json");
    writeFile(networkFile, kNetwork);

    const std::string peerEnd = veth->peerEnd();
    std::string failure;
    auto child = NamespaceChild::start(
        *veth, [&](LineChannel& parent) { return simulatorChild(parent, peerEnd, networkFile); }, failure);
    ASSERT_TRUE(child) << failure;
    const auto first = child->channel().receiveLine(Clock::now() + std::chrono::seconds(30));
    ASSERT_TRUE(first) << "the simulator said nothing";
    if (first->rfind("error setns", 0) == 0 || first->rfind("error unshare", 0) == 0 ||
        first->rfind("error mount", 0) == 0)
        GTEST_SKIP() << "cannot enter the network namespace: " << first->substr(6);
    ASSERT_EQ(first->rfind("log simulating 2 devices on " + peerEnd, 0), 0u) << *first;
    // The simulator runs; the pair's queues may not yet carry frames. Its first answer says they do.
    const std::string notAnswering = testsupport::waitUntilPowerlineAnswers(veth->hostEnd());
    ASSERT_TRUE(notAnswering.empty()) << "the simulator in the namespace does not answer: " << notAnswering;

    link::PacketLibrary library(std::make_shared<testsupport::InterfaceSubsetBackend>(
        link::makePcapBackend(), std::vector<std::string>{veth->hostEnd()}));
    link::AdapterTable table(library, link::LinkMode::Utility);
    ASSERT_TRUE(table.OpenAdapters());
    ASSERT_EQ(table.count(), 1);
    table.setCurrentAdapter(0);
    const MacAddress host = table.record(0).hostMac;

    const auto version = ask(table, mme::buildSoftwareVersionRequest(MacAddress::localDevice(), host), 0xA001);
    ASSERT_TRUE(version) << "no software version confirmation within 5 s";
    const auto confirm = mme::parseSoftwareVersion(*version);
    ASSERT_TRUE(confirm);
    EXPECT_EQ(confirm->source, mac("00:b0:52:00:0a:01"));
    EXPECT_EQ(confirm->version, "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712");

    const auto info = ask(table, mme::buildNetworkInfoRequest(confirm->source, host), 0xA039);
    ASSERT_TRUE(info) << "no network information confirmation within 5 s";
    const auto network = mme::parseNetworkInfo(*info);
    ASSERT_TRUE(network);
    ASSERT_EQ(network->stations.size(), 1u);
    EXPECT_EQ(network->stations[0].mac, mac("00:b0:52:00:0a:02"));
    EXPECT_EQ(network->stations[0].averageTxRate, 111);

    // Through the attached device to the remote one.
    const auto remote = ask(table, mme::buildReadModuleRequest(mac("00:b0:52:00:0a:02"), host, 2, 1024, 0), 0xA025);
    ASSERT_TRUE(remote) << "no read-module confirmation from the remote device within 5 s";
    const auto block = mme::parseReadModule(*remote, 1024);
    ASSERT_TRUE(block);
    EXPECT_EQ(block->status, 0);
    EXPECT_EQ(mme::getU16le(block->data, 4), 8192);

    ASSERT_TRUE(child->channel().sendLine("quit"));
    std::vector<std::string> logLines;
    std::optional<std::string> line;
    while ((line = child->channel().receiveLine(Clock::now() + std::chrono::seconds(30)))) {
        if (line->rfind("exit ", 0) == 0)
            break;
        logLines.push_back(*line);
    }
    ASSERT_TRUE(line) << "the simulator did not stop";
    EXPECT_EQ(*line, "exit 0");
    EXPECT_EQ(child->wait(Clock::now() + std::chrono::seconds(10)), 0);
    const auto logged = [&](const std::string& text) {
        return std::any_of(logLines.begin(), logLines.end(),
                           [&](const std::string& l) { return l.find(text) != std::string::npos; });
    };
    EXPECT_TRUE(logged("00:b0:52:00:0a:01 software-version ok [to 00:b0:52:00:00:01]"));
    EXPECT_TRUE(logged("00:b0:52:00:0a:01 network-info 1 station"));
    EXPECT_TRUE(logged("00:b0:52:00:0a:02 read-module ok"));
}

TEST(SimulatorEndToEnd, RefusedNetworkFileAndMissingInterface) {
    TempDir dir;
    writeFile(dir.file("bad.json"), R"({"devices": [{"mac": "nope"}]})");
    std::atomic<bool> stop{true};
    std::ostringstream log;
    EXPECT_EQ(runSimulator("lo", dir.file("bad.json"), true, stop, log), kSimulatorBadNetwork);
    EXPECT_EQ(log.str(), dir.file("bad.json") + ": /devices/0/mac: not a MAC address (\"nope\"; six hexadecimal "
                                                "bytes joined by ':')\n");

    writeFile(dir.file("empty.json"), R"({"devices": [], "hostAdapters": [{"name": "x"}]})");
    log.str("");
    EXPECT_EQ(runSimulator("lo", dir.file("empty.json"), true, stop, log), kSimulatorBadNetwork);
    EXPECT_NE(log.str().find("no host adapter has a device attached"), std::string::npos);

    writeFile(dir.file("good.json"), kNetwork);
    log.str("");
    EXPECT_EQ(runSimulator("zrq406-no-such-if", dir.file("good.json"), true, stop, log), kSimulatorInterfaceFailed);
    EXPECT_NE(log.str().find("zrq406-no-such-if"), std::string::npos) << log.str();
}

} // namespace
} // namespace zrq406::sim::test
