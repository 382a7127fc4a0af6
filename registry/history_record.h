#pragma once

#include <cstddef>
#include <cstdint>

namespace zrq406 {

#pragma pack(push, 1)
// One device of the device history. Every text field holds a NUL-terminated UTF-8 string.
struct HistoryRecord {
    char name[40];
    char mac[24];
    char location[32];
    char phyRate[10];
    char led[16];
    char lastSeen[50];
    char firmware[64];
    char password[25];
};
#pragma pack(pop)
static_assert(sizeof(HistoryRecord) == 261, "HistoryRecord is a packed 261-byte record");
// A scan refreshes everything of a known device but its password, which lies last.
static_assert(offsetof(HistoryRecord, password) == 236);

// Every device seen and not deleted by the user.
struct HistoryTable {
    static constexpr int capacity = 100;

    HistoryRecord records[capacity];
    // Records read by the last load or written by the last save.
    std::int32_t fileCount;
    // Records filled in this run; a new device is appended at this index.
    std::int32_t inUseCount;

    // Zeroes all records and the in-use count; the file count is kept.
    void clear();
};

} // namespace zrq406
