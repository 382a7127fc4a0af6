#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zrq406 {

// The value of a hexadecimal digit, or -1.
int hexDigitValue(char c);
// Two lowercase hexadecimal digits per byte.
std::string hexText(std::span<const std::uint8_t> bytes);
// The bytes of a text of hexadecimal digit pairs (any case); nothing for anything else.
std::optional<std::vector<std::uint8_t>> parseHexText(std::string_view text);

} // namespace zrq406
