#include "link/sim_port.h"

#include <algorithm>
#include <cstring>

namespace zrq406::link {

namespace {

// A card with the usual 1500-byte MTU sends no longer frame (no FCS counted).
constexpr std::size_t kLongestFrame = 1514;

bool addressedTo(std::span<const std::uint8_t> frame, const MacAddress& mac) {
    if (frame.size() < mac.bytes.size())
        return false;
    // Group addresses (broadcast and multicast) reach every card; unicast only the one it names.
    if ((frame[0] & 0x01) != 0)
        return true;
    return std::equal(mac.bytes.begin(), mac.bytes.end(), frame.begin());
}

} // namespace

void SimPort::Inbox::deliver(std::span<const std::uint8_t> frame, SimSegment::Clock::time_point arrives) {
    std::size_t kept = 0;
    {
        std::lock_guard lock(mutex);
        if (interrupted)
            return;
        if (!promiscuous && !addressedTo(frame, mac))
            return;
        kept = filter ? filter->run(frame) : frame.size();
    }
    if (kept > 0)
        frames.push(frame.first(std::min(kept, frame.size())), arrives);
}

SimPort::SimPort(const SimHostAdapter& adapter)
    : m_inbox(std::make_shared<Inbox>()), m_segment(adapter.segment), m_mac(adapter.mac) {
    m_inbox->mac = adapter.mac;
    m_portId =
        m_segment->attach([inbox = m_inbox](std::span<const std::uint8_t> frame,
                                            SimSegment::Clock::time_point arrives) { inbox->deliver(frame, arrives); });
}

SimPort::~SimPort() {
    m_segment->detach(m_portId);
    interrupt();
}

std::optional<MacAddress> SimPort::hardwareAddress() {
    return m_mac;
}

bool SimPort::setFilter(std::span<const BpfInstruction> program) {
    std::optional<BpfProgram> compiled = BpfProgram::compile(program);
    if (!compiled)
        return false;
    std::lock_guard lock(m_inbox->mutex);
    m_inbox->filter = std::move(compiled);
    return true;
}

bool SimPort::setPromiscuous(bool on) {
    std::lock_guard lock(m_inbox->mutex);
    m_inbox->promiscuous = on;
    return true;
}

bool SimPort::send(std::span<const std::uint8_t> frame) {
    if (frame.empty() || frame.size() > kLongestFrame)
        return false;
    {
        std::lock_guard lock(m_inbox->mutex);
        if (m_inbox->interrupted)
            return false;
    }
    m_segment->transmit(m_portId, frame);
    return true;
}

int SimPort::receive(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout) {
    return m_inbox->frames.take(buffer, timeout);
}

int SimPort::waitReadable(std::chrono::milliseconds timeout) {
    return m_inbox->frames.waitArrived(timeout);
}

void SimPort::interrupt() {
    {
        std::lock_guard lock(m_inbox->mutex);
        m_inbox->interrupted = true;
    }
    m_inbox->frames.close();
}

} // namespace zrq406::link
