#pragma once

#include "link/link_backend.h"
#include "platform/mac_address.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace zrq406::link {

// An in-process Ethernet segment: a hub to which host adapters and simulated stations attach. Every frame
// transmitted by one port is delivered to every other port, on the transmitting thread, together with the
// moment it reaches them: a station that answers after a delay hands its answer over at once, and the
// receiving port keeps it until then, so the answer is on time whatever thread is busy meanwhile.
class SimSegment {
public:
    using Clock = std::chrono::steady_clock;
    // Gets a frame and the moment it reaches the port; the port must not pass it on before that moment.
    using Receiver = std::function<void(std::span<const std::uint8_t> frame, Clock::time_point arrives)>;

    // Attaches a port; `receiver` gets every frame that another port transmits. Returns the port id.
    int attach(Receiver receiver);
    void detach(int port);
    // Delivers `frame` to every other attached port, to reach them at `arrives` (at once by default, or when
    // that moment has passed). Receivers run outside the segment's lock, so a receiver may transmit in turn.
    void transmit(int fromPort, std::span<const std::uint8_t> frame, Clock::time_point arrives = {});

private:
    struct Port {
        int id;
        std::shared_ptr<Receiver> receiver;
    };
    std::mutex m_mutex;
    std::vector<Port> m_ports;
    int m_nextId = 1;
};

// A host adapter plugged into a simulated segment.
struct SimHostAdapter {
    std::string name;        // interface name, e.g. "sim0"
    std::string description; // e.g. "Simulated Ethernet adapter"
    MacAddress mac;
    std::shared_ptr<SimSegment> segment;
};

// The packet library's simulated backend: the given host adapters and nothing else.
std::shared_ptr<LinkBackend> makeSimBackend(std::vector<SimHostAdapter> adapters);

} // namespace zrq406::link
