#pragma once

#include <string_view>

namespace zrq406 {

// The build number at the end of a firmware version text: read backwards from the last character down to, but
// not including, index `stop`; '-' is skipped, digits are accumulated least significant first, and the first
// other character ends the number (0 when there is no digit). Clamped to the int range.
int ParseBuildNumber(std::string_view text, int stop);

// True when a device with this firmware text should be offered the upgrade: it lacks the reference base
// "3-3-3348-00-2764", or its build is below the newest CE or NA image found beside the program.
bool NeedsFirmwareUpgrade(std::string_view firmware, int highestCeBuild, int highestNaBuild);

} // namespace zrq406
