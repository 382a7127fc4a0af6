#include "sim/link_model.h"

#include "mme/confirmations.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zrq406::sim {

namespace {

constexpr double kDayMs = 24.0 * 3600.0 * 1000.0;
// Bisection range of the fit's level, dB. No receiver hears a carrier much above 50 dB over its noise: a rate that
// needs more than that is out of reach, and a noise band keeps its dB below the level even then.
constexpr double kLowestLevel = -40;
constexpr double kHighestLevel = 50;
// Forward error correction mends up to about this many bit errors in a PB; the failure rate rises around it.
constexpr double kFecLimit = 120;
constexpr double kFecSpread = 15;
// The margin that noise coming and going takes from the carriers of a band and its neighbours.
constexpr double kNoiseSwingDb = 3;
constexpr double kNoiseSkirtMHz = 0.5;

std::uint32_t mix(std::uint32_t a, std::uint32_t b) {
    std::uint32_t x = a ^ (b * 0x9E3779B9u);
    x ^= x >> 16;
    x *= 0x85EBCA6Bu;
    x ^= x >> 13;
    x *= 0xC2B2AE35u;
    x ^= x >> 16;
    return x;
}

// A number in [0, 1) made from `x`.
double unit(std::uint32_t x) {
    return static_cast<double>(x & 0xFFFFFF) / static_cast<double>(0x1000000);
}

struct Modulations {
    std::array<double, mme::kLargestModulation + 1> need{};
    std::array<unsigned, mme::kLargestModulation + 1> bits{};
    Modulations() {
        for (std::uint8_t code = 0; code <= mme::kLargestModulation; ++code) {
            need[code] = mme::snrOfModulation(code);
            bits[code] = mme::bitsOfModulation(code);
        }
    }
};
const Modulations& modulations() {
    static const Modulations table;
    return table;
}

// The code a receiver loads on a carrier with this signal to noise: the richest one whose need it meets.
std::uint8_t codeFor(double snr, const Modulations& table = modulations()) {
    std::uint8_t code = 0;
    while (code < mme::kLargestModulation && snr >= table.need[code + 1])
        ++code;
    return code;
}

bool inBand(const NoiseBand& band, double mhz, double widen = 0) {
    return band.dB > 0 && mhz >= band.fromMHz - widen && mhz <= band.toMHz + widen;
}

// The signal to noise of every carrier of every slot relative to the fitted level.
std::vector<std::array<float, mme::kCarriers>> shapes(std::uint32_t seed, std::uint8_t rateField, int slots,
                                                      const std::vector<NoiseBand>& noise) {
    // Longer, slower links lose more towards the high carriers.
    const double tilt = 6 + 14 * std::clamp((160.0 - rateField) / 160.0, 0.0, 1.0);
    const double period1 = 90 + 300 * unit(mix(seed, 1));
    const double period2 = 35 + 80 * unit(mix(seed, 2));
    const double phase1 = 2 * std::numbers::pi * unit(mix(seed, 3));
    const double phase2 = 2 * std::numbers::pi * unit(mix(seed, 4));
    std::vector<std::array<float, mme::kCarriers>> out(static_cast<std::size_t>(slots));
    for (std::size_t k = 0; k < mme::kCarriers; ++k) {
        const double x = static_cast<double>(k);
        double level = -tilt * x / static_cast<double>(mme::kCarriers - 1) +
                       2.0 * std::sin(2 * std::numbers::pi * x / period1 + phase1) +
                       1.2 * std::sin(2 * std::numbers::pi * x / period2 + phase2) +
                       2.0 * (unit(mix(seed ^ 0x5151u, static_cast<std::uint32_t>(k))) - 0.5);
        const double mhz = carrierMHz(k);
        for (const NoiseBand& band : noise) {
            if (inBand(band, mhz))
                level -= band.dB;
        }
        for (int s = 0; s < slots; ++s) {
            // The slots of the mains cycle differ a little: the later ones somewhat noisier.
            const double slotLevel =
                -0.12 * s +
                0.5 * (unit(mix(seed + 0x1000u * static_cast<std::uint32_t>(s + 1), static_cast<std::uint32_t>(k))) -
                       0.5);
            out[static_cast<std::size_t>(s)][k] = static_cast<float>(level + (s == 0 ? 0 : slotLevel));
        }
    }
    return out;
}

double meanBits(const std::vector<std::array<float, mme::kCarriers>>& shape, double level) {
    const Modulations& table = modulations();
    double bits = 0;
    for (const auto& slot : shape) {
        for (const float s : slot)
            bits += table.bits[codeFor(level + s, table)];
    }
    return bits / static_cast<double>(shape.size());
}

} // namespace

double carrierMHz(std::size_t k) {
    return static_cast<double>(mme::kFirstCarrierIndex + k) * mme::kCarrierSpacingKhz / 1000.0;
}

double mbpsOfBits(double bits) {
    return bits * kCodeRate / kSymbolMicroseconds;
}

double bitsForRateField(double field) {
    const double mbps = field * 21.0 / 16.0;
    return mbps * kSymbolMicroseconds / kCodeRate;
}

double largestRateField() {
    return mbpsOfBits(static_cast<double>(mme::kCarriers) * mme::bitsOfModulation(mme::kLargestModulation)) * 16.0 /
           21.0;
}

std::uint32_t linkSeed(const MacAddress& transmitter, const MacAddress& receiver) {
    std::uint32_t h = 2166136261u;
    for (const auto byte : transmitter.bytes)
        h = (h ^ byte) * 16777619u;
    h = (h ^ 0x7Eu) * 16777619u;
    for (const auto byte : receiver.bytes)
        h = (h ^ byte) * 16777619u;
    return h;
}

Channel fitChannel(std::uint32_t seed, std::uint8_t rateField, int slots, const std::vector<NoiseBand>& noise) {
    slots = std::clamp(slots, 1, static_cast<int>(mme::kMaxCarrierMapSlots));
    const auto shape = shapes(seed, rateField, slots, noise);
    const double target = bitsForRateField(rateField);

    double level = kLowestLevel;
    if (target > 0) {
        double low = kLowestLevel;
        double high = kHighestLevel;
        if (meanBits(shape, high) <= target) {
            level = high;
        } else {
            for (int i = 0; i < 24; ++i) {
                const double mid = (low + high) / 2;
                (meanBits(shape, mid) >= target ? high : low) = mid;
            }
            level = target - meanBits(shape, low) < meanBits(shape, high) - target ? low : high;
        }
    }

    Channel channel;
    channel.baseSnrDb = level;
    double loadedBits = 0;
    double weightedErrors = 0;
    for (const auto& slotShape : shape) {
        ChannelSlot slot;
        for (std::size_t k = 0; k < mme::kCarriers; ++k) {
            const double snr = level + slotShape[k];
            const std::uint8_t code = codeFor(snr);
            slot.codes[k] = code;
            const unsigned bits = mme::bitsOfModulation(code);
            if (bits == 0)
                continue;
            slot.bits += bits;
            ++slot.active;
            double margin = snr - mme::snrOfModulation(code);
            const double mhz = carrierMHz(k);
            if (std::any_of(noise.begin(), noise.end(),
                            [&](const NoiseBand& band) { return inBand(band, mhz, kNoiseSkirtMHz); }))
                margin -= kNoiseSwingDb;
            // The raw bit error probability of the carrier: 2 % with no margin, a tenth of that per 3 dB more.
            weightedErrors += bits * std::min(0.5, 0.02 * std::pow(10.0, -margin / 3.0));
            loadedBits += bits;
        }
        slot.mbps = mbpsOfBits(slot.bits);
        channel.meanMbps += slot.mbps / static_cast<double>(shape.size());
        channel.slots.push_back(slot);
    }
    const double rawErrorRate = loadedBits > 0 ? weightedErrors / loadedBits : 0;
    const double errorsPerPb = kPbBits * rawErrorRate;
    channel.pbErrorRate = loadedBits > 0 ? 1.0 / (1.0 + std::exp((kFecLimit - errorsPerPb) / kFecSpread)) : 0;
    channel.bitErrorsPerPb = errorsPerPb;
    channel.gain = static_cast<std::uint8_t>(std::clamp(std::lround((60.0 - level) / 4.0), 0L, 15L));
    channel.agc = static_cast<std::uint8_t>(std::clamp(std::lround(70.0 - level), 0L, 63L));
    return channel;
}

double driftFactor(std::uint32_t seed, double percent, double elapsedMs) {
    if (percent <= 0)
        return 1;
    const double depth = percent / 100.0 * (0.6 + 0.4 * unit(mix(seed, 0xD1F7u)));
    const double angle = 2 * std::numbers::pi * elapsedMs / kDayMs;
    // The smaller swing rides on the large one, so that the first hour after load keeps the described rates.
    const double slow = (1 - std::cos(angle)) / 2;
    const double swing = 0.8 * slow + 0.2 * slow * (1 - std::cos(3 * angle)) / 2;
    return 1 - depth * swing;
}

bool inDip(const RateDips& dips, double elapsedMs) {
    const double minutes = elapsedMs / 60000.0;
    if (minutes < dips.firstAfterMin || dips.everyMin <= 0)
        return false;
    return std::fmod(minutes - dips.firstAfterMin, dips.everyMin) < dips.forMin;
}

} // namespace zrq406::sim
