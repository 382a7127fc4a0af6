#include "platform/text_field.h"
#include "registry/device_registry.h"
#include "tests/registry/registry_fixture.h"
#include "tests/support/scripted_message_service.h"
#include "tests/support/source_dir.h"
#include "uitext/load_ui_setting.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace zrq406;
using namespace zrq406::test;
using ::testing::ElementsAre;

namespace {

constexpr NetworkKey kDefaultNmk = {0x50, 0xD3, 0xE4, 0x93, 0x3F, 0x85, 0x5B, 0x70,
                                    0x40, 0x78, 0x4D, 0xF8, 0x15, 0xAA, 0x8D, 0xB7};

MacAddress mac(std::uint8_t last, std::uint8_t second = 0) {
    return {{0x00, 0xB0, 0x52, 0x10, second, last}};
}

// A configuration block as a device holds it: LEDs on, product string, network key.
std::vector<std::uint8_t> block(const std::string& product = "TALVERN ZRQ406-CE-0012", bool ledsOff = false,
                                const NetworkKey& key = kDefaultNmk) {
    std::vector<std::uint8_t> bytes(16384, 0);
    bytes[4] = 0x00; // announces 8192 bytes, which hold the LED bytes
    bytes[5] = 0x20;
    std::copy(key.begin(), key.end(), bytes.begin() + 100);
    std::copy(product.begin(), product.end(), bytes.begin() + 116);
    for (const std::size_t at : {0x1EFA, 0x1EFC, 0x1EFE, 0x1F02, 0x1F0E, 0x1F10})
        bytes[at] = ledsOff ? 0xFF : 0x00;
    bytes[0x1F02] = 0xFF; // 0xFF in both states
    return bytes;
}

// The network page's rows for a ScanTable, as the GUI fills them.
ListRows deviceRows(const ScanTable& table) {
    ListRows rows;
    for (int i = 0; i < table.count; ++i) {
        const DeviceRecord& d = table.entries[i];
        rows.push_back({fieldText(d.name), fieldText(d.mac), fieldText(d.location), fieldText(d.quality),
                        fieldText(d.phyRate), fieldText(d.led), fieldText(d.firmware)});
    }
    return rows;
}

// The encryption page's rows: check box, name, MAC, location, password, firmware.
ListRows encryptionRows(const ScanTable& table) {
    ListRows rows;
    for (int i = 0; i < table.count; ++i) {
        const DeviceRecord& d = table.entries[i];
        rows.push_back({"", fieldText(d.name), fieldText(d.mac), fieldText(d.location), fieldText(d.password),
                        fieldText(d.firmware)});
    }
    return rows;
}

std::vector<std::string> names(const ScanTable& table) {
    std::vector<std::string> result;
    for (int i = 0; i < table.count; ++i)
        result.push_back(fieldText(table.entries[i].name));
    return result;
}

class RegistryTest : public TempFolder {
protected:
    std::unique_ptr<DeviceRegistry> makeRegistry() {
        auto registry = std::make_unique<DeviceRegistry>(historyPath);
        registry->setValueTexts(englishValues());
        return registry;
    }

    ScanBuildResult scan(DeviceRegistry& registry, const std::vector<StationData>& stations,
                         const std::string& time = "Dec 08 21:30") {
        localBlock = block();
        const LocalDeviceData local{mac(1), "3-3-3348-00-2764-CE-0012", std::span<const std::uint8_t>(localBlock)};
        return registry.buildScanTable(local, stations, time, kDefaultNmk);
    }

    std::vector<std::uint8_t> localBlock;
};

StationData station(std::uint8_t last, std::uint8_t rate = 64) {
    return {mac(last), rate, "3-3-3348-00-2764-CE-0012", std::nullopt};
}

} // namespace

TEST_F(RegistryTest, StationRowsFollowThePhyRate) {
    auto registry = makeRegistry();
    const ScanBuildResult result = scan(*registry, {station(2, 64), station(3, 61), station(4, 38)});
    EXPECT_EQ(result.devices, 4);
    const ListRows rows = deviceRows(registry->scanTable());
    EXPECT_THAT(rows[0], ElementsAre("Powerline Device 01", "00:b0:52:10:00:01", "Local", "Very good", "200", "On",
                                     "3-3-3348-00-2764-CE-0012"));
    EXPECT_EQ(rows[1][4], "84");
    EXPECT_EQ(rows[1][3], "Very good");
    EXPECT_EQ(rows[2][4], "80");
    EXPECT_EQ(rows[2][3], "Good");
    EXPECT_EQ(rows[3][4], "49");
    EXPECT_EQ(rows[3][3], "Poor");
    EXPECT_EQ(rows[3][2], "Remote");
    // 39 gives 51, still Good; the highest rate value gives 334.
    scan(*registry, {station(2, 39), station(3, 255)});
    EXPECT_EQ(deviceRows(registry->scanTable())[1][4], "51");
    EXPECT_EQ(deviceRows(registry->scanTable())[1][3], "Good");
    EXPECT_EQ(deviceRows(registry->scanTable())[2][4], "334");
}

TEST_F(RegistryTest, AStationReportedTwiceOccursOnce) {
    auto registry = makeRegistry();
    const ScanBuildResult result = scan(*registry, {station(2), station(3), station(2), station(1)});
    // The local device's own address in the station list is the local device, already listed.
    EXPECT_EQ(result.devices, 3);
    EXPECT_EQ(result.duplicatesSkipped, 2);
    EXPECT_EQ(registry->historyTable().inUseCount, 3);
}

TEST_F(RegistryTest, LedStateModelAndKeyComeFromTheConfigurationBlock) {
    auto registry = makeRegistry();
    const auto off = block("TALVERN ZRQ406-NA-0003", true);
    const auto on = block("SOMEONE ELSE", false);
    std::vector<std::uint8_t> oneByteOn = block("TALVERN ZRQ406", true);
    oneByteOn[0x1F10] = 0x00;
    std::vector<std::uint8_t> hiddenProduct = block("OTHER");
    const std::string behindNul = "TALVERN ZRQ406";
    std::copy(behindNul.begin(), behindNul.end(), hiddenProduct.begin() + 116 + 10);
    const std::vector<std::uint8_t> shortBlock(0x1F00, 0xFF);

    std::vector<StationData> stations = {station(2), station(3), station(4), station(5), station(6), station(7)};
    stations[0].configBlock = std::span<const std::uint8_t>(off);
    stations[1].configBlock = std::span<const std::uint8_t>(on);
    stations[2].configBlock = std::span<const std::uint8_t>(oneByteOn);
    stations[3].configBlock = std::span<const std::uint8_t>(hiddenProduct);
    stations[4].configBlock = std::span<const std::uint8_t>(shortBlock);
    // stations[5]: block not read
    const ScanBuildResult result = scan(*registry, stations);
    ASSERT_EQ(result.devices, 7);
    const ScanTable& table = registry->scanTable();
    EXPECT_EQ(fieldText(table.entries[1].led), "Off");
    EXPECT_EQ(fieldText(table.entries[2].led), "On");
    EXPECT_EQ(fieldText(table.entries[3].led), "On");
    EXPECT_EQ(fieldText(table.entries[5].led), "On");
    EXPECT_EQ(fieldText(table.entries[6].led), "On");
    EXPECT_EQ(table.entries[0].isOwnModel, 1);
    EXPECT_EQ(table.entries[1].isOwnModel, 1);
    EXPECT_EQ(table.entries[2].isOwnModel, 0);
    EXPECT_EQ(table.entries[3].isOwnModel, 1);
    EXPECT_EQ(table.entries[4].isOwnModel, 0);
    EXPECT_EQ(table.entries[5].isOwnModel, 0);
    EXPECT_EQ(table.entries[6].isOwnModel, 0);
    EXPECT_EQ(result.localKeyIsDefault, true);

    NetworkKey privateKey = kDefaultNmk;
    privateKey[15] ^= 1;
    const auto privateBlock = block("TALVERN ZRQ406", false, privateKey);
    EXPECT_EQ(registry->buildScanTable({mac(1), "v", std::span<const std::uint8_t>(privateBlock)}, {}, "t", kDefaultNmk)
                  .localKeyIsDefault,
              false);
    EXPECT_EQ(registry->buildScanTable({mac(1), "v", std::nullopt}, {}, "t", kDefaultNmk).localKeyIsDefault,
              std::nullopt);
}

TEST_F(RegistryTest, DefaultNamesWithoutHistoryCountPerScan) {
    auto registry = makeRegistry();
    std::vector<StationData> stations;
    for (std::uint8_t i = 2; i <= 11; ++i)
        stations.push_back(station(i));
    scan(*registry, stations);
    const std::vector<std::string> got = names(registry->scanTable());
    EXPECT_EQ(got.front(), "Powerline Device 01");
    EXPECT_EQ(got[8], "Powerline Device 09");
    EXPECT_EQ(got[9], "Powerline Device 10");
    EXPECT_EQ(got[10], "Powerline Device 11");
    // The next scan starts again from 01.
    scan(*registry, {station(2)});
    EXPECT_THAT(names(registry->scanTable()), ElementsAre("Powerline Device 01", "Powerline Device 02"));
}

TEST_F(RegistryTest, NewDevicesSkipADefaultNameTheHistoryHolds) {
    StoredDevice kitchen = numberedDevice(50);
    kitchen.name = "Kitchen";
    StoredDevice taken = numberedDevice(51);
    taken.name = "Powerline Device 03";
    writeHistory(fileBytes(2, {kitchen, taken}));

    auto registry = makeRegistry();
    scan(*registry, {station(2)});
    // Two history records: numbering starts at 3, which is taken; the two new devices get 04 and 05.
    EXPECT_THAT(names(registry->scanTable()), ElementsAre("Powerline Device 04", "Powerline Device 05"));
    EXPECT_EQ(registry->historyTable().inUseCount, 4);
    EXPECT_EQ(fieldText(registry->historyTable().records[2].name), "Powerline Device 04");
    EXPECT_EQ(fieldText(registry->historyTable().records[3].name), "Powerline Device 05");
}

TEST_F(RegistryTest, NameAndPasswordAreKeptAcrossRuns) {
    {
        auto first = makeRegistry();
        scan(*first, {station(2), station(3)}, "Dec 08 21:30");
        ListRows devices = deviceRows(first->scanTable());
        const ListRows history = first->FillHistoryList(first->historyTable().inUseCount, devices, "Dec 08 21:30");
        devices[1][0] = "Wohnzimmer \xC3\xA4"; // renamed in place on the network page
        ListRows encryption = encryptionRows(first->scanTable());
        encryption[2][4] = "ABCD-EFGH-IJKL-MNOP"; // password proven in the password dialog
        const int renamed[] = {-1, 1};
        ASSERT_TRUE(first->SyncHistoryFromLists(history, devices, encryption, renamed, {}));
    }
    auto second = makeRegistry();
    ASSERT_TRUE(second->HistoryFileHasData());
    const ScanBuildResult result = scan(*second, {station(3), station(2)}, "Dec 09 08:00");
    EXPECT_EQ(result.devices, 3);
    const ScanTable& table = second->scanTable();
    EXPECT_EQ(fieldText(table.entries[1].mac), mac(3).text());
    EXPECT_EQ(fieldText(table.entries[1].name), "Powerline Device 03");
    EXPECT_EQ(fieldText(table.entries[1].password), "ABCD-EFGH-IJKL-MNOP");
    EXPECT_EQ(fieldText(table.entries[2].name), "Wohnzimmer \xC3\xA4");
    EXPECT_EQ(fieldText(table.entries[2].password), "");
    // Known devices are refreshed in place, with the new scan time, and keep their password.
    EXPECT_EQ(second->historyTable().inUseCount, 3);
    const HistoryRecord& known = second->historyTable().records[2];
    EXPECT_EQ(fieldText(known.mac), mac(3).text());
    EXPECT_EQ(fieldText(known.lastSeen), "Dec 09 08:00");
    EXPECT_EQ(fieldText(known.password), "ABCD-EFGH-IJKL-MNOP");
}

TEST_F(RegistryTest, ListEditsWinWhenTheHistoryIsSaved) {
    auto registry = makeRegistry();
    scan(*registry, {station(2), station(3)});
    ListRows devices = deviceRows(registry->scanTable());
    const ListRows history = registry->FillHistoryList(3, devices, "Dec 08 21:30");

    // Renamed twice: the later name is what the list shows and what is saved; the LED of row 2 was switched off.
    devices[2][0] = "Garage";
    devices[2][5] = "Off";
    const int renamed[] = {-1, 2, 2};
    const int ledChanged[] = {-1, 2, 7}; // 7 names no row and is ignored
    ASSERT_TRUE(registry->SyncHistoryFromLists(history, devices, {}, renamed, ledChanged));

    auto reread = makeRegistry();
    reread->clearHistoryTable();
    ASSERT_EQ(reread->LoadHistory().loaded, 3);
    EXPECT_EQ(fieldText(reread->historyTable().records[2].name), "Garage");
    EXPECT_EQ(fieldText(reread->historyTable().records[2].led), "Off");
    EXPECT_EQ(fieldText(reread->historyTable().records[1].led), "On");

    // The tab change shows the same edits in the Device History list.
    ListRows shown = history;
    applyPendingEdits(shown, devices, renamed, ledChanged);
    EXPECT_EQ(shown[2][0], "Garage");
    EXPECT_EQ(shown[2][4], "Off");
    EXPECT_EQ(shown[1][0], history[1][0]);
}

TEST_F(RegistryTest, ADeviceDeletedFromTheListIsDroppedFromTheFile) {
    auto registry = makeRegistry();
    scan(*registry, {station(2), station(3)});
    const ListRows devices = deviceRows(registry->scanTable());
    ListRows history = registry->FillHistoryList(3, devices, "Dec 08 21:30");
    ASSERT_TRUE(registry->SyncHistoryFromLists(history, devices, {}, {}, {}));

    // Delete the middle device from the Device History list; the network page no longer shows it either.
    history.erase(history.begin() + 1);
    ListRows shown = devices;
    shown.erase(shown.begin() + 1);
    ASSERT_TRUE(registry->SyncHistoryFromLists(history, shown, {}, {}, {}));

    auto reread = makeRegistry();
    reread->clearHistoryTable();
    ASSERT_EQ(reread->LoadHistory().loaded, 2);
    EXPECT_EQ(fieldText(reread->historyTable().records[0].mac), mac(1).text());
    EXPECT_EQ(fieldText(reread->historyTable().records[1].mac), mac(3).text());
    EXPECT_EQ(fieldText(reread->historyTable().records[1].name), "Powerline Device 03");
    EXPECT_EQ(readHistory().size(), 4u + 2u * 296u);
}

TEST_F(RegistryTest, HistoryListMirrorsTheDevicesUntilAFileExists) {
    auto registry = makeRegistry();
    scan(*registry, {station(2)});
    const ListRows devices = deviceRows(registry->scanTable());
    const ListRows history = registry->FillHistoryList(0, devices, "Dec 08 21:30");
    ASSERT_EQ(history.size(), 2u);
    EXPECT_THAT(history[1], ElementsAre("Powerline Device 02", mac(2).text(), "Remote", "84", "On", "Dec 08 21:30",
                                        "3-3-3348-00-2764-CE-0012"));
    ASSERT_TRUE(registry->SyncHistoryFromLists(history, devices, {}, {}, {}));
    // With a file the list shows the history records, as many as asked for.
    const ListRows fromFile = registry->FillHistoryList(1, devices, "later");
    ASSERT_EQ(fromFile.size(), 1u);
    EXPECT_EQ(fromFile[0][5], "Dec 08 21:30");
    EXPECT_EQ(registry->FillHistoryList(500, devices, "later").size(), 100u);
}

TEST_F(RegistryTest, MergeKeepsThePasswordAndRefusesAHundredAndFirstDevice) {
    auto registry = makeRegistry();
    HistoryTable& history = registry->historyTable();
    copyToField(history.records[0].password, "KEEP-THIS-PASS-WORD");
    copyToField(history.records[0].name, "old");
    copyToField(history.records[0].location, "a very old location");
    DeviceRecord entry{};
    copyToField(entry.name, "new");
    copyToField(entry.mac, mac(9).text());
    EXPECT_EQ(registry->MergeIntoHistory(entry, 1, "now"), MergeResult::Updated);
    EXPECT_EQ(fieldText(history.records[0].password), "KEEP-THIS-PASS-WORD");
    EXPECT_EQ(fieldText(history.records[0].name), "new");
    EXPECT_EQ(fieldText(history.records[0].location), "");
    EXPECT_EQ(fieldText(history.records[0].lastSeen), "now");

    // A stale password in the next free place does not pass to a new device.
    history.inUseCount = 1;
    copyToField(history.records[1].password, "STALE");
    EXPECT_EQ(registry->MergeIntoHistory(entry, 0, "now"), MergeResult::Appended);
    EXPECT_EQ(fieldText(history.records[1].password), "");
    EXPECT_EQ(history.inUseCount, 2);

    history.inUseCount = HistoryTable::capacity;
    history.fileCount = 42;
    const HistoryRecord last = history.records[99];
    EXPECT_EQ(registry->MergeIntoHistory(entry, 0, "now"), MergeResult::HistoryFull);
    EXPECT_EQ(history.inUseCount, HistoryTable::capacity);
    EXPECT_EQ(history.fileCount, 42);
    EXPECT_EQ(std::memcmp(&last, &history.records[99], sizeof last), 0);
    EXPECT_EQ(registry->MergeIntoHistory(entry, 101, "now"), MergeResult::InvalidIndex);
    EXPECT_EQ(registry->MergeIntoHistory(entry, -1, "now"), MergeResult::InvalidIndex);
}

TEST_F(RegistryTest, TablesStayWithinTheirHundredPlaces) {
    // A history of 100 devices read from a file that claims more.
    std::vector<StoredDevice> stored;
    for (int i = 0; i < 100; ++i)
        stored.push_back(numberedDevice(1000 + i));
    writeHistory(fileBytes(300, stored));

    auto registry = makeRegistry();
    std::vector<StationData> stations;
    for (int i = 0; i < 120; ++i)
        stations.push_back({mac(static_cast<std::uint8_t>(i), 1), 64, "v", std::nullopt});
    const ScanBuildResult result = scan(*registry, stations);
    EXPECT_EQ(result.devices, 100);
    EXPECT_EQ(result.droppedTableFull, 21);
    EXPECT_EQ(result.notInHistory, 100);
    EXPECT_EQ(registry->scanTable().count, 100);
    EXPECT_EQ(registry->historyTable().inUseCount, 100);
    EXPECT_EQ(registry->historyTable().fileCount, 100);
    // Every new device still gets a name of its own that no history record holds.
    EXPECT_EQ(fieldText(registry->scanTable().entries[0].name), "Powerline Device 101");
    EXPECT_EQ(fieldText(registry->scanTable().entries[1].name), "Powerline Device 102");

    // A list that shows more rows than the history holds saves the first hundred.
    ListRows many(130, std::vector<std::string>(7, "x"));
    ASSERT_TRUE(registry->SyncHistoryFromLists(many, {}, {}, {}, {}));
    EXPECT_EQ(readHistory().size(), 4u + 100u * 296u);
}

TEST_F(RegistryTest, LongTextsAreCutOnACharacterBoundary) {
    auto registry = makeRegistry();
    ValueTexts values = englishValues();
    values.deviceName = std::string(36, 'a') + "\xC3\xA4"; // with the number, longer than the name field
    registry->setValueTexts(values);
    std::string firmware(62, 'f');
    firmware += "\xE2\x82\xAC"; // a euro sign across the end of the 64-byte field
    const LocalDeviceData local{mac(1), firmware, std::nullopt};
    registry->buildScanTable(local, {}, "t", kDefaultNmk);
    const DeviceRecord& entry = registry->scanTable().entries[0];
    EXPECT_EQ(fieldText(entry.firmware), std::string(62, 'f'));
    // The base gives way, on a character boundary, so that the number that tells devices apart survives.
    EXPECT_EQ(fieldText(entry.name), std::string(36, 'a') + " 01");
}

TEST(ValueTexts, ReadFromTheLanguageFile) {
    ScriptedMessageService messages;
    CLoadUISetting settings(messages, UiTextMode::Utility, "test");
    ASSERT_TRUE(settings.LoadXMLFile((sourceDirectory() / "lang" / "German.xml").string()));
    DeviceRegistry registry(std::filesystem::temp_directory_path() / "zrq406-unused" / "devices.dat");
    registry.reloadValueTexts(settings);
    const ValueTexts& values = registry.valueTexts();
    EXPECT_EQ(values.locationLocal, "Lokal");
    EXPECT_EQ(values.locationRemote, "Entfernt");
    EXPECT_EQ(values.deviceName, "Powerline-Gerät");
    EXPECT_FALSE(values.qualityFair.empty() || values.qualityGood.empty() || values.qualityPoor.empty());
    EXPECT_FALSE(values.ledOn.empty() || values.ledOff.empty());
    EXPECT_TRUE(messages.shown().empty());
}

TEST_F(RegistryTest, DefaultNamesStayDistinctWhenTheBaseFillsTheField) {
    auto registry = makeRegistry();
    ValueTexts values = englishValues();
    values.deviceName = std::string(45, 'n');
    registry->setValueTexts(values);
    const LocalDeviceData local{mac(1), "fw", std::nullopt};
    std::vector<StationData> stations = {station(2)};
    registry->buildScanTable(local, stations, "t", kDefaultNmk);
    ASSERT_TRUE(registry->SaveHistory(registry->historyTable().inUseCount));
    // A second run with history and a new device: the numbering must end, with names that differ.
    auto next = makeRegistry();
    next->setValueTexts(values);
    next->clearHistoryTable();
    ASSERT_TRUE(next->HistoryFileHasData());
    next->LoadHistory();
    stations.push_back(station(3));
    next->buildScanTable(local, stations, "t", kDefaultNmk);
    const ScanTable& table = next->scanTable();
    ASSERT_EQ(table.count, 3);
    EXPECT_NE(fieldText(table.entries[2].name), fieldText(table.entries[1].name));
    EXPECT_EQ(fieldText(table.entries[2].name).substr(36), " 03");
}
