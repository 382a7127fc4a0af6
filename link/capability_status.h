#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zrq406::link {

// The raw-frame capabilities missing from the effective set of a /proc/<pid>/status text; empty when the text
// carries no readable effective set.
std::vector<std::string> missingCapabilitiesIn(std::string_view procStatus);

} // namespace zrq406::link
