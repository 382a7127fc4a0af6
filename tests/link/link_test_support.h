#pragma once

#include "link/link_backend.h"
#include "link/packet_library.h"
#include "link/sim_segment.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace zrq406::link::test {

// A scripted station on a simulated segment: keeps what reaches it and transmits what the test asks.
class Endpoint {
public:
    explicit Endpoint(std::shared_ptr<SimSegment> segment);
    ~Endpoint();
    void transmit(const std::vector<std::uint8_t>& frame);
    std::vector<std::vector<std::uint8_t>> received();
    // Waits, at most `bound`, until `frame` has reached the station; false if it has not.
    bool waitFor(const std::vector<std::uint8_t>& frame, std::chrono::milliseconds bound);

private:
    struct Inbox {
        std::mutex mutex;
        std::condition_variable arrived;
        std::vector<std::vector<std::uint8_t>> frames;
    };
    std::shared_ptr<SimSegment> m_segment;
    std::shared_ptr<Inbox> m_inbox;
    int m_port;
};

// An Ethernet frame of `length` bytes: destination, source, type, then `fill` with the byte index mixed in.
std::vector<std::uint8_t> makeFrame(std::size_t length, std::uint16_t etherType = 0x88E1, std::uint8_t fill = 0,
                                    MacAddress destination = MacAddress::broadcast(),
                                    MacAddress source = MacAddress{{0x02, 0, 0, 0, 0, 0x99}});

// Waits (bounded, so that a broken library fails the test instead of hanging it) until the library has
// completed at least `target` reads in all.
bool waitForCompletions(PacketLibrary& library, std::uint64_t target);

// A simulated host adapter on a segment of its own.
SimHostAdapter simAdapter(const std::string& name, std::uint8_t macLastByte, const std::string& description = "");

// A backend over the simulated one whose host list and library list can differ, counting the ports it has open.
class ScriptedBackend : public LinkBackend {
public:
    explicit ScriptedBackend(std::vector<SimHostAdapter> adapters);

    std::vector<InterfaceInfo> hostInterfaces() override;
    std::vector<std::string> libraryInterfaces() override;
    std::unique_ptr<LinkPort> open(const std::string& name, std::string& error) override;

    std::optional<std::vector<InterfaceInfo>> hostList;
    std::optional<std::vector<std::string>> libraryList;
    int openPorts() const { return m_openPorts->load(); }
    int opened() const { return m_opened; }

private:
    std::shared_ptr<LinkBackend> m_sim;
    std::shared_ptr<std::atomic<int>> m_openPorts = std::make_shared<std::atomic<int>>(0);
    int m_opened = 0;
};

} // namespace zrq406::link::test
