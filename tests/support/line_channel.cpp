#include "tests/support/line_channel.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace zrq406::testsupport {

LineChannel::LineChannel(int readFd, int writeFd) : m_readFd(readFd), m_writeFd(writeFd) {}

LineChannel::~LineChannel() {
    ::close(m_readFd);
    ::close(m_writeFd);
}

bool LineChannel::sendLine(const std::string& line) {
    const std::string data = line + "\n";
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t written = ::write(m_writeFd, data.data() + done, data.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        done += static_cast<std::size_t>(written);
    }
    return true;
}

std::optional<std::string> LineChannel::receiveLine(std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        const std::size_t newline = m_buffered.find('\n');
        if (newline != std::string::npos) {
            std::string line = m_buffered.substr(0, newline);
            m_buffered.erase(0, newline + 1);
            return line;
        }
        const auto remaining =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (remaining.count() <= 0)
            return std::nullopt;
        pollfd descriptor{m_readFd, POLLIN, 0};
        const int ready = ::poll(&descriptor, 1, static_cast<int>(remaining.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            continue;
        char chunk[4096];
        const ssize_t got = ::read(m_readFd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return std::nullopt;
        m_buffered.append(chunk, static_cast<std::size_t>(got));
    }
}

} // namespace zrq406::testsupport
