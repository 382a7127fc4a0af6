#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

namespace zrq406::app {

// One device that the upgrade tool's search found in need of new firmware.
struct UpgradeDevice {
    static constexpr std::size_t textLimit = 200;

    int index = 0;        // its row in the device list
    std::string name;     // from the device history, else the list's default name
    std::string mac;      // "aa:bb:cc:dd:ee:ff"
    std::string firmware; // the version text the device reports
    bool isLocal = false; // the device behind the chosen adapter
    int region = 0;       // 1 for "-CE-", 2 for "-NA-", 0 for neither
};

// The devices still to deal with, in the order found; the head is the device the wizard asks about. Filled by
// the search on a worker while the wizard waits, read and shrunk by the pages on the window thread: the page
// sequence keeps the two apart.
class UpgradeQueue {
public:
    // Appends a device; its texts are cut to their limit on a character boundary and its index is its position.
    void append(UpgradeDevice device);
    bool empty() const { return m_devices.empty(); }
    int size() const { return static_cast<int>(m_devices.size()); }
    const UpgradeDevice& head() const { return m_devices.front(); }
    // Drops the head (nothing when empty).
    void removeHead();
    void clear() { m_devices.clear(); }
    bool contains(std::string_view mac) const;
    const std::deque<UpgradeDevice>& devices() const { return m_devices; }

private:
    std::deque<UpgradeDevice> m_devices;
};

} // namespace zrq406::app
