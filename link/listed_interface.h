#pragma once

#include <filesystem>
#include <string>

namespace zrq406::link {

// A number from a small sysfs attribute (decimal, or hexadecimal with 0x), or `fallback` when it holds none.
long sysfsNumber(const std::filesystem::path& file, long fallback);

// The one rule by which the programs list a host interface and the frame helper agrees to open one: Ethernet
// hardware (ARPHRD_ETHER), neither loopback nor wireless. `interfaceDir` is its folder under /sys/class/net.
bool isListedInterface(const std::filesystem::path& interfaceDir);

// Why the frame helper refuses to open the interface `name`, whose index the kernel gives as `index`; empty when
// it may. It opens only an interface that the programs list, and only when the folder of that name under
// `classNet` is the interface's own (a /sys of another network namespace names other interfaces).
std::string interfaceRefusal(const std::string& name, int index,
                             const std::filesystem::path& classNet = "/sys/class/net");

} // namespace zrq406::link
