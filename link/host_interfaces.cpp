#include "link/host_interfaces.h"

#include "link/listed_interface.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>

namespace zrq406::link {

namespace {

constexpr const char* kGenericDescription = "Ethernet adapter";

// The driver and the bus address as sysfs links them, for interfaces the driver query does not answer for.
std::string sysfsDescription(const std::filesystem::path& interfaceDir) {
    std::error_code error;
    const auto driver = std::filesystem::read_symlink(interfaceDir / "device" / "driver", error);
    if (error)
        return {};
    std::string description = driver.filename().string();
    const auto device = std::filesystem::read_symlink(interfaceDir / "device", error);
    if (!error && !device.filename().empty())
        description += " " + device.filename().string();
    return description;
}

} // namespace

std::string driverDescription(const std::string& interfaceName) {
    if (interfaceName.empty() || interfaceName.size() >= IFNAMSIZ)
        return {};
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return {};
    ethtool_drvinfo info{};
    info.cmd = ETHTOOL_GDRVINFO;
    ifreq request{};
    std::memcpy(request.ifr_name, interfaceName.c_str(), interfaceName.size() + 1);
    request.ifr_data = reinterpret_cast<char*>(&info);
    const int result = ::ioctl(fd, SIOCETHTOOL, &request);
    ::close(fd);
    if (result != 0)
        return {};
    const std::string driver(info.driver, strnlen(info.driver, sizeof info.driver));
    const std::string bus(info.bus_info, strnlen(info.bus_info, sizeof info.bus_info));
    if (driver.empty())
        return {};
    return bus.empty() || bus == "N/A" ? driver : driver + " " + bus;
}

std::vector<InterfaceInfo> listHostInterfaces(const std::filesystem::path& classNet) {
    struct Found {
        long index;
        InterfaceInfo info;
    };
    std::vector<Found> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(classNet, error)) {
        const std::filesystem::path dir = entry.path();
        const std::string name = dir.filename().string();
        if (!isListedInterface(dir))
            continue;
        std::string description = driverDescription(name);
        if (description.empty())
            description = sysfsDescription(dir);
        if (description.empty())
            description = kGenericDescription;
        found.push_back({sysfsNumber(dir / "ifindex", LONG_MAX), {name, description}});
    }
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return a.index != b.index ? a.index < b.index : a.info.name < b.info.name;
    });
    std::vector<InterfaceInfo> interfaces;
    interfaces.reserve(found.size());
    for (Found& f : found)
        interfaces.push_back(std::move(f.info));
    return interfaces;
}

std::optional<MacAddress> interfaceHardwareAddress(const std::string& interfaceName) {
    if (interfaceName.size() >= IFNAMSIZ)
        return std::nullopt;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return std::nullopt;
    ifreq request{};
    std::memcpy(request.ifr_name, interfaceName.c_str(), interfaceName.size() + 1);
    const int result = ::ioctl(fd, SIOCGIFHWADDR, &request);
    ::close(fd);
    if (result != 0 || request.ifr_hwaddr.sa_family != ARPHRD_ETHER)
        return std::nullopt;
    MacAddress mac;
    std::memcpy(mac.bytes.data(), request.ifr_hwaddr.sa_data, mac.bytes.size());
    return mac;
}

} // namespace zrq406::link
