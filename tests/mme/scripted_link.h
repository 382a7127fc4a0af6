#pragma once

#include "link/adapter_link.h"
#include "link/packet_library.h"
#include "link/sim_segment.h"
#include "mme/device_operations.h"
#include "mme/discovery.h"
#include "mme/exchange.h"
#include "mme/frame_builder.h"
#include "platform/pacing.h"

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace zrq406::test {

// A host adapter on a simulated segment whose other end is a script: every frame the host sends is recorded
// and handed to `respond`, whose frames go back to the host at once.
class ScriptedLink {
public:
    using Responder = std::function<std::vector<mme::Frame>(const mme::Frame& request)>;

    static inline const MacAddress kHost{{0x02, 0x00, 0x00, 0x00, 0x00, 0x01}};
    static inline const MacAddress kLocal{{0x00, 0xB0, 0x52, 0x00, 0x10, 0x01}};

    ScriptedLink()
        : m_segment(std::make_shared<link::SimSegment>()),
          m_library(link::makeSimBackend({{"sim0", "Scripted adapter", kHost, m_segment}})),
          m_adapters(m_library, link::LinkMode::Utility), m_pacing(Pacing::fromEnvironment()),
          m_exchange(m_adapters, m_pacing), m_discovery(m_exchange), m_operations(m_exchange, m_progress) {
        m_port = m_segment->attach(
            [this](std::span<const std::uint8_t> frame, link::SimSegment::Clock::time_point) { onFrame(frame); });
        m_adapters.OpenAdapters();
    }
    ~ScriptedLink() { m_segment->detach(m_port); }

    void setResponder(Responder responder) {
        std::lock_guard lock(m_mutex);
        m_respond = std::move(responder);
    }
    // Puts a frame into the host's receive slots as if a device had sent it unasked.
    void inject(const mme::Frame& frame) { m_segment->transmit(m_port, frame); }
    std::vector<mme::Frame> sent() {
        std::lock_guard lock(m_mutex);
        return m_sent;
    }
    std::vector<mme::Frame> sentOfType(mme::MmType type) {
        std::vector<mme::Frame> out;
        for (auto& f : sent())
            if (f.size() > 16 && f[12] == 0x88 && f[13] == 0xE1 &&
                mme::getU16le(f, 15) == static_cast<std::uint16_t>(type))
                out.push_back(f);
        return out;
    }

    link::AdapterTable& adapters() { return m_adapters; }
    mme::Exchange& exchange() { return m_exchange; }
    mme::Discovery& discovery() { return m_discovery; }
    mme::DeviceOperations& operations() { return m_operations; }
    mme::Progress& progress() { return m_progress; }
    const Pacing& pacing() const { return m_pacing; }

private:
    void onFrame(std::span<const std::uint8_t> frame) {
        Responder respond;
        {
            std::lock_guard lock(m_mutex);
            m_sent.emplace_back(frame.begin(), frame.end());
            respond = m_respond;
        }
        if (!respond)
            return;
        for (const auto& answer : respond(mme::Frame(frame.begin(), frame.end())))
            m_segment->transmit(m_port, answer);
    }

    std::shared_ptr<link::SimSegment> m_segment;
    link::PacketLibrary m_library;
    link::AdapterTable m_adapters;
    Pacing m_pacing;
    mme::Exchange m_exchange;
    mme::Discovery m_discovery;
    mme::Progress m_progress;
    mme::DeviceOperations m_operations;
    std::mutex m_mutex;
    Responder m_respond;
    std::vector<mme::Frame> m_sent;
    int m_port = 0;
};

// Confirmation frames as a device would send them to the host.
mme::Frame confirmTo(const MacAddress& from, mme::MmType request, std::size_t length,
                     const MacAddress& to = ScriptedLink::kHost);
mme::Frame versionConfirm(const MacAddress& from, const std::string& version, std::uint8_t status = 0,
                          const MacAddress& to = ScriptedLink::kHost);
mme::Frame attributesConfirm(const MacAddress& from, const std::string& platform);
struct ScriptStation {
    MacAddress mac;
    std::uint8_t rate;
};
mme::Frame networkInfoConfirm(const MacAddress& from, const std::vector<ScriptStation>& stations,
                              std::uint8_t networks = 1);
mme::Frame statusConfirm(const MacAddress& from, mme::MmType request, std::uint8_t status);
MacAddress destinationOf(const mme::Frame& frame);
std::uint16_t typeOf(const mme::Frame& frame);

} // namespace zrq406::test
