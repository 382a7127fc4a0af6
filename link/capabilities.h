#pragma once

#include <string>
#include <vector>

namespace zrq406::link {

// The capabilities that raw frames on real interfaces need and this process lacks ("CAP_NET_RAW",
// "CAP_NET_ADMIN"); empty when it has them all.
std::vector<std::string> missingCapabilities();

} // namespace zrq406::link
