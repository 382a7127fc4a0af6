#include "app/device_password_table.h"
#include "app/scan_cycle.h"
#include "app/upgrade_offer.h"
#include "mme/upgrade_file.h"
#include "platform/text_field.h"
#include "registry/history_file.h"
#include "sim/config_block.h"
#include "sim/firmware_image.h"
#include "tests/support/simulated_program.h"

#include <fstream>
#include <gtest/gtest.h>

using namespace zrq406;
using zrq406::test::SimulatedProgram;

namespace {

void addDevice(ScanTable& scan, const char* mac, const char* firmware) {
    DeviceRecord& d = scan.entries[scan.count++];
    d = DeviceRecord{};
    copyToField(d.mac, mac);
    copyToField(d.firmware, firmware);
}

void writeUpgradeFile(const std::filesystem::path& path, const std::string& version) {
    const auto bytes =
        mme::packUpgradeFile(sim::makeFirmwareImage("ZRQPLC1-MAC-" + version, 2048), sim::makeConfigBlock({}), version);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

} // namespace

TEST(ScanCycle, FindsEveryDeviceLocalFirstWithProvedPasswords) {
    SimulatedProgram program;
    ASSERT_TRUE(program.open());
    app::DevicePasswordTable passwords;
    passwords.remember("00:b0:52:5a:00:03", "PZRA-DJVX-TMQE-HKWB");
    const auto report = app::runScan(program.session, "Dec 08 10:00", &passwords);
    ASSERT_TRUE(report.found);
    EXPECT_EQ(report.adapter, 0);
    EXPECT_TRUE(report.unreadBlocks.empty());
    const ScanTable& scan = program.session.registry().scanTable();
    ASSERT_EQ(scan.count, 4);
    EXPECT_EQ(fieldText(scan.entries[0].mac), "00:b0:52:5a:00:01");
    EXPECT_EQ(fieldText(scan.entries[0].location), "Local");
    for (int i = 0; i < scan.count; ++i)
        EXPECT_EQ(fieldText(scan.entries[i].password),
                  fieldText(scan.entries[i].mac) == "00:b0:52:5a:00:03" ? "PZRA-DJVX-TMQE-HKWB" : "");
    EXPECT_EQ(app::networkTypeText(program.texts, report.built), "Public network (default key)");
    // Every device is in the history, with the scan's time.
    EXPECT_EQ(program.session.registry().historyTable().inUseCount, 4);
    EXPECT_EQ(fieldText(program.session.registry().historyTable().records[3].lastSeen), "Dec 08 10:00");
}

TEST(ScanCycle, FullHistoryIsToldOnceUntilMoreDevicesAreLeftOut) {
    SimulatedProgram program;
    auto stored = std::make_unique<HistoryTable>();
    for (int i = 0; i < HistoryTable::capacity; ++i)
        copyToField(stored->records[i].mac, "00:11:22:33:44:" + std::to_string(10 + i));
    ASSERT_TRUE(HistoryFile(program.historyPath()).save(*stored, HistoryTable::capacity));
    ASSERT_TRUE(program.open());

    int told = 0;
    const auto report = app::runScan(program.session, "t");
    EXPECT_EQ(app::historyFullNotice(program.texts, report, told),
              "The device history is full: 4 newly found devices were not saved in it. Delete devices you no longer "
              "use from the Device History list to make room.");
    EXPECT_EQ(app::historyFullNotice(program.texts, app::runScan(program.session, "t"), told), "");
    app::ScanReport more = report;
    more.built.notInHistory = 5;
    EXPECT_NE(app::historyFullNotice(program.texts, more, told), "");
}

TEST(ScanCycle, AdaptersReopenedAfterArrivalScanAgain) {
    SimulatedProgram program;
    ASSERT_TRUE(program.open());
    ASSERT_TRUE(app::runScan(program.session, "t").found);
    ASSERT_TRUE(program.session.reopenAdapters());
    EXPECT_EQ(program.session.adapterTexts().size(), 1u);
    EXPECT_TRUE(app::runScan(program.session, "t").found);
}

TEST(ScanCycle, NoDeviceBehindTheAdapters) {
    auto network = SimulatedProgram::builtInNetwork();
    network["hostAdapters"][0].erase("device");
    SimulatedProgram program(network);
    ASSERT_TRUE(program.open());
    const auto report = app::runScan(program.session, "t");
    EXPECT_FALSE(report.found);
    EXPECT_EQ(program.session.registry().scanTable().count, 0);
}

TEST(UpgradeOffer, OfferedOncePerScanAndNeverAgainWhenDeclined) {
    ScanTable scan{};
    addDevice(scan, "00:00:00:00:00:01", "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712");
    addDevice(scan, "00:00:00:00:00:02", "ZRQPLC1-MAC-3-3-3348-00-2400-CE-0511"); // lacks the reference base
    addDevice(scan, "00:00:00:00:00:03", "ZRQPLC1-MAC-3-3-3348-00-2764-NA-0700");
    const app::FirmwareThresholds thresholds{0, 800}; // an NA image with build 800 beside the program
    app::DeclinedUpgradeList declined;
    ASSERT_EQ(app::upgradeOfferIndex(scan, thresholds, declined), 1);
    app::declineUpgrades(scan, 1, thresholds, declined);
    EXPECT_TRUE(declined.contains("00:00:00:00:00:02"));
    EXPECT_TRUE(declined.contains("00:00:00:00:00:03"));
    EXPECT_EQ(app::upgradeOfferIndex(scan, thresholds, declined), -1);
    // A device that needs the upgrade and shows up later is offered.
    addDevice(scan, "00:00:00:00:00:04", "ZRQPLC1-MAC-3-3-3348-00-2100-CE-0400");
    EXPECT_EQ(app::upgradeOfferIndex(scan, thresholds, declined), 3);
    // The list keeps its room: declining again adds no duplicates.
    app::declineUpgrades(scan, 0, thresholds, declined);
    EXPECT_EQ(declined.count(), 3);
}

TEST(UpgradeOffer, ImageScanTakesTheHighestBuildPerRegion) {
    SimulatedProgram program;
    writeUpgradeFile(program.path("a.bin"), "3-3-3348-00-2764-CE-0800");
    writeUpgradeFile(program.path("b.bin"), "3-3-3348-00-2764-CE-0900");
    writeUpgradeFile(program.path("c.bin"), "3-3-3348-00-2764-NA-0750");
    std::ofstream(program.path("broken.bin")) << "not an upgrade file";
    std::ofstream(program.path("ignored.nvm")) << "x";
    const auto files = app::firmwareImageFiles(program.dir());
    ASSERT_EQ(files.size(), 4u);
    const auto thresholds = app::scanFirmwareImages(files);
    EXPECT_EQ(thresholds.highestCe, 900);
    EXPECT_EQ(thresholds.highestNa, 750);
    EXPECT_EQ(app::scanFirmwareImages({}).highestCe, 0);
}

TEST(DevicePasswordTable, OneEntryPerDeviceAndNeverMoreThanItsRoom) {
    app::DevicePasswordTable table;
    table.remember("00:00:00:00:00:01", "AAAA-AAAA-AAAA-AAAA");
    table.remember("00:00:00:00:00:01", "BBBB-BBBB-BBBB-BBBB");
    EXPECT_EQ(table.count(), 1);
    EXPECT_EQ(table.find("00:00:00:00:00:01"), "BBBB-BBBB-BBBB-BBBB");
    for (int i = 2; i <= 101; ++i)
        table.remember("device-" + std::to_string(i), "CCCC-CCCC-CCCC-CCCC");
    EXPECT_EQ(table.count(), app::DevicePasswordTable::capacity);
    // The oldest entry made room for the newest.
    EXPECT_FALSE(table.find("00:00:00:00:00:01"));
    EXPECT_TRUE(table.find("device-101"));
}
