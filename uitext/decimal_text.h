#pragma once

#include <cstdint>
#include <string_view>

namespace zrq406 {

// A number written as decimal text, read the way the language file and the history file expect: leading blanks
// skipped, an optional sign, then digits up to the first non-digit; 0 when no digit follows. Values beyond the
// 32-bit range are clamped to it.
std::int32_t decimalValue(std::string_view text);

} // namespace zrq406
