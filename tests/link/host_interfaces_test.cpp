#include "link/capabilities.h"
#include "link/capability_status.h"
#include "link/host_interfaces.h"
#include "link/listed_interface.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace zrq406::link {
namespace {

namespace fs = std::filesystem;

// A stand-in for /sys/class/net with interfaces whose names no real machine has.
class FakeClassNet : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(root); }
    void TearDown() override { fs::remove_all(root.parent_path()); }

    fs::path add(const std::string& name, int type, int index, unsigned flags = 0x1003) {
        const fs::path dir = root / name;
        fs::create_directories(dir);
        std::ofstream(dir / "type") << type << "\n";
        std::ofstream(dir / "ifindex") << index << "\n";
        std::ofstream(dir / "flags") << "0x" << std::hex << flags << "\n";
        return dir;
    }

    fs::path root = fs::temp_directory_path() / ("zrq406-classnet-" + std::to_string(::getpid())) / "net";
};

TEST_F(FakeClassNet, ListsEthernetInterfacesInIndexOrderAndLeavesOutTheRest) {
    add("zqx-eth9", 1, 9);
    add("zqx-lo", 772, 1, 0x9);
    add("zqx-loop1", 1, 2, 0x9); // Ethernet-typed but a loopback
    fs::create_directories(add("zqx-wlan", 1, 3) / "wireless");
    const fs::path phy = add("zqx-wlp", 1, 4);
    fs::create_directory_symlink(root / "zqx-wlan", phy / "phy80211");
    add("zqx-ppp", 512, 5);
    add("zqx-eth2", 1, 6);

    const auto interfaces = listHostInterfaces(root);
    ASSERT_EQ(interfaces.size(), 2u);
    EXPECT_EQ(interfaces[0].name, "zqx-eth2");
    EXPECT_EQ(interfaces[1].name, "zqx-eth9");
}

// The frame helper's check is the list's own rule, and it takes a folder only as that of the interface it names.
TEST_F(FakeClassNet, TheHelperRefusesWhatTheListLeavesOut) {
    add("zqx-eth9", 1, 9);
    add("zqx-tun0", 65534, 4, 0x1091);
    add("zqx-lo", 772, 1, 0x9);
    EXPECT_EQ(interfaceRefusal("zqx-eth9", 9, root), "");
    EXPECT_NE(interfaceRefusal("zqx-eth9", 7, root), ""); // the folder of another namespace's interface
    EXPECT_NE(interfaceRefusal("zqx-tun0", 4, root), "");
    EXPECT_NE(interfaceRefusal("zqx-lo", 1, root), "");
    EXPECT_NE(interfaceRefusal("../net/zqx-eth9", 9, root), "");
}

TEST_F(FakeClassNet, DescriptionComesFromTheDriverLinkWhenTheDriverIsNotAsked) {
    const fs::path devices = root.parent_path() / "devices" / "0000:00:19.0";
    fs::create_directories(devices);
    const fs::path drivers = root.parent_path() / "drivers" / "e1000e";
    fs::create_directories(drivers);
    const fs::path dir = add("zqx-eth0", 1, 2);
    fs::create_directory_symlink(devices, dir / "device");
    fs::create_directory_symlink(drivers, devices / "driver");
    add("zqx-virt", 1, 3);

    const auto interfaces = listHostInterfaces(root);
    ASSERT_EQ(interfaces.size(), 2u);
    EXPECT_EQ(interfaces[0].description, "e1000e 0000:00:19.0");
    EXPECT_FALSE(interfaces[1].description.empty());
}

TEST(HostInterfaces, AMissingFolderGivesNoInterfaces) {
    EXPECT_TRUE(listHostInterfaces("/nonexistent-zrq406/class/net").empty());
    EXPECT_TRUE(driverDescription("").empty());
    EXPECT_TRUE(driverDescription("zqx-no-such-if").empty());
    EXPECT_TRUE(driverDescription(std::string(40, 'a')).empty());
}

TEST(Capabilities, ReadsTheEffectiveSet) {
    const std::string both = "Name:\tx\nCapInh:\t0000000000000000\nCapEff:\t0000000000003000\nCapBnd:\t0\n";
    EXPECT_TRUE(missingCapabilitiesIn(both).empty());
    // Bit 12 is CAP_NET_ADMIN, bit 13 CAP_NET_RAW.
    EXPECT_EQ(missingCapabilitiesIn("CapEff:\t0000000000001000\n"), std::vector<std::string>{"CAP_NET_RAW"});
    EXPECT_EQ(missingCapabilitiesIn("CapEff:\t0000000000002000"), std::vector<std::string>{"CAP_NET_ADMIN"});
    EXPECT_EQ(missingCapabilitiesIn("CapPrm:\t000001ffffffffff\nCapEff:\t0000000000000000\n"),
              (std::vector<std::string>{"CAP_NET_RAW", "CAP_NET_ADMIN"}));
    EXPECT_TRUE(missingCapabilitiesIn("CapEff:\t000001ffffffffff\n").empty());
    // Unreadable: nothing is claimed.
    EXPECT_TRUE(missingCapabilitiesIn("").empty());
    EXPECT_TRUE(missingCapabilitiesIn("CapEff:\tzz\n").empty());
    EXPECT_TRUE(missingCapabilitiesIn("CapEff:\t00000000000000000000\n").empty());
}

} // namespace
} // namespace zrq406::link
