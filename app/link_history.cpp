#include "app/link_history.h"

#include "platform/display_text.h"
#include "platform/paths.h"

#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace zrq406::app {

namespace fs = std::filesystem;

namespace {

constexpr std::time_t kDay = 24 * 60 * 60;

// Each entry brings the schema from its index to the next version.
constexpr std::array<const char*, LinkHistory::kSchemaVersion> kMigrations = {
    "CREATE TABLE scans(id INTEGER PRIMARY KEY, at INTEGER NOT NULL);"
    "CREATE INDEX scans_at ON scans(at);"
    "CREATE TABLE devices(mac INTEGER PRIMARY KEY, name TEXT NOT NULL, firmware TEXT NOT NULL,"
    " first_seen INTEGER NOT NULL, last_seen INTEGER NOT NULL, last_answered INTEGER NOT NULL);"
    "CREATE TABLE sightings(mac INTEGER NOT NULL, scan INTEGER NOT NULL, answered INTEGER NOT NULL,"
    " PRIMARY KEY(mac, scan)) WITHOUT ROWID;"
    // Keyed by link first: the chart and the command line read one link's run of scans at a time.
    "CREATE TABLE links(source INTEGER NOT NULL, target INTEGER NOT NULL, scan INTEGER NOT NULL,"
    " tx INTEGER NOT NULL, rx INTEGER NOT NULL, answered INTEGER NOT NULL,"
    " PRIMARY KEY(source, target, scan)) WITHOUT ROWID;",
    // The PB error rate of the direction source -> target (0..1), NULL where it was not read.
    "ALTER TABLE links ADD COLUMN pb_error REAL;"
    // The device's firmware text on its first sighting and where it differs from the one it ran before; NULL on
    // every other sighting. A history that had none starts from each device's latest sighting and firmware.
    "ALTER TABLE sightings ADD COLUMN firmware TEXT;"
    "CREATE INDEX sightings_firmware ON sightings(mac, scan) WHERE firmware IS NOT NULL;"
    "UPDATE sightings SET firmware = (SELECT d.firmware FROM devices d WHERE d.mac = sightings.mac"
    " AND d.firmware <> '') WHERE scan = (SELECT max(g.scan) FROM sightings g WHERE g.mac = sightings.mac);"};

constexpr std::array<const char*, 4> kTables = {"scans", "devices", "sightings", "links"};

std::int64_t macKey(const MacAddress& mac) {
    std::int64_t key = 0;
    for (std::uint8_t b : mac.bytes)
        key = (key << 8) | b;
    return key;
}

MacAddress macOf(std::int64_t key) {
    MacAddress mac;
    for (int i = 5; i >= 0; --i) {
        mac.bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(key & 0xFF);
        key >>= 8;
    }
    return mac;
}

// A prepared statement that finalizes itself.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) : m_code(sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr)) {}
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    bool ok() const { return m_code == SQLITE_OK; }
    int code() const { return m_code; }
    sqlite3_stmt* get() const { return m_stmt; }
    void bind(int i, std::int64_t v) { sqlite3_bind_int64(m_stmt, i, v); }
    void bindReal(int i, double v) { sqlite3_bind_double(m_stmt, i, v); }
    void bindNull(int i) { sqlite3_bind_null(m_stmt, i); }
    void bind(int i, const std::string& v) {
        sqlite3_bind_text(m_stmt, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    }
    // One step; SQLITE_ROW, SQLITE_DONE or the failure. Resets after DONE so the statement can run again.
    int step() {
        m_code = sqlite3_step(m_stmt);
        if (m_code != SQLITE_ROW)
            sqlite3_reset(m_stmt);
        return m_code;
    }
    // Ends a statement left on a row, so that it holds no read lock.
    void finish() { sqlite3_reset(m_stmt); }
    std::int64_t integer(int i) const { return sqlite3_column_int64(m_stmt, i); }
    std::optional<double> optionalReal(int i) const {
        if (sqlite3_column_type(m_stmt, i) == SQLITE_NULL)
            return std::nullopt;
        return sqlite3_column_double(m_stmt, i);
    }
    std::string text(int i) const {
        const auto* t = sqlite3_column_text(m_stmt, i);
        return t != nullptr ? std::string(reinterpret_cast<const char*>(t),
                                          static_cast<std::size_t>(sqlite3_column_bytes(m_stmt, i)))
                            : std::string();
    }

private:
    sqlite3_stmt* m_stmt = nullptr;
    int m_code;
};

HistoryStatus statusOf(int code) {
    switch (code & 0xFF) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW:
        return HistoryStatus::Ok;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return HistoryStatus::Busy;
    case SQLITE_FULL:
        return HistoryStatus::Full;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return HistoryStatus::Damaged;
    default:
        return HistoryStatus::Failed;
    }
}

std::uint32_t bigEndian32(const unsigned char* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

// What is wrong with the file's header; None when it looks like a whole database (or there is no file yet).
HistoryDamage headerDamage(const fs::path& path) {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    if (ec || size == 0)
        return HistoryDamage::None;
    std::ifstream in(path, std::ios::binary);
    std::array<unsigned char, 100> header{};
    in.read(reinterpret_cast<char*>(header.data()), header.size());
    if (in.gcount() < static_cast<std::streamsize>(header.size()) ||
        std::memcmp(header.data(), "SQLite format 3", 16) != 0)
        return HistoryDamage::NotDatabase;
    std::uint32_t pageSize = (std::uint32_t{header[16]} << 8) | header[17];
    if (pageSize == 1)
        pageSize = 65536;
    const std::uint32_t pages = bigEndian32(&header[28]);
    // The page count is only trusted when it was written by the same change as the header's change counter.
    const bool countValid = pages != 0 && bigEndian32(&header[24]) == bigEndian32(&header[92]);
    if (countValid && std::uint64_t{pageSize} * pages > size)
        return HistoryDamage::Truncated;
    return HistoryDamage::None;
}

std::string stampText(std::time_t when) {
    return localTimeText(when, "%Y%m%d-%H%M%S");
}

bool present(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// A write-ahead log or rollback journal beside the file: the file alone need not be whole, SQLite reads both.
bool hasJournal(const fs::path& path) {
    return present(path.string() + "-wal") || present(path.string() + "-journal");
}

// Creates the missing folders of `folder` for the user alone; folders that are there keep their mode.
void createFolders(const fs::path& folder) {
    if (folder.empty() || present(folder))
        return;
    createFolders(folder.parent_path());
    ::mkdir(folder.c_str(), 0700);
}

// Moves the file (and its write-ahead log) aside under a name that keeps it; returns the new name.
fs::path moveAside(const fs::path& path) {
    const std::string base = path.string() + ".damaged-" + stampText(std::time(nullptr));
    fs::path target = base;
    std::error_code ec;
    for (int n = 2; fs::exists(target, ec); ++n)
        target = base + "-" + std::to_string(n);
    fs::rename(path, target, ec);
    if (ec)
        return {};
    fs::rename(path.string() + "-wal", target.string() + "-wal", ec);
    fs::remove(path.string() + "-shm", ec);
    return target;
}

// The write-ahead log is copied into the database by hand, under the lock (SQLite's own checkpoints are off).
constexpr int kCheckpointFrames = 1000;

} // namespace

// The lock file beside the database: held by one program at a time, never waited for beyond the caller's end.
class LinkHistory::Lock {
public:
    explicit Lock(const fs::path& database) : m_path(database.string() + ".lock") {}
    ~Lock() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

    // Takes the lock, trying until `until`: Ok, Busy when another program still holds it, Failed when the lock
    // file cannot be opened.
    HistoryStatus acquire(Clock::time_point until) {
        if (m_fd < 0)
            m_fd = ::open(m_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (m_fd < 0)
            return HistoryStatus::Failed;
        for (;;) {
            if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0)
                return HistoryStatus::Ok;
            const auto now = Clock::now();
            if (now >= until)
                return HistoryStatus::Busy;
            std::this_thread::sleep_for(std::min<Clock::duration>(until - now, std::chrono::milliseconds(5)));
        }
    }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
    int m_fd = -1;
};

LinkHistory::LinkHistory(fs::path path, int retentionDays) : m_path(std::move(path)), m_retentionDays(retentionDays) {}

LinkHistory::~LinkHistory() {
    close();
}

void LinkHistory::close(Lock* held, bool checkpoint) {
    if (m_db == nullptr)
        return;
    // The last connection to close copies the log into the database and removes it: only under the lock.
    std::optional<Lock> own;
    if (checkpoint && held == nullptr) {
        own.emplace(m_path);
        if (own->acquire(Clock::now()) == HistoryStatus::Ok)
            held = &*own;
    }
    if (checkpoint && held != nullptr)
        sqlite3_db_config(m_db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 0, nullptr);
    sqlite3_close_v2(m_db);
    m_db = nullptr;
    m_walFrames = 0;
}

fs::path LinkHistory::defaultPath() {
    if (const char* env = std::getenv("ZRQ406_LINK_HISTORY"); env != nullptr && *env != '\0')
        return std::strcmp(env, "none") == 0 ? fs::path() : fs::path(env);
    return paths::userDataDir() / "link-history.db";
}

int LinkHistory::retentionDaysFromEnvironment() {
    if (const char* env = std::getenv("ZRQ406_LINK_HISTORY_DAYS"); env != nullptr) {
        char* end = nullptr;
        const long days = std::strtol(env, &end, 10);
        if (end != env && *end == '\0' && days > 0 && days <= 36500)
            return static_cast<int>(days);
    }
    return kDefaultRetentionDays;
}

HistoryResult LinkHistory::failure(const std::string& what) const {
    const int code = m_db != nullptr ? sqlite3_extended_errcode(m_db) : SQLITE_CANTOPEN;
    HistoryStatus status = statusOf(code);
    if (status == HistoryStatus::Ok)
        status = HistoryStatus::Failed;
    return {status,
            what + ": " + (m_db != nullptr ? sqlite3_errmsg(m_db) : "cannot open") + " (" + m_path.string() + ")"};
}

void LinkHistory::rollback() {
    sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
}

HistoryResult LinkHistory::exec(const char* sql) {
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        return failure("the link history could not be used");
    return {};
}

LinkHistory::Clock::time_point LinkHistory::waitEnd() const {
    return m_deadline ? *m_deadline : Clock::now() + kBusyTimeout;
}

int LinkHistory::busyWait(void* self, int count) {
    auto* history = static_cast<LinkHistory*>(self);
    const auto now = Clock::now();
    if (count == 0)
        history->m_waitStart = now;
    const auto end = history->m_deadline ? *history->m_deadline : history->m_waitStart + kBusyTimeout;
    if (now >= end)
        return 0;
    // Short steps first: another program's transaction of one scan takes a few milliseconds.
    std::this_thread::sleep_for(std::min<Clock::duration>(end - now, std::chrono::milliseconds(count < 20 ? 1 : 10)));
    return 1;
}

int LinkHistory::walCommitted(void* self, sqlite3*, const char*, int frames) {
    static_cast<LinkHistory*>(self)->m_walFrames = frames;
    return SQLITE_OK;
}

HistoryResult LinkHistory::classify(HistoryDamage& damage) {
    const auto unread = [this, &damage](const char* what) {
        HistoryResult failed = failure(what);
        if (failed.status == HistoryStatus::Damaged)
            damage = HistoryDamage::NotDatabase;
        return failed;
    };
    Statement version(m_db, "PRAGMA user_version");
    if (!version.ok() || version.step() != SQLITE_ROW)
        return unread("the link history could not be read");
    const std::int64_t v = version.integer(0);
    version.finish();
    Statement tables(m_db, "SELECT count(*) FILTER (WHERE type = 'table' AND name IN "
                           "('scans', 'devices', 'sightings', 'links')), count(*) FROM sqlite_master");
    if (!tables.ok() || tables.step() != SQLITE_ROW)
        return unread("the link history could not be read");
    const std::int64_t ours = tables.integer(0);
    const std::int64_t entries = tables.integer(1);
    tables.finish();
    // A newer version keeps the tables it started from; a database without them is another program's, whatever
    // version number it carries.
    const bool whole = ours == static_cast<std::int64_t>(kTables.size());
    if (v > kSchemaVersion)
        damage = whole ? HistoryDamage::NewerSchema : HistoryDamage::ForeignTables;
    else if (v == 0 ? entries != 0 : !whole)
        damage = HistoryDamage::ForeignTables;
    if (damage == HistoryDamage::NewerSchema)
        return {HistoryStatus::Refused, "the link history " + m_path.string() +
                                            " was written by a newer version of the programs; it is left as it is"};
    if (damage == HistoryDamage::ForeignTables)
        return {HistoryStatus::Refused,
                "the file " + m_path.string() + " is another program's database; it is left as it is"};
    return {};
}

HistoryResult LinkHistory::quickCheck(HistoryDamage& damage) {
    // The check reads the whole file: with a deadline it ends there, and a file not checked in time is not judged.
    if (m_deadline)
        sqlite3_progress_handler(
            m_db, 1000, [](void* self) { return Clock::now() >= *static_cast<LinkHistory*>(self)->m_deadline ? 1 : 0; },
            this);
    Statement check(m_db, "PRAGMA quick_check(1)");
    const int code = check.ok() ? check.step() : check.code();
    const std::string verdict = code == SQLITE_ROW ? check.text(0) : std::string();
    check.finish();
    sqlite3_progress_handler(m_db, 0, nullptr, nullptr);
    if (code == SQLITE_ROW && verdict == "ok")
        return {};
    if ((code & 0xFF) == SQLITE_INTERRUPT)
        return {};
    if (code == SQLITE_ROW || statusOf(code) == HistoryStatus::Damaged) {
        damage = HistoryDamage::Unreadable;
        return {HistoryStatus::Damaged, "the link history " + m_path.string() + " is damaged" +
                                            (verdict.empty() ? std::string() : ": " + verdict)};
    }
    return failure("the link history could not be checked");
}

HistoryResult LinkHistory::useWal() {
    Statement mode(m_db, "PRAGMA journal_mode");
    const bool wal = mode.ok() && mode.step() == SQLITE_ROW && mode.text(0) == "wal";
    mode.finish();
    if (!wal) {
        // Switching the journal mode does not wait for a busy database by itself.
        HistoryResult switched = exec("PRAGMA journal_mode=WAL");
        for (const auto end = waitEnd(); switched.status == HistoryStatus::Busy && Clock::now() < end;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            switched = exec("PRAGMA journal_mode=WAL");
        }
        if (!switched)
            return switched;
    }
    return exec("PRAGMA synchronous=NORMAL");
}

HistoryResult LinkHistory::connect(HistoryDamage& damage, bool check) {
    damage = HistoryDamage::None;
    // A new history is its owner's alone; SQLite gives its log and shared-memory file the database's mode.
    if (const int fd = ::open(m_path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600); fd >= 0)
        ::close(fd);
    // The size in the header is only compared with the file's when no log holds pages the file lacks yet (a
    // checkpoint writes the first page before the others).
    m_foundWal = present(m_path.string() + "-wal");
    const bool journal = m_foundWal || hasJournal(m_path);
    if (!journal) {
        damage = headerDamage(m_path);
        if (damage != HistoryDamage::None)
            return {HistoryStatus::Damaged, "the link history " + m_path.string() + " is damaged"};
    }
    if (sqlite3_open_v2(m_path.c_str(), &m_db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        return failure("the link history could not be opened");
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_handler(m_db, &LinkHistory::busyWait, this);
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    sqlite3_wal_hook(m_db, &LinkHistory::walCommitted, this);
    if (HistoryResult classified = classify(damage); !classified)
        return classified;
    if (journal || check)
        if (HistoryResult checked = quickCheck(damage); !checked)
            return checked;
    if (HistoryResult mode = useWal(); !mode) {
        if (mode.status == HistoryStatus::Damaged)
            damage = HistoryDamage::NotDatabase;
        return mode;
    }
    if (HistoryResult migrated = migrate(); !migrated) {
        if (migrated.status == HistoryStatus::Damaged)
            damage = HistoryDamage::Unreadable;
        else if (migrated.status == HistoryStatus::Refused)
            damage = HistoryDamage::NewerSchema;
        return migrated;
    }
    return {};
}

HistoryOpenResult LinkHistory::open() {
    close();
    HistoryOpenResult opened;
    if (m_path.empty()) {
        opened.result = {HistoryStatus::Failed, "no link history file"};
        return opened;
    }
    createFolders(m_path.parent_path());
    Lock lock(m_path);
    if (const HistoryStatus locked = lock.acquire(waitEnd()); locked != HistoryStatus::Ok) {
        opened.result = {locked, locked == HistoryStatus::Busy
                                     ? "another program holds the link history " + m_path.string()
                                     : "the lock file " + lock.path() + " could not be opened"};
        return opened;
    }
    return openHeld(lock, HistoryDamage::None);
}

HistoryOpenResult LinkHistory::openHeld(Lock& lock, HistoryDamage suspected) {
    HistoryOpenResult opened;
    // A FIFO or device node in place of the file is never opened: it could block or feed anything.
    struct stat info {};
    if (::stat(m_path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        opened.result = {HistoryStatus::Failed, "the link history " + m_path.string() + " is not a regular file"};
        return opened;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        HistoryDamage damage = HistoryDamage::None;
        const HistoryResult connected = connect(damage, attempt == 0 && suspected != HistoryDamage::None);
        if (connected)
            return opened;
        if (connected.status == HistoryStatus::Refused) {
            // What another program wrote is left as it was found: a log that was there stays, one made by this
            // reading goes again.
            close(&lock, !m_foundWal);
            opened.result = connected;
            opened.damage = damage;
            return opened;
        }
        close(&lock);
        if (damage == HistoryDamage::None) {
            opened.result = connected;
            return opened;
        }
        if (attempt == 1)
            break;
        opened.damage = damage == HistoryDamage::Unreadable && suspected != HistoryDamage::None ? suspected : damage;
        opened.movedTo = moveAside(m_path);
        if (opened.movedTo.empty()) {
            opened.result = {HistoryStatus::Damaged,
                             "the link history " + m_path.string() + " is damaged and could not be moved aside"};
            return opened;
        }
    }
    opened.result = {HistoryStatus::Damaged, "the link history " + m_path.string() + " could not be started anew"};
    return opened;
}

HistoryOpenResult LinkHistory::setAside(HistoryDamage damage) {
    Lock lock(m_path);
    if (const HistoryStatus locked = lock.acquire(waitEnd()); locked != HistoryStatus::Ok) {
        close();
        HistoryOpenResult failed;
        failed.result = {locked, locked == HistoryStatus::Busy
                                     ? "another program holds the link history " + m_path.string()
                                     : "the lock file " + lock.path() + " could not be opened"};
        return failed;
    }
    close(&lock);
    // The lock is handed on: the file is checked and moved aside by the same holder, with no gap between.
    return openHeld(lock, damage);
}

HistoryResult LinkHistory::migrate() {
    // A history of this version is only read: opening it takes no write lock, so readers never wait for writers.
    {
        Statement version(m_db, "PRAGMA user_version");
        if (version.ok() && version.step() == SQLITE_ROW && version.integer(0) == kSchemaVersion)
            return {};
    }
    if (HistoryResult begun = exec("BEGIN IMMEDIATE"); !begun)
        return begun;
    // Read again inside the write lock: another program may have migrated meanwhile.
    Statement version(m_db, "PRAGMA user_version");
    std::int64_t v = version.ok() && version.step() == SQLITE_ROW ? version.integer(0) : -1;
    version.finish();
    if (v < 0 || v > kSchemaVersion) {
        HistoryResult failed =
            v < 0 ? failure("the link history could not be read")
                  : HistoryResult{HistoryStatus::Refused, "the link history " + m_path.string() +
                                                              " was written by a newer version of the programs; it is "
                                                              "left as it is"};
        rollback();
        return failed;
    }
    for (; v < kSchemaVersion; ++v) {
        const std::string step =
            std::string(kMigrations[static_cast<std::size_t>(v)]) + "PRAGMA user_version=" + std::to_string(v + 1);
        if (HistoryResult done = exec(step.c_str()); !done) {
            rollback();
            return done;
        }
    }
    return exec("COMMIT");
}

void LinkHistory::checkpointIfDue() {
    if (m_walFrames < kCheckpointFrames)
        return;
    // Only under the lock, without waiting for it: a later write tries again.
    Lock lock(m_path);
    if (lock.acquire(Clock::now()) != HistoryStatus::Ok)
        return;
    int logged = 0;
    int copied = 0;
    if (sqlite3_wal_checkpoint_v2(m_db, nullptr, SQLITE_CHECKPOINT_PASSIVE, &logged, &copied) == SQLITE_OK &&
        logged == copied)
        m_walFrames = 0;
}

HistoryResult LinkHistory::append(const HistoryScan& scan) {
    if (m_db == nullptr)
        return {HistoryStatus::Failed, "the link history is not open"};
    if (HistoryResult begun = exec("BEGIN IMMEDIATE"); !begun)
        return begun;
    const auto abandon = [this](const std::string& what) {
        HistoryResult failed = failure(what);
        rollback();
        return failed;
    };
    Statement addScan(m_db, "INSERT INTO scans(at) VALUES(?)");
    if (!addScan.ok())
        return abandon("the link history could not be written");
    addScan.bind(1, scan.when);
    if (addScan.step() != SQLITE_DONE)
        return abandon("the link history could not be written");
    const std::int64_t id = sqlite3_last_insert_rowid(m_db);

    Statement device(m_db, "INSERT INTO devices VALUES(?1, ?2, ?3, ?4, ?4, ?5) ON CONFLICT(mac) DO UPDATE SET "
                           "name = ?2, firmware = ?3, last_seen = max(last_seen, ?4), last_answered = ?5, "
                           "first_seen = min(first_seen, ?4)");
    Statement sighting(m_db, "INSERT OR REPLACE INTO sightings VALUES(?, ?, ?, ?)");
    Statement link(m_db, "INSERT OR REPLACE INTO links VALUES(?, ?, ?, ?, ?, ?, ?)");
    // The firmware the device ran in the last scan before this one that told it.
    // Through the index of the sightings that keep a text: the device's other sightings are never read.
    Statement ran(m_db, "SELECT g.firmware FROM sightings g INDEXED BY sightings_firmware "
                        "JOIN scans s ON s.id = g.scan WHERE g.mac = ?1 AND g.firmware IS NOT NULL AND "
                        "(s.at < ?2 OR (s.at = ?2 AND s.id < ?3)) ORDER BY s.at DESC, s.id DESC LIMIT 1");
    if (!device.ok() || !sighting.ok() || !link.ok() || !ran.ok())
        return abandon("the link history could not be written");
    for (const HistoryDeviceRow& d : scan.devices) {
        device.bind(1, macKey(d.mac));
        device.bind(2, d.name);
        device.bind(3, d.firmware);
        device.bind(4, scan.when);
        device.bind(5, d.answered ? 1 : 0);
        bool keepText = false;
        if (!d.firmware.empty()) {
            ran.bind(1, macKey(d.mac));
            ran.bind(2, scan.when);
            ran.bind(3, id);
            const int code = ran.step();
            if (code != SQLITE_ROW && code != SQLITE_DONE)
                return abandon("the link history could not be read");
            keepText = code == SQLITE_DONE || ran.text(0) != d.firmware;
            ran.finish();
        }
        sighting.bind(1, macKey(d.mac));
        sighting.bind(2, id);
        sighting.bind(3, d.answered ? 1 : 0);
        if (keepText)
            sighting.bind(4, d.firmware);
        else
            sighting.bindNull(4);
        if (device.step() != SQLITE_DONE || sighting.step() != SQLITE_DONE)
            return abandon("the link history could not be written");
    }
    for (const HistoryLinkRow& l : scan.links) {
        link.bind(1, macKey(l.from));
        link.bind(2, macKey(l.to));
        link.bind(3, id);
        link.bind(4, l.transmitRate);
        link.bind(5, l.receiveRate);
        link.bind(6, l.answered ? 1 : 0);
        if (l.pbErrorRate)
            link.bindReal(7, *l.pbErrorRate);
        else
            link.bindNull(7);
        if (link.step() != SQLITE_DONE)
            return abandon("the link history could not be written");
    }
    if (HistoryResult committed = exec("COMMIT"); !committed) {
        rollback();
        return committed;
    }
    checkpointIfDue();
    if (scan.when - m_lastPrune >= kDay) {
        m_lastPrune = scan.when;
        HistoryResult pruned = prune(scan.when);
        // The scan is written; a prune that found the history busy is tried again with the next scan.
        if (pruned.status == HistoryStatus::Busy) {
            m_lastPrune = 0;
            return {};
        }
        return pruned;
    }
    return {};
}

HistoryResult LinkHistory::prune(std::time_t now) {
    if (m_db == nullptr)
        return {HistoryStatus::Failed, "the link history is not open"};
    const std::int64_t cutoff = static_cast<std::int64_t>(now) - std::int64_t{m_retentionDays} * kDay;
    // The index on the scan time answers this at once; the delete below reads every link row.
    Statement old(m_db, "SELECT 1 FROM scans WHERE at < ? LIMIT 1");
    if (!old.ok())
        return failure("the link history could not be read");
    old.bind(1, cutoff);
    const int found = old.step();
    if (found == SQLITE_DONE)
        return {};
    if (found != SQLITE_ROW)
        return failure("the link history could not be read");
    old.finish();
    if (HistoryResult begun = exec("BEGIN IMMEDIATE"); !begun)
        return begun;
    if (HistoryResult kept = keepFirmware(cutoff); !kept) {
        rollback();
        return kept;
    }
    const char* const deletes[] = {
        "DELETE FROM links WHERE scan IN (SELECT id FROM scans WHERE at < ?1)",
        "DELETE FROM sightings WHERE scan IN (SELECT id FROM scans WHERE at < ?1)",
        "DELETE FROM scans WHERE at < ?1",
        "DELETE FROM devices WHERE last_seen < ?1",
    };
    for (const char* sql : deletes) {
        Statement del(m_db, sql);
        if (del.ok())
            del.bind(1, cutoff);
        if (!del.ok() || del.step() != SQLITE_DONE) {
            HistoryResult failed = failure("the link history could not be pruned");
            rollback();
            return failed;
        }
    }
    return exec("COMMIT");
}

HistoryResult LinkHistory::keepFirmware(std::int64_t cutoff) {
    // The last firmware text of each device among the sightings about to go ...
    Statement last(m_db, "SELECT g.mac, g.firmware FROM sightings g INDEXED BY sightings_firmware "
                         "JOIN scans s ON s.id = g.scan "
                         "WHERE g.firmware IS NOT NULL AND s.at < ?1 ORDER BY g.mac, s.at, s.id");
    if (!last.ok())
        return failure("the link history could not be read");
    last.bind(1, cutoff);
    std::map<std::int64_t, std::string> firmware;
    int code;
    while ((code = last.step()) == SQLITE_ROW)
        firmware[last.integer(0)] = last.text(1);
    if (code != SQLITE_DONE)
        return failure("the link history could not be read");
    // ... goes to its first sighting that stays, unless that one has a text of its own.
    Statement first(m_db, "SELECT g.scan FROM sightings g JOIN scans s ON s.id = g.scan WHERE g.mac = ?1 AND "
                          "s.at >= ?2 ORDER BY s.at, s.id LIMIT 1");
    Statement keep(m_db, "UPDATE sightings SET firmware = ?3 WHERE mac = ?1 AND scan = ?2 AND firmware IS NULL");
    if (!first.ok() || !keep.ok())
        return failure("the link history could not be pruned");
    for (const auto& [mac, text] : firmware) {
        first.bind(1, mac);
        first.bind(2, cutoff);
        code = first.step();
        if (code == SQLITE_DONE)
            continue;
        if (code != SQLITE_ROW)
            return failure("the link history could not be read");
        const std::int64_t scan = first.integer(0);
        first.finish();
        keep.bind(1, mac);
        keep.bind(2, scan);
        keep.bind(3, text);
        if (keep.step() != SQLITE_DONE)
            return failure("the link history could not be pruned");
    }
    return {};
}

HistoryResult LinkHistory::compact(std::time_t now) {
    if (HistoryResult pruned = prune(now); !pruned)
        return pruned;
    if (HistoryResult vacuumed = exec("VACUUM"); !vacuumed)
        return vacuumed;
    Lock lock(m_path);
    if (const HistoryStatus locked = lock.acquire(waitEnd()); locked != HistoryStatus::Ok)
        return {locked, "the link history " + m_path.string() + " was compacted, but another program holds it"};
    return exec("PRAGMA wal_checkpoint(TRUNCATE)");
}

HistoryResult LinkHistory::links(std::time_t since, const std::optional<MacAddress>& device,
                                 std::vector<LinkSeries>& out) {
    out.clear();
    if (m_db == nullptr)
        return {HistoryStatus::Failed, "the link history is not open"};
    Statement query(m_db, "SELECT l.source, l.target, s.at, l.tx, l.rx, l.answered, l.pb_error FROM links l "
                          "JOIN scans s ON s.id = l.scan WHERE s.at >= ?1 AND (?2 < 0 OR l.source = ?2 OR "
                          "l.target = ?2) ORDER BY l.source, l.target, s.at, s.id");
    if (!query.ok())
        return failure("the link history could not be read");
    query.bind(1, since);
    query.bind(2, device ? macKey(*device) : -1);
    int code;
    while ((code = query.step()) == SQLITE_ROW) {
        const MacAddress from = macOf(query.integer(0));
        const MacAddress to = macOf(query.integer(1));
        if (out.empty() || out.back().from != from || out.back().to != to)
            out.push_back({from, to, {}});
        out.back().samples.push_back({static_cast<std::time_t>(query.integer(2)),
                                      static_cast<std::uint32_t>(query.integer(3)),
                                      static_cast<std::uint32_t>(query.integer(4)), query.integer(5) != 0,
                                      query.optionalReal(6)});
    }
    if (code != SQLITE_DONE)
        return failure("the link history could not be read");
    return {};
}

HistoryResult LinkHistory::link(const MacAddress& from, const MacAddress& to, std::time_t since, LinkSeries& out) {
    out = {from, to, {}};
    if (m_db == nullptr)
        return {HistoryStatus::Failed, "the link history is not open"};
    Statement query(m_db, "SELECT s.at, l.tx, l.rx, l.answered, l.pb_error FROM links l JOIN scans s ON s.id = l.scan "
                          "WHERE l.source = ?1 AND l.target = ?2 AND s.at >= ?3 ORDER BY s.at, s.id");
    if (!query.ok())
        return failure("the link history could not be read");
    query.bind(1, macKey(from));
    query.bind(2, macKey(to));
    query.bind(3, since);
    int code;
    while ((code = query.step()) == SQLITE_ROW)
        out.samples.push_back({static_cast<std::time_t>(query.integer(0)), static_cast<std::uint32_t>(query.integer(1)),
                               static_cast<std::uint32_t>(query.integer(2)), query.integer(3) != 0,
                               query.optionalReal(4)});
    if (code != SQLITE_DONE)
        return failure("the link history could not be read");
    return {};
}

HistoryResult LinkHistory::devices(std::vector<DeviceSighting>& out) {
    out.clear();
    if (m_db == nullptr)
        return {HistoryStatus::Failed, "the link history is not open"};
    Statement query(m_db, "SELECT mac, name, firmware, first_seen, last_seen, last_answered FROM devices "
                          "ORDER BY last_seen DESC, mac");
    if (!query.ok())
        return failure("the link history could not be read");
    int code;
    while ((code = query.step()) == SQLITE_ROW)
        out.push_back({macOf(query.integer(0)), query.text(1), query.text(2),
                       static_cast<std::time_t>(query.integer(3)), static_cast<std::time_t>(query.integer(4)),
                       query.integer(5) != 0});
    if (code != SQLITE_DONE)
        return failure("the link history could not be read");
    return {};
}

HistoryResult LinkHistory::sightings(std::time_t from, std::time_t to, std::vector<ScanSightings>& out) {
    out.clear();
    if (m_db == nullptr)
        return {HistoryStatus::Failed, "the link history is not open"};
    // A scan that saw no device still counts: every device it did not see has stopped answering.
    Statement query(m_db, "SELECT s.id, s.at, g.mac, g.answered FROM scans s LEFT JOIN sightings g ON g.scan = s.id "
                          "WHERE s.at >= ?1 AND s.at <= ?2 ORDER BY s.at, s.id");
    if (!query.ok())
        return failure("the link history could not be read");
    query.bind(1, from);
    query.bind(2, to);
    std::int64_t scan = -1;
    int code;
    while ((code = query.step()) == SQLITE_ROW) {
        if (out.empty() || query.integer(0) != scan) {
            scan = query.integer(0);
            out.push_back({static_cast<std::time_t>(query.integer(1)), {}});
        }
        if (sqlite3_column_type(query.get(), 2) != SQLITE_NULL)
            out.back().devices.emplace_back(macOf(query.integer(2)), query.integer(3) != 0);
    }
    if (code != SQLITE_DONE)
        return failure("the link history could not be read");
    return {};
}

HistoryResult LinkHistory::firmwareChanges(std::time_t from, std::time_t to, std::vector<FirmwareChange>& out) {
    out.clear();
    if (m_db == nullptr)
        return {HistoryStatus::Failed, "the link history is not open"};
    // Only the sightings that keep a text are read (the partial index holds just those); each is compared with
    // the one before it, which may lie before the period.
    Statement query(m_db, "SELECT mac, at, before, firmware FROM (SELECT g.mac, s.at, s.id, g.firmware, "
                          "lag(g.firmware) OVER (PARTITION BY g.mac ORDER BY s.at, s.id) AS before "
                          "FROM sightings g INDEXED BY sightings_firmware JOIN scans s ON s.id = g.scan "
                          "WHERE g.firmware IS NOT NULL AND s.at <= ?2) "
                          "WHERE at >= ?1 AND before IS NOT NULL AND before <> firmware AND firmware <> '' "
                          "ORDER BY at, id, mac");
    if (!query.ok())
        return failure("the link history could not be read");
    query.bind(1, from);
    query.bind(2, to);
    int code;
    while ((code = query.step()) == SQLITE_ROW)
        out.push_back(
            {macOf(query.integer(0)), static_cast<std::time_t>(query.integer(1)), query.text(2), query.text(3)});
    if (code != SQLITE_DONE)
        return failure("the link history could not be read");
    return {};
}

HistoryResult LinkHistory::scanTimes(std::time_t until, int count, std::vector<std::time_t>& out) {
    out.clear();
    if (m_db == nullptr)
        return {HistoryStatus::Failed, "the link history is not open"};
    Statement query(m_db, "SELECT at FROM scans WHERE at <= ?1 ORDER BY at DESC, id DESC LIMIT ?2");
    if (!query.ok())
        return failure("the link history could not be read");
    query.bind(1, until);
    query.bind(2, count);
    int code;
    while ((code = query.step()) == SQLITE_ROW)
        out.push_back(static_cast<std::time_t>(query.integer(0)));
    if (code != SQLITE_DONE)
        return failure("the link history could not be read");
    return {};
}

HistoryResult LinkHistory::scanCount(std::int64_t& out) {
    out = 0;
    if (m_db == nullptr)
        return {HistoryStatus::Failed, "the link history is not open"};
    Statement query(m_db, "SELECT count(*) FROM scans");
    if (!query.ok() || query.step() != SQLITE_ROW)
        return failure("the link history could not be read");
    out = query.integer(0);
    query.finish();
    return {};
}

} // namespace zrq406::app
