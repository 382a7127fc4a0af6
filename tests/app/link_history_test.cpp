#include "app/link_history.h"
#include "app/link_statistics.h"
#include "app/link_table.h"
#include "app/scan_cycle.h"
#include "app/scan_recorder.h"
#include "tests/support/simulated_program.h"

#include <algorithm>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace zrq406;
using zrq406::test::SimulatedProgram;

namespace {

constexpr std::time_t kDay = 24 * 60 * 60;
constexpr std::time_t kNoon = 1733745600; // a Monday, 12:00 UTC

MacAddress mac(int n) {
    return {{0x00, 0xB0, 0x52, 0x5A, 0x00, static_cast<std::uint8_t>(n)}};
}

// A scan of `devices` devices with a link between every ordered pair, all at `rate`.
app::HistoryScan fullScan(std::time_t when, int devices, std::uint32_t rate = 100) {
    app::HistoryScan scan;
    scan.when = when;
    for (int i = 1; i <= devices; ++i) {
        scan.devices.push_back({mac(i), "Device " + std::to_string(i), "ZRQPLC1-MAC-3", true});
        for (int j = 1; j <= devices; ++j)
            if (i != j)
                scan.links.push_back({mac(i), mac(j), rate, rate - 5, true});
    }
    return scan;
}

std::size_t sampleCount(app::LinkHistory& history) {
    std::vector<app::LinkSeries> series;
    EXPECT_TRUE(history.links(0, std::nullopt, series));
    std::size_t count = 0;
    for (const auto& s : series)
        count += s.samples.size();
    return count;
}

std::string contentOf(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void appendLoop(const std::filesystem::path& path, int first, int count) {
    app::LinkHistory history(path);
    ASSERT_TRUE(history.open());
    for (int i = 0; i < count; ++i)
        ASSERT_TRUE(history.append(fullScan(kNoon + first + i, 4))) << i;
}

} // namespace

TEST(LinkHistory, WritersInTwoProcessesAndTwoThreadsLoseNoRow) {
    SimulatedProgram program;
    const auto path = program.path("links.db");
    constexpr int kEach = 40;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        app::LinkHistory history(path);
        bool ok = static_cast<bool>(history.open());
        for (int i = 0; ok && i < kEach; ++i)
            ok = static_cast<bool>(history.append(fullScan(kNoon + 1000 + i, 4)));
        _exit(ok ? 0 : 1);
    }
    std::thread second(appendLoop, path, 2000, kEach);
    appendLoop(path, 3000, kEach);
    second.join();
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    app::LinkHistory history(path);
    ASSERT_TRUE(history.open());
    std::int64_t scans = 0;
    ASSERT_TRUE(history.scanCount(scans));
    EXPECT_EQ(scans, 3 * kEach);
    EXPECT_EQ(sampleCount(history), std::size_t{3 * kEach * 12});
}

TEST(LinkHistory, RetentionPrunesExactlyWhatIsOlder) {
    SimulatedProgram program;
    app::LinkHistory history(program.path("links.db"), 2);
    ASSERT_TRUE(history.open());
    const std::time_t cutoff = kNoon - 2 * kDay;
    app::HistoryScan gone = fullScan(cutoff - 1, 2);
    gone.devices.push_back({mac(9), "Unplugged", "", false});
    ASSERT_TRUE(history.append(gone));
    ASSERT_TRUE(history.append(fullScan(cutoff, 2)));
    ASSERT_TRUE(history.append(fullScan(cutoff + 1, 2)));
    ASSERT_TRUE(history.compact(kNoon));

    std::vector<app::LinkSeries> series;
    ASSERT_TRUE(history.links(0, std::nullopt, series));
    ASSERT_EQ(series.size(), 2u);
    ASSERT_EQ(series[0].samples.size(), 2u);
    EXPECT_EQ(series[0].samples[0].when, cutoff);
    std::vector<app::DeviceSighting> devices;
    ASSERT_TRUE(history.devices(devices));
    ASSERT_EQ(devices.size(), 2u); // the device last seen before the limit went with its scans
    EXPECT_EQ(devices[0].firstSeen, cutoff - 1);
    EXPECT_EQ(devices[0].lastSeen, cutoff + 1);
}

// Each kind of damage: the file is kept aside byte for byte, the message names it, and scans go on.
TEST(LinkHistory, DamagedFilesAreMovedAsideWithOneMessage) {
    SimulatedProgram program;
    const auto path = program.path("links.db");
    const auto sql = [&](const char* statement) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, statement, nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    };
    const auto truncated = [&] {
        {
            app::LinkHistory history(path);
            ASSERT_TRUE(history.open());
            for (int i = 0; i < 20; ++i)
                ASSERT_TRUE(history.append(fullScan(kNoon + i, 6)));
            ASSERT_TRUE(history.compact(kNoon));
        }
        std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2);
    };
    // Sound header and schema, every table's pages overwritten: the damage shows only when a scan is written.
    const auto scribbled = [&] {
        {
            app::LinkHistory history(path);
            ASSERT_TRUE(history.open());
            ASSERT_TRUE(history.compact(kNoon));
        }
        std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(4096);
        const std::string junk(std::filesystem::file_size(path) - 4096, '\x5a');
        file.write(junk.data(), static_cast<std::streamsize>(junk.size()));
    };
    const std::vector<std::pair<app::HistoryDamage, std::function<void()>>> cases = {
        {app::HistoryDamage::NotDatabase, [&] { std::ofstream(path) << "devices and links, but not SQLite\n"; }},
        {app::HistoryDamage::Truncated, truncated},
        {app::HistoryDamage::NewerSchema, [&] { sql("CREATE TABLE t(x); PRAGMA user_version = 7"); }},
        {app::HistoryDamage::ForeignTables, [&] { sql("CREATE TABLE contacts(name TEXT)"); }},
        {app::HistoryDamage::Unreadable, scribbled},
    };
    for (const auto& [damage, make] : cases) {
        make();
        const std::string before = contentOf(path);
        app::ScanRecorder recorder(path);
        const std::string notice = recorder.record(fullScan(kNoon, 2), program.texts);
        EXPECT_NE(notice.find(path.string()), std::string::npos) << notice;
        EXPECT_NE(notice.find(app::historyDamageText(program.texts, damage)), std::string::npos) << notice;
        std::vector<std::filesystem::path> aside;
        for (const auto& entry : std::filesystem::directory_iterator(path.parent_path()))
            if (entry.path().filename().string().starts_with("links.db.damaged-"))
                aside.push_back(entry.path());
        ASSERT_EQ(aside.size(), 1u) << static_cast<int>(damage);
        EXPECT_EQ(contentOf(aside[0]), before);
        EXPECT_EQ(recorder.record(fullScan(kNoon + 120, 2), program.texts), "");
        app::LinkHistory fresh(path);
        ASSERT_TRUE(fresh.open());
        std::int64_t scans = 0;
        ASSERT_TRUE(fresh.scanCount(scans));
        EXPECT_EQ(scans, 2);
        std::filesystem::remove(aside[0]);
        std::filesystem::remove(path);
    }
}

TEST(LinkHistory, AFailureToWriteIsToldOnceAndTheScanGoesOn) {
    SimulatedProgram program;
    std::ofstream(program.path("file")) << "x";
    app::ScanRecorder recorder(program.path("file") / "links.db");
    const std::string first = recorder.record(fullScan(kNoon, 2), program.texts);
    EXPECT_NE(first.find("could not be added to the link history"), std::string::npos) << first;
    EXPECT_EQ(recorder.record(fullScan(kNoon + 120, 2), program.texts), "");
}

TEST(LinkHistory, EveryScanOfTheCycleIsRecordedWithEveryLinkOfTheNetwork) {
    SimulatedProgram program;
    ASSERT_TRUE(program.open());
    program.session.scanRecorder().setPath(program.path("links.db"));
    for (int i = 0; i < 2; ++i) {
        const auto report = app::runScan(program.session, "Dec 08 10:00");
        ASSERT_TRUE(report.found);
        EXPECT_EQ(report.historyNotice, "");
    }
    app::LinkHistory history(program.path("links.db"));
    ASSERT_TRUE(history.open());
    std::vector<app::LinkSeries> series;
    ASSERT_TRUE(history.links(0, mac(3), series));
    // Both directions of the device's link to each of the three others, as the scan's link table read them.
    ASSERT_EQ(series.size(), 6u);
    const app::LinkTable& table = program.session.linkTable();
    for (const app::LinkSeries& link : series) {
        ASSERT_EQ(link.samples.size(), 2u);
        const auto row = std::find_if(table.rows.begin(), table.rows.end(),
                                      [&](const app::LinkRow& r) { return r.from == link.from && r.to == link.to; });
        ASSERT_NE(row, table.rows.end());
        EXPECT_EQ(link.samples[1].transmitRate, row->tx);
        EXPECT_EQ(link.samples[1].receiveRate, row->rx);
    }
    std::vector<app::DeviceSighting> devices;
    ASSERT_TRUE(history.devices(devices));
    EXPECT_EQ(devices.size(), 4u);
}

// A day of two-minute scans in which a charger halves the link from 18:00 to 21:00 and the far device misses one
// scan at night.
TEST(LinkStatistics, AnEveningDropIsFoundWithItsTimes) {
    app::LinkSeries day{mac(1), mac(2), {}};
    for (std::time_t t = kNoon - 12 * 3600; t < kNoon + 12 * 3600; t += 120) {
        const std::time_t hour = (t - (kNoon - 12 * 3600)) / 3600;
        const bool evening = hour >= 18 && hour < 21;
        day.samples.push_back({t, evening ? 40u : 100u + static_cast<std::uint32_t>(t % 7), 90u, hour != 23});
    }
    const app::LinkSummary s = app::summarizeLink(day);
    EXPECT_EQ(s.unanswered, 30u);
    EXPECT_EQ(s.transmit.minimum, 40u);
    EXPECT_GE(s.transmit.median, 100u);
    ASSERT_EQ(s.drops.size(), 1u);
    EXPECT_EQ(s.drops[0].start, kNoon + 6 * 3600);
    EXPECT_EQ(s.drops[0].end, kNoon + 9 * 3600);
    EXPECT_EQ(s.drops[0].lowest, 40u);

    app::LinkSeries steady{mac(1), mac(3), {{kNoon, 60, 60, true}, {kNoon + 120, 60, 60, true}}};
    const auto all = app::summarizeLinks({day, steady});
    EXPECT_EQ(app::slowestLink(all), 1);
    EXPECT_EQ(app::leastSteadyLink(all), 0);
}
