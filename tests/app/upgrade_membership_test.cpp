#include "app/scan_cycle.h"
#include "app/upgrade_membership.h"
#include "mme/key_derivation.h"
#include "mme/upgrade_file.h"
#include "sim/config_block.h"
#include "sim/firmware_image.h"
#include "sim/network.h"
#include "tests/support/simulated_program.h"

#include <fstream>
#include <gtest/gtest.h>

using namespace zrq406;
using zrq406::test::SimulatedProgram;

namespace {
const MacAddress kLocal{{0x00, 0xb0, 0x52, 0x5a, 0x00, 0x01}};
const MacAddress kRemote{{0x00, 0xb0, 0x52, 0x5a, 0x00, 0x02}};
const std::string kRemotePassword = "GTNE-WHFU-YBSK-QCLM";

// The built-in network with every device on one private key.
nlohmann::json privateNetwork() {
    auto network = SimulatedProgram::builtInNetwork();
    for (auto& device : network["devices"])
        device["networkPassword"] = "OurNetwork42";
    return network;
}

class UpgradeMembership : public ::testing::Test {
protected:
    void open(const nlohmann::json& network) {
        program = std::make_unique<SimulatedProgram>(network);
        ASSERT_TRUE(program->open());
        ASSERT_GE(app::findLocalDevice(program->session), 0);
    }
    // Upgrades the device with a file that changes its configuration block only, as the utility does.
    mme::UpgradeOutcome upgrade(const MacAddress& device) {
        sim::ConfigBlockFields fields;
        fields.product = "TALVERN ZRQ406-CE-12";
        const auto bytes = mme::packUpgradeFile(sim::makeFirmwareImage("ZRQPLC1-MAC-3-3-3348-00-2764-CE-0713", 8192),
                                                sim::makeConfigBlock(fields), "3-3-3348-00-2764-CE-0713");
        const auto file = program->path("upgrade.bin");
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        mme::FirmwareUpgrade operation(program->session.operations(), program->session.pacing());
        operation.setBackupDir(program->path("backups"));
        return operation.upgradeDevice(file.string(), device);
    }
    mme::Key keyOf(const MacAddress& device) { return program->session.network()->device(device)->nmk; }
    int devicesFound() { return app::runScan(program->session, "t").built.devices; }

    std::unique_ptr<SimulatedProgram> program;
    const mme::Key privateKey = mme::DeriveNmk("OurNetwork42");
};
} // namespace

TEST_F(UpgradeMembership, ARemoteDeviceOnAPrivateKeyIsPutBackThroughItsDevicePassword) {
    open(privateNetwork());
    const auto risk = app::membershipRiskOfUpgrade(program->session, kRemote);
    EXPECT_EQ(risk, app::NetworkMembership::RemoteLeft);
    EXPECT_EQ(app::upgradeWarningMessageKey(risk), "msg76");
    const auto outcome = upgrade(kRemote);
    ASSERT_TRUE(outcome.ok) << outcome.detail;
    EXPECT_EQ(keyOf(kRemote), mme::kDefaultNmk);
    // The device restarts on the default key, outside the network, as the utility waits for it.
    program->session.pacing().sleep(20000);
    EXPECT_EQ(devicesFound(), 3);

    const auto after = app::membershipAfterUpgrade(program->session, kRemote, outcome, risk);
    EXPECT_EQ(after.membership, app::NetworkMembership::RemoteLeft);
    ASSERT_TRUE(after.previousKey);
    EXPECT_EQ(*after.previousKey, privateKey);
    EXPECT_FALSE(app::rejoinNetwork(program->session, kRemote, after.membership, privateKey, "AAAA-BBBB-CCCC-DDDD"));
    EXPECT_TRUE(app::rejoinNetwork(program->session, kRemote, after.membership, privateKey, kRemotePassword));
    EXPECT_EQ(keyOf(kRemote), privateKey);
    EXPECT_EQ(devicesFound(), 4);
}

TEST_F(UpgradeMembership, TheLocalDeviceOnAPrivateKeyIsPutBackDirectly) {
    open(privateNetwork());
    const auto risk = app::membershipRiskOfUpgrade(program->session, kLocal);
    EXPECT_EQ(risk, app::NetworkMembership::LocalLeft);
    const auto outcome = upgrade(kLocal);
    // The upgrade itself succeeds and says nothing of the network: this computer now reaches no remote device.
    ASSERT_TRUE(outcome.ok) << outcome.detail;
    EXPECT_FALSE(outcome.leftNetwork);
    EXPECT_EQ(devicesFound(), 1);

    const auto after = app::membershipAfterUpgrade(program->session, kLocal, outcome, risk);
    EXPECT_EQ(after.membership, app::NetworkMembership::LocalLeft);
    EXPECT_EQ(app::rejoinOfferMessageKey(after.membership), "msg77");
    ASSERT_TRUE(after.previousKey);
    EXPECT_TRUE(app::rejoinNetwork(program->session, kLocal, after.membership, *after.previousKey));
    EXPECT_EQ(devicesFound(), 4);

    // A backup that does not hold a sound block of this device gives no key to put back.
    EXPECT_FALSE(app::membershipAfterUpgrade(program->session, kRemote, outcome, risk).previousKey);
    std::fstream(outcome.backup, std::ios::in | std::ios::out | std::ios::binary).put('\x5a');
    EXPECT_FALSE(app::membershipAfterUpgrade(program->session, kLocal, outcome, risk).previousKey);
}

TEST_F(UpgradeMembership, ADeviceOnTheDefaultKeyKeepsItsNetwork) {
    open(SimulatedProgram::builtInNetwork());
    const auto risk = app::membershipRiskOfUpgrade(program->session, kRemote);
    EXPECT_EQ(risk, app::NetworkMembership::Kept);
    EXPECT_EQ(app::upgradeWarningMessageKey(risk), "");
    const auto outcome = upgrade(kRemote);
    ASSERT_TRUE(outcome.ok) << outcome.detail;
    EXPECT_EQ(app::membershipAfterUpgrade(program->session, kRemote, outcome, risk).membership,
              app::NetworkMembership::Kept);
}
