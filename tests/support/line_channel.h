#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace zrq406::testsupport {

// One end of a pair of pipes between a test and a child process, carrying text lines.
class LineChannel {
public:
    LineChannel(int readFd, int writeFd);
    ~LineChannel();
    LineChannel(const LineChannel&) = delete;
    LineChannel& operator=(const LineChannel&) = delete;

    // Writes `line` and a newline; false when the other end is gone.
    bool sendLine(const std::string& line);
    // The next line (without its newline), or nullopt at the deadline or when the other end closed.
    std::optional<std::string> receiveLine(std::chrono::steady_clock::time_point deadline);

private:
    int m_readFd;
    int m_writeFd;
    std::string m_buffered;
};

} // namespace zrq406::testsupport
