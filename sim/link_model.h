#pragma once

#include "mme/mme_frame.h"
#include "platform/mac_address.h"
#include "sim/network_description.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zrq406::sim {

// The physical side of a simulated link: the channel of one direction (signal to noise per carrier, the bit
// loading a receiver makes of it, the errors it lets through) and the way a link's rate drifts over the day.
// Everything here is a pure function of its arguments, so both ends of a link and every run agree.

// One OFDM symbol with its guard interval lasts 46.52 us; forward error correction keeps 16 of every 21 bits.
constexpr double kSymbolMicroseconds = 46.52;
constexpr double kCodeRate = 16.0 / 21.0;
// A physical block: 520 bytes.
constexpr double kPbBits = 8.0 * 520.0;

// Carrier k of a carrier map, in MHz.
double carrierMHz(std::size_t k);
// The PHY rate (Mbit/s) that a bit loading of `bits` per symbol gives, and the bits a rate field needs (the field
// is what the network information carries: Mbit/s = field x 21 / 16).
double mbpsOfBits(double bits);
double bitsForRateField(double field);
// The most a channel can carry: every carrier at 4096-QAM.
double largestRateField();

// A number made from the two ends of a directed link, the seed of its channel's shape.
std::uint32_t linkSeed(const MacAddress& transmitter, const MacAddress& receiver);

struct ChannelSlot {
    std::array<std::uint8_t, mme::kCarriers> codes{}; // modulation per carrier, 0 (off) to 8
    unsigned bits = 0;                                // per symbol, over all carriers
    unsigned active = 0;                              // carriers with a code above 0
    double mbps = 0;                                  // the PHY rate of this slot's loading
};

// One direction of a link fitted to its rate: the carrier maps of its slots and the errors they let through.
struct Channel {
    double baseSnrDb = 0;           // the level that the fit found (the carriers sit around it)
    std::vector<ChannelSlot> slots; // at least one
    std::uint8_t gain = 0;          // the transmitter's gain step, 0-15: higher on weaker links
    std::uint8_t agc = 0;           // the receiver's amplification, dB
    double meanMbps = 0;            // the mean of the slots' rates
    double pbErrorRate = 0;         // the share of PBs that forward error correction cannot mend
    double bitErrorsPerPb = 0;      // the bits it mends in a PB that passes
};

// The channel of the frames `transmitter` sends to a receiver near `noise` (the bands that act on this
// transmitter's frames), with `slots` carrier map slots (1 to 6), its level solved so that the mean bit
// loading of the slots gives `rateField` (a field above largestRateField() gets every carrier at its best).
// The signal to noise falls with frequency (more on slower links), ripples with the reflections of the wiring,
// differs a little between the slots of the mains cycle, and loses the noise bands' dB. The error rate rises as
// the margin (signal to noise minus what a carrier's modulation needs) shrinks; a noise band's carriers and their
// neighbours count with less margin, as such noise comes and goes.
Channel fitChannel(std::uint32_t seed, std::uint8_t rateField, int slots, const std::vector<NoiseBand>& noise);

// How far a link's rate sinks over the simulated day: 1 at load time (and at every full day after), down to
// 1 - percent/100 x (0.6..1, per link) half a day later, with a smaller swing three times a day on top. It
// starts slowly: in the first hour the factor stays above 1 - percent/100 x 0.015.
double driftFactor(std::uint32_t seed, double percent, double elapsedMs);
// True while a link with these dips is down at its low.
bool inDip(const RateDips& dips, double elapsedMs);

} // namespace zrq406::sim
