#pragma once

#include "link/adapter_link.h"
#include "mme/frame_builder.h"
#include "mme/mme_frame.h"
#include "platform/pacing.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace zrq406::mme {

// How long each exchange may wait for its confirmation (milliseconds, scaled by the pacing) and whether the
// confirmation must be addressed to the host. The waits are deadlines: an exchange ends as soon as its
// confirmation is taken, and fails once the deadline has passed without it.
struct ExchangeTiming {
    double initialWaitMs;
    bool daCheck;
};

namespace timing {
inline constexpr ExchangeTiming kSoftwareVersion{400, true};
inline constexpr ExchangeTiming kAttributes{100, false};
inline constexpr ExchangeTiming kNetworkInfo{100, false};
inline constexpr ExchangeTiming kQosRead{100, true};
inline constexpr ExchangeTiming kConfigRead{100, false};
inline constexpr ExchangeTiming kWriteModule{30, false};
inline constexpr ExchangeTiming kCommit{100, false};
inline constexpr ExchangeTiming kSetKey{100, false};
inline constexpr ExchangeTiming kFactoryReset{100, false};
inline constexpr ExchangeTiming kPushButton{100, false};
inline constexpr ExchangeTiming kRestart{100, false};
inline constexpr ExchangeTiming kHosts{100, false};
inline constexpr ExchangeTiming kLinkStatistics{100, false};
inline constexpr ExchangeTiming kCarrierMap{100, false};
// The upgrade tool asks for the software version up to three times, waiting 100, 150 and 200 ms, and takes a
// confirmation addressed to any host.
inline constexpr double kRetryFirstWaitMs = 100;
inline constexpr double kRetryStepMs = 50;
inline constexpr double kRetryLastWaitMs = 200;
} // namespace timing

// One request and its confirmation on the current adapter. There are no transaction identifiers: the
// confirmation is recognised by its type, the device that sends it (the request's destination, unless that is the
// local-device address), the request fields it echoes and, for some, its destination. Frames already waiting are
// drained before the request goes out; frames that answer nothing asked are dropped while looking.
class Exchange {
public:
    Exchange(link::AdapterTable& adapters, const Pacing& pacing);

    // Sends `request` and returns the first received frame that matches, or nothing by the deadline. Fails at
    // once when no adapter is current.
    std::optional<Frame> run(const Frame& request, MmType requestType, const ExchangeTiming& timing);
    // Sends every request at once and gathers their confirmations under one deadline: one answer time for all,
    // however many devices stay silent. Each result stands at its request's index (nothing for no answer).
    std::vector<std::optional<Frame>> runAll(std::span<const Frame> requests, const ExchangeTiming& timing);
    // The upgrade tool's software version exchange: resent with a longer wait while nothing at all arrives.
    std::optional<Frame> runRetrying(const Frame& request, MmType requestType);
    // For a request that any device may answer (to the local-device address): sends it and gathers every answer
    // until the deadline instead of taking the first, so that a second device answering as the attached one is
    // seen. The retrying form resends as runRetrying does and gathers the answers of the wait in which they came.
    std::vector<Frame> runGathering(const Frame& request, const ExchangeTiming& timing);
    std::vector<Frame> runRetryingGathering(const Frame& request);

    link::AdapterTable& adapters() { return m_adapters; }
    const Pacing& pacing() const { return m_pacing; }
    // How many exchanges began while another was still waiting for its confirmation. Two at once would take each
    // other's confirmations, so this stays 0 while every device operation goes through one runner.
    int overlaps() const { return m_overlaps.load(); }

private:
    // Counts the exchange under way for overlaps().
    class InFlight {
    public:
        explicit InFlight(Exchange& exchange);
        ~InFlight();
        InFlight(const InFlight&) = delete;
        InFlight& operator=(const InFlight&) = delete;

    private:
        Exchange& m_exchange;
    };

    void drain();
    // runRetrying, taking the first answer or (with `all`) every answer of the wait in which answers came.
    std::vector<Frame> retrying(const Frame& request, bool all);
    // Looks through received frames, handing each to `take`, until `take` has all it waits for (returns true) or
    // the deadline. `anyFrame` tells whether any frame was fetched.
    void lookThrough(const std::function<bool(const Frame&)>& take, Pacing::Clock::time_point deadline, bool& anyFrame);

    link::AdapterTable& m_adapters;
    const Pacing& m_pacing;
    std::atomic<int> m_inFlight{0};
    std::atomic<int> m_overlaps{0};
};

} // namespace zrq406::mme
