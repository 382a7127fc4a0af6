#pragma once

#include "platform/host_information.h"

#include <string>
#include <string_view>
#include <vector>

namespace zrq406::app {

class Session;

// What the diagnostics page lists and the report holds about this computer: what helps a support call.
struct SystemInformation {
    HostInformation host;
    std::string adapter;    // the adapter in use (and every usable adapter's interface when there are several)
    std::string adapterMac; // its hardware address
    int devicesFound = 0;
    std::string lastScan;
    std::string version; // the program's version, the GUI toolkit's and the capture library's

    // The eleven values in the order of the list's labels (MACConfigTab/listView2/.../Value1 .. Value11): computer
    // name, user name, processor, operating system, its version, memory, network adapter, its MAC address,
    // powerline devices found, last scan, program version.
    std::vector<std::string> values() const;
};

// Gathers the facts of this computer, the adapters of `session` (none when it is null or not open), the number
// of devices that the last scan found, and the versions; `toolkit` names the GUI library ("Qt 6.4.2"), if any.
SystemInformation gatherSystemInformation(Session* session, int devicesFound, std::string lastScan,
                                          std::string_view toolkit, const HostSources& sources = {});

} // namespace zrq406::app
