#include "cli_fixture.h"
#include "sim/simulator.h"
#include "tests/support/namespace_child.h"
#include "tests/support/netns_veth.h"
#include "tests/support/powerline_answer.h"

#include <atomic>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <thread>

namespace {

using zrq406::testsupport::LineChannel;
using zrq406::testsupport::NamespaceChild;
using zrq406::testsupport::NetnsVeth;
using Clock = std::chrono::steady_clock;

// The tool on one end of a veth pair, `zrq406 simulate` on the other end inside a network namespace: the
// programs reach the simulated devices through libpcap exactly as they reach hardware.
class CliOverVeth : public zrq406::test::CliFixture {
protected:
    void SetUp() override {
        CliFixture::SetUp();
        prepareNetwork();
        writeNetwork();
        std::string reason;
        m_veth = NetnsVeth::create(reason);
        if (!m_veth)
            GTEST_SKIP() << "no veth pair in a network namespace here: " << reason;
        const std::string network = networkPath().string();
        const std::string peer = m_veth->peerEnd();
        m_child = NamespaceChild::start(
            *m_veth,
            [network, peer](LineChannel& parent) {
                std::atomic<bool> stop{false};
                std::ostringstream log;
                int code = 0;
                std::thread simulator([&] {
                    code = zrq406::sim::runSimulator(peer, network, true, stop, log);
                    stop = true;
                });
                parent.sendLine("ready");
                while (!stop) {
                    const auto line = parent.receiveLine(Clock::now() + std::chrono::milliseconds(100));
                    if (line && *line == "quit")
                        stop = true;
                }
                simulator.join();
                return code;
            },
            reason);
        ASSERT_TRUE(m_child) << reason;
        const auto ready = m_child->channel().receiveLine(Clock::now() + std::chrono::seconds(10));
        ASSERT_TRUE(ready && *ready == "ready") << (ready ? *ready : std::string("no answer from the namespace"));
        // "ready" comes before the simulator has opened its end of the pair: the tool starts once it answers.
        const std::string notAnswering = zrq406::testsupport::waitUntilPowerlineAnswers(m_veth->hostEnd());
        ASSERT_TRUE(notAnswering.empty()) << "the simulator in the namespace does not answer: " << notAnswering;
    }
    void TearDown() override {
        if (m_child) {
            m_child->channel().sendLine("quit");
            EXPECT_EQ(m_child->wait(Clock::now() + std::chrono::seconds(10)), 0);
        }
        m_child.reset();
        m_veth.reset();
        CliFixture::TearDown();
    }

    // Changes the simulated network before the simulator starts.
    virtual void prepareNetwork() {}

    // zrq406 --interface <host end> ARGS... over the real interface.
    Result runReal(std::initializer_list<std::string> args) {
        std::vector<std::string> words = {
            "zrq406", "--interface", m_veth->hostEnd(), "--history", historyPath().string(), "--lang", "en"};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& w : words)
            argv.push_back(w.data());
        std::ostringstream out;
        std::ostringstream err;
        unsetenv("ZRQ406_SIMULATE");
        const int code = zrq406::cli::runCommandLine(static_cast<int>(argv.size()), argv.data(), out, err);
        return {code, out.str(), err.str()};
    }

    std::unique_ptr<NetnsVeth> m_veth;
    std::unique_ptr<NamespaceChild> m_child;
};

} // namespace

TEST_F(CliOverVeth, ScanAndUpgradeThroughLibpcap) {
    const auto scan = runReal({"--json", "scan"});
    ASSERT_EQ(scan.code, 0) << scan.err;
    const auto devices = scan.json()["devices"];
    ASSERT_EQ(devices.size(), 4u);
    EXPECT_EQ(devices[0]["mac"], "00:b0:52:5a:00:01");
    EXPECT_EQ(scan.json()["adapter"], m_veth->hostEnd());

    const auto file = upgradeFile("3-3-3348-00-2764-CE-0712", "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712");
    const auto upgrade = runReal({"--json", "upgrade", file.string(), "00:b0:52:5a:00:03"});
    ASSERT_EQ(upgrade.code, 0) << upgrade.err;
    const auto after = runReal({"--json", "scan", "--no-save"});
    ASSERT_EQ(after.code, 0) << after.err;
    bool found = false;
    const auto afterDoc = after.json();
    for (const auto& d : afterDoc["devices"])
        if (d["mac"] == "00:b0:52:5a:00:03") {
            EXPECT_EQ(d["firmware"], "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712");
            found = true;
        }
    EXPECT_TRUE(found) << after.out << after.err;
}

// The push button without OUI, the restart and the hosts list cross the wire as they are: answers padded to 60 bytes
// by the link, read by the same parsers.
TEST_F(CliOverVeth, PairStatusRestartAndHostsOverTheWire) {
    const auto status = runReal({"--json", "pair", "status"});
    ASSERT_EQ(status.code, 0) << status.err;
    EXPECT_EQ(status.json()["membership"], 8);
    EXPECT_EQ(status.json()["status"], 0);
    const auto remote = runReal({"--json", "pair", "00:b0:52:5a:00:02", "status"});
    ASSERT_EQ(remote.code, 0) << remote.err;
    EXPECT_EQ(remote.json()["membership"], 4);

    const auto restarted = runReal({"--json", "restart", "00:b0:52:5a:00:03"});
    ASSERT_EQ(restarted.code, 0) << restarted.err;
    EXPECT_EQ(restarted.json()["answering"], true);

    const auto hosts = runReal({"--json", "hosts", "00:b0:52:5a:00:04"});
    ASSERT_EQ(hosts.code, 0) << hosts.err;
    ASSERT_EQ(hosts.json()["hosts"].size(), 2u);
    EXPECT_EQ(hosts.json()["hosts"][1]["mac"], "a4:c3:61:08:9c:40");
    EXPECT_EQ(hosts.json()["hosts"][1]["id"], 2);
}

// Link statistics and carrier maps cross the wire at full length: every link counted in both directions, the
// built-in network's noise band named, every slot read.
TEST_F(CliOverVeth, HealthAndCarriersOverTheWire) {
    const auto health = runReal({"--json", "health"});
    ASSERT_EQ(health.code, 0) << health.err;
    const auto doc = health.json();
    ASSERT_EQ(doc["links"].size(), 12u);
    EXPECT_TRUE(doc["withoutStatistics"].empty());
    double previous = 1;
    for (const auto& link : doc["links"]) {
        ASSERT_FALSE(link["pbErrorRate"].is_null()) << link.dump();
        EXPECT_FALSE(link["sent"].is_null());
        EXPECT_FALSE(link["received"].is_null());
        EXPECT_LE(link["pbErrorRate"].get<double>(), previous);
        previous = link["pbErrorRate"].get<double>();
    }
    const auto one = runReal({"--json", "health", "00:b0:52:5a:00:02"});
    ASSERT_EQ(one.code, 0) << one.err;
    EXPECT_EQ(one.json()["links"].size(), 6u);

    const auto carriers = runReal({"carriers", "00:b0:52:5a:00:01", "00:b0:52:5a:00:03"});
    ASSERT_EQ(carriers.code, 0) << carriers.err;
    EXPECT_NE(carriers.out.find("10.2-13.9 MHz carry no data"), std::string::npos) << carriers.out;
    EXPECT_NE(carriers.out.find("Active carriers: "), std::string::npos);
    const auto csv = runReal({"carriers", "00:b0:52:5a:00:01", "00:b0:52:5a:00:03", "--slot", "1", "--csv"});
    ASSERT_EQ(csv.code, 0) << csv.err;
    EXPECT_EQ(csv.out.substr(0, csv.out.find('\r')), "carrier,mhz,bits_slot1,snr_db");
    EXPECT_EQ(std::count(csv.out.begin(), csv.out.end(), '\n'), 1155);
    // A device off the network is named as such, not as one without carrier maps.
    const auto stranger = runReal({"carriers", "00:b0:52:00:00:09", "00:b0:52:5a:00:03"});
    EXPECT_EQ(stranger.code, 1);
    EXPECT_NE(stranger.err.find("00:b0:52:00:00:09 is not a station of the network"), std::string::npos) << stranger.err;
}

namespace {

// A second host on the wire answers as the attached device, under its own MAC and before it.
class CliOverVethWithImpostor : public CliOverVeth {
protected:
    static constexpr const char* kImpostor = "02:66:77:88:99:aa";
    void prepareNetwork() override { network()["hostAdapters"][0]["impostors"] = {kImpostor}; }
};

} // namespace

TEST_F(CliOverVethWithImpostor, NoKeyLeavesThisComputerAndBothAreNamed) {
    const auto capture = path("set-key.pcap");
    const auto keyed = runReal({"--capture", capture.string(), "set-key", "--password", "OurNetwork42", "--local"});
    EXPECT_EQ(keyed.code, 1);
    EXPECT_NE(keyed.err.find("00:b0:52:5a:00:01"), std::string::npos) << keyed.err;
    EXPECT_NE(keyed.err.find(kImpostor), std::string::npos) << keyed.err;
    EXPECT_EQ(zrq406::test::capturedOfType(capture, static_cast<std::uint16_t>(zrq406::mme::MmType::SetKey)), 0u);
}

namespace {

// Sets or clears the raw-frame capabilities in the effective set; the permitted set keeps them, so they come back.
bool setNetworkCapabilities(bool on) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    const std::uint32_t network = (1u << CAP_NET_RAW) | (1u << CAP_NET_ADMIN);
    data[0].effective = on ? (data[0].effective | (data[0].permitted & network)) : (data[0].effective & ~network);
    return ::syscall(SYS_capset, &header, data) == 0;
}

} // namespace

// A program without the capabilities reaches the same devices through the frame helper, which passes the
// protocol's frames both ways and the discovery probe out; the upgrade's large writes cross it too.
TEST_F(CliOverVeth, ScanAndUpgradeThroughTheFrameHelper) {
    setenv("ZRQ406_LINK_HELPER", ZRQ406_TEST_LINK_HELPER, 1);
    ASSERT_TRUE(setNetworkCapabilities(false));
    const auto scan = runReal({"--json", "scan"});
    const auto file = upgradeFile("3-3-3348-00-2764-CE-0712", "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712", 256 * 1024);
    const auto upgrade = runReal({"--json", "upgrade", file.string(), "00:b0:52:5a:00:02"});
    ASSERT_TRUE(setNetworkCapabilities(true));
    unsetenv("ZRQ406_LINK_HELPER");

    ASSERT_EQ(scan.code, 0) << scan.err;
    EXPECT_EQ(scan.json()["devices"].size(), 4u) << scan.out;
    EXPECT_EQ(upgrade.code, 0) << upgrade.err;
}
