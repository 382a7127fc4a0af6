#pragma once

#include "platform/mac_address.h"

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace zrq406::app {

// Where Debian's ieee-data package keeps the IEEE registry list of assigned MAC prefixes.
inline constexpr char kIeeeRegistryList[] = "/usr/share/ieee-data/oui.csv";

// The makers of network hardware by the first three bytes of a MAC, from the IEEE registry list. The list is read
// once, on the first look-up, and only as far as it is sound: a missing or unreadable list, one larger than a
// registry list can be, and lines that are not an assignment of three bytes leave the makers they would name
// unknown. Look-ups may come from any thread.
class HardwareMakers {
public:
    explicit HardwareMakers(std::filesystem::path list = kIeeeRegistryList);
    // The maker that the registry names for the MAC's prefix; nothing when it names none (or there is no list).
    std::optional<std::string> makerOf(const MacAddress& mac);
    // Over the system's registry list, shared by the whole program.
    static HardwareMakers& system();

private:
    void load();

    std::filesystem::path m_list;
    std::once_flag m_loaded;
    std::unordered_map<std::uint32_t, std::string> m_makers;
};

} // namespace zrq406::app
