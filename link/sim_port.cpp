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

void SimPort::Inbox::deliver(std::span<const std::uint8_t> frame) {
    {
        std::lock_guard lock(mutex);
        if (interrupted)
            return;
        if (!promiscuous && !addressedTo(frame, mac))
            return;
        std::size_t kept = frame.size();
        if (filter)
            kept = filter->run(frame);
        if (kept == 0 || frames.size() >= kQueueLimit)
            return;
        frames.emplace_back(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(kept));
    }
    arrived.notify_one();
}

SimPort::SimPort(const SimHostAdapter& adapter)
    : m_inbox(std::make_shared<Inbox>()), m_segment(adapter.segment), m_mac(adapter.mac) {
    m_inbox->mac = adapter.mac;
    m_portId = m_segment->attach([inbox = m_inbox](std::span<const std::uint8_t> frame) { inbox->deliver(frame); });
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
    std::unique_lock lock(m_inbox->mutex);
    m_inbox->arrived.wait_for(lock, timeout, [&] { return m_inbox->interrupted || !m_inbox->frames.empty(); });
    if (m_inbox->interrupted)
        return -1;
    if (m_inbox->frames.empty())
        return 0;
    const std::vector<std::uint8_t> frame = std::move(m_inbox->frames.front());
    m_inbox->frames.pop_front();
    const std::size_t copied = std::min(frame.size(), buffer.size());
    std::memcpy(buffer.data(), frame.data(), copied);
    return static_cast<int>(copied);
}

int SimPort::waitReadable(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_inbox->mutex);
    m_inbox->arrived.wait_for(lock, timeout, [&] { return m_inbox->interrupted || !m_inbox->frames.empty(); });
    if (m_inbox->interrupted)
        return -1;
    return m_inbox->frames.empty() ? 0 : 1;
}

void SimPort::interrupt() {
    {
        std::lock_guard lock(m_inbox->mutex);
        m_inbox->interrupted = true;
        m_inbox->frames.clear();
    }
    m_inbox->arrived.notify_all();
}

} // namespace zrq406::link
