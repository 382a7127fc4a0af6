#include "link/capabilities.h"

#include "link/capability_status.h"

#include <cstdint>
#include <fstream>
#include <iterator>

namespace zrq406::link {

namespace {

constexpr int kCapNetAdmin = 12;
constexpr int kCapNetRaw = 13;

} // namespace

std::vector<std::string> missingCapabilitiesIn(std::string_view procStatus) {
    constexpr std::string_view key = "CapEff:";
    std::size_t at = 0;
    while (at < procStatus.size()) {
        std::size_t end = procStatus.find('\n', at);
        if (end == std::string_view::npos)
            end = procStatus.size();
        const std::string_view line = procStatus.substr(at, end - at);
        at = end + 1;
        if (line.substr(0, key.size()) != key)
            continue;
        std::string_view digits = line.substr(key.size());
        while (!digits.empty() && (digits.front() == ' ' || digits.front() == '\t'))
            digits.remove_prefix(1);
        if (digits.empty() || digits.size() > 16)
            return {};
        std::uint64_t effective = 0;
        for (const char c : digits) {
            int value = -1;
            if (c >= '0' && c <= '9')
                value = c - '0';
            else if (c >= 'a' && c <= 'f')
                value = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                value = c - 'A' + 10;
            if (value < 0)
                return {};
            effective = effective << 4 | static_cast<std::uint64_t>(value);
        }
        std::vector<std::string> missing;
        if ((effective >> kCapNetRaw & 1) == 0)
            missing.emplace_back("CAP_NET_RAW");
        if ((effective >> kCapNetAdmin & 1) == 0)
            missing.emplace_back("CAP_NET_ADMIN");
        return missing;
    }
    return {};
}

std::vector<std::string> missingCapabilities() {
    // Where the effective set cannot be read nothing is claimed missing; opening an interface then reports the
    // permission problem itself.
    std::ifstream in("/proc/self/status");
    const std::string status((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return missingCapabilitiesIn(status);
}

} // namespace zrq406::link
