#pragma once

#include "platform/mac_address.h"

#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct sqlite3;

namespace zrq406::app {

// One direction of one powerline link as a scan saw it.
struct HistoryLinkRow {
    MacAddress from;
    MacAddress to;
    std::uint32_t transmitRate = 0; // Mbit/s
    std::uint32_t receiveRate = 0;  // Mbit/s
    bool answered = true;           // false when the far device did not answer in this scan
    std::optional<double> pbErrorRate{}; // of the direction from -> to, 0..1; kept for the local device's links
};

// One device as a scan saw it.
struct HistoryDeviceRow {
    MacAddress mac;
    std::string name;
    std::string firmware;
    bool answered = true;
};

// What one scan hands to the history.
struct HistoryScan {
    std::time_t when = 0;
    std::vector<HistoryDeviceRow> devices;
    std::vector<HistoryLinkRow> links;
};

// One scan's figures of one link.
struct LinkSample {
    std::time_t when = 0;
    std::uint32_t transmitRate = 0;
    std::uint32_t receiveRate = 0;
    bool answered = true;
    std::optional<double> pbErrorRate{}; // from -> to, 0..1; unknown before schema 2 and for other links
};

// A link's samples in time order.
struct LinkSeries {
    MacAddress from;
    MacAddress to;
    std::vector<LinkSample> samples;
};

// When a device was seen, with the name and firmware of the last scan that saw it.
struct DeviceSighting {
    MacAddress mac;
    std::string name;
    std::string firmware;
    std::time_t firstSeen = 0;
    std::time_t lastSeen = 0;
    bool lastAnswered = true;
};

// One scan's time and the devices it saw, each with whether it answered.
struct ScanSightings {
    std::time_t when = 0;
    std::vector<std::pair<MacAddress, bool>> devices;
};

// A device's firmware text changed between two scans that saw it (texts of scans it did not answer aside).
struct FirmwareChange {
    MacAddress mac;
    std::time_t when = 0; // the scan that saw the new firmware first
    std::string before;
    std::string after;
};

enum class HistoryStatus {
    Ok,
    Busy,    // another program held the database longer than we wait
    Full,    // the disk (or the file size limit) is full
    Damaged, // the file is not a sound history
    Refused, // a newer version's history or another program's database: left as it is, never written
    Failed   // any other failure (folder not writable, file not regular, ...)
};

// The outcome of a history operation; `error` in plain words.
struct [[nodiscard]] HistoryResult {
    HistoryStatus status = HistoryStatus::Ok;
    std::string error;
    explicit operator bool() const { return status == HistoryStatus::Ok; }
};

// What was wrong with a history file: why it was moved aside, or (newer schema, foreign tables) left alone.
enum class HistoryDamage {
    None,
    NotDatabase,   // not an SQLite database at all
    Truncated,     // shorter than its header says
    NewerSchema,   // written by a newer version of the programs
    ForeignTables, // a database, but not a link history
    Unreadable     // damage that showed only while in use, or that SQLite's quick check found
};

// The outcome of opening: a damaged file was moved to `movedTo` (and why) before a new history was started. A file
// refused as it stands (status Refused) has `damage` NewerSchema or ForeignTables and an empty `movedTo`.
struct [[nodiscard]] HistoryOpenResult {
    HistoryResult result;
    std::filesystem::path movedTo;
    HistoryDamage damage = HistoryDamage::None;
    explicit operator bool() const { return static_cast<bool>(result); }
};

// The link history: every scan's devices and link rates in one SQLite database that several programs may write at
// once (WAL, short transactions, bounded waits). Scans older than the retention limit are pruned as new ones come.
// The lock file beside the database is held while a program creates the file, checks it for damage, moves it
// aside or copies the write-ahead log into it (a checkpoint), so that no program takes a file for damaged or moves
// it while another is writing it. One connection per object; an object is used by one thread at a time.
class LinkHistory {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kDefaultRetentionDays = 90;
    static constexpr int kSchemaVersion = 2;
    // How long one wait for another program lasts when no deadline is set.
    static constexpr std::chrono::milliseconds kBusyTimeout{3000};

    explicit LinkHistory(std::filesystem::path path, int retentionDays = kDefaultRetentionDays);
    ~LinkHistory();
    LinkHistory(const LinkHistory&) = delete;
    LinkHistory& operator=(const LinkHistory&) = delete;

    // $ZRQ406_LINK_HISTORY when set ("none" turns recording off: an empty path), else link-history.db in the
    // user's data folder.
    static std::filesystem::path defaultPath();
    // $ZRQ406_LINK_HISTORY_DAYS when it is a positive number, else the default.
    static int retentionDaysFromEnvironment();

    // Every later wait for another program (the lock file, a busy database) and the damage check end by
    // `deadline`; past it a call fails with Busy instead of waiting. Without one, each wait lasts kBusyTimeout.
    void setDeadline(std::optional<Clock::time_point> deadline) { m_deadline = deadline; }

    // Opens or creates the database and brings its schema up to date. A file that is not a whole database, or that
    // fails SQLite's quick check, is moved aside and a new history started; the result says so. A newer
    // version's history or another program's database is refused (status Refused) and left exactly as it is.
    HistoryOpenResult open();
    // Closes a history found damaged while in use; when the quick check confirms the damage, moves it aside and
    // starts a new one, else opens it again.
    HistoryOpenResult setAside(HistoryDamage damage);
    bool isOpen() const { return m_db != nullptr; }
    const std::filesystem::path& path() const { return m_path; }
    int retentionDays() const { return m_retentionDays; }

    // Appends one scan in one transaction; prunes at most once a day of scan time.
    HistoryResult append(const HistoryScan& scan);
    // Each link's samples since `since`, only links from or to `device` when given; in link order, then time.
    HistoryResult links(std::time_t since, const std::optional<MacAddress>& device, std::vector<LinkSeries>& out);
    // One link's samples since `since`, in time order.
    HistoryResult link(const MacAddress& from, const MacAddress& to, std::time_t since, LinkSeries& out);
    // Every device with the times it was first and last seen, most recently seen first.
    HistoryResult devices(std::vector<DeviceSighting>& out);
    // Deletes every scan older than the retention limit before `now`, and the devices last seen before it.
    HistoryResult prune(std::time_t now);
    // Prunes, then gives the freed pages back to the file system.
    HistoryResult compact(std::time_t now);
    // The scans at `from` .. `to`, in time order, each with the devices it saw.
    HistoryResult sightings(std::time_t from, std::time_t to, std::vector<ScanSightings>& out);
    // The firmware changes found by the scans at `from` .. `to`, in time order. Each sighting keeps the firmware
    // text only where it differs from the one the device ran before (and on its first), so a change is told
    // whatever came between; an empty text (a device that did not answer) is never one.
    HistoryResult firmwareChanges(std::time_t from, std::time_t to, std::vector<FirmwareChange>& out);
    // The times of the newest `count` scans at or before `until`, newest first.
    HistoryResult scanTimes(std::time_t until, int count, std::vector<std::time_t>& out);
    // The number of scans stored.
    HistoryResult scanCount(std::int64_t& out);

private:
    class Lock;

    HistoryResult failure(const std::string& what) const;
    HistoryResult exec(const char* sql);
    void rollback();
    HistoryOpenResult openHeld(Lock& lock, HistoryDamage suspected);
    HistoryResult connect(HistoryDamage& damage, bool check);
    HistoryResult useWal();
    HistoryResult migrate();
    HistoryResult keepFirmware(std::int64_t cutoff);
    HistoryResult classify(HistoryDamage& damage);
    HistoryResult quickCheck(HistoryDamage& damage);
    void checkpointIfDue();
    void close(Lock* held = nullptr, bool checkpoint = true);
    Clock::time_point waitEnd() const;
    static int busyWait(void* self, int count);
    static int walCommitted(void* self, sqlite3* db, const char* name, int frames);

    std::filesystem::path m_path;
    int m_retentionDays;
    sqlite3* m_db = nullptr;
    std::time_t m_lastPrune = 0;
    std::optional<Clock::time_point> m_deadline;
    Clock::time_point m_waitStart{};
    int m_walFrames = 0;     // frames in the write-ahead log after this connection's last commit
    bool m_foundWal = false; // the log was there before this connection opened the file
};

} // namespace zrq406::app
