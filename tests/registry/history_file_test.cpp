#include "platform/text_field.h"
#include "registry/history_file.h"
#include "tests/registry/registry_fixture.h"

#include <csignal>
#include <gtest/gtest.h>
#include <limits>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace zrq406;
using namespace zrq406::test;

namespace {

class HistoryFileTest : public TempFolder {
protected:
    HistoryTable& emptyTable() {
        m_table = std::make_unique<HistoryTable>();
        return *m_table;
    }
    std::unique_ptr<HistoryTable> m_table;
};

} // namespace

TEST_F(HistoryFileTest, MissingFileHasNoData) {
    HistoryFile file(historyPath);
    EXPECT_FALSE(file.hasData());
    HistoryTable& table = emptyTable();
    const HistoryLoadResult result = file.load(table);
    EXPECT_FALSE(result.opened);
    EXPECT_EQ(result.loaded, 0);
}

TEST_F(HistoryFileTest, FifoInPlaceOfTheFileIsRefusedAndStays) {
    ASSERT_EQ(::mkfifo(historyPath.c_str(), 0600), 0);
    HistoryFile file(historyPath);
    EXPECT_FALSE(file.hasData());
    HistoryTable& table = emptyTable();
    const HistoryLoadResult result = file.load(table);
    EXPECT_FALSE(result.opened);
    EXPECT_NE(result.error.find(historyPath.string() + ": is a FIFO"), std::string::npos) << result.error;
    const auto saved = file.save(table, 0);
    EXPECT_FALSE(saved);
    EXPECT_NE(saved.error.find("FIFO"), std::string::npos) << saved.error;
    EXPECT_TRUE(std::filesystem::is_fifo(historyPath));
}

TEST_F(HistoryFileTest, CountsWhoseLowByteIsALineFeedOrZeroStillLoad) {
    for (const int count : {10, 256}) {
        std::vector<StoredDevice> devices;
        for (int i = 0; i < count; ++i)
            devices.push_back(numberedDevice(i));
        writeHistory(fileBytes(count, devices));

        HistoryFile file(historyPath);
        EXPECT_TRUE(file.hasData());
        HistoryTable& table = emptyTable();
        const HistoryLoadResult result = file.load(table);
        EXPECT_EQ(result.storedCount, count);
        // The table holds 100 devices; a longer file loads its first 100 and nothing past the table.
        const int expected = std::min(count, 100);
        EXPECT_EQ(result.loaded, expected);
        EXPECT_EQ(table.fileCount, expected);
        EXPECT_EQ(table.inUseCount, 0);
        for (const int i : {0, expected - 1}) {
            const StoredDevice want = numberedDevice(i);
            const HistoryRecord& got = table.records[i];
            EXPECT_EQ(fieldText(got.mac), want.mac);
            EXPECT_EQ(fieldText(got.name), want.name);
            EXPECT_EQ(fieldText(got.password), want.password);
            EXPECT_EQ(fieldText(got.led), want.led);
            EXPECT_EQ(fieldText(got.lastSeen), want.lastSeen);
            EXPECT_EQ(fieldText(got.firmware), want.firmware);
            EXPECT_EQ(fieldText(got.phyRate), "84");
            EXPECT_EQ(fieldText(got.location), want.location);
        }
    }
}

TEST_F(HistoryFileTest, NegativeOrZeroCountReadsNothing) {
    for (const int count : {-1, std::numeric_limits<std::int32_t>::min(), 0}) {
        writeHistory(fileBytes(count, {numberedDevice(1)}));
        HistoryFile file(historyPath);
        EXPECT_FALSE(file.hasData()) << count;
        HistoryTable& table = emptyTable();
        EXPECT_EQ(file.load(table).loaded, 0) << count;
        EXPECT_EQ(table.fileCount, 0);
        EXPECT_EQ(table.records[0].mac[0], '\0');
    }
}

TEST_F(HistoryFileTest, ShortFileEndsAtItsLastPartialRecord) {
    std::vector<std::uint8_t> bytes = fileBytes(5, {numberedDevice(0), numberedDevice(1), numberedDevice(2)});
    // Cut the third record inside its lastSeen field: mac, name, password and LED are whole, the rest is gone.
    bytes.resize(4 + 2 * 296 + 145);
    writeHistory(bytes);

    HistoryFile file(historyPath);
    HistoryTable& table = emptyTable();
    const HistoryLoadResult result = file.load(table);
    EXPECT_EQ(result.storedCount, 5);
    EXPECT_EQ(result.loaded, 3);
    // The file count is what the file holds, so no empty record is taken for a device.
    EXPECT_EQ(table.fileCount, 3);
    EXPECT_EQ(fieldText(table.records[2].mac), numberedDevice(2).mac);
    EXPECT_EQ(fieldText(table.records[2].led), "On");
    EXPECT_EQ(fieldText(table.records[2].lastSeen), "Dec ");
    EXPECT_EQ(fieldText(table.records[2].location), "");
    EXPECT_EQ(fieldText(table.records[2].phyRate), "0");
    EXPECT_EQ(table.records[3].mac[0], '\0');

    // A file that ends on a record boundary before its count has no partial record.
    writeHistory(fileBytes(4, {numberedDevice(0)}));
    EXPECT_EQ(file.load(emptyTable()).loaded, 1);
    // A file too short for its count field has no data.
    writeHistory({0x01, 0x00});
    EXPECT_FALSE(file.hasData());
    EXPECT_EQ(file.load(emptyTable()).loaded, 0);
}

TEST_F(HistoryFileTest, SaveWritesTheLayoutByteForByte) {
    HistoryTable& table = emptyTable();
    const StoredDevice devices[2] = {{"00:b0:52:00:00:01", "Wohnzimmer \xC3\xA4", "", "On", "Dec 08 21:30",
                                      "3-3-3348-00-2764-CE-0012", 200, "Local"},
                                     {"00:b0:52:aa:bb:cc", "Kitchen", "ABCD-EFGH-IJKL-MNOP", "Off", "Dec 08 21:32",
                                      "3-3-3348-00-2764-NA-0003", 84, "Remote"}};
    for (int i = 0; i < 2; ++i) {
        HistoryRecord& r = table.records[i];
        copyToField(r.mac, devices[i].mac);
        copyToField(r.name, devices[i].name);
        copyToField(r.password, devices[i].password);
        copyToField(r.led, devices[i].led);
        copyToField(r.lastSeen, devices[i].lastSeen);
        copyToField(r.firmware, devices[i].firmware);
        copyToField(r.phyRate, std::to_string(devices[i].phyRate) + " Mbps"); // read as decimal text on writing
        copyToField(r.location, devices[i].location);
    }
    HistoryFile file(historyPath);
    ASSERT_TRUE(file.save(table, 2));
    EXPECT_EQ(table.fileCount, 2);
    EXPECT_EQ(readHistory(), fileBytes(2, {devices[0], devices[1]}));

    struct stat info {};
    ASSERT_EQ(::stat(historyPath.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    HistoryTable& reread = emptyTable();
    EXPECT_EQ(file.load(reread).loaded, 2);
    EXPECT_EQ(fieldText(reread.records[0].name), "Wohnzimmer \xC3\xA4");
    EXPECT_EQ(fieldText(reread.records[0].phyRate), "200");
    EXPECT_EQ(fieldText(reread.records[1].password), "ABCD-EFGH-IJKL-MNOP");
}

TEST_F(HistoryFileTest, SaveBoundsItsCountAndCreatesItsFolder) {
    HistoryTable& table = emptyTable();
    HistoryFile file(folder / "new" / "devices.dat");
    ASSERT_TRUE(file.save(table, 250));
    EXPECT_EQ(table.fileCount, 100);
    EXPECT_EQ(std::filesystem::file_size(folder / "new" / "devices.dat"), 4u + 100u * 296u);
    ASSERT_TRUE(file.save(table, -3));
    EXPECT_EQ(std::filesystem::file_size(folder / "new" / "devices.dat"), 4u);
    EXPECT_FALSE(file.hasData());
}

TEST_F(HistoryFileTest, FailedWriteLeavesThePreviousFileIntact) {
    writeHistory(fileBytes(2, {numberedDevice(0), numberedDevice(1)}));
    const std::vector<std::uint8_t> before = readHistory();
    HistoryTable& table = emptyTable();
    HistoryFile file(historyPath);
    ASSERT_EQ(file.load(table).loaded, 2);

    // Let the write fail half way: the process may not write files longer than 1000 bytes.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved10 = static_cast<bool>(file.save(table, 10));
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(saved10);
    EXPECT_EQ(readHistory(), before);
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
        ++entries;
    EXPECT_EQ(entries, 1) << "no temporary file is left behind";

    // A folder that cannot exist: nothing is written and the failure is told.
    HistoryFile blocked(historyPath / "devices.dat");
    EXPECT_FALSE(blocked.save(table, 1));
    EXPECT_EQ(readHistory(), before);
}

TEST_F(HistoryFileTest, DamagedFieldsComeOutTerminatedAndWhole) {
    StoredDevice device = numberedDevice(7);
    device.phyRate = std::numeric_limits<std::int32_t>::min();
    std::vector<std::uint8_t> bytes = fileBytes(1, {device});
    // A MAC field with no terminator, and a name whose last character would be split by the terminator.
    std::memset(bytes.data() + 4 + 4, 'x', 24);
    std::memset(bytes.data() + 4 + 28, 'n', 40);
    bytes[4 + 28 + 38] = static_cast<std::uint8_t>(0xC3);
    bytes[4 + 28 + 39] = static_cast<std::uint8_t>(0xA4);
    writeHistory(bytes);

    HistoryTable& table = emptyTable();
    ASSERT_EQ(HistoryFile(historyPath).load(table).loaded, 1);
    EXPECT_EQ(fieldText(table.records[0].mac), std::string(23, 'x'));
    EXPECT_EQ(fieldText(table.records[0].name), std::string(38, 'n'));
    EXPECT_EQ(fieldText(table.records[0].phyRate), "-21474836"); // cut to the field, never past it
    EXPECT_EQ(table.records[0].phyRate[9], '\0');
}
