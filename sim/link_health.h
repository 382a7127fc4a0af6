#pragma once

#include "platform/mac_address.h"
#include "sim/link_model.h"
#include "sim/sim_device.h"

#include <array>
#include <cstdint>
#include <map>
#include <span>
#include <tuple>
#include <utility>

namespace zrq406::sim {

// What the simulated devices know of their links' health: the carrier maps of each direction, fitted to the
// link's rate at the moment, and counters that grow with the traffic each direction carries. Counters are a
// function of simulated time since the network was loaded (in steps of ten seconds, the last one in part), so
// the same moment gives the same figures, at either end and in every run; only read-and-clear remembers
// anything. Not thread-safe: the network serialises access.
class LinkHealth {
public:
    // The channel of the frames `transmitter` sends to `receiver` `elapsedMs` in (the receiver's view of the
    // link's rate); nullptr when there is no such link then.
    const Channel* channel(const SimDevice& transmitter, const SimDevice& receiver, double elapsedMs);

    // Answers to link statistics and carrier map requests made of `device`. `peer` is the device the request
    // names when it is on the device's network and up, else nullptr.
    Answer statistics(const SimDevice& device, const SimDevice* peer, const MacAddress& requester,
                      std::span<const std::uint8_t> request, double elapsedMs);
    Answer carrierMap(const SimDevice& device, const SimDevice* peer, const MacAddress& requester,
                      std::span<const std::uint8_t> request, double elapsedMs);

private:
    // MPDUs acknowledged, collided, failed; PBs passed, failed; bit errors of passed and of failed PBs.
    using Totals = std::array<double, 7>;
    using Counts = std::array<std::uint64_t, 7>;
    struct Flow {
        std::int64_t steps = 0; // whole steps summed
        Totals sum{};
    };

    const Channel& fitted(std::uint32_t seed, std::uint8_t field, int slots, const SimDevice& receiver,
                          const MacAddress& transmitter);
    Totals step(const SimDevice& transmitter, const SimDevice& receiver, std::int64_t index);
    Totals flowAt(const SimDevice& transmitter, const SimDevice& receiver, double elapsedMs);
    // The counts of one block as the reporting device shows them (cleared part taken off); cleared when `clear`.
    Counts counts(const SimDevice& reporter, const SimDevice& peer, bool transmit, std::uint8_t linkId,
                  double elapsedMs, bool clear);

    std::map<std::tuple<std::uint32_t, std::uint8_t, int>, Channel> m_channels;
    std::map<std::pair<MacAddress, MacAddress>, Flow> m_flows;
    std::map<std::tuple<MacAddress, MacAddress, bool, std::uint8_t>, Counts> m_cleared;
};

} // namespace zrq406::sim
