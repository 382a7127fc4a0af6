#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace zrq406 {

// Language texts are never used as formats. Each "%s" is replaced, in order, by the next value, as plain text (a
// value is never read for placeholders itself); a "%s" left without a value and every other "%" stay as they stand.
std::string fillPlaceholders(std::string_view text, std::initializer_list<std::string_view> values);

// The text with each "%%" shown as one "%", as a formatting call without values would show it; every other "%"
// stays as it stands.
std::string collapsePercent(std::string_view text);

} // namespace zrq406
