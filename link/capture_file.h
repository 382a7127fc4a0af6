#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <span>
#include <string>

namespace zrq406::link {

// A pcap file (Ethernet link type) that Wireshark opens; every write is flushed so a crash loses nothing.
class CaptureFile {
public:
    ~CaptureFile();
    // Creates or truncates the file; false with `error` set when it cannot be written.
    bool open(const std::string& path, std::string& error);
    // Writes one frame with its arrival time (nanoseconds since the epoch; 0 = now).
    void write(std::span<const std::uint8_t> frame, std::uint64_t nanoseconds = 0);

private:
    std::mutex m_mutex;
    std::FILE* m_file = nullptr;
};

} // namespace zrq406::link
