#pragma once

#include "link/bpf_program.h"
#include "link/link_backend.h"
#include "link/sim_segment.h"
#include "link/timed_frame_queue.h"

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace zrq406::link {

// A host adapter's port on a simulated segment: frames that the segment delivers wait in a bounded queue, as
// they would in a network card's ring, until the packet library takes them, none before it reaches the port.
class SimPort : public LinkPort {
public:
    // Frames beyond this many unread ones are dropped.
    static constexpr std::size_t kQueueLimit = 4096;

    explicit SimPort(const SimHostAdapter& adapter);
    ~SimPort() override;
    SimPort(const SimPort&) = delete;
    SimPort& operator=(const SimPort&) = delete;

    std::optional<MacAddress> hardwareAddress() override;
    bool setFilter(std::span<const BpfInstruction> program) override;
    bool setPromiscuous(bool on) override;
    bool send(std::span<const std::uint8_t> frame) override;
    int receive(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout) override;
    int waitReadable(std::chrono::milliseconds timeout) override;
    void interrupt() override;

private:
    // What the segment's receiver shares with the port; the receiver may still run while the port goes away.
    struct Inbox {
        std::mutex mutex; // the card's settings and `interrupted`
        std::optional<BpfProgram> filter;
        bool promiscuous = false;
        bool interrupted = false;
        MacAddress mac;
        TimedFrameQueue frames{kQueueLimit};

        void deliver(std::span<const std::uint8_t> frame, SimSegment::Clock::time_point arrives);
    };

    std::shared_ptr<Inbox> m_inbox;
    std::shared_ptr<SimSegment> m_segment;
    MacAddress m_mac;
    int m_portId = 0;
};

} // namespace zrq406::link
