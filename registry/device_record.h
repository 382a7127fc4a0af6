#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zrq406 {

#pragma pack(push, 1)
// One device of the latest scan. Every text field holds a NUL-terminated UTF-8 string.
struct DeviceRecord {
    char name[40];
    char mac[24];
    char location[32];
    char quality[20];
    char phyRate[10];
    char led[16];
    char firmware[64];
    char password[30];
    std::int32_t isOwnModel;
};
#pragma pack(pop)
static_assert(sizeof(DeviceRecord) == 240, "DeviceRecord is a packed 240-byte record");

// The devices of the latest scan in discovery order: the local device first, then the remote stations; every
// MAC text occurs once.
struct ScanTable {
    static constexpr int capacity = 100;

    DeviceRecord entries[capacity];
    std::int32_t count;

    // Zeroes all entries and the count.
    void clear();
    // True when one of the used entries has this MAC text.
    bool contains(std::string_view macText) const;
};

} // namespace zrq406
