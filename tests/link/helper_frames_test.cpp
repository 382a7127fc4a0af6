#include "link/bpf_program.h"
#include "link/helper_frames.h"
#include "link/helper_port.h"
#include "link/listed_interface.h"
#include "tests/support/netns_veth.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

using namespace zrq406::link;

namespace {

std::vector<std::uint8_t> frameOfType(std::uint8_t high, std::uint8_t low, std::size_t size = 60) {
    std::vector<std::uint8_t> frame(size, 0);
    frame[0] = 0x00; // to one station
    frame[6] = 0x02; // from a locally administered unicast address
    frame[12] = high;
    frame[13] = low;
    return frame;
}

// The probe as the link puts it on the wire: its 26 bytes, then zeros up to 60.
std::vector<std::uint8_t> probe(std::size_t size = 60) {
    std::vector<std::uint8_t> frame = frameOfType(0x08, 0x00, size);
    const std::uint8_t ipv4[] = {0x45, 0x00, 0x00, 0x14, 0x00, 0x00, 0x00, 0x00, 0x40, 0xFD, 0x79, 0xEE};
    std::copy(std::begin(ipv4), std::end(ipv4), frame.begin() + 14);
    return frame;
}

} // namespace

// The helper holds raw-socket rights for users who may not read the host's traffic: it passes this protocol's
// frames and the discovery probe, and nothing a caller could use to send other traffic.
TEST(HelperFramesTest, PassesOnlyTheProtocolAndTheProbe) {
    EXPECT_TRUE(helper::passesFrame(frameOfType(0x88, 0xE1)));
    EXPECT_TRUE(helper::passesFrame(frameOfType(0x88, 0xE1, 1514)));

    // The probe: 14 header bytes and the first 12 of an IPv4 header of protocol 253.
    std::vector<std::uint8_t> probe = ::probe(26);
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

// Of IPv4 only the probe the programs build goes out, byte for byte but for its addresses: a longer packet, a
// header of another protocol or with other fields, anything in its padding, or a probe to a group is refused.
TEST(HelperFramesTest, TheProbeOnlyAsTheProgramsBuildIt) {
    EXPECT_TRUE(helper::passesFrame(probe()));
    EXPECT_TRUE(helper::passesFrame(probe(26)));

    std::vector<std::vector<std::uint8_t>> variants;
    variants.push_back(probe(61));
    auto packet = probe(1034); // an IPv4 packet to any address, its length in its header
    packet[16] = 0x04;
    packet[17] = 0x0C;
    variants.push_back(packet);
    for (const std::size_t at : {14u, 15u, 17u, 19u, 21u, 22u, 23u, 24u, 25u}) {
        auto changed = probe();
        changed[at] ^= 0x01;
        variants.push_back(changed);
    }
    auto padded = probe();
    padded[40] = 1;
    variants.push_back(padded);
    auto toGroup = probe();
    toGroup[0] = 0x01;
    variants.push_back(toGroup);
    for (std::size_t i = 0; i < variants.size(); ++i)
        EXPECT_FALSE(helper::passesFrame(variants[i])) << "variant " << i;

    // What comes in is this protocol only.
    const auto filter = BpfProgram::compile(helper::receiveFilter());
    ASSERT_TRUE(filter);
    EXPECT_GT(filter->run(frameOfType(0x88, 0xE1)), 0u);
    EXPECT_EQ(filter->run(probe()), 0u);
}

// Every frame leaves from the interface's own address, whatever source the program wrote; a group source is a
// caller's fault and goes nowhere.
TEST(HelperFramesTest, SendsFromTheInterfacesOwnAddressOnly) {
    const std::array<std::uint8_t, 6> own{0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
    for (auto frame : {frameOfType(0x88, 0xE1), probe()}) {
        const std::array<std::uint8_t, 6> spoofed{0x00, 0xB0, 0x52, 0x00, 0x00, 0x01};
        std::copy(spoofed.begin(), spoofed.end(), frame.begin() + 6);
        auto expected = frame;
        std::copy(own.begin(), own.end(), expected.begin() + 6);
        ASSERT_TRUE(helper::stampFrame(frame, own));
        EXPECT_EQ(frame, expected);

        for (const std::uint8_t first : {0x01, 0x03, 0xFF}) {
            auto group = frame;
            group[6] = first;
            EXPECT_FALSE(helper::passesFrame(group));
            EXPECT_FALSE(helper::stampFrame(group, own));
        }
    }
}

namespace {

// A tun device that lasts as long as this object, or none (`reason` set) without the right to make one.
class TunDevice {
public:
    explicit TunDevice(std::string& reason) {
        m_fd = ::open("/dev/net/tun", O_RDWR | O_CLOEXEC);
        if (m_fd < 0) {
            reason = std::string("cannot open /dev/net/tun: ") + std::strerror(errno);
            return;
        }
        ifreq request{};
        request.ifr_flags = IFF_TUN | IFF_NO_PI;
        const std::string wanted = "zqxtun" + std::to_string(::getpid() % 100000);
        std::memcpy(request.ifr_name, wanted.c_str(), wanted.size() + 1);
        if (::ioctl(m_fd, TUNSETIFF, &request) != 0) {
            reason = std::string("cannot make a tun device (needs CAP_NET_ADMIN): ") + std::strerror(errno);
            ::close(m_fd);
            m_fd = -1;
            return;
        }
        m_name = request.ifr_name;
    }
    ~TunDevice() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    TunDevice(const TunDevice&) = delete;
    TunDevice& operator=(const TunDevice&) = delete;
    const std::string& name() const { return m_name; }

private:
    int m_fd = -1;
    std::string m_name;
};

std::string refusalOf(const std::string& name) {
    return interfaceRefusal(name, static_cast<int>(::if_nametoindex(name.c_str())));
}

// What the helper of this build says when asked to open `name`: empty when it opened it.
std::string helperOpening(const std::string& name) {
    std::string error;
    return HelperPort::open(ZRQ406_TEST_LINK_HELPER, name, error) ? std::string() : error;
}

} // namespace

// The helper opens only what the programs list: not the loopback, not a tun device (on which a frame whose
// bytes read 0x88E1 at offset 12 would be an IP packet), but a veth end.
TEST(HelperInterfacesTest, TheHelperOpensOnlyListedEthernetInterfaces) {
    EXPECT_NE(refusalOf("lo"), "");
    EXPECT_NE(refusalOf("zqx-no-such-if"), "");
    if (::geteuid() != 0)
        GTEST_SKIP() << "running the frame helper needs CAP_NET_RAW (root)";
    EXPECT_NE(helperOpening("lo").find("not an Ethernet interface"), std::string::npos) << helperOpening("lo");

    std::string reason;
    TunDevice tun(reason);
    if (tun.name().empty())
        GTEST_SKIP() << reason;
    EXPECT_NE(refusalOf(tun.name()), "");
    EXPECT_NE(helperOpening(tun.name()).find("not an Ethernet interface"), std::string::npos);

    const auto veth = zrq406::testsupport::NetnsVeth::create(reason);
    if (!veth)
        GTEST_SKIP() << "no veth pair here: " << reason;
    EXPECT_EQ(refusalOf(veth->hostEnd()), "");
    EXPECT_EQ(helperOpening(veth->hostEnd()), "");
}
