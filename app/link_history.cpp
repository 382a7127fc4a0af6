#include "app/link_history.h"

#include "platform/display_text.h"
#include "platform/paths.h"

#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace zrq406::app {

namespace fs = std::filesystem;

namespace {

// Long enough for another program's short transaction, short enough that a stuck one never holds up a scan.
constexpr int kBusyTimeoutMs = 3000;
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
    " PRIMARY KEY(source, target, scan)) WITHOUT ROWID;"};

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

} // namespace

LinkHistory::LinkHistory(fs::path path, int retentionDays) : m_path(std::move(path)), m_retentionDays(retentionDays) {}

LinkHistory::~LinkHistory() {
    close();
}

void LinkHistory::close() {
    if (m_db != nullptr)
        sqlite3_close_v2(m_db);
    m_db = nullptr;
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

HistoryDamage LinkHistory::damageOf() {
    const auto unread = [this] {
        return statusOf(sqlite3_errcode(m_db)) == HistoryStatus::Damaged ? HistoryDamage::NotDatabase
                                                                         : HistoryDamage::None;
    };
    Statement version(m_db, "PRAGMA user_version");
    if (!version.ok() || version.step() != SQLITE_ROW)
        return unread();
    const std::int64_t v = version.integer(0);
    if (v > kSchemaVersion)
        return HistoryDamage::NewerSchema;
    Statement tables(m_db, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN "
                           "('scans', 'devices', 'sightings', 'links')");
    if (!tables.ok() || tables.step() != SQLITE_ROW)
        return unread();
    const std::int64_t found = tables.integer(0);
    if (v == 0) {
        Statement any(m_db, "SELECT count(*) FROM sqlite_master");
        if (any.ok() && any.step() == SQLITE_ROW && any.integer(0) != 0)
            return HistoryDamage::ForeignTables;
    } else if (found != static_cast<std::int64_t>(kTables.size())) {
        return HistoryDamage::ForeignTables;
    }
    return HistoryDamage::None;
}

namespace {

// Held while a program opens the history: its first creation, the check for damage and a move aside happen for one
// program at a time, so that no program takes a file that another is just creating for a damaged one. Bounded: a
// lock that is not had in time is opened without, as before.
class OpenLock {
public:
    explicit OpenLock(const fs::path& database) {
        const std::string path = database.string() + ".lock";
        m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (m_fd < 0)
            return;
        for (int i = 0; i < 300; ++i) {
            if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~OpenLock() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    OpenLock(const OpenLock&) = delete;
    OpenLock& operator=(const OpenLock&) = delete;

private:
    int m_fd = -1;
};

} // namespace

HistoryOpenResult LinkHistory::open() {
    close();
    HistoryOpenResult opened;
    if (m_path.empty()) {
        opened.result = {HistoryStatus::Failed, "no link history file"};
        return opened;
    }
    std::error_code ec;
    fs::create_directories(m_path.parent_path(), ec);
    const OpenLock lock(m_path);
    // A FIFO or device node in place of the file is never opened: it could block or feed anything.
    struct stat info {};
    if (::stat(m_path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        opened.result = {HistoryStatus::Failed, "the link history " + m_path.string() + " is not a regular file"};
        return opened;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        HistoryDamage damage = headerDamage(m_path);
        if (damage == HistoryDamage::None) {
            if (sqlite3_open_v2(m_path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
                SQLITE_OK) {
                opened.result = failure("the link history could not be opened");
                close();
                return opened;
            }
            sqlite3_extended_result_codes(m_db, 1);
            sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
            damage = damageOf();
        }
        if (damage == HistoryDamage::None) {
            // Switching the journal mode does not wait for a busy database by itself.
            HistoryResult mode = exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL");
            for (int i = 0; i < 50 && mode.status == HistoryStatus::Busy; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                mode = exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL");
            }
            if (!mode) {
                if (mode.status != HistoryStatus::Damaged) {
                    opened.result = mode;
                    close();
                    return opened;
                }
                damage = HistoryDamage::NotDatabase;
            } else if (HistoryResult migrated = migrate(); !migrated) {
                if (migrated.status != HistoryStatus::Damaged) {
                    opened.result = migrated;
                    close();
                    return opened;
                }
                damage = HistoryDamage::Unreadable;
            } else {
                return opened;
            }
        }
        close();
        if (attempt == 1)
            break;
        opened.damage = damage;
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
    close();
    const OpenLock lock(m_path);
    const fs::path movedTo = moveAside(m_path);
    if (movedTo.empty()) {
        HistoryOpenResult failed;
        failed.result = {HistoryStatus::Damaged,
                         "the link history " + m_path.string() + " is damaged and could not be moved aside"};
        return failed;
    }
    HistoryOpenResult opened = open();
    opened.movedTo = movedTo;
    opened.damage = damage;
    return opened;
}

HistoryResult LinkHistory::migrate() {
    if (HistoryResult begun = exec("BEGIN IMMEDIATE"); !begun)
        return begun;
    // Read again inside the write lock: another program may have migrated meanwhile.
    Statement version(m_db, "PRAGMA user_version");
    std::int64_t v = version.ok() && version.step() == SQLITE_ROW ? version.integer(0) : -1;
    version.finish();
    if (v < 0 || v > kSchemaVersion) {
        HistoryResult failed = v < 0 ? failure("the link history could not be read")
                                     : HistoryResult{HistoryStatus::Damaged, "newer schema"};
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
    Statement sighting(m_db, "INSERT OR REPLACE INTO sightings VALUES(?, ?, ?)");
    Statement link(m_db, "INSERT OR REPLACE INTO links VALUES(?, ?, ?, ?, ?, ?)");
    if (!device.ok() || !sighting.ok() || !link.ok())
        return abandon("the link history could not be written");
    for (const HistoryDeviceRow& d : scan.devices) {
        device.bind(1, macKey(d.mac));
        device.bind(2, d.name);
        device.bind(3, d.firmware);
        device.bind(4, scan.when);
        device.bind(5, d.answered ? 1 : 0);
        sighting.bind(1, macKey(d.mac));
        sighting.bind(2, id);
        sighting.bind(3, d.answered ? 1 : 0);
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
        if (link.step() != SQLITE_DONE)
            return abandon("the link history could not be written");
    }
    if (HistoryResult committed = exec("COMMIT"); !committed) {
        rollback();
        return committed;
    }
    if (scan.when - m_lastPrune >= kDay) {
        m_lastPrune = scan.when;
        return prune(scan.when);
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

HistoryResult LinkHistory::compact(std::time_t now) {
    if (HistoryResult pruned = prune(now); !pruned)
        return pruned;
    if (HistoryResult vacuumed = exec("VACUUM"); !vacuumed)
        return vacuumed;
    return exec("PRAGMA wal_checkpoint(TRUNCATE)");
}

HistoryResult LinkHistory::links(std::time_t since, const std::optional<MacAddress>& device,
                                 std::vector<LinkSeries>& out) {
    out.clear();
    if (m_db == nullptr)
        return {HistoryStatus::Failed, "the link history is not open"};
    Statement query(m_db, "SELECT l.source, l.target, s.at, l.tx, l.rx, l.answered FROM links l "
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
                                      static_cast<std::uint32_t>(query.integer(4)), query.integer(5) != 0});
    }
    if (code != SQLITE_DONE)
        return failure("the link history could not be read");
    return {};
}

HistoryResult LinkHistory::link(const MacAddress& from, const MacAddress& to, std::time_t since, LinkSeries& out) {
    out = {from, to, {}};
    if (m_db == nullptr)
        return {HistoryStatus::Failed, "the link history is not open"};
    Statement query(m_db, "SELECT s.at, l.tx, l.rx, l.answered FROM links l JOIN scans s ON s.id = l.scan "
                          "WHERE l.source = ?1 AND l.target = ?2 AND s.at >= ?3 ORDER BY s.at, s.id");
    if (!query.ok())
        return failure("the link history could not be read");
    query.bind(1, macKey(from));
    query.bind(2, macKey(to));
    query.bind(3, since);
    int code;
    while ((code = query.step()) == SQLITE_ROW)
        out.samples.push_back({static_cast<std::time_t>(query.integer(0)), static_cast<std::uint32_t>(query.integer(1)),
                               static_cast<std::uint32_t>(query.integer(2)), query.integer(3) != 0});
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
