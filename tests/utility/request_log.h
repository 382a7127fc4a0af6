#pragma once

#include "sim/network.h"

#include <mutex>
#include <string>
#include <vector>

namespace zrq406::test {

// Counts the requests that the simulated devices handle, by their log lines ("<time> <device> <request> ...").
class RequestLog {
public:
    explicit RequestLog(sim::Network& network) : m_network(network) {
        network.setRequestLog([this](const std::string& line) {
            std::lock_guard lock(m_mutex);
            m_lines.push_back(line);
        });
    }
    ~RequestLog() { m_network.setRequestLog(nullptr); }
    RequestLog(const RequestLog&) = delete;
    RequestLog& operator=(const RequestLog&) = delete;

    // Requests of a kind ("set-key", "read-module", ...), optionally only those a given device handled.
    int count(const std::string& request, const std::string& device = "") {
        std::lock_guard lock(m_mutex);
        int n = 0;
        for (const auto& line : m_lines)
            n += line.find(" " + request + " ") != std::string::npos &&
                         (device.empty() || line.find(" " + device + " ") != std::string::npos)
                     ? 1
                     : 0;
        return n;
    }

private:
    sim::Network& m_network;
    std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

} // namespace zrq406::test
