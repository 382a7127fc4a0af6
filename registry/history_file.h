#pragma once

#include "platform/atomic_file.h"
#include "registry/history_record.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace zrq406 {

#pragma pack(push, 1)
// One record of "devices.dat" as it lies in the file (little-endian); the reserved bytes are written as zero
// and ignored on reading.
struct HistoryFileRecord {
    std::uint8_t reserved0[4];
    char mac[24];
    char name[40];
    std::uint8_t reserved1[32];
    char password[25];
    char led[16];
    char lastSeen[50];
    char firmware[64];
    std::uint8_t reserved2[1];
    std::uint8_t phyRate[4]; // int32, the record's PHY rate text as a number
    std::uint8_t reserved3[4];
    char location[32];
};
#pragma pack(pop)
static_assert(sizeof(HistoryFileRecord) == 296, "a devices.dat record is 296 bytes");
static_assert(offsetof(HistoryFileRecord, mac) == 4);
static_assert(offsetof(HistoryFileRecord, name) == 28);
static_assert(offsetof(HistoryFileRecord, password) == 100);
static_assert(offsetof(HistoryFileRecord, led) == 125);
static_assert(offsetof(HistoryFileRecord, lastSeen) == 141);
static_assert(offsetof(HistoryFileRecord, firmware) == 191);
static_assert(offsetof(HistoryFileRecord, phyRate) == 256);
static_assert(offsetof(HistoryFileRecord, location) == 264);

// What a load found.
struct HistoryLoadResult {
    bool opened = false;
    // The record count stored at the head of the file.
    std::int32_t storedCount = 0;
    // Records unpacked into the table (at most the table's capacity, at most what the file holds).
    std::int32_t loaded = 0;
    // Why a file that is there was not read (it is no regular file, or unreadable); empty otherwise.
    std::string error;
};

// The device history file "devices.dat": an int32 record count followed by that many 296-byte records, no
// header, no checksum. The upgrade tool reads the same file.
class HistoryFile {
public:
    explicit HistoryFile(std::filesystem::path path) : m_path(std::move(path)) {}

    const std::filesystem::path& path() const { return m_path; }
    void setPath(std::filesystem::path path) { m_path = std::move(path); }

    // True when the file can be read and its stored record count is at least 1.
    bool hasData() const;
    // Reads the records into table entries 0.. and sets the table's file count to the number read. A count
    // above the table's capacity reads only what fits; a negative count reads none; a short file ends at its
    // last whole or partial record.
    HistoryLoadResult load(HistoryTable& table) const;
    // Writes records 0 .. count - 1 (count bounded by the capacity) and stores the count as the table's file
    // count. The file is written beside the old one under a temporary name with mode 0600 and renamed over it,
    // so a failed write leaves the previous history intact.
    FileWriteResult save(HistoryTable& table, int count) const;

    // The 296 bytes of one record as the file holds it.
    static HistoryFileRecord pack(const HistoryRecord& record);
    // One record of the file as the table holds it; every text comes out terminated.
    static HistoryRecord unpack(const HistoryFileRecord& stored);

private:
    std::filesystem::path m_path;
};

} // namespace zrq406
