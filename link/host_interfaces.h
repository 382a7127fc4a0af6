#pragma once

#include "link/link_backend.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace zrq406::link {

// The Ethernet interfaces listed under `classNet` (normally /sys/class/net), in interface-index order: those that
// isListedInterface() admits (type 1, neither loopback nor wireless), the same rule by which the frame helper
// opens one. Virtual Ethernet (veth, bridges' ports) is included.
std::vector<InterfaceInfo> listHostInterfaces(const std::filesystem::path& classNet = "/sys/class/net");

// "driver bus-address" as the driver reports it (e.g. "e1000e 0000:00:19.0", "veth"); empty when unknown.
std::string driverDescription(const std::string& interfaceName);

// The interface's Ethernet address; nothing when it has none or cannot be asked. Needs no privilege.
std::optional<MacAddress> interfaceHardwareAddress(const std::string& interfaceName);

} // namespace zrq406::link
