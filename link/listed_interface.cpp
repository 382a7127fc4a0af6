#include "link/listed_interface.h"

#include <fstream>
#include <system_error>

namespace zrq406::link {

namespace {

constexpr long kArpHardwareEther = 1;
constexpr long kInterfaceLoopbackFlag = 0x8;

} // namespace

long sysfsNumber(const std::filesystem::path& file, long fallback) {
    std::ifstream in(file);
    std::string text;
    std::getline(in, text);
    if (text.empty())
        return fallback;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 0);
    return end == text.c_str() ? fallback : value;
}

bool isListedInterface(const std::filesystem::path& interfaceDir) {
    if (sysfsNumber(interfaceDir / "type", -1) != kArpHardwareEther)
        return false;
    if ((sysfsNumber(interfaceDir / "flags", 0) & kInterfaceLoopbackFlag) != 0)
        return false;
    std::error_code ignored;
    return !std::filesystem::exists(interfaceDir / "wireless", ignored) &&
           !std::filesystem::exists(interfaceDir / "phy80211", ignored);
}

std::string interfaceRefusal(const std::string& name, int index, const std::filesystem::path& classNet) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos || index <= 0)
        return "not an interface name";
    const std::filesystem::path dir = classNet / name;
    if (sysfsNumber(dir / "ifindex", -1) != index)
        return "not listed in " + classNet.string() + " as this network namespace's interface";
    if (!isListedInterface(dir))
        return "not an Ethernet interface that the programs list (the frame helper opens no other)";
    return {};
}

} // namespace zrq406::link
