#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace zrq406 {

// Texts from devices and files (version and platform texts, names, upgrade file versions) may hold any bytes.
// These make them safe to show.

// The text as valid UTF-8: every byte that does not belong to a well-formed UTF-8 sequence (overlong forms,
// surrogates and code points above U+10FFFF included) is replaced by U+FFFD, so the damage stays visible.
std::string validUtf8(std::string_view text);

// validUtf8, and every control character (C0, DEL, C1) replaced by U+FFFD as well, so that nothing a device sends
// can move the cursor, change colours or send escape sequences to a terminal.
std::string terminalText(std::string_view text);

// A moment in this computer's local time, written with a strftime format ("%Y-%m-%d %H:%M"); at most 63 bytes.
std::string localTimeText(std::time_t when, const char* format);

} // namespace zrq406
