#pragma once

#include "link/sim_segment.h"

#include <atomic>
#include <memory>
#include <string>

namespace zrq406::link {

// Joins a real interface to a simulated segment: frames received on the interface are transmitted on the
// segment, frames that the segment delivers to the bridge are sent on the interface at the moment they reach
// the bridge (from a thread of its own).
class PcapBridge {
public:
    ~PcapBridge();
    static std::unique_ptr<PcapBridge> open(const std::string& interfaceName, std::shared_ptr<SimSegment> segment,
                                            std::string& error);
    // Relays until `stop` turns true (checked at least every 100 ms).
    void run(const std::atomic<bool>& stop);

private:
    PcapBridge() = default;
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace zrq406::link
