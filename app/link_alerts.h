#pragma once

#include "app/link_history.h"
#include "platform/mac_address.h"

#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace zrq406::app {

enum class AlertKind {
    LinkSlow,       // a link's rate stayed below kSlowShare of its own 24-hour median for kSlowScans scans running
    DeviceLost,     // a device that answered in the scan before did not answer (or was not seen) in this one
    DeviceNew,      // the first sighting of a device
    FirmwareChanged // a device's firmware text differs from the one seen before
};

// "link_slow", "device_lost", "device_new", "firmware_changed": the event types of the monitor and the JSON.
std::string_view alertKindName(AlertKind kind);

// One alert, raised by the scan at `when`.
struct Alert {
    AlertKind kind = AlertKind::DeviceNew;
    std::time_t when = 0;
    MacAddress device;        // link_slow: the sending end of the link
    MacAddress peer;          // link_slow: the receiving end; else zero
    std::string name;         // the device's name as the history last saw it
    std::uint32_t rate = 0;   // link_slow: the transmit rate of the scan that raised it, Mbit/s
    std::uint32_t median = 0; // link_slow: the link's median over the 24 hours before that scan, Mbit/s
    std::string before;       // firmware_changed: the firmware seen before
    std::string after;        // firmware_changed: the firmware seen now
};

// A link is slow in a scan when its transmit rate is below this share of its median over the past 24 hours.
inline constexpr double kSlowShare = 0.6;
// An alert is raised when the third slow scan in a row comes; not again until a scan finds the link recovered.
inline constexpr int kSlowScans = 3;
inline constexpr std::time_t kMedianSpan = 24 * 60 * 60;

// Every alert raised by the history's scans at `from` .. `to` (both inclusive), oldest first: link_slow,
// device_lost, device_new and firmware_changed (the firmware the device ran in the scan before that told it).
HistoryResult historyAlerts(LinkHistory& history, std::time_t from, std::time_t to, std::vector<Alert>& out);

// Follows one history as a program records its scans, and tells the alerts each new scan raised. Its work per
// scan is bounded by the 24 hours of link samples that the medians need; it keeps one firmware text per device.
class AlertWatch {
public:
    // Notes each device's firmware. Call it before recording the first scan, so that a firmware change found by
    // that scan is told; without it, the first newest() only notes the firmware.
    HistoryResult start(LinkHistory& history);
    // The alerts raised by the newest scan in `history` (call it after recording each scan), oldest kind first:
    // those of historyAlerts() for that scan, and a firmware_changed for every device whose firmware differs from
    // the one noted at the previous call.
    HistoryResult newest(LinkHistory& history, std::vector<Alert>& out);

private:
    std::map<MacAddress, std::string> m_firmware;
    bool m_started = false;
};

// One line of English for logs and the command line, e.g.
// "link 02:00:00:00:00:01 -> 02:00:00:00:00:02 slow: 40 Mbit/s, median 120 Mbit/s".
std::string alertText(const Alert& alert);

} // namespace zrq406::app
