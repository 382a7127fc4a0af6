#pragma once

#include <string_view>

namespace zrq406 {

// The suite's version as the build set it (the CMake project version, e.g. "0.1.0").
std::string_view programVersion();

} // namespace zrq406
