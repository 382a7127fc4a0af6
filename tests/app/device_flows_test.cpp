#include "app/device_actions.h"
#include "app/scan_cycle.h"
#include "app/utility_flows.h"
#include "mme/config_block.h"
#include "mme/upgrade_file.h"
#include "sim/config_block.h"
#include "sim/firmware_image.h"
#include "sim/network.h"
#include "tests/support/simulated_program.h"

#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <nlohmann/json.hpp>

using namespace zrq406;
using zrq406::test::SimulatedProgram;

namespace {
const MacAddress kRemote{{0x00, 0xb0, 0x52, 0x5a, 0x00, 0x02}};
const MacAddress kAbsent{{0x00, 0xb0, 0x52, 0x5a, 0x00, 0x99}};

// The requests the simulated devices handled, by name.
class RequestLog {
public:
    explicit RequestLog(sim::Network& network) {
        network.setRequestLog([this](const std::string& line) {
            std::lock_guard lock(m_mutex);
            m_lines.push_back(line);
        });
    }
    bool contains(const std::string& word) {
        std::lock_guard lock(m_mutex);
        for (const auto& line : m_lines)
            if (line.find(word) != std::string::npos)
                return true;
        return false;
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_lines;
};
} // namespace

TEST(DeviceFlows, LedChangeIsWrittenOnlyWhenItChangesSomething) {
    SimulatedProgram program;
    ASSERT_TRUE(program.open());
    ASSERT_GE(app::findLocalDevice(program.session), 0);
    EXPECT_EQ(app::changeLed(program.session, kRemote, true), app::LedChange::Unchanged);
    EXPECT_EQ(app::changeLed(program.session, kRemote, false), app::LedChange::Done);
    EXPECT_FALSE(program.session.network()->device(kRemote)->ledOn);
    EXPECT_EQ(app::changeLed(program.session, kAbsent, false), app::LedChange::ReadFailed);
}

// A key goes to the attached device only once it is confirmed within the same operation: this operation's scan
// confirms it; a later operation asks again, and refuses when the device that answers is not the one found.
TEST(DeviceFlows, KeysGoOnlyToTheAttachedDeviceConfirmedInTheSameOperation) {
    SimulatedProgram program;
    ASSERT_TRUE(program.open());
    app::Session& session = program.session;
    RequestLog log(*session.network());
    {
        const app::OperationLease scan = session.runner().begin();
        ASSERT_GE(app::findLocalDevice(session), 0);
        EXPECT_TRUE(session.localDeviceConfirmed());
    }
    {
        const app::OperationLease next = session.runner().begin();
        EXPECT_FALSE(session.localDeviceConfirmed());
        EXPECT_NO_THROW(app::confirmLocalDevice(session));
        EXPECT_TRUE(session.localDeviceConfirmed());
    }
    {
        const app::OperationLease later = session.runner().begin();
        session.adapters().current()->localDeviceMac = kRemote; // as if the scan had found another device
        try {
            app::sendNetworkKey(session, {kRemote, false, {}, {}}, mme::kDefaultNmk);
            ADD_FAILURE() << "the key went out";
        } catch (const app::LocalDeviceRefused& refused) {
            EXPECT_NE(std::string(refused.what()).find(kRemote.text()), std::string::npos) << refused.what();
        }
        EXPECT_FALSE(log.contains("set-key"));
        EXPECT_EQ(session.adapters().current()->localDeviceMac, kRemote);
    }
}

// The utility's flows wait out the device's restart, so that it answers at once afterwards, and tell what follows.
TEST(UtilityFlows, ResetAndLedWaitForTheRestartAndTellWhatFollows) {
    SimulatedProgram program;
    ASSERT_TRUE(program.open());
    ASSERT_GE(app::findLocalDevice(program.session), 0);
    EXPECT_EQ(app::switchLedAndWait(program.session, kRemote, false), app::LedChange::Done);
    EXPECT_EQ(app::changeLed(program.session, kRemote, false), app::LedChange::Unchanged);
    EXPECT_TRUE(app::factoryResetAndWait(program.session, kRemote));
    EXPECT_NE(app::changeLed(program.session, kRemote, true), app::LedChange::ReadFailed);
    EXPECT_FALSE(app::factoryResetAndWait(program.session, kAbsent));

    EXPECT_STREQ(app::factoryResetResultKey(true), "msg48");
    EXPECT_STREQ(app::factoryResetResultKey(false), "msg49");
    // A reset device not found again is told; a refused reset is told only when no network is left.
    EXPECT_STREQ(app::factoryResetFollowUpKey(true, true, true), nullptr);
    EXPECT_STREQ(app::factoryResetFollowUpKey(true, true, false), "msg59");
    EXPECT_STREQ(app::factoryResetFollowUpKey(true, false, false), "msg59");
    EXPECT_STREQ(app::factoryResetFollowUpKey(false, true, false), nullptr);
    EXPECT_STREQ(app::factoryResetFollowUpKey(false, false, false), "msg24");
}

TEST(DeviceFlows, PasswordProofSendsNothingWithoutTheDevicesKey) {
    SimulatedProgram program;
    ASSERT_TRUE(program.open());
    ASSERT_GE(app::findLocalDevice(program.session), 0);
    RequestLog log(*program.session.network());
    EXPECT_EQ(app::proveDevicePassword(program.session, kRemote, "GTNE-WHFU-YBSK-QCLM"), app::PasswordProof::Accepted);
    EXPECT_EQ(app::proveDevicePassword(program.session, kRemote, "AAAA-BBBB-CCCC-DDDD"), app::PasswordProof::Refused);
    RequestLog after(*program.session.network());
    EXPECT_EQ(app::proveDevicePassword(program.session, kAbsent, "AAAA-BBBB-CCCC-DDDD"),
              app::PasswordProof::KeyUnreadable);
    EXPECT_FALSE(after.contains("set-key"));
    // The proof left the device in its network.
    EXPECT_EQ(app::runScan(program.session, "t").built.devices, 4);
}

namespace {
const MacAddress kOld{{0x00, 0xb0, 0x52, 0x5a, 0x00, 0x03}};

// The message an upgrade of the built-in network's old device earns, with `change` made to that device first.
std::string upgradeMessage(const std::string& fileVersion, const std::function<void(nlohmann::json&)>& change,
                           bool brokenFile = false) {
    auto network = SimulatedProgram::builtInNetwork();
    for (auto& device : network["devices"])
        if (device["mac"] == "00:b0:52:5a:00:03")
            change(device);
    SimulatedProgram program(network);
    EXPECT_TRUE(program.open());
    EXPECT_GE(app::findLocalDevice(program.session), 0);
    const auto bytes = brokenFile ? std::vector<std::uint8_t>{'n', 'o'}
                                  : mme::packUpgradeFile(sim::makeFirmwareImage("ZRQPLC1-MAC-" + fileVersion, 8192),
                                                         sim::makeConfigBlock({}), fileVersion);
    const auto path = program.path("upgrade.bin");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    mme::FirmwareUpgrade upgrade(program.session.operations(), program.session.pacing());
    upgrade.setBackupDir(program.path("backups"));
    return app::upgradeMessageKey(upgrade.upgradeDevice(path.string(), kOld));
}
} // namespace

TEST(DeviceFlows, EachWayAnUpgradeEndsEarnsItsMessage) {
    const std::string file = "3-3-3348-00-2764-CE-0712";
    const auto asItIs = [](nlohmann::json&) {};
    EXPECT_EQ(upgradeMessage(file, asItIs), "msg31");
    EXPECT_EQ(upgradeMessage(file, asItIs, true), "msg32");
    EXPECT_EQ(upgradeMessage(file, [](nlohmann::json& d) { d["firmware"] = "ZRQPLC1-MAC-3-3-3348-00-2764-JP-0611"; }),
              "msg28");
    EXPECT_EQ(upgradeMessage(file, [](nlohmann::json& d) { d["product"] = "OTHERCO BRIDGE-CE-12"; }), "msg29");
    EXPECT_EQ(upgradeMessage("3-3-3348-00-2764-US-0712", asItIs), "msg30");
    EXPECT_EQ(
        upgradeMessage(
            file,
            [](nlohmann::json& d) {
                d["faults"] = nlohmann::json::array({{{"kind", "fail"}, {"message", "write-module"}, {"share", 1}}});
            }),
        "msg16");
}
