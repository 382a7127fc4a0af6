#include "mme/exchange.h"

#include "mme/confirmations.h"

namespace zrq406::mme {

namespace {
// A fetched length above this is no frame that the link could have received.
constexpr std::size_t kLargestFetch = 1599;
} // namespace

Exchange::Exchange(link::AdapterTable& adapters, const Pacing& pacing) : m_adapters(adapters), m_pacing(pacing) {}

Exchange::InFlight::InFlight(Exchange& exchange) : m_exchange(exchange) {
    if (m_exchange.m_inFlight.fetch_add(1) > 0)
        ++m_exchange.m_overlaps;
}

Exchange::InFlight::~InFlight() {
    --m_exchange.m_inFlight;
}

void Exchange::drain() {
    // Bounded: a station that keeps sending must not hold the exchange before its request is even sent.
    std::vector<std::uint8_t> frame;
    for (int i = 0; i < link::kSlotsPerAdapter && m_adapters.FetchFrame(frame) > 0; ++i) {
    }
}

std::optional<Frame> Exchange::lookThrough(std::uint16_t confirmationType, const MacAddress* destination,
                                           Pacing::Clock::time_point deadline, bool& anyFrame) {
    std::vector<std::uint8_t> frame;
    // Past the deadline only what had already arrived is looked through, so a stream of foreign frames on the
    // shared medium cannot hold the exchange.
    int lateFrames = 0;
    for (;;) {
        // The clock is read before the look: a fetch that finds nothing then covers everything that had arrived
        // when the exchange was found late, however long this thread waited for the processor in between.
        const bool late = Pacing::Clock::now() >= deadline;
        const std::size_t length = m_adapters.FetchFrame(frame);
        if (length > 0 && length <= kLargestFetch) {
            anyFrame = true;
            if (matchesConfirmation(frame, confirmationType, destination))
                return frame;
            if (late && ++lateFrames > link::kSlotsPerAdapter)
                return std::nullopt;
            continue;
        }
        if (late)
            return std::nullopt;
        m_adapters.waitForFrame(deadline);
    }
}

std::optional<Frame> Exchange::run(const Frame& request, MmType requestType, const ExchangeTiming& timing) {
    const link::AdapterRecord* adapter = m_adapters.current();
    if (adapter == nullptr)
        return std::nullopt;
    const MacAddress host = adapter->hostMac;
    const InFlight inFlight(*this);
    drain();
    m_adapters.SendFrame(request);
    // The wait starts once the request is out: a send that took its time does not shorten it.
    const auto deadline = m_pacing.deadlineAfter(timing.initialWaitMs);
    bool anyFrame = false;
    return lookThrough(confirmationOf(requestType), timing.daCheck ? &host : nullptr, deadline, anyFrame);
}

std::optional<Frame> Exchange::runRetrying(const Frame& request, MmType requestType) {
    if (m_adapters.current() == nullptr)
        return std::nullopt;
    const InFlight inFlight(*this);
    drain();
    for (double wait = timing::kRetryFirstWaitMs; wait <= timing::kRetryLastWaitMs; wait += timing::kRetryStepMs) {
        m_adapters.SendFrame(request);
        const auto deadline = m_pacing.deadlineAfter(wait);
        bool anyFrame = false;
        auto found = lookThrough(confirmationOf(requestType), nullptr, deadline, anyFrame);
        // Once anything at all came back, the look-through has had its chance: no further send.
        if (found || anyFrame)
            return found;
    }
    return std::nullopt;
}

} // namespace zrq406::mme
