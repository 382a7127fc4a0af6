#pragma once

#include <cstdint>
#include <string>

namespace zrq406 {

// The layout of one control as the language file gives it: its text and its rectangle in pixels.
struct BasicCtrlInfo {
    std::string text;
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// The dialog font as the language file names it; a size of 0 means the platform's default size.
struct DialogFont {
    std::string faceName;
    int tenthsOfPoint = 0;
};

} // namespace zrq406
