#include "link/pcap_bridge.h"

#include "link/pcap_port.h"
#include "link/timed_frame_queue.h"

#include <array>
#include <thread>

namespace zrq406::link {

namespace {

constexpr std::chrono::milliseconds kStopCheck{100};
// Frames of the segment waiting for their moment to go out; beyond this many they are dropped.
constexpr std::size_t kOutgoingLimit = 4096;

} // namespace

struct PcapBridge::Impl {
    std::shared_ptr<LinkPort> port;
    std::shared_ptr<SimSegment> segment;
    int segmentPort = 0;
    std::shared_ptr<TimedFrameQueue> outgoing = std::make_shared<TimedFrameQueue>(kOutgoingLimit);
    std::thread sender;
};

PcapBridge::~PcapBridge() {
    if (!m_impl)
        return;
    m_impl->segment->detach(m_impl->segmentPort);
    m_impl->outgoing->close();
    if (m_impl->sender.joinable())
        m_impl->sender.join();
    m_impl->port->interrupt();
}

std::unique_ptr<PcapBridge> PcapBridge::open(const std::string& interfaceName, std::shared_ptr<SimSegment> segment,
                                             std::string& error) {
    if (!segment) {
        error = interfaceName + ": no segment to bridge to";
        return nullptr;
    }
    std::shared_ptr<LinkPort> port = PcapPort::open(interfaceName, error);
    if (!port)
        return nullptr;
    // The simulated stations answer frames addressed to any of their own addresses, not to the interface's.
    if (!port->setPromiscuous(true)) {
        error = interfaceName + ": cannot switch the interface to promiscuous mode (CAP_NET_ADMIN needed)";
        return nullptr;
    }
    std::unique_ptr<PcapBridge> bridge(new PcapBridge());
    bridge->m_impl = std::make_unique<Impl>();
    bridge->m_impl->port = port;
    bridge->m_impl->segment = segment;
    // The receiver keeps the queue alive: the segment may still be delivering when the bridge goes away.
    const std::shared_ptr<TimedFrameQueue> outgoing = bridge->m_impl->outgoing;
    bridge->m_impl->segmentPort =
        segment->attach([outgoing](std::span<const std::uint8_t> frame, SimSegment::Clock::time_point arrives) {
            outgoing->push(frame, arrives);
        });
    bridge->m_impl->sender = std::thread([port, outgoing] {
        std::array<std::uint8_t, 1600> buffer{};
        for (;;) {
            const int length = outgoing->take(buffer, kStopCheck);
            if (length < 0)
                return;
            if (length > 0)
                (void)port->send(std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(length)));
        }
    });
    return bridge;
}

void PcapBridge::run(const std::atomic<bool>& stop) {
    std::array<std::uint8_t, 1600> buffer{};
    while (!stop.load()) {
        const int received = m_impl->port->receive(buffer, kStopCheck);
        if (received < 0)
            return;
        if (received > 0)
            m_impl->segment->transmit(m_impl->segmentPort,
                                      std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(received)));
    }
}

} // namespace zrq406::link
