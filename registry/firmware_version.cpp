#include "registry/firmware_version.h"

#include <cstdint>
#include <limits>

namespace zrq406 {

int ParseBuildNumber(std::string_view text, int stop) {
    constexpr std::int64_t limit = std::numeric_limits<int>::max();
    std::int64_t value = 0;
    std::int64_t weight = 1;
    const std::int64_t lowest = stop < 0 ? 0 : std::int64_t{stop} + 1;
    for (std::int64_t at = static_cast<std::int64_t>(text.size()) - 1; at >= lowest; --at) {
        const char c = text[static_cast<std::size_t>(at)];
        if (c == '-')
            continue;
        if (c < '0' || c > '9')
            break;
        if (c != '0' && weight > limit)
            return static_cast<int>(limit);
        value += (c - '0') * weight;
        if (value > limit)
            return static_cast<int>(limit);
        // Once the weight is past the range, only zeros may follow without clamping.
        if (weight <= limit)
            weight *= 10;
    }
    return static_cast<int>(value);
}

bool NeedsFirmwareUpgrade(std::string_view firmware, int highestCeBuild, int highestNaBuild) {
    if (firmware.find("3-3-3348-00-2764") == std::string_view::npos)
        return true;
    const int build = ParseBuildNumber(firmware, 0);
    if (firmware.find("CE") != std::string_view::npos && build < highestCeBuild)
        return true;
    return firmware.find("NA") != std::string_view::npos && build < highestNaBuild;
}

} // namespace zrq406
