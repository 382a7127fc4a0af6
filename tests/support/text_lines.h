#pragma once

#include <sstream>
#include <string>

namespace zrq406::test {

// How many lines of `text` begin with `start`.
inline int linesStarting(const std::string& text, const std::string& start) {
    std::istringstream lines(text);
    int count = 0;
    for (std::string line; std::getline(lines, line);)
        count += line.rfind(start, 0) == 0 ? 1 : 0;
    return count;
}

} // namespace zrq406::test
