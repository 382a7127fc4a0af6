#include "mme/exchange.h"

#include "mme/confirmations.h"

namespace zrq406::mme {

namespace {
// A fetched length above this is no frame that the link could have received.
constexpr std::size_t kLargestFetch = 1599;

// The device a confirmation must come from: the request's destination, unless that is the address every local
// device answers to (or a group address), which any device may answer.
std::optional<MacAddress> expectedSource(const Frame& request) {
    const auto destination = ByteReader(request).mac(hdr::kDestination);
    if (!destination || *destination == MacAddress::localDevice() || (destination->bytes[0] & 0x01) != 0)
        return std::nullopt;
    return destination;
}

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

void Exchange::lookThrough(const std::function<bool(const Frame&)>& take, Pacing::Clock::time_point deadline,
                           bool& anyFrame) {
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
            if (take(frame))
                return;
            if (late && ++lateFrames > link::kSlotsPerAdapter)
                return;
            continue;
        }
        if (late)
            return;
        m_adapters.waitForFrame(deadline);
    }
}

std::optional<Frame> Exchange::run(const Frame& request, MmType, const ExchangeTiming& timing) {
    auto answers = runAll(std::span(&request, 1), timing);
    return std::move(answers.front());
}

std::vector<std::optional<Frame>> Exchange::runAll(std::span<const Frame> requests, const ExchangeTiming& timing) {
    std::vector<std::optional<Frame>> answers(requests.size());
    const link::AdapterRecord* adapter = m_adapters.current();
    if (adapter == nullptr || requests.empty())
        return answers;
    const MacAddress host = adapter->hostMac;
    std::vector<std::optional<MacAddress>> sources;
    sources.reserve(requests.size());
    const InFlight inFlight(*this);
    drain();
    for (const Frame& request : requests) {
        sources.push_back(expectedSource(request));
        m_adapters.SendFrame(request);
    }
    // The wait starts once the requests are out: a send that took its time does not shorten it.
    const auto deadline = m_pacing.deadlineAfter(timing.initialWaitMs);
    std::size_t missing = requests.size();
    bool anyFrame = false;
    lookThrough(
        [&](const Frame& frame) {
            for (std::size_t i = 0; i < requests.size(); ++i) {
                if (answers[i] || !answersRequest(frame, requests[i], timing.daCheck ? &host : nullptr,
                                                  sources[i] ? &*sources[i] : nullptr))
                    continue;
                answers[i] = frame;
                return --missing == 0;
            }
            return false;
        },
        deadline, anyFrame);
    return answers;
}

std::vector<Frame> Exchange::runGathering(const Frame& request, const ExchangeTiming& timing) {
    std::vector<Frame> answers;
    const link::AdapterRecord* adapter = m_adapters.current();
    if (adapter == nullptr)
        return answers;
    const MacAddress host = adapter->hostMac;
    const auto source = expectedSource(request);
    const InFlight inFlight(*this);
    drain();
    m_adapters.SendFrame(request);
    bool anyFrame = false;
    lookThrough(
        [&](const Frame& frame) {
            if (answersRequest(frame, request, timing.daCheck ? &host : nullptr, source ? &*source : nullptr))
                answers.push_back(frame);
            return false;
        },
        m_pacing.deadlineAfter(timing.initialWaitMs), anyFrame);
    return answers;
}

std::optional<Frame> Exchange::runRetrying(const Frame& request, MmType) {
    auto answers = retrying(request, false);
    if (answers.empty())
        return std::nullopt;
    return std::move(answers.front());
}

std::vector<Frame> Exchange::runRetryingGathering(const Frame& request) {
    return retrying(request, true);
}

std::vector<Frame> Exchange::retrying(const Frame& request, bool all) {
    std::vector<Frame> found;
    if (m_adapters.current() == nullptr)
        return found;
    const auto source = expectedSource(request);
    const InFlight inFlight(*this);
    drain();
    for (double wait = timing::kRetryFirstWaitMs; wait <= timing::kRetryLastWaitMs; wait += timing::kRetryStepMs) {
        m_adapters.SendFrame(request);
        const auto deadline = m_pacing.deadlineAfter(wait);
        bool anyFrame = false;
        lookThrough(
            [&](const Frame& frame) {
                if (answersRequest(frame, request, nullptr, source ? &*source : nullptr))
                    found.push_back(frame);
                return !all && !found.empty();
            },
            deadline, anyFrame);
        // Once anything at all came back, the look-through has had its chance: no further send.
        if (!found.empty() || anyFrame)
            return found;
    }
    return found;
}

} // namespace zrq406::mme
