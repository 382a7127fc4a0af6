#include "app/link_history.h"
#include "app/link_statistics.h"
#include "app/link_table.h"
#include "app/scan_cycle.h"
#include "app/scan_recorder.h"
#include "tests/support/simulated_program.h"
#include "uitext/placeholders.h"

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
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

// Runs SQL on a connection of its own, as another program would.
void runSql(const std::filesystem::path& path, const char* sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
}

// The files in `dir` whose names begin with `prefix`.
std::vector<std::string> filesStartingWith(const std::filesystem::path& dir, const std::string& prefix) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        if (entry.path().filename().string().starts_with(prefix))
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

unsigned modeOf(const std::filesystem::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
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

    // The firmware the devices ran is kept though the scan that first told it went: a later change is still one.
    app::HistoryScan update = fullScan(cutoff + 2, 2);
    update.devices[0].firmware = "ZRQPLC1-MAC-4";
    ASSERT_TRUE(history.append(update));
    std::vector<app::FirmwareChange> changes;
    ASSERT_TRUE(history.firmwareChanges(0, kNoon, changes));
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].mac, mac(1));
    EXPECT_EQ(changes[0].when, cutoff + 2);
    EXPECT_EQ(changes[0].before, "ZRQPLC1-MAC-3");
    EXPECT_EQ(changes[0].after, "ZRQPLC1-MAC-4");
}

// Each kind of damage: the file is kept aside byte for byte, the message names it, and scans go on.
TEST(LinkHistory, DamagedFilesAreMovedAsideWithOneMessage) {
    SimulatedProgram program;
    const auto path = program.path("links.db");
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

// A newer version's history and another program's database (the case of a file named by ZRQ406_LINK_HISTORY) are
// refused: left byte for byte under their name with nothing beside them, and the message says which it is.
TEST(LinkHistory, ANewerOrForeignDatabaseIsLeftAsItIsAndNamed) {
    SimulatedProgram program;
    const auto path = program.path("links.db");
    const auto newer = [&] {
        appendLoop(path, 0, 3);
        runSql(path, ("CREATE TABLE outages(at INTEGER); PRAGMA user_version = " +
                      std::to_string(app::LinkHistory::kSchemaVersion + 1)).c_str());
    };
    const std::vector<std::pair<app::HistoryDamage, std::function<void()>>> cases = {
        {app::HistoryDamage::NewerSchema, newer},
        {app::HistoryDamage::ForeignTables,
         [&] { runSql(path, "CREATE TABLE contacts(name TEXT); PRAGMA user_version = 7"); }},
        {app::HistoryDamage::ForeignTables,
         [&] { runSql(path, "PRAGMA journal_mode = WAL; CREATE TABLE contacts(name TEXT)"); }},
    };
    for (const auto& [damage, make] : cases) {
        make();
        const std::string before = contentOf(path);
        const auto files = filesStartingWith(program.dir(), "links.db");
        app::ScanRecorder recorder(path);
        EXPECT_EQ(recorder.record(fullScan(kNoon, 2), program.texts),
                  app::historyRefusedText(program.texts, path, damage));
        EXPECT_EQ(recorder.record(fullScan(kNoon + 120, 2), program.texts), "");
        EXPECT_TRUE(contentOf(path) == before);
        // Only the lock file is new.
        auto expected = files;
        if (std::find(expected.begin(), expected.end(), "links.db.lock") == expected.end())
            expected.push_back("links.db.lock");
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(filesStartingWith(program.dir(), "links.db"), expected);
        app::LinkHistory history(path);
        const app::HistoryOpenResult opened = history.open();
        EXPECT_EQ(opened.result.status, app::HistoryStatus::Refused);
        EXPECT_EQ(opened.damage, damage);
        EXPECT_TRUE(opened.movedTo.empty());
        std::filesystem::remove(path);
    }
    EXPECT_NE(app::historyDamageText(program.texts, app::HistoryDamage::NewerSchema),
              app::historyDamageText(program.texts, app::HistoryDamage::ForeignTables));
}

// Another program holds the history past the scan's deadline: the scan is still made, the recording gives up at
// the deadline with one message, and the next scan after the lock is gone is written. Both kinds of hold: the
// write lock of a transaction, and a connection in exclusive locking mode that shuts out readers too (it held a
// scan up for minutes, a busy timeout for each try to switch the journal mode).
TEST(LinkHistory, AHeldHistoryHoldsUpAScanNoLongerThanTheDeadline) {
    using Clock = std::chrono::steady_clock;
    for (const bool exclusive : {false, true}) {
        const char* hold = exclusive ? "PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE" : "BEGIN EXCLUSIVE";
        SimulatedProgram program;
        ASSERT_TRUE(program.open());
        const auto path = program.path("links.db");
        const std::time_t now = std::time(nullptr);
        program.session.scanRecorder().setPath(path);
        ASSERT_EQ(app::ScanRecorder(path).record(fullScan(now, 2), program.texts), "");
        sqlite3* other = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(other, hold, nullptr, nullptr, nullptr), SQLITE_OK) << hold;
        const auto release = [&] {
            sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
            sqlite3_close(other);
        };

        const std::string busy = fillPlaceholders(
            program.texts.LoadPageCaption("ZRQ406", "Messages", app::kLinkHistoryBusy, "Text"), {path.string()});
        auto start = Clock::now();
        const auto report = app::runScan(program.session, "Dec 08 10:00");
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(10)) << hold;
        ASSERT_TRUE(report.found) << hold;
        EXPECT_EQ(report.historyNotice, busy) << hold;
        app::ScanRecorder recorder(path);
        if (!exclusive) {
            // A recorder that has the history open gives up its write at the deadline too: generous for a loaded
            // machine, and still below one busy timeout of three seconds.
            release();
            ASSERT_EQ(recorder.record(fullScan(now + 1, 2), program.texts), "");
            ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
            ASSERT_EQ(sqlite3_exec(other, hold, nullptr, nullptr, nullptr), SQLITE_OK);
            start = Clock::now();
            EXPECT_EQ(recorder.record(fullScan(now + 2, 2), program.texts), busy);
            EXPECT_LT(Clock::now() - start, app::ScanRecorder::kDeadline + std::chrono::milliseconds(700));
        }
        release();
        EXPECT_EQ(recorder.record(fullScan(now + 3, 2), program.texts), "") << hold;
        EXPECT_EQ(app::runScan(program.session, "Dec 08 10:02").historyNotice, "") << hold;
        app::LinkHistory history(path);
        ASSERT_TRUE(history.open());
        std::int64_t scans = 0;
        ASSERT_TRUE(history.scanCount(scans));
        EXPECT_EQ(scans, exclusive ? 3 : 4) << hold;
    }
}

// A sound history whose write-ahead log holds pages the file lacks, as an interrupted checkpoint leaves it (the
// first page, with the new page count, written before the others), is opened as it is: nothing is set aside.
TEST(LinkHistory, AHistoryWhosePagesAreInItsLogIsSound) {
    SimulatedProgram program;
    const auto path = program.path("links.db");
    const auto copy = program.path("copy.db");
    appendLoop(path, 0, 1);
    sqlite3* writer = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &writer), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(writer,
                           "PRAGMA wal_autocheckpoint = 0;"
                           "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000) "
                           "INSERT INTO scans(at) SELECT 1733745600 + i FROM n",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    // The files as a copy of the stopped program finds them: the log, no shared memory.
    std::filesystem::copy_file(path, copy);
    std::filesystem::copy_file(path.string() + "-wal", copy.string() + "-wal");
    sqlite3_close(writer);

    // The checkpoint's first write: the log's last image of page 1.
    const std::string log = contentOf(copy.string() + "-wal");
    ASSERT_GT(log.size(), 32u);
    const auto u32 = [&](std::size_t at) {
        return (std::uint32_t{static_cast<unsigned char>(log[at])} << 24) |
               (std::uint32_t{static_cast<unsigned char>(log[at + 1])} << 16) |
               (std::uint32_t{static_cast<unsigned char>(log[at + 2])} << 8) | static_cast<unsigned char>(log[at + 3]);
    };
    const std::size_t pageSize = u32(8);
    std::size_t pageOne = 0;
    for (std::size_t at = 32; at + 24 + pageSize <= log.size(); at += 24 + pageSize)
        if (u32(at) == 1)
            pageOne = at + 24;
    ASSERT_NE(pageOne, 0u);
    {
        std::fstream file(copy, std::ios::in | std::ios::out | std::ios::binary);
        file.write(log.data() + pageOne, static_cast<std::streamsize>(pageSize));
    }
    // At a glance, the file is shorter than its header says.
    ASSERT_GT(std::uint64_t{u32(pageOne + 28)} * pageSize, std::filesystem::file_size(copy));

    app::ScanRecorder recorder(copy);
    EXPECT_EQ(recorder.record(fullScan(kNoon, 2), program.texts), "");
    EXPECT_EQ(filesStartingWith(program.dir(), "copy.db.damaged"), std::vector<std::string>{});
    app::LinkHistory history(copy);
    ASSERT_TRUE(history.open());
    std::int64_t scans = 0;
    ASSERT_TRUE(history.scanCount(scans));
    EXPECT_EQ(scans, 2002);
}

// While another program holds the lock (it may be checking the file for damage), the log is not copied into the
// database: neither after a long run of writes nor on closing. The next write after it is free copies it.
TEST(LinkHistory, TheLogIsCopiedIntoTheDatabaseOnlyUnderTheLock) {
    SimulatedProgram program;
    const auto path = program.path("links.db");
    const auto wal = std::filesystem::path(path.string() + "-wal");
    auto history = std::make_unique<app::LinkHistory>(path);
    ASSERT_TRUE(history->open());
    const auto size = std::filesystem::file_size(path);
    const int lock = ::open((path.string() + ".lock").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX | LOCK_NB), 0);
    // Far more than the thousand pages after which a log is copied.
    int n = 0;
    for (; n < 3000 && std::filesystem::file_size(wal) < 1200 * (24 + 4096); ++n)
        ASSERT_TRUE(history->append(fullScan(kNoon + n, 4)));
    ASSERT_LT(n, 3000);
    EXPECT_EQ(std::filesystem::file_size(path), size);
    history.reset();
    EXPECT_TRUE(std::filesystem::exists(wal));
    EXPECT_EQ(std::filesystem::file_size(path), size);
    ::close(lock);

    history = std::make_unique<app::LinkHistory>(path);
    ASSERT_TRUE(history->open());
    ASSERT_TRUE(history->append(fullScan(kNoon + n, 4)));
    EXPECT_GT(std::filesystem::file_size(path), size);
    history.reset();
    EXPECT_FALSE(std::filesystem::exists(wal));
}

// A new history and the folder made for it are the user's alone; a folder that was there keeps its mode.
TEST(LinkHistory, ANewHistoryIsReadableByItsOwnerAlone) {
    SimulatedProgram program;
    const mode_t mask = ::umask(022);
    std::filesystem::create_directory(program.path("shared"));
    const auto made = program.path("made") / "data" / "links.db";
    const auto kept = program.path("shared") / "links.db";
    app::ScanRecorder recorder(made);
    app::ScanRecorder other(kept);
    EXPECT_EQ(recorder.record(fullScan(kNoon, 2), program.texts), "");
    EXPECT_EQ(other.record(fullScan(kNoon, 2), program.texts), "");
    ::umask(mask);
    EXPECT_EQ(modeOf(program.path("made")), 0700u);
    EXPECT_EQ(modeOf(program.path("made") / "data"), 0700u);
    EXPECT_EQ(modeOf(program.path("shared")), 0755u);
    for (const auto& db : {made, kept})
        for (const char* suffix : {"", "-wal", "-shm", ".lock"})
            EXPECT_EQ(modeOf(db.string() + suffix), 0600u) << db << suffix;
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
