#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zrq406::app {

// The device passwords that the user has proved in this run, by MAC text. A scan gives every device the password
// of its entry, so the password column survives rescans.
class DevicePasswordTable {
public:
    static constexpr int capacity = 100;

    struct Entry {
        char mac[24];
        char password[30];
    };

    // Keeps a proved password: replaces the entry of that MAC, else appends one; when all entries are taken by
    // other devices, the oldest entry makes room.
    void remember(std::string_view macText, std::string_view password);
    // The password of a MAC, if one was proved.
    std::optional<std::string> find(std::string_view macText) const;
    int count() const { return m_count; }
    const Entry& entry(int index) const { return m_entries[index]; }

private:
    Entry m_entries[capacity] = {};
    int m_count = 0;
};

} // namespace zrq406::app
