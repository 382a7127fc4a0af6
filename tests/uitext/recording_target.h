#pragma once

#include "uitext/control_target.h"

#include <array>
#include <string>
#include <vector>

namespace zrq406::test {

// A control that remembers what the loader set on it.
struct RecordingTarget : ControlTarget {
    std::vector<std::string> texts;
    std::vector<std::array<int, 4>> rects;

    void setText(const std::string& text) override { texts.push_back(text); }
    void setGeometry(int x, int y, int width, int height) override { rects.push_back({x, y, width, height}); }
};

} // namespace zrq406::test
