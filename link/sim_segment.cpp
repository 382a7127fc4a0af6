#include "link/sim_segment.h"

#include <algorithm>

namespace zrq406::link {

int SimSegment::attach(Receiver receiver) {
    std::lock_guard lock(m_mutex);
    const int id = m_nextId++;
    m_ports.push_back({id, std::make_shared<Receiver>(std::move(receiver))});
    return id;
}

void SimSegment::detach(int port) {
    std::lock_guard lock(m_mutex);
    std::erase_if(m_ports, [port](const Port& p) { return p.id == port; });
}

void SimSegment::transmit(int fromPort, std::span<const std::uint8_t> frame, Clock::time_point arrives) {
    std::vector<std::shared_ptr<Receiver>> receivers;
    {
        std::lock_guard lock(m_mutex);
        receivers.reserve(m_ports.size());
        for (const Port& port : m_ports)
            if (port.id != fromPort)
                receivers.push_back(port.receiver);
    }
    // Outside the lock: a receiver may answer by transmitting, or attach and detach ports.
    for (const auto& receiver : receivers)
        (*receiver)(frame, arrives);
}

} // namespace zrq406::link
