#include "app/device_actions.h"
#include "app/qos_actions.h"
#include "app/scan_cycle.h"
#include "mme/config_block.h"
#include "platform/text_field.h"
#include "sim/network.h"
#include "tests/support/simulated_program.h"

#include <gtest/gtest.h>

using namespace zrq406;
using zrq406::test::SimulatedProgram;

namespace {
const MacAddress kLocal{{0x00, 0xb0, 0x52, 0x5a, 0x00, 0x01}};
const MacAddress kRemote{{0x00, 0xb0, 0x52, 0x5a, 0x00, 0x02}};

// The built-in network with `fault` acting on the confirmations of `device` (on every one, unless it names nth).
nlohmann::json withFault(const MacAddress& device, nlohmann::json fault) {
    if (!fault.contains("nth"))
        fault["share"] = 1;
    auto network = SimulatedProgram::builtInNetwork();
    for (auto& entry : network["devices"])
        if (entry["mac"] == device.text())
            entry["faults"] = nlohmann::json::array({std::move(fault)});
    return network;
}

const DeviceRecord* row(const app::Session& session, const MacAddress& mac) {
    const ScanTable& scan = const_cast<app::Session&>(session).registry().scanTable();
    for (int i = 0; i < scan.count; ++i)
        if (fieldText(scan.entries[i].mac) == mac.text())
            return &scan.entries[i];
    return nullptr;
}
} // namespace

TEST(ReadIntegrity, ABlockReadDamagedEveryTimeIsNeverWrittenBack) {
    // Byte 48 of the answer is the first byte of the device's MAC inside its block.
    SimulatedProgram program(withFault(kRemote, {{"kind", "corrupt"}, {"message", "read-module"}, {"offset", 48}}));
    ASSERT_TRUE(program.open());
    ASSERT_GE(app::findLocalDevice(program.session), 0);
    const auto before = program.session.network()->device(kRemote)->configBlock;

    EXPECT_EQ(app::changeLed(program.session, kRemote, false), app::LedChange::ReadFailed);
    EXPECT_EQ(program.session.operations().lastBlockProblem(), mme::BlockProblem::AnswerDamaged);
    EXPECT_EQ(app::writeQosSettings(program.session, kRemote, mme::QosSettings::defaults()),
              app::QosWrite::ReadFailed);
    // The settings read of the QoS page is one answer: it is refused as damaged too, not shown as the device's.
    EXPECT_NE(app::readQosSettings(program.session, kRemote).result, mme::ReadResult::Done);
    EXPECT_EQ(program.session.network()->device(kRemote)->configBlock, before);
}

TEST(ReadIntegrity, ADamagedAnswerIsReadAgainAndTheSoundBlockUsed) {
    SimulatedProgram program(
        withFault(kRemote, {{"kind", "corrupt"}, {"message", "read-module"}, {"offset", 54}, {"nth", 1}}));
    ASSERT_TRUE(program.open());
    ASSERT_GE(app::findLocalDevice(program.session), 0);
    const auto before = program.session.network()->device(kRemote)->configBlock;
    EXPECT_EQ(app::changeLed(program.session, kRemote, false), app::LedChange::Done);
    const auto after = program.session.network()->device(kRemote);
    EXPECT_FALSE(after->ledOn);
    // Byte 54 of the answer lies in the identity field, which a write of the damaged read would have changed.
    const auto identity = [](const std::vector<std::uint8_t>& block) {
        return std::vector<std::uint8_t>(block.begin() + mme::cfg::kMac,
                                         block.begin() + mme::cfg::kIdentity + mme::cfg::kIdentityWidth);
    };
    EXPECT_EQ(identity(after->configBlock), identity(before));
}

TEST(ReadIntegrity, AStationThatDoesNotAnswerIsListedAsSuchAndNotRecordedAsSeen) {
    SimulatedProgram program(withFault(kRemote, {{"kind", "drop"}, {"message", "software-version"}}));
    ASSERT_TRUE(program.open());
    const auto report = app::runScan(program.session, "Jan 01 10:00");
    ASSERT_TRUE(report.found);
    EXPECT_EQ(report.built.silentStations, std::vector<std::string>{kRemote.text()});
    EXPECT_EQ(report.built.devices, 4);
    const DeviceRecord* silent = row(program.session, kRemote);
    ASSERT_NE(silent, nullptr);
    EXPECT_EQ(fieldText(silent->quality), "Not answering");
    EXPECT_EQ(fieldText(silent->firmware), "");
    for (int i = 0; i < program.session.registry().historyTable().inUseCount; ++i)
        EXPECT_NE(fieldText(program.session.registry().historyTable().records[i].mac), kRemote.text());
    // The others keep their own answers.
    const DeviceRecord* other = row(program.session, MacAddress{{0x00, 0xb0, 0x52, 0x5a, 0x00, 0x03}});
    ASSERT_NE(other, nullptr);
    EXPECT_NE(fieldText(other->firmware), "");
}

TEST(ReadIntegrity, AStationListThatCannotBeReadLeavesTheTablesAsTheyWere) {
    SimulatedProgram program(withFault(kLocal, {{"kind", "malformed"}, {"message", "network-info"}, {"form", "stations"}}));
    ASSERT_TRUE(program.open());
    const auto report = app::runScan(program.session, "Jan 01 10:00");
    EXPECT_TRUE(report.found);
    EXPECT_TRUE(report.stationListUnread);
    EXPECT_EQ(program.session.registry().scanTable().count, 0);
    EXPECT_FALSE(program.session.discoveryResult().local.stationListRead);
}

TEST(ReadIntegrity, APasswordIsProvedOnlyWithAKeyFromAWholeSoundBlock) {
    // The device sends no checksum with its answers, and each answer arrives with a byte of the key spoiled: only
    // the block's own checksum can tell. Three 1024-byte answers, so that the byte spoiled in each does not cancel
    // out of the block's XOR checksum.
    auto network = SimulatedProgram::builtInNetwork();
    for (auto& entry : network["devices"]) {
        if (entry["mac"] == kRemote.text()) {
            entry["configLength"] = 3072;
            entry["faults"] = {
                {{"kind", "malformed"}, {"message", "read-module"}, {"form", "no-checksum"}, {"share", 1}},
                {{"kind", "corrupt"}, {"message", "read-module"}, {"offset", 36 + mme::cfg::kNmk}, {"share", 1}}};
        }
    }
    SimulatedProgram program(network);
    ASSERT_TRUE(program.open());
    ASSERT_GE(app::findLocalDevice(program.session), 0);
    int keysSent = 0;
    program.session.network()->setRequestLog(
        [&](const std::string& line) { keysSent += line.find(" set-key ") != std::string::npos ? 1 : 0; });

    EXPECT_EQ(app::proveDevicePassword(program.session, kRemote, "GTNE-WHFU-YBSK-QCLM"),
              app::PasswordProof::KeyUnreadable);
    EXPECT_EQ(program.session.operations().lastBlockProblem(), mme::BlockProblem::BadChecksum);
    program.session.network()->setRequestLog(nullptr);
    EXPECT_EQ(keysSent, 0);
    EXPECT_EQ(program.session.network()->device(kRemote)->nmk, mme::kDefaultNmk);
}
